#include "register_fields.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace korvel {

const RegisterField* findRegisterField(const char* name) {
  for (const RegisterField& f : kRegisterFields)
    if (std::string_view(f.name) == name) return &f;
  return nullptr;
}

namespace {

// The state line with every value 0, and where each value's digits stand in it: laid out once
// from the table, so that a trace writes a line with one copy and the digits.
struct StateLineLayout {
  std::array<char, kStateLineLength> text{};
  std::array<int, kRegisterFields.size()> at{};
};

StateLineLayout layOutStateLine() {
  StateLineLayout layout;
  std::string line;
  for (std::size_t i = 0; i < kRegisterFields.size(); ++i) {
    const RegisterField& f = kRegisterFields[i];
    line += (i == 0 ? "" : " ");
    line += f.name;
    line += '=';
    layout.at[i] = static_cast<int>(line.size());
    line.append(static_cast<std::size_t>(f.digits()), '0');
  }
  std::memcpy(layout.text.data(), line.data(), std::min(line.size(), layout.text.size()));
  return layout;
}

}  // namespace

char* writeStateLine(char* out, const MachineState& s) {
  static const StateLineLayout layout = layOutStateLine();
  std::memcpy(out, layout.text.data(), layout.text.size());
  for (std::size_t i = 0; i < kRegisterFields.size(); ++i) {
    const RegisterField& f = kRegisterFields[i];
    char* digits = out + layout.at[i];
    const std::int32_t v = s.*f.member;
    switch (f.digits()) {
      case 4: writeHex4(digits, v); break;
      case 2: writeHex2(digits, v); break;
      default: *digits = kHexDigits[v & 0xF]; break;
    }
  }
  return out + layout.text.size();
}

char* writeDumpRow(char* out, const MachineState& s, std::int32_t address, int count) {
  out = writeHex4(out, address);
  *out++ = ':';
  *out++ = ' ';
  for (int i = 0; i < count; ++i) {
    out = writeHex2(out, s.memory[static_cast<std::size_t>(address + i) & 0xFFFF]);
    *out++ = ' ';
  }
  return out;
}

}  // namespace korvel
