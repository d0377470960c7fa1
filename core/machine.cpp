#include "machine.h"

namespace korvel {

namespace {

// Hooks a caller left out: no port device (a read gives no byte, a write cannot be
// recorded), and a HALT that has nobody to stop. A missing display is simply not called.
class NoPortInput final : public PortInput {
 public:
  std::optional<std::int32_t> portin(std::int32_t, std::int32_t) override { return std::nullopt; }
};
class NoPortOutput final : public PortOutput {
 public:
  bool portout(std::int32_t, std::int32_t) override { return false; }
};
class NoRunControl final : public RunControl {
 public:
  void menustop_Click() override {}
};

MachineHooks completed(MachineHooks hooks) {
  static NoPortInput noInput;
  static NoPortOutput noOutput;
  static NoRunControl noControl;
  if (hooks.input == nullptr) hooks.input = &noInput;
  if (hooks.output == nullptr) hooks.output = &noOutput;
  if (hooks.control == nullptr) hooks.control = &noControl;
  return hooks;
}

}  // namespace

Machine::Machine(MachineState& state, MachineHooks hooks) : s_(state), hooks_(completed(hooks)) {}

void Machine::clean() {
  text_.empty = true;
  resetRegisters(s_);
  abandoned_ = false;
  if (hooks_.display != nullptr) hooks_.display->ekran();
}

void Machine::captureText(std::int32_t address) {
  // Written out, and the record filled whole: this runs before every instruction.
  text_ = TextState{
      {static_cast<std::uint8_t>(mem(address)), static_cast<std::uint8_t>(mem(address + 1)),
       static_cast<std::uint8_t>(mem(address + 2)), static_cast<std::uint8_t>(mem(address + 3))},
      static_cast<std::uint16_t>(address),
      false};
}

void Machine::clock_Timer() {
  abandoned_ = false;
  // The text is fixed by the instruction's bytes as they are before it runs, so capturing
  // them here is the same as setting the text before any state changes.
  captureText(s_.PC);
  mainPage(s_.memory[s_.PC]);
  if (hooks_.display != nullptr) hooks_.display->ekran();
}

void Machine::showHaltText() {
  captureText(s_.PC);
}

std::string Machine::instructionText() const {
  char buffer[kMaxTextLength];
  return std::string(buffer, static_cast<std::size_t>(writeInstructionText(buffer)));
}

int Machine::writeInstructionText(char* out) const {
  return text_.empty ? 0 : disassemble(text_.bytes, out);
}

// Stack: the high byte goes to the higher address; SP wraps at both ends.
void Machine::push(std::int32_t value) {
  s_.SP = s_.SP == 0 ? 0xFFFF : s_.SP - 1;
  setMem(s_.SP, value >> 8);
  s_.SP = s_.SP == 0 ? 0xFFFF : s_.SP - 1;
  setMem(s_.SP, value & 0xFF);
}

std::int32_t Machine::pop() {
  const std::int32_t low = s_.memory[s_.SP];
  s_.SP = s_.SP == 0xFFFF ? 0 : s_.SP + 1;
  const std::int32_t high = s_.memory[s_.SP];
  s_.SP = s_.SP == 0xFFFF ? 0 : s_.SP + 1;
  return high * 256 + low;
}

// An instruction whose port gave no byte, or could not record one, is undone before it
// changed anything: PC goes back to its first byte and the run is told to end.
void Machine::abandonInstruction() {
  s_.PC = text_.address;
  abandoned_ = true;
}

bool Machine::readPort(std::int32_t portnum, std::int32_t& value) {
  const std::optional<std::int32_t> byte = hooks_.input->portin(portnum, text_.address);
  if (!byte || *byte < 0 || *byte > 255) {
    abandonInstruction();
    return false;
  }
  value = *byte;
  return true;
}

bool Machine::writePort(std::int32_t portnum, std::int32_t data) {
  if (!hooks_.output->portout(portnum, data)) {
    abandonInstruction();
    return false;
  }
  return true;
}

}  // namespace korvel
