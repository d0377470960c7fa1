#include "register_fields.h"

#include <cstring>
#include <string_view>

namespace korvel {

const RegisterField* findRegisterField(const char* name) {
  for (const RegisterField& f : kRegisterFields)
    if (std::string_view(f.name) == name) return &f;
  return nullptr;
}

char* writeStateLine(char* out, const MachineState& s) {
  for (const RegisterField& f : kRegisterFields) {
    if (&f != &kRegisterFields[0]) *out++ = ' ';
    const std::size_t n = std::strlen(f.name);
    std::memcpy(out, f.name, n);
    out += n;
    *out++ = '=';
    const std::int32_t v = s.*f.member;
    switch (f.digits()) {
      case 4: out = writeHex4(out, v); break;
      case 2: out = writeHex2(out, v); break;
      default: *out++ = kHexDigits[v & 0xF]; break;
    }
  }
  return out;
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
