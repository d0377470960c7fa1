// libFuzzer target for the core: the input is a memory image, run from 0000H for up to a
// few thousand instructions. After every instruction every register and flag, and every
// cell the instruction could have written, must be in its range; at the end all memory.
//
// Input layout:
//   bytes 0..65535       the image, loaded at 0000H (the rest of memory is 0; a run ends
//                        at a NOP outside the image)
//   the last 23 bytes    also seed the registers (PC stays 0000H, as after Start):
//                        A..L, A'..L' (14), IX, IY, SP (6, low byte first), the eight
//                        flags (1), and two bytes that can make one port access fail
//   port reads           answered with bytes of the input, in a fixed walk through it
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "machine.h"
#include "register_fields.h"

namespace {

using korvel::MachineState;

constexpr std::size_t kRegisterBytes = 23;
constexpr int kMaxInstructions = 4096;
// A control byte with this value makes the port access numbered by the next byte fail.
constexpr std::uint8_t kFailRead = 0xA5;
constexpr std::uint8_t kFailWrite = 0x5A;

[[noreturn]] void fail(const char* what, std::int64_t value, std::int32_t pc) {
  std::fprintf(stderr, "fuzz_core: %s (value %lld, PC %04X)\n", what, static_cast<long long>(value),
               static_cast<unsigned>(pc));
  std::abort();
}

void checkRange(const char* name, std::int32_t value, std::int32_t max, std::int32_t pc) {
  if (value < 0 || value > max) fail(name, value, pc);
}

using Registers = std::array<std::int32_t, korvel::kRegisterFields.size()>;

Registers registers(const MachineState& s) {
  Registers r{};
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = s.*korvel::kRegisterFields[i].member;
  return r;
}

void checkRegisters(const MachineState& s) {
  for (const korvel::RegisterField& f : korvel::kRegisterFields) {
    const std::int32_t value = s.*f.member;
    if (value < 0 || value > f.max) {
      std::fprintf(stderr, "fuzz_core: %s out of range: %d\n", f.name, value);
      std::abort();
    }
  }
}

class CountingDisplay final : public korvel::Display {
 public:
  void ekran() override { ++calls; }
  int calls = 0;
};

// Reads walk through the input; the read numbered `failAt` gets no byte.
class InputPorts final : public korvel::PortInput, public korvel::PortOutput {
 public:
  std::optional<std::int32_t> portin(std::int32_t portnum, std::int32_t address) override {
    checkRange("port number out of range", portnum, 255, address);
    checkRange("instruction address out of range", address, 65535, address);
    if (reads++ == failReadAt) {
      failed = true;
      return std::nullopt;
    }
    cursor = (cursor + 131) % size;
    return data[cursor];
  }
  bool portout(std::int32_t portnum, std::int32_t portdata) override {
    checkRange("port number out of range", portnum, 255, 0);
    checkRange("port data out of range", portdata, 255, 0);
    if (writes++ == failWriteAt) {
      failed = true;
      return false;
    }
    return true;
  }

  const std::uint8_t* data = nullptr;
  std::size_t size = 1;
  std::size_t cursor = 0;
  int reads = 0;
  int writes = 0;
  int failReadAt = -1;
  int failWriteAt = -1;
  bool failed = false;
};

class StopControl final : public korvel::RunControl {
 public:
  void menustop_Click() override { stopped = true; }
  bool stopped = false;
};

// Cells an instruction at `pc` could write, from the registers before it.
void checkWrittenCells(const Registers& r, std::int32_t pc, const MachineState& s) {
  // Positions in kRegisterFields.
  constexpr std::size_t kSP = 1, kIX = 2, kIY = 3, kB = 5, kC = 6, kD = 7, kE = 8, kH = 9, kL = 10;
  auto cell = [&](std::int32_t address) {
    return s.memory[static_cast<std::size_t>(address & 0xFFFF)];
  };
  const std::int32_t b1 = cell(pc + 1) & 0xFF, b2 = cell(pc + 2) & 0xFF, b3 = cell(pc + 3) & 0xFF;
  const std::int32_t d = b2 > 127 ? b2 - 256 : b2;
  const std::int32_t addresses[] = {r[kH] * 256 + r[kL], r[kD] * 256 + r[kE], r[kB] * 256 + r[kC],
                                    r[kSP] - 2,          r[kSP] - 1,          r[kSP],
                                    r[kSP] + 1,          r[kIX] + d,          r[kIY] + d,
                                    b1 + 256 * b2,       b1 + 256 * b2 + 1,   b2 + 256 * b3,
                                    b2 + 256 * b3 + 1};
  for (std::int32_t a : addresses) checkRange("memory cell out of range", cell(a), 255, pc);
}

void checkText(const korvel::Machine& machine, std::int32_t pc) {
  char text[korvel::Machine::kMaxTextLength];
  const int length = machine.writeInstructionText(text);
  if (length <= 0 || length > korvel::Machine::kMaxTextLength) {
    fail("instruction text length", length, pc);
  }
  for (int i = 0; i < length; ++i) {
    if (text[i] < ' ' || text[i] > '~') fail("instruction text character", text[i], pc);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::unique_ptr<MachineState> state = std::make_unique<MachineState>();
  MachineState& s = *state;

  const std::size_t imageSize = size < korvel::kMemorySize ? size : korvel::kMemorySize;
  for (std::size_t a = 0; a < s.memory.size(); ++a) s.memory[a] = a < imageSize ? data[a] : 0;
  korvel::resetRegisters(s);

  CountingDisplay display;
  InputPorts ports;
  ports.data = data;
  ports.size = size;
  StopControl control;
  korvel::Machine machine(s, korvel::MachineHooks{&display, &ports, &ports, &control});

  if (size >= kRegisterBytes) {
    const std::uint8_t* r = data + size - kRegisterBytes;
    std::int32_t* bytes[] = {&s.A,    &s.B,    &s.C,    &s.D,    &s.E,    &s.H,    &s.L,
                             &s.altA, &s.altB, &s.altC, &s.altD, &s.altE, &s.altH, &s.altL};
    for (std::int32_t* field : bytes) *field = *r++;
    s.IX = r[0] | r[1] << 8;
    s.IY = r[2] | r[3] << 8;
    s.SP = r[4] | r[5] << 8;
    r += 6;
    std::int32_t* flags[] = {&s.Carry,    &s.Zero,    &s.Sign,    &s.Parity,
                             &s.altCarry, &s.altZero, &s.altSign, &s.altParity};
    for (int i = 0; i < 8; ++i) *flags[i] = (r[0] >> i) & 1;
    if (r[1] == kFailRead) ports.failReadAt = r[2] % 16;
    if (r[1] == kFailWrite) ports.failWriteAt = r[2] % 16;
  }

  for (int n = 0; n < kMaxInstructions && !control.stopped; ++n) {
    // Past the image lie NOPs up to FFFFH, which exercise nothing new.
    if (s.PC >= static_cast<std::int32_t>(imageSize) &&
        s.memory[static_cast<std::size_t>(s.PC)] == 0)
      break;
    const Registers before = registers(s);
    const std::int32_t pc = s.PC;
    const int calls = display.calls;
    ports.failed = false;
    machine.clock_Timer();
    if (display.calls != calls + 1)
      fail("ekran not called exactly once in a tick", display.calls - calls, pc);
    checkRegisters(s);
    checkWrittenCells(before, pc, s);
    if (machine.tickAbandoned()) {
      // A port that gave no byte or could not take one: the instruction changed nothing.
      if (!ports.failed) fail("instruction abandoned without a port failure", 0, pc);
      if (registers(s) != before) fail("abandoned instruction changed a register", 0, pc);
      if (machine.instructionAddress() != pc)
        fail("abandoned instruction's address", machine.instructionAddress(), pc);
      break;
    }
    if (ports.failed) fail("port failure not reported as an abandoned instruction", 0, pc);
    checkText(machine, pc);
  }

  for (std::size_t a = 0; a < s.memory.size(); ++a) {
    checkRange("memory cell out of range at the end", s.memory[a], 255,
               static_cast<std::int32_t>(a));
  }

  // The disassembler on arbitrary bytes.
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t i = 0; i < 4; ++i) bytes[i] = data[i % size];
  char text[korvel::Machine::kMaxTextLength];
  const int length = korvel::disassemble(bytes, text);
  if (length <= 0 || length > korvel::Machine::kMaxTextLength)
    fail("disassembly length", length, 0);
  return 0;
}
