// Every documented instruction of the seven pages, with chosen operand bytes, and the text
// the core shows for it rewritten in assembler syntax: the source of "assemble what we
// display" and of the comparison with other assemblers.
#pragma once

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decoding.h"
#include "machine.h"

namespace korvel::testing {

struct DocumentedForm {
  std::array<std::uint8_t, 4> bytes;  // the instruction and whatever follows it
  std::string shown;                  // the core's text
  std::string source;                 // the same in assembler syntax
};

// The core writes hexadecimal as C5H and displacements as stored bytes: (IX+FEH) is IX-2
// and JR FEH jumps to itself. An assembler needs 0C5H, (IX-2) and a target: JR $+0.
inline std::string sourceSyntax(const std::string& shown) {
  const bool relative = shown.starts_with("JR") || shown.starts_with("DJNZ");
  std::string out;
  for (std::size_t i = 0; i < shown.size();) {
    std::size_t end = i;
    while (end < shown.size() && std::isxdigit(static_cast<unsigned char>(shown[end]))) ++end;
    const bool number = end > i && end < shown.size() && shown[end] == 'H' &&
                        (i == 0 || !std::isalnum(static_cast<unsigned char>(shown[i - 1])));
    if (!number) {
      out += shown[i++];
      continue;
    }
    const int value = std::stoi(shown.substr(i, end - i), nullptr, 16);
    const int signedByte = value > 127 ? value - 256 : value;
    if (i > 0 && shown[i - 1] == '+' && shown[i - 2] != '(') {  // (IX+d)
      out.back() = signedByte < 0 ? '-' : '+';
      out += std::to_string(signedByte < 0 ? -signedByte : signedByte);
    } else if (relative && end - i == 2) {
      const int distance = signedByte + 2;
      out += distance < 0 ? "$-" + std::to_string(-distance) : "$+" + std::to_string(distance);
    } else {
      if (!std::isdigit(static_cast<unsigned char>(shown[i]))) out += '0';
      out += shown.substr(i, end - i + 1);
    }
    i = end + 1;
  }
  return out;
}

// Each documented form once for each pair of operand bytes: a letter digit first, a word
// whose high byte is 00H, a negative displacement.
inline std::vector<DocumentedForm> documentedForms() {
  namespace dc = decoding;
  constexpr std::uint8_t kOperands[2][2] = {{0xC5, 0x00}, {0xFE, 0x12}};
  std::vector<std::array<std::uint8_t, 2>> opcodes;  // prefix (or 0) and opcode
  std::vector<DocumentedForm> forms;
  for (const auto& o : kOperands) {
    const auto add = [&](std::array<std::uint8_t, 4> b) {
      forms.push_back({b, disassemble(b), sourceSyntax(disassemble(b))});
    };
    for (int op = 0; op < 256; ++op) {
      const auto x = static_cast<std::uint8_t>(op);
      if (op != dc::kPrefixCB && op != dc::kPrefixED && op != dc::kIndexPrefixes[0] &&
          op != dc::kIndexPrefixes[1]) {
        add({x, o[0], o[1], 0});
      }
      if (dc::cbKnows(op)) add({dc::kPrefixCB, x, o[0], o[1]});
      if (dc::edKnows(op)) add({dc::kPrefixED, x, o[0], o[1]});
      for (std::int32_t prefix : dc::kIndexPrefixes) {
        const auto p = static_cast<std::uint8_t>(prefix);
        if (op != dc::kPrefixCB && dc::indexKnows(op)) add({p, x, o[0], o[1]});
        if (dc::indexBitKnows(op)) add({p, dc::kPrefixCB, o[0], x});
      }
    }
  }
  return forms;
}

}  // namespace korvel::testing
