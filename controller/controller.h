// The one door between the front ends (the window, korvel-cli) and the machine. It owns the
// machine state, the run in progress, the breakpoints, the step-back history and the
// T-state count. Every command returns what happened; nothing calls back into a front end,
// so a front end never sees a command start while another is still running.
//
// Port input works without waiting inside an instruction: an IN whose byte is not there
// yet is abandoned unexecuted and the run reports NeedsInput; the front end asks the user at
// its leisure and hands the byte over with supplyInput, which executes the IN with it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history.h"
#include "machine.h"

namespace korvel {

// How a command that executes instructions ended.
enum class RunEvent {
  Executed,       // instructions ran and the run goes on (or there was no run)
  SliceDone,      // a fast run used up its time slice; call runSlice again
  Halted,         // a HALT ended the run; PC is on it
  Breakpoint,     // the run stopped before the instruction at a breakpoint
  TargetReached,  // Step Over, Step Out or Run to Cursor got where it was going
  LimitReached,   // the run did the most instructions it may
  NeedsInput,     // an IN waits for its byte: supplyInput or stop
  OutputFailed,   // an OUT could not be recorded; the run stopped with PC on it
};

// How a run drives its instructions.
enum class RunMode {
  None,    // stopped
  Ticked,  // one instruction per tick(): Step at the Step by Step rate, or a timer
  Fast,    // back to back in runSlice(), ending at a HALT opcode or the limit
  Target,  // back to back in runSlice() until a target (Step Over, Step Out, Run to Cursor)
};

// Where output lines go: out.log, the terminal, a panel. false: the line could not be
// recorded; error() says why in the user's words.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual bool write(std::int32_t port, std::int32_t data) = 0;
  virtual std::string error() const = 0;
};

struct InputRequest {
  std::int32_t port = 0;
  std::int32_t address = 0;  // the IN instruction's first byte (the ED prefix for ED forms)
};

class Controller {
 public:
  static constexpr std::int64_t kFastRunLimit = 1'000'000;

  // `observer` sees every ekran (after every instruction), as a trace does; may be null.
  explicit Controller(OutputSink& output, Display* observer = nullptr);
  ~Controller();
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  const MachineState& state() const { return *state_; }
  // Direct access for loaders and tests; editing goes through setRegister and setMemory.
  MachineState& state() { return *state_; }
  const Machine& machine() const { return machine_; }
  Machine& machine() { return machine_; }
  std::string instructionText() const { return machine_.instructionText(); }

  // ---- Run state
  RunMode mode() const { return mode_; }
  bool running() const { return mode_ != RunMode::None; }
  const std::optional<InputRequest>& pendingInput() const { return input_; }
  // Instructions executed and T-states since the last Start, load or reset.
  std::int64_t instructionCount() const { return instructions_; }
  std::int64_t tstates() const { return tstates_; }
  // Instructions executed by the current (or last) Fast run.
  std::int64_t fastRunCount() const { return runCount_; }

  // ---- Commands
  // Registers, flags and the text to 0 (`clean`); counters and history emptied.
  void clean();
  // `clean`, every cell to 0, `image` from 0000H (at most 65536 bytes).
  void loadImage(const std::vector<std::uint8_t>& image);
  // Start: `clean`, then a run in `mode` (Ticked or Fast). A breakpoint at 0000H stops it
  // at once (returns Breakpoint); otherwise Executed, nothing run yet.
  RunEvent start(RunMode mode, std::int64_t limit = kFastRunLimit);
  // Continue: the same run modes from where the machine stopped, without `clean`, past a
  // breakpoint at PC. At a HALT opcode nothing starts and it returns Halted.
  RunEvent resume(RunMode mode, std::int64_t limit = kFastRunLimit);
  // Ends any run; an IN that waited for its byte stays unexecuted.
  void stop();

  // One instruction (a tick of a Ticked run, or Step Into while stopped). A HALT executed
  // here ends a run with Halted. In a run, reaching a breakpoint ends it with Breakpoint.
  RunEvent tick();
  // A Fast or Target run until `deadline`, a HALT, a breakpoint, its limit or target.
  RunEvent runSlice(std::chrono::steady_clock::time_point deadline);
  // The byte for the IN that waits; it executes at once. Only while pendingInput().
  RunEvent supplyInput(std::int32_t byte);

  // Step Over: a CALL, RST or repeating block instruction runs (as a Target run) until it
  // returns or finishes; any other instruction is one Step Into. Returns what tick() or
  // start of the run returns; a Target run then continues in runSlice.
  RunEvent stepOver();
  // Step Out: a Target run until the current routine returns.
  RunEvent stepOut();
  // Run to Cursor: a Target run until PC reaches `address` (or a breakpoint).
  RunEvent runTo(std::int32_t address);

  // ---- Breakpoints: addresses 0000H..FFFFH, each enabled or not.
  void setBreakpoint(std::int32_t address, bool enabled = true);
  void removeBreakpoint(std::int32_t address);
  bool hasBreakpoint(std::int32_t address) const { return breakpoints_.count(address) != 0; }
  bool breakpointEnabled(std::int32_t address) const { return active_[address & 0xFFFF] != 0; }
  const std::map<std::int32_t, bool>& breakpoints() const { return breakpoints_; }

  // ---- Step back
  void setHistoryEnabled(bool on);
  bool historyEnabled() const { return historyEnabled_; }
  std::size_t historySize() const { return history_ ? history_->size() : 0; }
  const History* history() const { return history_.get(); }
  // Undoes the newest executed instruction (one iteration of a repeating one): nullopt when
  // the history is empty or a run is going. `output` says that the undone instruction had
  // written an output line (which stays where it went: a log is never rewritten).
  struct SteppedBack {
    bool output = false;
  };
  std::optional<SteppedBack> stepBack();

  // ---- Editing while stopped: registers and flags by field, memory cells. Values must be
  // in range (the front end validates); the history is emptied, since the instructions
  // before the edit could not be undone over it.
  bool setRegister(std::int32_t MachineState::*field, std::int32_t value);
  bool setMemory(std::int32_t address, std::int32_t value);

  // T-states are counted only when asked for (the window always, korvel-cli with
  // --tstates): counting costs a little on every instruction.
  void setCountTStates(bool on) { countTStates_ = on; }

 private:
  class Ports;
  struct Target {
    enum Kind { Address, Return, ReturnFrom } kind = Address;
    std::int32_t address = 0;  // Address: stop before it; Return: where the call returns to
    std::int32_t sp = 0;       // the stack pointer the routine was entered with
  };

  RunEvent beginRun(RunMode mode, std::int64_t limit);
  RunEvent endRun(RunEvent event);
  // One instruction with the bookkeeping of history, counters and ports.
  RunEvent execute();
  template <bool kBreakpoints, bool kBookkeeping>
  RunEvent fastLoop(std::chrono::steady_clock::time_point deadline);
  bool returned(std::int32_t spBefore, std::int32_t op) const;
  RunEvent startTarget(Target target);
  // After an instruction of a run: a target reached or a breakpoint ends the run.
  RunEvent afterInstruction(std::int32_t spBefore, std::int32_t op);

  std::unique_ptr<MachineState> state_;
  std::unique_ptr<Ports> ports_;
  Display* observer_;  // the front end's, or nullptr
  Machine machine_;

  RunMode mode_ = RunMode::None;
  std::int64_t limit_ = kFastRunLimit, runCount_ = 0;
  Target target_;
  std::optional<InputRequest> input_;
  std::optional<std::int32_t> suppliedByte_;
  bool haltExecuted_ = false;
  bool replaying_ = false;  // stepping back: instructions run again from a snapshot
  std::deque<std::uint8_t> replayInputs_;

  std::int64_t instructions_ = 0, tstates_ = 0;
  bool countTStates_ = true;

  std::map<std::int32_t, bool> breakpoints_;
  std::vector<std::uint8_t> active_;  // 1 where an enabled breakpoint stands
  int activeBreakpoints_ = 0;

  bool historyEnabled_ = false;
  std::unique_ptr<History> history_;
};

}  // namespace korvel
