// Runs random programs of documented Z80 instructions on Korvel's core and on the z80ex
// library side by side, one instruction at a time. After every instruction it compares PC,
// SP, IX, IY, the main and alternate registers, the four modelled flags of both sets, the
// memory cells written and the port traffic.
//
//   differential_test [--seed N] [--instructions M]    a fixed sample (seed 1, 10,000,000)
//   differential_test --soak SECONDS                    a random seed, printed first
//   differential_test --seed N --program K [--trace]    replays one program of a run,
//                                                       comparing all memory after each step
//
// Exit status: 0 nothing differed, 1 a difference (or a documented instruction that the
// sample never reached), 2 a bad command line.
#include <algorithm>
#include <array>
#include <bitset>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/machine.h"
#include "instruction_set.h"
#include "reference_cpu.h"

namespace korvel::differential {
namespace {

// ---------------------------------------------------------------------------------------
// Where Korvel differs from the silicon. Everything the comparison leaves out is here.
//
// Korvel models four flags: Sign (bit 7 of F), Zero (6), Parity (2) and Carry (0). Flags
// are compared on those bits only, and z80ex's F and F' are cut to them before every
// instruction, so that PUSH AF writes the same byte on both sides (Korvel writes 0 for the
// half-carry, add/subtract and copied result bits that it does not have).
constexpr int kModelledFlags = 0xC5;

// Fields that a row leaves out of the comparison.
enum Ignored : unsigned {
  kSign = 1u << 0,
  kZero = 1u << 1,
  kParity = 1u << 2,
  kCarry = 1u << 3,
  kAllFlags = kSign | kZero | kParity | kCarry,
  kA = 1u << 4,
  kPC = 1u << 5,
  kSP = 1u << 6,
};

enum class Treatment {
  CompareShared,  // both run it; `ignored` fields are left out, then z80ex takes Korvel's
  KorvelAlone,    // only Korvel runs it and must change nothing but PC; z80ex takes its PC
  EndProgram,     // the program ends before it
};

struct Difference {
  const char* instructions;
  bool (*applies)(const Decoded&);
  Treatment treatment;
  unsigned ignored;
  const char* reason;
};

const Difference kDifferences[] = {
    {"HALT", [](const Decoded& d) { return d.halt; }, Treatment::EndProgram, 0,
     "Korvel stops the run with PC on the HALT opcode; the silicon idles until an interrupt"},
    {"undocumented forms: CB 30-37, unknown ED bytes, DD/FD forms outside the 40, DD CB/FD CB "
     "forms that copy into a register",
     [](const Decoded& d) { return !d.documented; }, Treatment::KorvelAlone, 0,
     "Korvel executes the prefix alone and runs the next byte as a new instruction"},
    {"DAA", [](const Decoded& d) { return d.page == Page::Main && d.op == 0x27; },
     Treatment::CompareShared, kA | kAllFlags,
     "Korvel shows DAA without executing it: it has no half-carry or add/subtract flag"},
    {"BIT b,r and BIT b,(HL)",
     [](const Decoded& d) { return d.page == Page::CB && d.op >= 0x40 && d.op < 0x80; },
     Treatment::CompareShared, kSign | kParity,
     "Korvel's BIT sets only Zero and keeps Sign and Parity; the silicon changes both"},
    {"BIT b,(IX+d) and BIT b,(IY+d)",
     [](const Decoded& d) {
       return (d.page == Page::DDCB || d.page == Page::FDCB) && d.op >= 0x40 && d.op < 0x80;
     },
     Treatment::CompareShared, kSign | kParity,
     "Korvel's BIT sets only Zero and keeps Sign and Parity; the silicon changes both"},
    {"LDIR, LDDR",
     [](const Decoded& d) { return d.page == Page::ED && (d.op == 0xB0 || d.op == 0xB8); },
     Treatment::CompareShared, kParity,
     "Korvel sets Parity to 0 on every iteration; the silicon keeps it 1 until BC reaches 0"},
    {"INI, IND, OUTI, OUTD",
     [](const Decoded& d) {
       return d.page == Page::ED && (d.op == 0xA2 || d.op == 0xAA || d.op == 0xA3 || d.op == 0xAB);
     },
     Treatment::CompareShared, kSign | kParity | kCarry,
     "Korvel defines only Zero (B reached 0); the silicon's other flags depend on the data"},
    {"INIR, INDR, OTIR, OTDR",
     [](const Decoded& d) {
       return d.page == Page::ED && (d.op == 0xB2 || d.op == 0xBA || d.op == 0xB3 || d.op == 0xBB);
     },
     Treatment::CompareShared, kAllFlags,
     "Korvel sets Zero to 1 on every iteration and changes no other flag"},
    {"RETN, RETI",
     [](const Decoded& d) { return d.page == Page::ED && (d.op == 0x45 || d.op == 0x4D); },
     Treatment::CompareShared, kPC | kSP,
     "Korvel has no interrupts: it takes nothing from the stack and goes on after the instruction"},
    {"LD A,I, LD A,R",
     [](const Decoded& d) { return d.page == Page::ED && (d.op == 0x57 || d.op == 0x5F); },
     Treatment::CompareShared, kA | kSign | kZero | kParity,
     "Korvel has no I or R register: A and the flags keep their values"},
    // LD I,A, LD R,A, IM 0/1/2, DI and EI change nothing that Korvel models, on either side,
    // and CALL reads its target before it pushes on both: they are compared in full.
};

const Difference* differenceFor(const Decoded& d) {
  for (const Difference& row : kDifferences) {
    if (row.applies(d)) return &row;
  }
  return nullptr;
}
// ---------------------------------------------------------------------------------------

// Korvel's and z80ex's view of each compared field.
struct Field {
  const char* name;
  int digits;
  unsigned ignoredBy;
  std::int32_t (*korvel)(const MachineState&);
  int (*reference)(const ReferenceCpu&);
};

int high(const ReferenceCpu& z, Z80_REG_T r) {
  return z.reg(r) >> 8;
}
int bit(const ReferenceCpu& z, Z80_REG_T r, int n) {
  return (z.reg(r) >> n) & 1;
}

const Field kFields[] = {
    {"PC", 4, kPC, [](const MachineState& s) { return s.PC; },
     [](const ReferenceCpu& z) { return int{z.reg(regPC)}; }},
    {"SP", 4, kSP, [](const MachineState& s) { return s.SP; },
     [](const ReferenceCpu& z) { return int{z.reg(regSP)}; }},
    {"IX", 4, 0, [](const MachineState& s) { return s.IX; },
     [](const ReferenceCpu& z) { return int{z.reg(regIX)}; }},
    {"IY", 4, 0, [](const MachineState& s) { return s.IY; },
     [](const ReferenceCpu& z) { return int{z.reg(regIY)}; }},
    {"A", 2, kA, [](const MachineState& s) { return s.A; },
     [](const ReferenceCpu& z) { return high(z, regAF); }},
    {"BC", 4, 0, [](const MachineState& s) { return s.B * 256 + s.C; },
     [](const ReferenceCpu& z) { return int{z.reg(regBC)}; }},
    {"DE", 4, 0, [](const MachineState& s) { return s.D * 256 + s.E; },
     [](const ReferenceCpu& z) { return int{z.reg(regDE)}; }},
    {"HL", 4, 0, [](const MachineState& s) { return s.H * 256 + s.L; },
     [](const ReferenceCpu& z) { return int{z.reg(regHL)}; }},
    {"Sign", 1, kSign, [](const MachineState& s) { return s.Sign; },
     [](const ReferenceCpu& z) { return bit(z, regAF, 7); }},
    {"Zero", 1, kZero, [](const MachineState& s) { return s.Zero; },
     [](const ReferenceCpu& z) { return bit(z, regAF, 6); }},
    {"Parity", 1, kParity, [](const MachineState& s) { return s.Parity; },
     [](const ReferenceCpu& z) { return bit(z, regAF, 2); }},
    {"Carry", 1, kCarry, [](const MachineState& s) { return s.Carry; },
     [](const ReferenceCpu& z) { return bit(z, regAF, 0); }},
    {"A'", 2, 0, [](const MachineState& s) { return s.altA; },
     [](const ReferenceCpu& z) { return high(z, regAF_); }},
    {"BC'", 4, 0, [](const MachineState& s) { return s.altB * 256 + s.altC; },
     [](const ReferenceCpu& z) { return int{z.reg(regBC_)}; }},
    {"DE'", 4, 0, [](const MachineState& s) { return s.altD * 256 + s.altE; },
     [](const ReferenceCpu& z) { return int{z.reg(regDE_)}; }},
    {"HL'", 4, 0, [](const MachineState& s) { return s.altH * 256 + s.altL; },
     [](const ReferenceCpu& z) { return int{z.reg(regHL_)}; }},
    {"Sign'", 1, 0, [](const MachineState& s) { return s.altSign; },
     [](const ReferenceCpu& z) { return bit(z, regAF_, 7); }},
    {"Zero'", 1, 0, [](const MachineState& s) { return s.altZero; },
     [](const ReferenceCpu& z) { return bit(z, regAF_, 6); }},
    {"Parity'", 1, 0, [](const MachineState& s) { return s.altParity; },
     [](const ReferenceCpu& z) { return bit(z, regAF_, 2); }},
    {"Carry'", 1, 0, [](const MachineState& s) { return s.altCarry; },
     [](const ReferenceCpu& z) { return bit(z, regAF_, 0); }},
};
constexpr std::size_t kFieldCount = std::size(kFields);
using Snapshot = std::array<std::int32_t, kFieldCount>;

Snapshot snapshot(const MachineState& s) {
  Snapshot values{};
  for (std::size_t i = 0; i < kFieldCount; ++i) values[i] = kFields[i].korvel(s);
  return values;
}

// Every field of Korvel's record must stay in its range; a pair compared whole could
// otherwise hide a half that left it (C = 256 reads like B + 1).
void rangeErrors(const MachineState& s, std::vector<std::string>& errors) {
  struct Range {
    const char* name;
    std::int32_t value;
    std::int32_t max;
  };
  const Range ranges[] = {
      {"A", s.A, 255},           {"B", s.B, 255},
      {"C", s.C, 255},           {"D", s.D, 255},
      {"E", s.E, 255},           {"H", s.H, 255},
      {"L", s.L, 255},           {"A'", s.altA, 255},
      {"B'", s.altB, 255},       {"C'", s.altC, 255},
      {"D'", s.altD, 255},       {"E'", s.altE, 255},
      {"H'", s.altH, 255},       {"L'", s.altL, 255},
      {"IX", s.IX, 65535},       {"IY", s.IY, 65535},
      {"SP", s.SP, 65535},       {"PC", s.PC, 65535},
      {"Carry", s.Carry, 1},     {"Zero", s.Zero, 1},
      {"Sign", s.Sign, 1},       {"Parity", s.Parity, 1},
      {"Carry'", s.altCarry, 1}, {"Zero'", s.altZero, 1},
      {"Sign'", s.altSign, 1},   {"Parity'", s.altParity, 1},
  };
  for (const Range& r : ranges) {
    if (r.value < 0 || r.value > r.max) {
      errors.push_back(std::string(r.name) + " out of range in Korvel: " + std::to_string(r.value));
    }
  }
}

std::string hex(std::int64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*" PRIX64, digits, static_cast<std::uint64_t>(value));
  return text;
}

// "port writes: korvel 41H to 05H, z80ex 41H to 06H"
std::string describePorts(const char* what, const std::vector<PortAccess>& korvel,
                          const std::vector<PortAccess>& reference, bool withData) {
  std::string text = what;
  const std::vector<PortAccess>* sides[] = {&korvel, &reference};
  for (int side = 0; side < 2; ++side) {
    text += side == 0 ? ": korvel" : ", z80ex";
    for (const PortAccess& a : *sides[side]) {
      char item[32];
      if (withData) {
        std::snprintf(item, sizeof item, " %02XH to %02XH", a.data, a.port);
      } else {
        std::snprintf(item, sizeof item, " (%02XH)", a.port);
      }
      text += item;
    }
  }
  return text;
}

class KorvelPorts final : public PortInput, public PortOutput {
 public:
  std::optional<std::int32_t> portin(std::int32_t portnum, std::int32_t) override {
    reads.push_back({portnum, byte});
    return byte;
  }
  bool portout(std::int32_t portnum, std::int32_t portdata) override {
    writes.push_back({portnum, portdata});
    return true;
  }
  std::int32_t byte = 0;
  std::vector<PortAccess> reads;
  std::vector<PortAccess> writes;
};

struct Sides {
  std::unique_ptr<MachineState> state = std::make_unique<MachineState>();
  KorvelPorts ports;
  Machine machine{*state, MachineHooks{nullptr, &ports, &ports, nullptr}};
  ReferenceCpu reference;
};

int flagByte(const MachineState& s, bool alternate) {
  return alternate ? s.altSign << 7 | s.altZero << 6 | s.altParity << 2 | s.altCarry
                   : s.Sign << 7 | s.Zero << 6 | s.Parity << 2 | s.Carry;
}

// z80ex takes Korvel's registers and flags (not its memory).
void copyRegisters(const MachineState& s, ReferenceCpu& z) {
  z.setReg(regAF, s.A * 256 + flagByte(s, false));
  z.setReg(regBC, s.B * 256 + s.C);
  z.setReg(regDE, s.D * 256 + s.E);
  z.setReg(regHL, s.H * 256 + s.L);
  z.setReg(regAF_, s.altA * 256 + flagByte(s, true));
  z.setReg(regBC_, s.altB * 256 + s.altC);
  z.setReg(regDE_, s.altD * 256 + s.altE);
  z.setReg(regHL_, s.altH * 256 + s.altL);
  z.setReg(regIX, s.IX);
  z.setReg(regIY, s.IY);
  z.setReg(regSP, s.SP);
  z.setReg(regPC, s.PC);
}

// Cells that an instruction at PC could write, from the state before it: the cells its
// registers point at, the stack around SP, the indexed cells and the absolute operands. A
// wrong write anywhere else shows up in the comparison of all memory at the program's end.
int writeCandidates(const MachineState& s, const std::array<std::uint8_t, 4>& b,
                    std::array<std::int32_t, 16>& out) {
  const std::int32_t d = b[2] > 127 ? b[2] - 256 : b[2];
  const std::int32_t nn1 = b[1] | b[2] << 8;
  const std::int32_t nn2 = b[2] | b[3] << 8;
  const std::int32_t addresses[] = {
      s.H * 256 + s.L, s.D * 256 + s.E, s.B * 256 + s.C, s.SP - 2, s.SP - 1, s.SP,
      s.SP + 1,        s.IX + d,        s.IY + d,        nn1,      nn1 + 1,  nn2,
      nn2 + 1};
  int n = 0;
  for (std::int32_t a : addresses) out[static_cast<std::size_t>(n++)] = a & 0xFFFF;
  return n;
}

struct Stats {
  std::uint64_t programs = 0;
  std::uint64_t compared = 0;        // instructions compared (in full or on shared fields)
  std::uint64_t comparedShared = 0;  // of those, rows of the difference table
  std::uint64_t korvelAlone = 0;     // undocumented forms met (random data, wild jumps)
  std::uint64_t mismatches = 0;
  std::array<std::uint64_t, kPageCount> perPage{};
  std::array<std::bitset<256>, kPageCount> covered{};
};

struct RunOptions {
  std::uint64_t seed = 1;
  bool fullMemoryEachStep = false;
  bool trace = false;
};

// A program runs until its HALT, or at most this many steps per instruction it has: enough
// for loops and repeats, not so many that one endless JR swallows the sample.
constexpr int kStepsPerInstruction = 3;

class Differential {
 public:
  explicit Differential(const RunOptions& options) : options_(options) {}

  // Runs program `index` of the seed; false on a difference.
  bool runProgram(std::uint64_t index);
  Stats& stats() { return stats_; }

 private:
  Program setUp(Rng& rng);
  void report(std::uint64_t index, int step, const Snapshot& before,
              const std::array<std::uint8_t, 4>& bytes, const Difference* row,
              const std::vector<std::string>& errors);
  void compareMemoryAt(std::int32_t address, std::vector<std::string>& errors) const;

  RunOptions options_;
  std::unique_ptr<Sides> sides_ = std::make_unique<Sides>();
  Stats stats_;
  Program program_;
  Snapshot initial_{};
};

// Random memory everywhere, random registers and flags, the program at a random address
// (sometimes across FFFFH), and the stack mostly holding addresses of its instructions so
// that returns land in it.
Program Differential::setUp(Rng& rng) {
  MachineState& s = *sides_->state;
  ReferenceCpu& z = sides_->reference;
  for (std::size_t a = 0; a < z.memory.size(); a += 8) {
    std::uint64_t v = rng.next();
    for (std::size_t i = 0; i < 8; ++i, v >>= 8) {
      z.memory[a + i] = static_cast<std::uint8_t>(v);
      s.memory[a + i] = static_cast<std::int32_t>(v & 0xFF);
    }
  }
  std::int32_t* bytes[] = {&s.A,    &s.B,    &s.C,    &s.D,    &s.E,    &s.H,    &s.L,
                           &s.altA, &s.altB, &s.altC, &s.altD, &s.altE, &s.altH, &s.altL};
  for (std::int32_t* r : bytes) *r = rng.byte();
  std::int32_t* flags[] = {&s.Carry,    &s.Zero,    &s.Sign,    &s.Parity,
                           &s.altCarry, &s.altZero, &s.altSign, &s.altParity};
  for (std::int32_t* f : flags) *f = rng.below(2);
  s.IX = rng.word();
  s.IY = rng.word();
  s.SP = rng.word();

  const auto start =
      static_cast<std::uint16_t>(rng.percent(10) ? 0xFF00 + rng.below(256) : rng.below(65536));
  Program program = generateProgram(rng, start, 20 + rng.below(180));
  auto poke = [&](std::int32_t address, std::uint8_t value) {
    z.memory[static_cast<std::size_t>(address & 0xFFFF)] = value;
    s.memory[static_cast<std::size_t>(address & 0xFFFF)] = value;
  };
  for (int k = -8; k < 24; ++k) {
    if (!rng.percent(70)) continue;
    const std::uint16_t target = program.instructionAddresses[static_cast<std::size_t>(
        rng.below(static_cast<int>(program.instructionAddresses.size())))];
    poke(s.SP + 2 * k, static_cast<std::uint8_t>(target & 0xFF));
    poke(s.SP + 2 * k + 1, static_cast<std::uint8_t>(target >> 8));
  }
  for (std::size_t i = 0; i < program.bytes.size(); ++i) {
    poke(start + static_cast<std::int32_t>(i), program.bytes[i]);
  }
  s.PC = start;
  copyRegisters(s, z);
  return program;
}

void Differential::compareMemoryAt(std::int32_t address, std::vector<std::string>& errors) const {
  const std::int32_t k = sides_->state->memory[static_cast<std::size_t>(address)];
  const int r = sides_->reference.memory[static_cast<std::size_t>(address)];
  if (k == r) return;
  char text[64];
  std::snprintf(text, sizeof text, "(%04XH): korvel %02X, z80ex %02X", address, k, r);
  if (std::find(errors.begin(), errors.end(), text) == errors.end()) errors.push_back(text);
}

bool Differential::runProgram(std::uint64_t index) {
  Rng rng(options_.seed * 0xD1B54A32D192ED03ull + index);
  program_ = setUp(rng);
  ++stats_.programs;
  MachineState& s = *sides_->state;
  ReferenceCpu& z = sides_->reference;
  KorvelPorts& ports = sides_->ports;
  Machine& machine = sides_->machine;
  initial_ = snapshot(s);

  std::vector<std::string> errors;
  std::array<std::int32_t, 16> candidates{};
  const int maxSteps =
      kStepsPerInstruction * static_cast<int>(program_.instructionAddresses.size());
  for (int step = 0; step < maxSteps; ++step) {
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
      bytes[i] = static_cast<std::uint8_t>(s.memory[(static_cast<std::size_t>(s.PC) + i) & 0xFFFF]);
    }
    const Decoded decoded = decode(bytes);
    const Difference* row = differenceFor(decoded);
    const Treatment treatment = row != nullptr ? row->treatment : Treatment::CompareShared;
    if (treatment == Treatment::EndProgram) break;

    const Snapshot before = snapshot(s);
    const int candidateCount = writeCandidates(s, bytes, candidates);
    ports.reads.clear();
    ports.writes.clear();
    errors.clear();

    if (treatment == Treatment::KorvelAlone) {
      machine.clock_Timer();
      const Snapshot after = snapshot(s);
      for (std::size_t i = 0; i < kFieldCount; ++i) {
        const bool isPC = std::strcmp(kFields[i].name, "PC") == 0;
        const std::int32_t expected =
            isPC ? (before[i] + decoded.prefixLength) & 0xFFFF : before[i];
        if (after[i] != expected) {
          errors.push_back(std::string(kFields[i].name) + ": korvel " +
                           hex(after[i], kFields[i].digits) + ", expected " +
                           hex(expected, kFields[i].digits) + " (only the prefix executes)");
        }
      }
      // z80ex did not run, so its memory still holds every cell as it was.
      for (int i = 0; i < candidateCount; ++i)
        compareMemoryAt(candidates[static_cast<std::size_t>(i)], errors);
      if (!ports.reads.empty() || !ports.writes.empty()) {
        errors.push_back("Korvel used a port for a prefix that executes alone");
      }
      ++stats_.korvelAlone;
      z.setReg(regPC, s.PC);
    } else {
      const std::uint8_t portByte = rng.byte();
      ports.byte = portByte;
      z.portByte = portByte;
      z.setReg(regAF, z.reg(regAF) & (0xFF00 | kModelledFlags));
      z.setReg(regAF_, z.reg(regAF_) & (0xFF00 | kModelledFlags));

      machine.clock_Timer();
      z.step();

      const unsigned ignored = row != nullptr ? row->ignored : 0;
      for (const Field& f : kFields) {
        if ((f.ignoredBy & ignored) != 0) continue;
        const std::int32_t k = f.korvel(s);
        const int r = f.reference(z);
        if (k != r) {
          errors.push_back(std::string(f.name) + ": korvel " + hex(k, f.digits) + ", z80ex " +
                           hex(r, f.digits));
        }
      }
      if (options_.fullMemoryEachStep) {
        for (std::int32_t a = 0; a < kMemorySize; ++a) compareMemoryAt(a, errors);
      } else {
        for (std::uint16_t a : z.writes) compareMemoryAt(a, errors);
        for (int i = 0; i < candidateCount; ++i)
          compareMemoryAt(candidates[static_cast<std::size_t>(i)], errors);
      }
      if (ports.reads.size() != z.portReads.size() ||
          !std::equal(ports.reads.begin(), ports.reads.end(), z.portReads.begin(),
                      [](const PortAccess& a, const PortAccess& b) { return a.port == b.port; })) {
        errors.push_back(describePorts("port reads", ports.reads, z.portReads, false));
      }
      if (ports.writes != z.portWrites) {
        errors.push_back(describePorts("port writes", ports.writes, z.portWrites, true));
      }
      ++stats_.compared;
      if (row != nullptr) ++stats_.comparedShared;
      const auto page = static_cast<std::size_t>(decoded.page);
      ++stats_.perPage[page];
      stats_.covered[page].set(static_cast<std::size_t>(decoded.op));
      if (ignored != 0) copyRegisters(s, z);
    }
    if (machine.tickAbandoned()) errors.push_back("Korvel abandoned the instruction");
    rangeErrors(s, errors);

    if (options_.trace) {
      std::printf("step %d  %sH  %s %s %s %s  %s\n", step, hex(before[0], 4).c_str(),
                  hex(bytes[0], 2).c_str(), hex(bytes[1], 2).c_str(), hex(bytes[2], 2).c_str(),
                  hex(bytes[3], 2).c_str(), machine.instructionText().c_str());
    }
    if (!errors.empty()) {
      report(index, step, before, bytes, row, errors);
      return false;
    }
  }

  // A write that no candidate address covered.
  errors.clear();
  const std::int32_t* korvelMemory = s.memory.data();
  const std::uint8_t* referenceMemory = z.memory.data();
  for (std::int32_t a = 0; a < kMemorySize && errors.size() < 8; ++a) {
    if (korvelMemory[a] != referenceMemory[a]) compareMemoryAt(a, errors);
  }
  if (!errors.empty()) {
    errors.insert(errors.begin(),
                  "memory differs at the end of the program; replay it to find the step");
    report(index, -1, initial_, {}, nullptr, errors);
    return false;
  }
  return true;
}

void Differential::report(std::uint64_t index, int step, const Snapshot& before,
                          const std::array<std::uint8_t, 4>& bytes, const Difference* row,
                          const std::vector<std::string>& errors) {
  ++stats_.mismatches;
  std::printf("DIFFERENCE in program %" PRIu64 " of seed %" PRIu64
              " (replay: differential_test --seed %" PRIu64 " --program %" PRIu64 " --trace)\n",
              index, options_.seed, options_.seed, index);
  if (step >= 0) {
    std::printf("  step %d at %sH: bytes %s %s %s %s, Korvel's text \"%s\"\n", step,
                hex(before[0], 4).c_str(), hex(bytes[0], 2).c_str(), hex(bytes[1], 2).c_str(),
                hex(bytes[2], 2).c_str(), hex(bytes[3], 2).c_str(),
                sides_->machine.instructionText().c_str());
    if (row != nullptr)
      std::printf("  (%s: compared on shared fields only; %s)\n", row->instructions, row->reason);
  }
  for (const std::string& e : errors) std::printf("  %s\n", e.c_str());
  auto printState = [](const char* title, const Snapshot& values) {
    std::printf("  %s:", title);
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      std::printf(" %s=%s", kFields[i].name, hex(values[i], kFields[i].digits).c_str());
    }
    std::printf("\n");
  };
  if (step >= 0) printState("before the step", before);
  printState("at the program's start", initial_);
  std::printf("  program at %sH, %zu bytes:", hex(program_.start, 4).c_str(),
              program_.bytes.size());
  for (std::size_t i = 0; i < program_.bytes.size(); ++i) {
    std::printf("%s%s", i % 32 == 0 ? "\n   " : " ", hex(program_.bytes[i], 2).c_str());
  }
  std::printf("\n");
  std::fflush(stdout);
}

void printFigures(const Stats& st, std::uint64_t seed, double seconds) {
  std::printf("differential: seed %" PRIu64 ", %" PRIu64 " programs, %" PRIu64
              " instructions compared in %.1f s (%.2f million/s)\n",
              seed, st.programs, st.compared, seconds,
              seconds > 0 ? static_cast<double>(st.compared) / seconds / 1e6 : 0.0);
  std::printf("  of those %" PRIu64 " compared on shared fields only (known differences); %" PRIu64
              " undocumented forms ran on Korvel alone\n",
              st.comparedShared, st.korvelAlone);
  std::printf("  per page:");
  for (int p = 0; p < kPageCount; ++p) {
    const auto page = static_cast<Page>(p);
    const std::size_t i = static_cast<std::size_t>(p);
    std::printf(" %s %" PRIu64 " (%zu/%zu forms)%s", pageName(page), st.perPage[i],
                st.covered[i].count(), documentedOpcodes(page).size(),
                p + 1 < kPageCount ? "," : "\n");
  }
  std::printf("  differences: %" PRIu64 "\n", st.mismatches);
}

// Documented forms that the run never compared.
std::vector<std::string> missedForms(const Stats& st) {
  std::vector<std::string> missed;
  for (int p = 0; p < kPageCount; ++p) {
    const auto page = static_cast<Page>(p);
    for (int op : documentedOpcodes(page)) {
      if (!st.covered[static_cast<std::size_t>(p)].test(static_cast<std::size_t>(op))) {
        missed.push_back(std::string(pageName(page)) + " " + hex(op, 2));
      }
    }
  }
  return missed;
}

std::optional<std::uint64_t> number(const char* text) {
  char* end = nullptr;
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (*end != '\0') return std::nullopt;
  return value;
}

int usage() {
  std::fprintf(stderr,
               "usage: differential_test [--seed N] [--instructions M]\n"
               "       differential_test --soak SECONDS\n"
               "       differential_test --seed N --program K [--trace]\n");
  return 2;
}

constexpr int kMaxReportedDifferences = 5;

int run(int argc, char** argv) {
  RunOptions options;
  std::uint64_t instructions = 10000000;
  std::optional<std::uint64_t> soakSeconds;
  std::optional<std::uint64_t> program;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--trace") {
      options.trace = true;
      continue;
    }
    const std::optional<std::uint64_t> value = i + 1 < argc ? number(argv[i + 1]) : std::nullopt;
    if (!value) return usage();
    ++i;
    if (arg == "--seed") {
      options.seed = *value;
    } else if (arg == "--instructions") {
      instructions = *value;
    } else if (arg == "--soak") {
      soakSeconds = *value;
    } else if (arg == "--program") {
      program = *value;
    } else {
      return usage();
    }
  }

  if (program) {
    options.fullMemoryEachStep = true;
    Differential differential(options);
    const bool same = differential.runProgram(*program);
    printFigures(differential.stats(), options.seed, 0.0);
    return same ? 0 : 1;
  }
  if (soakSeconds) {
    options.seed = std::random_device{}() * 0x100000000ull + std::random_device{}();
    std::printf("differential soak: seed %" PRIu64 " for %" PRIu64 " s\n", options.seed,
                *soakSeconds);
    std::fflush(stdout);
  }

  Differential differential(options);
  const auto begin = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  };
  for (std::uint64_t index = 0;; ++index) {
    differential.runProgram(index);
    if (differential.stats().mismatches >= kMaxReportedDifferences) break;
    if (soakSeconds ? (index % 64 == 0 && elapsed() >= static_cast<double>(*soakSeconds))
                    : differential.stats().compared >= instructions) {
      break;
    }
  }
  const Stats& st = differential.stats();
  printFigures(st, options.seed, elapsed());
  if (st.mismatches != 0) return 1;
  // Only a sample that reached every documented form speaks for all of them.
  const std::vector<std::string> missed = missedForms(st);
  if (!missed.empty()) {
    std::printf("documented forms never compared (%zu):", missed.size());
    for (const std::string& m : missed) std::printf(" [%s]", m.c_str());
    std::printf("\n");
    return soakSeconds || instructions < 1000000 ? 0 : 1;
  }
  return 0;
}

}  // namespace
}  // namespace korvel::differential

int main(int argc, char** argv) {
  return korvel::differential::run(argc, argv);
}
