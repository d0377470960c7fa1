#include "cli/output.h"

#include <cstring>

namespace korvel::cli {

namespace {

template <std::size_t N>
char* put(char* out, const char (&text)[N]) {
  std::memcpy(out, text, N - 1);
  return out + N - 1;
}

char* putFlag(char* out, std::int32_t flag) {
  *out = kHexDigits[flag & 0xF];
  return out + 1;
}

}  // namespace

char* writeStateLine(char* out, const MachineState& s) {
  out = writeHex4(put(out, "PC="), s.PC);
  out = writeHex4(put(out, " SP="), s.SP);
  out = writeHex4(put(out, " IX="), s.IX);
  out = writeHex4(put(out, " IY="), s.IY);
  out = writeHex2(put(out, " A="), s.A);
  out = writeHex2(put(out, " B="), s.B);
  out = writeHex2(put(out, " C="), s.C);
  out = writeHex2(put(out, " D="), s.D);
  out = writeHex2(put(out, " E="), s.E);
  out = writeHex2(put(out, " H="), s.H);
  out = writeHex2(put(out, " L="), s.L);
  out = putFlag(put(out, " Carry="), s.Carry);
  out = putFlag(put(out, " Zero="), s.Zero);
  out = putFlag(put(out, " Sign="), s.Sign);
  out = putFlag(put(out, " Parity="), s.Parity);
  out = writeHex2(put(out, " A'="), s.altA);
  out = writeHex2(put(out, " B'="), s.altB);
  out = writeHex2(put(out, " C'="), s.altC);
  out = writeHex2(put(out, " D'="), s.altD);
  out = writeHex2(put(out, " E'="), s.altE);
  out = writeHex2(put(out, " H'="), s.altH);
  out = writeHex2(put(out, " L'="), s.altL);
  out = putFlag(put(out, " Carry'="), s.altCarry);
  out = putFlag(put(out, " Zero'="), s.altZero);
  out = putFlag(put(out, " Sign'="), s.altSign);
  out = putFlag(put(out, " Parity'="), s.altParity);
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

void OutputBuffer::write(std::string_view text) {
  while (!text.empty()) {
    const std::size_t room = capacity_ - used_;
    if (room == 0) {
      flush();
      continue;
    }
    const std::size_t n = text.size() < room ? text.size() : room;
    std::memcpy(buffer_.get() + used_, text.data(), n);
    used_ += n;
    text.remove_prefix(n);
  }
}

bool OutputBuffer::flush() {
  if (used_ > 0) {
    if (std::fwrite(buffer_.get(), 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
  }
  if (std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

}  // namespace korvel::cli
