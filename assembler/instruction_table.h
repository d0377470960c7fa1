// The assembler's table of instruction forms. It is not written by hand: it is read off the
// core's own decoder, by asking the disassembler for the text of every byte sequence that a
// page knows, so "assemble what we display" holds by construction.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::assembler {

// How one operand of a form is written and where its value goes.
enum class Pattern : std::uint8_t {
  Fixed,         // a register, a condition or a fixed cell: "A", "NZ", "(HL)", "AF'", "(C)"
  Byte,          // n
  Word,          // nn, stored low byte first
  Relative,      // e: a jump target, stored as its distance from the next instruction
  IndirectByte,  // (n): a port number
  IndirectWord,  // (nn): an address
  IndexCell,     // (IX+d) or (IY+d); `text` says which register
  Number,        // a number that is part of the opcode: RST p, IM m, BIT b
};

struct OperandPattern {
  Pattern kind;
  std::string text;  // Fixed: its text; IndexCell: "IX" or "IY"
  int offset = 0;    // the byte of the instruction that receives the value
};

using Bytes = std::array<std::uint8_t, 4>;

// One form: a mnemonic with one pattern per operand, e.g. LD A,(IX+d). A form with a Number
// operand has one encoding per allowed number; any other form has one encoding. Operand
// bytes are 00H in the encodings.
struct Form {
  std::string mnemonic;
  std::vector<OperandPattern> operands;
  int length = 0;
  struct Encoding {
    std::int32_t number;
    Bytes bytes;
  };
  std::vector<Encoding> encodings;

  // The form as a Z80 manual writes it: "LD A,(IX+d)", "JR NZ,e", "RST p".
  std::string text() const;
};

class InstructionTable {
 public:
  static const InstructionTable& instance();

  // The forms of an upper-case mnemonic; empty for a word that is no mnemonic.
  std::span<const Form> forms(std::string_view mnemonic) const;
  bool isMnemonic(std::string_view upperCase) const { return !forms(upperCase).empty(); }
  const std::vector<std::string>& mnemonics() const { return mnemonics_; }

 private:
  InstructionTable();
  void add(const Bytes& bytes, int operandOffset, int prefixLength);

  std::vector<Form> forms_;  // grouped by mnemonic once built
  struct Range {
    std::string mnemonic;
    std::size_t begin, end;
  };
  std::vector<Range> byMnemonic_;  // sorted by mnemonic
  std::vector<std::string> mnemonics_;
};

}  // namespace korvel::assembler
