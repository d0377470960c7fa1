// The instruction cycle: one call of clock_Timer executes one Z80 instruction on a
// MachineState, and the core reaches the outside world only through the hooks below.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "machine_state.h"

namespace korvel {

// The display refresh that ends every tick, every reset and every stop.
class Display {
 public:
  virtual ~Display() = default;
  virtual void ekran() = 0;
};

// A byte arriving on a port. `instructionAddress` is the address of the IN instruction's
// first byte (the ED prefix for the ED forms). nullopt means no byte can be had (input
// ended, the program is closing): the instruction is then abandoned, changing nothing.
class PortInput {
 public:
  virtual ~PortInput() = default;
  virtual std::optional<std::int32_t> portin(std::int32_t portnum,
                                             std::int32_t instructionAddress) = 0;
};

// A byte written to a port. false means it could not be recorded: the instruction is then
// abandoned, changing nothing, so that no output is ever lost silently.
class PortOutput {
 public:
  virtual ~PortOutput() = default;
  virtual bool portout(std::int32_t portnum, std::int32_t portdata) = 0;
};

// Every memory write, with the cell's value before it, while a journal is attached: what
// undoing an instruction needs.
class WriteJournal {
 public:
  virtual ~WriteJournal() = default;
  virtual void recordWrite(std::int32_t address, std::int32_t oldValue) = 0;
};

// The stop request that the HALT instruction makes.
class RunControl {
 public:
  virtual ~RunControl() = default;
  virtual void menustop_Click() = 0;
};

// A hook left null is: no display refresh, a port read that gives no byte, a port write
// that cannot be recorded, a HALT that has nobody to stop.
struct MachineHooks {
  Display* display = nullptr;
  PortInput* input = nullptr;
  PortOutput* output = nullptr;
  RunControl* control = nullptr;
};

class Machine {
 public:
  Machine(MachineState& state, MachineHooks hooks);

  // Registers, flags and the current-instruction text to their reset values; then ekran.
  void clean();

  // Executes the one instruction at PC (one iteration of a repeating block instruction),
  // then calls ekran.
  void clock_Timer();

  // The Extremely Fast rate's text when it meets a HALT opcode without executing it.
  void showHaltText();

  // The current-instruction text: empty after a reset, else the text of the instruction
  // last executed (or the placeholder of a prefix whose page did not know its byte).
  std::string instructionText() const;
  // The same into a caller's buffer of at least kMaxTextLength bytes; returns the length.
  static constexpr int kMaxTextLength = 32;
  int writeInstructionText(char* out) const;
  // Address of the first byte of the instruction whose text is shown.
  std::int32_t instructionAddress() const { return text_.address; }

  // True when the last tick's instruction was abandoned because a port gave no byte or
  // could not record one; PC then still points at that instruction.
  bool tickAbandoned() const { return abandoned_; }

  MachineState& state() { return s_; }
  const MachineState& state() const { return s_; }

  // The refresh that ends every tick from now on (nullptr: none).
  void setDisplay(Display* display) { hooks_.display = display; }

  // Reports every memory write to `journal` (nullptr: to nobody).
  void setWriteJournal(WriteJournal* journal) { journal_ = journal; }

  // The current-instruction text as the bytes it is formed from, to be saved and put back
  // whole.
  struct TextState {
    std::array<std::uint8_t, 4> bytes{};
    std::uint16_t address = 0;
    bool empty = true;
  };
  const TextState& textState() const { return text_; }
  void restoreText(const TextState& t) { text_ = t; }

  // The page procedures, entered with PC on the byte after their prefix (for the DD CB and
  // FD CB pages, on the displacement byte).
  void cbinstrukcije();
  void edinstrukcije();
  void ixinstrukcije();
  void iyinstrukcije();
  void ixcbinstrukcije();
  void iycbinstrukcije();

 private:
  void mainPage(std::int32_t op);
  void indexPage(std::int32_t& xy);
  void indexBitPage(std::int32_t& xy);

  // Register codes 0..7 = B C D E H L (HL) A; code 6 is the cell at HL.
  static constexpr std::int32_t MachineState::*kRegisterFields[8] = {
      &MachineState::B, &MachineState::C, &MachineState::D, &MachineState::E,
      &MachineState::H, &MachineState::L, nullptr,          &MachineState::A};
  std::int32_t readR(int code) const {
    return code == 6 ? mem(s_.H * 256 + s_.L) : s_.*kRegisterFields[code];
  }
  void writeR(int code, std::int32_t v) {
    if (code == 6) {
      setMem(s_.H * 256 + s_.L, v);
    } else {
      s_.*kRegisterFields[code] = v;
    }
  }

  std::int32_t mem(std::int32_t address) const { return s_.memory[address & 0xFFFF]; }
  void setMem(std::int32_t address, std::int32_t v) {
    std::int32_t& cell = s_.memory[address & 0xFFFF];
    if (journal_ != nullptr) journal_->recordWrite(address & 0xFFFF, cell);
    cell = v;
  }
  std::int32_t operandByte(int offset) const { return mem(s_.PC + offset); }
  std::int32_t operandWord(int offset) const {
    return mem(s_.PC + offset + 1) * 256 + mem(s_.PC + offset);
  }
  void advancePC(int length) { s_.PC = (s_.PC + length) & 0xFFFF; }

  void push(std::int32_t value);
  std::int32_t pop();

  // Port access; false when the instruction has to be abandoned.
  bool readPort(std::int32_t portnum, std::int32_t& value);
  bool writePort(std::int32_t portnum, std::int32_t data);
  void abandonInstruction();

  void captureText(std::int32_t address);

  MachineState& s_;
  MachineHooks hooks_;
  WriteJournal* journal_ = nullptr;
  bool abandoned_ = false;

  // The text is formed on demand from the instruction's bytes, captured before it ran.
  TextState text_;
};

// Formats the text of the instruction whose first four bytes are given, exactly as the
// decoder shows it (placeholders for bytes a page does not know). Returns the length.
int disassemble(const std::array<std::uint8_t, 4>& bytes, char* out);
std::string disassemble(const std::array<std::uint8_t, 4>& bytes);

// The length in bytes of the instruction whose first four bytes are given, as the tick
// consumes it: how far PC moves when it does not jump (2 for JR and DJNZ, 1 for HALT and
// RET). A prefix whose page does not know the next byte is an instruction of its own, of the
// prefix bytes alone (1, or 2 for DD CB and FD CB), shown with its placeholder.
int instructionLength(const std::array<std::uint8_t, 4>& bytes);

}  // namespace korvel
