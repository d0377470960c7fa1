#include "controller.h"

#include <algorithm>

#include "register_fields.h"
#include "timing.h"

namespace korvel {

namespace {

// The stack pointer has moved up (towards higher addresses) from `from`, or stayed there:
// modulo 64 KiB, since a program may start with SP = 0000H and push across the top.
bool atOrAbove(std::int32_t sp, std::int32_t from) {
  return ((sp - from) & 0xFFFF) < 0x8000;
}

bool isReturn(std::int32_t op) {
  return op == 0xC9 || (op & 0xC7) == 0xC0;  // RET, RET cc
}

}  // namespace

// The machine's hooks: port input that waits outside the instruction, output to the front
// end's sink and the HALT's stop request. The display refresh is the observer's, if any: the
// windows draw when a command returns.
class Controller::Ports final : public PortInput, public PortOutput, public RunControl {
 public:
  Ports(Controller& c, OutputSink& sink) : c_(c), sink_(sink) {}

  std::optional<std::int32_t> portin(std::int32_t portnum, std::int32_t address) override {
    std::optional<std::int32_t> byte;
    if (c_.replaying_ && !c_.replayInputs_.empty()) {
      byte = c_.replayInputs_.front();
      c_.replayInputs_.pop_front();
    } else if (c_.suppliedByte_) {
      byte = c_.suppliedByte_;
      c_.suppliedByte_.reset();
    }
    if (!byte) {
      c_.input_ = InputRequest{portnum, address};
      return std::nullopt;
    }
    if (c_.historyEnabled_) c_.history_->recordInput(*byte);
    return byte;
  }
  // A replayed instruction's line went out the first time; it is not sent again.
  bool portout(std::int32_t portnum, std::int32_t portdata) override {
    if (!c_.replaying_ && !sink_.write(portnum, portdata)) return false;
    if (c_.historyEnabled_) c_.history_->markOutput();
    return true;
  }
  void menustop_Click() override { c_.haltExecuted_ = true; }

 private:
  Controller& c_;
  OutputSink& sink_;
};

Controller::Controller(OutputSink& output, Display* observer)
    : state_(std::make_unique<MachineState>()),
      ports_(std::make_unique<Ports>(*this, output)),
      observer_(observer),
      machine_(*state_, MachineHooks{observer_, ports_.get(), ports_.get(), ports_.get()}),
      active_(kMemorySize, 0) {}

Controller::~Controller() = default;

void Controller::clean() {
  machine_.clean();
  instructions_ = tstates_ = 0;
  input_.reset();
  if (history_) history_->clear();
}

void Controller::loadImage(const std::vector<std::uint8_t>& image) {
  stop();
  clean();
  std::fill(state_->memory.begin(), state_->memory.end(), 0);
  const std::size_t n = std::min(image.size(), state_->memory.size());
  std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(n), state_->memory.begin());
}

RunEvent Controller::beginRun(RunMode mode, std::int64_t limit) {
  input_.reset();
  mode_ = mode;
  limit_ = limit;
  runCount_ = 0;
  return RunEvent::Executed;
}

RunEvent Controller::endRun(RunEvent event) {
  mode_ = RunMode::None;
  return event;
}

RunEvent Controller::start(RunMode mode, std::int64_t limit) {
  clean();
  beginRun(mode, limit);
  if (active_[static_cast<std::size_t>(state_->PC)] != 0) return endRun(RunEvent::Breakpoint);
  return RunEvent::Executed;
}

RunEvent Controller::resume(RunMode mode, std::int64_t limit) {
  if (state_->memory[static_cast<std::size_t>(state_->PC)] == kHaltOpcode) {
    machine_.showHaltText();
    return RunEvent::Halted;
  }
  return beginRun(mode, limit);
}

void Controller::stop() {
  mode_ = RunMode::None;
  input_.reset();
  suppliedByte_.reset();
}

RunEvent Controller::execute() {
  const int t = countTStates_ ? korvel::tstates(*state_) : 0;
  if (historyEnabled_) history_->begin(machine_, {instructions_, tstates_});
  haltExecuted_ = false;
  machine_.clock_Timer();
  if (machine_.tickAbandoned()) {
    if (historyEnabled_) history_->cancel();
    return input_ ? RunEvent::NeedsInput : RunEvent::OutputFailed;
  }
  ++instructions_;
  tstates_ += t;
  return haltExecuted_ ? RunEvent::Halted : RunEvent::Executed;
}

bool Controller::returned(std::int32_t spBefore, std::int32_t op) const {
  const std::int32_t sp = state_->SP;
  return isReturn(op) && sp == ((spBefore + 2) & 0xFFFF) && sp != target_.sp &&
         atOrAbove(sp, target_.sp);
}

RunEvent Controller::afterInstruction(std::int32_t spBefore, std::int32_t op) {
  const MachineState& s = *state_;
  if (mode_ == RunMode::Target) {
    const bool reached = target_.kind == Target::Return
                             ? s.PC == target_.address && atOrAbove(s.SP, target_.sp)
                             : target_.kind == Target::ReturnFrom && returned(spBefore, op);
    if (reached) return endRun(RunEvent::TargetReached);
  }
  if (mode_ != RunMode::None && active_[static_cast<std::size_t>(s.PC)] != 0)
    return endRun(RunEvent::Breakpoint);
  return RunEvent::Executed;
}

RunEvent Controller::tick() {
  if (input_) return RunEvent::NeedsInput;
  const std::int32_t sp = state_->SP, op = state_->memory[static_cast<std::size_t>(state_->PC)];
  const RunEvent e = execute();
  if (e == RunEvent::NeedsInput) return e;
  if (e != RunEvent::Executed) return endRun(e);
  return afterInstruction(sp, op);
}

RunEvent Controller::supplyInput(std::int32_t byte) {
  if (!input_) return RunEvent::Executed;
  input_.reset();
  suppliedByte_ = byte;
  const std::int32_t sp = state_->SP, op = state_->memory[static_cast<std::size_t>(state_->PC)];
  const RunEvent e = execute();
  suppliedByte_.reset();
  if (e == RunEvent::NeedsInput) return e;
  if (e != RunEvent::Executed) return endRun(e);
  if (mode_ == RunMode::Fast || mode_ == RunMode::Target) ++runCount_;
  return afterInstruction(sp, op);
}

RunEvent Controller::runSlice(std::chrono::steady_clock::time_point deadline) {
  if (mode_ != RunMode::Fast && mode_ != RunMode::Target) return RunEvent::Executed;
  if (input_) return RunEvent::NeedsInput;
  if (mode_ == RunMode::Fast) {
    const bool bookkeeping = historyEnabled_ || countTStates_;
    if (activeBreakpoints_ > 0)
      return bookkeeping ? fastLoop<true, true>(deadline) : fastLoop<true, false>(deadline);
    return bookkeeping ? fastLoop<false, true>(deadline) : fastLoop<false, false>(deadline);
  }
  MachineState& s = *state_;
  for (unsigned n = 1;; ++n) {
    // The clock is read only now and then: it costs more than an instruction.
    if ((n & 0xFF) == 0 && std::chrono::steady_clock::now() >= deadline) return RunEvent::SliceDone;
    const std::size_t pc = static_cast<std::size_t>(s.PC);
    if (mode_ == RunMode::Fast) {
      if (runCount_ >= limit_) return endRun(RunEvent::LimitReached);
      if (s.memory[pc] == kHaltOpcode) {
        machine_.showHaltText();
        return endRun(RunEvent::Halted);
      }
    } else if (target_.kind == Target::Address && s.PC == target_.address && runCount_ > 0) {
      return endRun(RunEvent::TargetReached);
    }
    const std::int32_t sp = s.SP, op = s.memory[pc];
    const RunEvent e = execute();
    if (e == RunEvent::NeedsInput) return e;
    if (e != RunEvent::Executed) return endRun(e);
    ++runCount_;
    const RunEvent after = afterInstruction(sp, op);
    if (after != RunEvent::Executed) return after;
  }
}

// The Fast run: the steps of the general loop below with nothing else in it, without
// breakpoints when none is enabled, and without history and T-states when neither is kept.
template <bool kBreakpoints, bool kBookkeeping>
RunEvent Controller::fastLoop(std::chrono::steady_clock::time_point deadline) {
  MachineState& s = *state_;
  const std::uint8_t* const active = active_.data();
  std::int64_t count = runCount_;
  const std::int64_t limit = limit_;
  RunEvent event = RunEvent::SliceDone;
  // Without a deadline (korvel-cli) the clock is never read.
  const bool timed = deadline != std::chrono::steady_clock::time_point::max();
  for (unsigned n = 1;; ++n) {
    if (timed && (n & 0xFF) == 0 && std::chrono::steady_clock::now() >= deadline) break;
    if (count >= limit) {
      event = endRun(RunEvent::LimitReached);
      break;
    }
    if (s.memory[static_cast<std::size_t>(s.PC)] == kHaltOpcode) {
      machine_.showHaltText();
      event = endRun(RunEvent::Halted);
      break;
    }
    if constexpr (kBookkeeping) {
      if (execute() != RunEvent::Executed) {
        event = input_ ? RunEvent::NeedsInput : endRun(RunEvent::OutputFailed);
        break;
      }
    } else {
      machine_.clock_Timer();
      if (machine_.tickAbandoned()) {
        event = input_ ? RunEvent::NeedsInput : endRun(RunEvent::OutputFailed);
        break;
      }
    }
    ++count;
    if (kBreakpoints && active[static_cast<std::size_t>(s.PC)] != 0) {
      event = endRun(RunEvent::Breakpoint);
      break;
    }
  }
  if constexpr (!kBookkeeping) instructions_ += count - runCount_;
  runCount_ = count;
  return event;
}

RunEvent Controller::startTarget(Target target) {
  beginRun(RunMode::Target, -1);
  target_ = target;
  return RunEvent::Executed;
}

RunEvent Controller::stepOver() {
  if (running()) return RunEvent::Executed;
  const MachineState& s = *state_;
  const auto at = [&](int offset) {
    return s.memory[static_cast<std::size_t>((s.PC + offset) & 0xFFFF)];
  };
  const std::int32_t op = at(0);
  const bool call = op == 0xCD || (op & 0xC7) == 0xC4;
  const bool restart = (op & 0xC7) == 0xC7;
  const bool repeating = op == 0xED && (at(1) & 0xF4) == 0xB0;  // LDIR CPIR INIR OTIR, ..DR
  if (!call && !restart && !repeating) return tick();
  const int length = call ? 3 : restart ? 1 : 2;
  return startTarget({Target::Return, (s.PC + length) & 0xFFFF, s.SP});
}

RunEvent Controller::stepOut() {
  if (running()) return RunEvent::Executed;
  return startTarget({Target::ReturnFrom, 0, state_->SP});
}

RunEvent Controller::runTo(std::int32_t address) {
  if (running()) return RunEvent::Executed;
  return startTarget({Target::Address, address & 0xFFFF, state_->SP});
}

void Controller::setBreakpoint(std::int32_t address, bool enabled) {
  address &= 0xFFFF;
  breakpoints_[address] = enabled;
  activeBreakpoints_ += (enabled ? 1 : 0) - active_[static_cast<std::size_t>(address)];
  active_[static_cast<std::size_t>(address)] = enabled ? 1 : 0;
}

void Controller::removeBreakpoint(std::int32_t address) {
  address &= 0xFFFF;
  breakpoints_.erase(address);
  activeBreakpoints_ -= active_[static_cast<std::size_t>(address)];
  active_[static_cast<std::size_t>(address)] = 0;
}

void Controller::setHistoryEnabled(bool on) {
  historyEnabled_ = on;
  if (on && !history_) history_ = std::make_unique<History>();
  if (!on) history_.reset();
  machine_.setWriteJournal(history_.get());
}

std::optional<Controller::SteppedBack> Controller::stepBack() {
  if (running() || input_ || !history_ || history_->empty()) return std::nullopt;
  History::Rewound rewound = history_->rewind(machine_);
  instructions_ = rewound.counters.instructions;
  tstates_ = rewound.counters.tstates;
  // The instructions between the segment's start and the undone one run again, quietly:
  // with the bytes their INs were given, sending no output, showing nothing.
  replaying_ = true;
  replayInputs_ = std::move(rewound.inputs);
  machine_.setDisplay(nullptr);
  for (int i = 0; i < rewound.replay; ++i) execute();
  machine_.setDisplay(observer_);
  replaying_ = false;
  replayInputs_.clear();
  input_.reset();
  return SteppedBack{rewound.output};
}

bool Controller::setRegister(std::int32_t MachineState::*field, std::int32_t value) {
  if (running() || input_) return false;
  for (const RegisterField& f : kRegisterFields) {
    if (f.member != field) continue;
    if (value < 0 || value > f.max) return false;
    (*state_).*field = value;
    if (history_) history_->clear();
    return true;
  }
  return false;
}

bool Controller::setMemory(std::int32_t address, std::int32_t value) {
  if (running() || input_ || address < 0 || address > 0xFFFF || value < 0 || value > 0xFF)
    return false;
  state_->memory[static_cast<std::size_t>(address)] = value;
  if (history_) history_->clear();
  return true;
}

}  // namespace korvel
