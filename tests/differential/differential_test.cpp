// Runs random programs of documented Z80 instructions on Korvel's core and on the z80ex
// library side by side, one instruction at a time. After every instruction it compares PC,
// SP, IX, IY, A..L, the alternate registers, the four modelled flags of both sets, the memory
// cells written and the port traffic (every port read answered with the same random byte).
//
//   differential_test [--seed N] [--instructions M]    a fixed sample (seed 1, 10,000,000)
//   differential_test --soak SECONDS                    a random seed, printed first
//
// Exit status: 0 nothing differed, 1 a difference (or a documented form that a sample of a
// million instructions or more never reached), 2 a bad command line.
#include <z80ex/z80ex.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/machine.h"

namespace korvel {
namespace {

// ---- The documented instruction set, written from the Z80 manual, not taken from the core,
// so that an opcode the core forgets to decode shows up as a difference.

enum Page { kMain, kCB, kED, kDD, kFD, kDDCB, kFDCB, kPageCount };
const char* const kPageNames[] = {"main", "CB", "ED", "DD", "FD", "DD CB", "FD CB"};
constexpr int kPrefixes[] = {0, 0xCB, 0xED, 0xDD, 0xFD, 0xDD, 0xFD};
constexpr int kPageWeights[] = {25, 17, 18, 12, 12, 8, 8};  // percent of a program

// Bytes of each documented instruction, prefixes included, one row per high nibble of the
// opcode; '-' marks the prefixes, HALT and the undocumented forms.
constexpr const char* kMainLengths[16] = {
    "1311112111111121", "2311112121111121", "2331112121311121", "2331112121311121",
    "1111111111111111", "1111111111111111", "1111111111111111", "111111-111111111",
    "1111111111111111", "1111111111111111", "1111111111111111", "1111111111111111",
    "11333121113-3321", "1132312111323-21", "1131312111313-21", "1131312111313-21"};
constexpr const char* kEdLengths[16] = {
    "----------------", "----------------", "----------------", "----------------",
    "222422222224-2-2", "2224--222224--22", "2224---22224---2", "--24----2224----",
    "----------------", "----------------", "2222----2222----", "2222----2222----",
    "----------------", "----------------", "----------------", "----------------"};
constexpr const char* kIndexLengths[16] = {  // DD and FD, without the DD CB hand-over
    "---------2------", "---------2------", "-442-----242----", "----334--2------",
    "------3-------3-", "------3-------3-", "------3-------3-", "333333-3------3-",
    "------3-------3-", "------3-------3-", "------3-------3-", "------3-------3-",
    "----------------", "----------------", "-2-2-2---2------", "---------2------"};

// 0 for a form that is not documented. CB: all but 30-37; DD CB and FD CB: rotates, shifts
// (no SLL), BIT, RES and SET of (IX+d), never the forms that also copy into a register.
int lengthOf(int page, int op) {
  if (page == kCB) return op >= 0x30 && op < 0x38 ? 0 : 2;
  if (page == kDDCB || page == kFDCB) return (op & 7) == 6 && op != 0x36 ? 4 : 0;
  const char* const* rows = page == kMain ? kMainLengths : page == kED ? kEdLengths : kIndexLengths;
  return rows[op >> 4][op & 15] == '-' ? 0 : rows[op >> 4][op & 15] - '0';
}

const std::vector<int>& documentedForms(int page) {
  static std::array<std::vector<int>, kPageCount> forms;  // filled on first use
  if (forms[page].empty()) {
    for (int op = 0; op < 256; ++op) {
      if (lengthOf(page, op) != 0) forms[page].push_back(op);
    }
  }
  return forms[page];
}

struct Decoded {
  int page, op;
  bool documented, halt;
  int prefixLength;  // how far executing the prefix alone moves PC
};

Decoded decode(const std::array<std::uint8_t, 4>& b) {
  Decoded d{kMain, b[0], false, b[0] == 0x76, 0};
  if (b[0] == 0xCB || b[0] == 0xED) d = {b[0] == 0xCB ? kCB : kED, b[1], false, false, 1};
  if (b[0] == 0xDD || b[0] == 0xFD) {
    const bool ix = b[0] == 0xDD;
    d = b[1] == 0xCB ? Decoded{ix ? kDDCB : kFDCB, b[3], false, false, 2}
                     : Decoded{ix ? kDD : kFD, b[1], false, false, 1};
  }
  d.documented = lengthOf(d.page, d.op) != 0;
  return d;
}

// SplitMix64: the same numbers on every compiler.
struct Rng {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  bool percent(int p) { return below(100) < p; }
  int pick(const std::vector<int>& from) { return from[below(static_cast<int>(from.size()))]; }
  // Often a value where flag rules turn (00, 01, 7F, 80, FF), or a word near a wrap.
  int byte() {
    return percent(20) ? std::array{0x00, 0x01, 0x7F, 0x80, 0xFF}[below(5)] : below(256);
  }
  int word() {
    static constexpr int kNear[] = {0x0000, 0xFFF0, 0x7FF8};
    const int pick = below(10);
    return pick < 3 ? kNear[pick] + below(16) : below(65536);
  }
};

struct Program {
  int start = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<int> addresses;  // of its instructions
};

// `count` random documented instructions from every page, then HALT. Absolute jumps and
// calls mostly target the program's own instructions; a repeating block instruction mostly
// gets a small count first, or it would spend the program repeating.
Program generate(Rng& rng, int start, int count) {
  Program p{start, {}, {}};
  std::vector<std::size_t> targets;  // where a JP or CALL keeps its target word
  const auto begin = [&] {
    p.addresses.push_back((start + static_cast<int>(p.bytes.size())) & 0xFFFF);
  };
  const auto put = [&](int byte) { p.bytes.push_back(static_cast<std::uint8_t>(byte)); };
  for (int i = 0; i < count; ++i) {
    int page = 0;
    for (int pick = rng.below(100); pick >= kPageWeights[page]; ++page) pick -= kPageWeights[page];
    const int op = rng.pick(documentedForms(page));
    if (page == kED && op >= 0xB0 && rng.percent(90)) {
      const bool wholeBC = (op & 3) < 2;  // LDIR CPIR LDDR CPDR count BC, the rest B
      begin();
      put(wholeBC ? 0x01 : 0x06);
      put(1 + rng.below(24));
      if (wholeBC) put(0);
    }
    begin();
    const std::size_t first = p.bytes.size();
    if (page != kMain) put(kPrefixes[page]);
    if (page == kDDCB || page == kFDCB) {
      put(0xCB);
      put(rng.byte());  // displacement
    }
    put(op);
    if (page == kMain && (op == 0xC3 || op == 0xCD || (op & 0xC7) == 0xC2 || (op & 0xC7) == 0xC4))
      targets.push_back(p.bytes.size());
    while (p.bytes.size() < first + lengthOf(page, op)) put(rng.byte());
  }
  begin();
  put(0x76);
  for (std::size_t at : targets) {
    const int target = rng.percent(85) ? rng.pick(p.addresses) : rng.word();
    p.bytes[at] = static_cast<std::uint8_t>(target & 0xFF);
    p.bytes[at + 1] = static_cast<std::uint8_t>(target >> 8);
  }
  return p;
}

// ---- Where Korvel differs from the silicon: everything the comparison leaves out is here.
// Korvel models four flags, Sign, Zero, Parity and Carry (bits 7, 6, 2, 0 of F); z80ex's F
// and F' are cut to them before every instruction, so PUSH AF writes the same byte on both.
enum Skip : unsigned { kS = 1, kZ = 2, kP = 4, kC = 8, kFlags = 15, kA = 16, kPC = 32, kSP = 64 };
enum class Treatment { Compare, KorvelAlone, EndProgram };
constexpr unsigned kHalt = 1u << kPageCount, kUndocumented = 2u << kPageCount;

struct Difference {
  unsigned pages;   // bits of Page, or kHalt or kUndocumented
  int mask, value;  // the opcodes with (op & mask) == value
  Treatment treatment;
  unsigned skipped;  // compared fields left out; z80ex then takes Korvel's values
  const char* what;
};

const Difference kDifferences[] = {
    {kHalt, 0, 0, Treatment::EndProgram, 0,
     "HALT: Korvel ends the run with PC on it; the silicon idles until an interrupt"},
    {kUndocumented, 0, 0, Treatment::KorvelAlone, 0,
     "undocumented forms: Korvel executes the prefix alone, then the next byte anew"},
    {1u << kMain, 0xFF, 0x27, Treatment::Compare, kA | kFlags,
     "DAA: Korvel shows it without executing it (no half-carry or add/subtract flag)"},
    {1u << kCB | 1u << kDDCB | 1u << kFDCB, 0xC0, 0x40, Treatment::Compare, kS | kP,
     "BIT: Korvel sets only Zero and keeps Sign and Parity"},
    {1u << kED, 0xF7, 0xB0, Treatment::Compare, kP,
     "LDIR, LDDR: Korvel sets Parity to 0 on every iteration, the silicon until BC is 0"},
    {1u << kED, 0xF6, 0xA2, Treatment::Compare, kS | kP | kC,
     "INI, IND, OUTI, OUTD: Korvel defines only Zero (B reached 0)"},
    {1u << kED, 0xF6, 0xB2, Treatment::Compare, kFlags,
     "INIR, INDR, OTIR, OTDR: Korvel sets Zero to 1 on every iteration, no other flag"},
    {1u << kED, 0xF7, 0x45, Treatment::Compare, kPC | kSP,
     "RETN, RETI: Korvel has no interrupts; it pops nothing and goes on after them"},
    {1u << kED, 0xF7, 0x57, Treatment::Compare, kA | kS | kZ | kP,
     "LD A,I, LD A,R: Korvel has no I or R register; A and the flags keep their values"},
    // LD I,A, LD R,A, IM 0/1/2, DI and EI change nothing modelled on either side: compared.
};

const Difference* differenceFor(const Decoded& d) {
  const unsigned bits = d.halt ? kHalt : !d.documented ? kUndocumented : 1u << d.page;
  for (const Difference& row : kDifferences) {
    if ((row.pages & bits) != 0 && (d.op & row.mask) == row.value) return &row;
  }
  return nullptr;
}

// ---- The compared fields: Korvel's member and where z80ex keeps it.
struct Field {
  const char* name;
  std::int32_t MachineState::*korvel;
  Z80_REG_T reg;
  int shift, mask;
  unsigned skippedBy;
  int digits() const { return mask == 0xFFFF ? 4 : mask == 0xFF ? 2 : 1; }
  int reference(Z80EX_CONTEXT* cpu) const { return (z80ex_get_reg(cpu, reg) >> shift) & mask; }
};

using S = MachineState;
// clang-format off
const Field kFields[] = {
    {"PC", &S::PC, regPC, 0, 0xFFFF, kPC},       {"SP", &S::SP, regSP, 0, 0xFFFF, kSP},
    {"IX", &S::IX, regIX, 0, 0xFFFF, 0},         {"IY", &S::IY, regIY, 0, 0xFFFF, 0},
    {"A", &S::A, regAF, 8, 0xFF, kA},            {"B", &S::B, regBC, 8, 0xFF, 0},
    {"C", &S::C, regBC, 0, 0xFF, 0},             {"D", &S::D, regDE, 8, 0xFF, 0},
    {"E", &S::E, regDE, 0, 0xFF, 0},             {"H", &S::H, regHL, 8, 0xFF, 0},
    {"L", &S::L, regHL, 0, 0xFF, 0},             {"Sign", &S::Sign, regAF, 7, 1, kS},
    {"Zero", &S::Zero, regAF, 6, 1, kZ},         {"Parity", &S::Parity, regAF, 2, 1, kP},
    {"Carry", &S::Carry, regAF, 0, 1, kC},       {"A'", &S::altA, regAF_, 8, 0xFF, 0},
    {"B'", &S::altB, regBC_, 8, 0xFF, 0},        {"C'", &S::altC, regBC_, 0, 0xFF, 0},
    {"D'", &S::altD, regDE_, 8, 0xFF, 0},        {"E'", &S::altE, regDE_, 0, 0xFF, 0},
    {"H'", &S::altH, regHL_, 8, 0xFF, 0},        {"L'", &S::altL, regHL_, 0, 0xFF, 0},
    {"Sign'", &S::altSign, regAF_, 7, 1, 0},     {"Zero'", &S::altZero, regAF_, 6, 1, 0},
    {"Parity'", &S::altParity, regAF_, 2, 1, 0}, {"Carry'", &S::altCarry, regAF_, 0, 1, 0}};
// clang-format on
constexpr std::size_t kFieldCount = std::size(kFields);
using Snapshot = std::array<std::int32_t, kFieldCount>;

Snapshot snapshot(const MachineState& s) {
  Snapshot v{};
  for (std::size_t i = 0; i < kFieldCount; ++i) v[i] = s.*kFields[i].korvel;
  return v;
}

std::string hex(std::int64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*" PRIX64, digits, static_cast<std::uint64_t>(value));
  return text;
}

struct PortAccess {
  int port, data;
  bool operator==(const PortAccess&) const = default;
};

std::string describe(const std::vector<PortAccess>& accesses) {
  std::string text;
  for (const PortAccess& a : accesses) text += " " + hex(a.data, 2) + "H@" + hex(a.port, 2) + "H";
  return text.empty() ? " none" : text;
}

// z80ex with its own 64 KiB, recording the memory writes and port accesses of a step.
struct Reference {
  static Reference& self(void* r) { return *static_cast<Reference*>(r); }
  ~Reference() { z80ex_destroy(cpu); }
  // A whole instruction: z80ex returns after each prefix byte (four at most, DD CB d op). A
  // repeating block instruction runs one iteration, leaving PC on it while it repeats.
  void step() {
    for (int bytes = 0; bytes < 4; ++bytes) {
      z80ex_step(cpu);
      if (z80ex_last_op_type(cpu) == 0) return;
    }
    std::abort();
  }

  using C = Z80EX_CONTEXT;
  using W = Z80EX_WORD;
  static Z80EX_BYTE read(C*, W a, int, void* r) { return self(r).memory[a]; }
  static void write(C*, W a, Z80EX_BYTE v, void* r) {
    self(r).memory[a] = v;
    self(r).writes.push_back(a);
  }
  static Z80EX_BYTE in(C*, W p, void* r) {
    self(r).reads.push_back({p & 0xFF, self(r).portByte});
    return self(r).portByte;
  }
  static void out(C*, W p, Z80EX_BYTE v, void* r) { self(r).outs.push_back({p & 0xFF, v}); }
  static Z80EX_BYTE vector(C*, void*) { return 0xFF; }  // no interrupt is ever requested

  std::array<std::uint8_t, 65536> memory{};
  std::uint8_t portByte = 0;
  std::vector<int> writes;
  std::vector<PortAccess> reads, outs;
  C* cpu = z80ex_create(read, this, write, this, in, this, out, this, vector, this);
};

struct KorvelPorts final : PortInput, PortOutput {
  std::optional<std::int32_t> portin(std::int32_t port, std::int32_t) override {
    reads.push_back({port, byte});
    return byte;
  }
  bool portout(std::int32_t port, std::int32_t data) override {
    outs.push_back({port, data});
    return true;
  }
  int byte = 0;
  std::vector<PortAccess> reads, outs;
};

class Differential {
 public:
  explicit Differential(std::uint64_t seed) : seed_(seed) {}
  std::uint64_t programs = 0, compared = 0, shared = 0, korvelAlone = 0, mismatches = 0;
  std::array<std::uint64_t, kPageCount> perPage{};
  std::array<std::bitset<256>, kPageCount> covered{};

  // Runs program `index` of the seed, until its HALT or for three steps per instruction it
  // has (enough for loops and repeats; an endless JR does not swallow the sample). False on a
  // difference. `allMemory` compares every cell after every step, not just those written.
  bool runProgram(std::uint64_t index, bool allMemory = false) {
    Rng rng{seed_ * 0xD1B54A32D192ED03ull + index};
    setUp(rng);
    MachineState& s = *state_;
    for (int step = 0; step < 3 * static_cast<int>(program_.addresses.size()); ++step) {
      std::array<std::uint8_t, 4> bytes{};
      for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(s.memory[(s.PC + i) & 0xFFFF]);
      const Decoded decoded = decode(bytes);
      const Difference* row = differenceFor(decoded);
      const Treatment treatment = row != nullptr ? row->treatment : Treatment::Compare;
      if (treatment == Treatment::EndProgram) break;
      const bool alone = treatment == Treatment::KorvelAlone;
      const Snapshot before = snapshot(s);
      // The cells it could write, from the registers before it: where its pairs, index
      // registers and operands point, and the stack.
      const int d = static_cast<std::int8_t>(bytes[2]), nn1 = bytes[1] | bytes[2] << 8,
                nn2 = bytes[2] | bytes[3] << 8;
      const int candidates[] = {
          s.H * 256 + s.L, s.D * 256 + s.E, s.B * 256 + s.C, s.SP - 2, s.SP - 1, s.SP,
          s.SP + 1,        s.IX + d,        s.IY + d,        nn1,      nn1 + 1,  nn2,
          nn2 + 1};
      errors_.clear();
      z_->writes.clear();
      for (auto* accesses : {&ports_.reads, &ports_.outs, &z_->reads, &z_->outs}) accesses->clear();
      copyRegisters();
      ports_.byte = z_->portByte = static_cast<std::uint8_t>(rng.byte());
      machine_.clock_Timer();
      // An undocumented form runs on Korvel alone: it must change nothing but PC, use no port
      // and write no cell (z80ex's memory still holds them all).
      if (!alone) z_->step();
      const unsigned skipped = row != nullptr ? row->skipped : 0;
      for (std::size_t i = 0; i < kFieldCount; ++i) {
        const Field& f = kFields[i];
        const int k = s.*f.korvel;
        const int r = !alone   ? f.reference(z_->cpu)
                      : i == 0 ? (before[0] + decoded.prefixLength) & 0xFFFF
                               : before[i];
        if ((f.skippedBy & skipped) == 0 && k != r)
          errors_.push_back(std::string(f.name) + ": korvel " + hex(k, f.digits()) +
                            (alone ? ", expected " : ", z80ex ") + hex(r, f.digits()));
        // Out of range, a field could hide in a skipped field or a wrapped pair.
        if (k < 0 || k > f.mask)
          errors_.push_back(std::string(f.name) + " out of range: " + std::to_string(k));
      }
      for (int a : z_->writes) compareCell(a);
      for (int a : candidates) compareCell(a);
      if (allMemory) compareMemory();
      for (const auto& [what, k, r] :
           {std::tuple{"reads", &ports_.reads, &z_->reads}, {"writes", &ports_.outs, &z_->outs}}) {
        if (*k != *r)
          errors_.push_back(std::string("port ") + what + ": korvel" + describe(*k) + ", z80ex" +
                            describe(*r));
      }
      if (machine_.tickAbandoned()) errors_.emplace_back("Korvel abandoned the instruction");
      if (alone) {
        ++korvelAlone;
      } else {
        ++compared;
        shared += row != nullptr;
        ++perPage[decoded.page];
        covered[decoded.page].set(decoded.op);
      }
      if (!errors_.empty()) return report(index, step, bytes, before, row);
    }
    errors_.clear();
    compareMemory();
    if (errors_.empty()) return true;
    // A wrong write that no candidate covered: the program again, all memory compared after
    // every step, finds the step.
    return allMemory ? report(index, -1, {}, initial_, nullptr) : runProgram(index, true);
  }

 private:
  // Random memory, registers and flags; the program at a random address (sometimes across
  // FFFFH); the stack mostly holding addresses of its instructions, so that returns land in it.
  void setUp(Rng& rng) {
    MachineState& s = *state_;
    for (std::size_t a = 0; a < z_->memory.size(); a += 8) {
      const std::uint64_t v = rng.next();
      for (std::size_t i = 0; i < 8; ++i)
        s.memory[a + i] = z_->memory[a + i] = static_cast<std::uint8_t>(v >> 8 * i);
    }
    for (const Field& f : kFields)
      s.*f.korvel = f.mask == 1 ? rng.below(2) : f.mask == 0xFF ? rng.byte() : rng.word();
    s.PC = rng.percent(10) ? 0xFF00 + rng.below(256) : rng.below(65536);
    program_ = generate(rng, s.PC, 20 + rng.below(180));
    const auto poke = [&](int address, int value) {
      s.memory[address & 0xFFFF] = z_->memory[address & 0xFFFF] = static_cast<std::uint8_t>(value);
    };
    for (int k = -8; k < 24; ++k) {
      if (!rng.percent(70)) continue;
      const int target = rng.pick(program_.addresses);
      poke(s.SP + 2 * k, target & 0xFF);
      poke(s.SP + 2 * k + 1, target >> 8);
    }
    for (std::size_t i = 0; i < program_.bytes.size(); ++i)
      poke(program_.start + static_cast<int>(i), program_.bytes[i]);
    initial_ = snapshot(s);
    ++programs;
  }

  // z80ex takes Korvel's registers and modelled flags (the other bits of F become 0).
  void copyRegisters() {
    std::array<int, regSP + 1> values{};
    for (const Field& f : kFields) values[f.reg] |= ((*state_).*f.korvel & f.mask) << f.shift;
    for (int r = regAF; r <= regSP; ++r)
      z80ex_set_reg(z_->cpu, static_cast<Z80_REG_T>(r), static_cast<Z80EX_WORD>(values[r]));
  }

  void compareCell(int address) {
    const int a = address & 0xFFFF, k = state_->memory[a], r = z_->memory[a];
    if (k == r || errors_.size() >= 8) return;
    const std::string text = "(" + hex(a, 4) + "H): korvel " + hex(k, 2) + ", z80ex " + hex(r, 2);
    if (std::find(errors_.begin(), errors_.end(), text) == errors_.end()) errors_.push_back(text);
  }
  void compareMemory() {
    for (int a = 0; a < kMemorySize; ++a) {
      if (state_->memory[a] != z_->memory[a]) compareCell(a);
    }
  }

  bool report(std::uint64_t index, int step, const std::array<std::uint8_t, 4>& bytes,
              const Snapshot& before, const Difference* row) {
    ++mismatches;
    std::printf("DIFFERENCE in program %" PRIu64 " of seed %" PRIu64 ", ", index, seed_);
    if (step < 0) std::printf("in memory at the end\n");
    if (step >= 0)
      std::printf("step %d at %sH: bytes %s, Korvel's text \"%s\"\n", step,
                  hex(before[0], 4).c_str(),
                  (hex(bytes[0], 2) + " " + hex(bytes[1], 2) + " " + hex(bytes[2], 2) + " " +
                   hex(bytes[3], 2))
                      .c_str(),
                  machine_.instructionText().c_str());
    if (row != nullptr)
      std::printf("  (a known difference, the other fields compared: %s)\n", row->what);
    for (const std::string& e : errors_) std::printf("  %s\n", e.c_str());
    std::printf("  registers %s:", step < 0 ? "at the start" : "before the step");
    for (std::size_t i = 0; i < kFieldCount; ++i)
      std::printf(" %s=%s", kFields[i].name, hex(before[i], kFields[i].digits()).c_str());
    std::printf("\n  program at %sH, %zu bytes:", hex(program_.start, 4).c_str(),
                program_.bytes.size());
    for (std::size_t i = 0; i < program_.bytes.size(); ++i)
      std::printf("%s%s", i % 32 == 0 ? "\n   " : " ", hex(program_.bytes[i], 2).c_str());
    std::printf("\n");
    std::fflush(stdout);
    return false;
  }

  std::uint64_t seed_;
  std::unique_ptr<MachineState> state_ = std::make_unique<MachineState>();
  KorvelPorts ports_;
  Machine machine_{*state_, MachineHooks{nullptr, &ports_, &ports_, nullptr}};
  std::unique_ptr<Reference> z_ = std::make_unique<Reference>();
  Program program_;
  Snapshot initial_{};
  std::vector<std::string> errors_;
};

// Prints the figures; returns how many documented forms were never compared.
std::size_t printFigures(const Differential& st, std::uint64_t seed, double seconds) {
  std::printf("differential: seed %" PRIu64 ", %" PRIu64 " programs, %" PRIu64
              " instructions compared in %.1f s (%.2f million/s)\n  of those %" PRIu64
              " with a known difference (other fields compared); %" PRIu64
              " undocumented forms ran on Korvel alone\n  per page:",
              seed, st.programs, st.compared, seconds,
              static_cast<double>(st.compared) / (seconds + 1e-9) / 1e6, st.shared, st.korvelAlone);
  std::string missed;
  for (int p = 0; p < kPageCount; ++p) {
    std::printf(" %s %" PRIu64 " (%zu/%zu forms)%s", kPageNames[p], st.perPage[p],
                st.covered[p].count(), documentedForms(p).size(), p + 1 < kPageCount ? "," : "\n");
    for (int op : documentedForms(p)) {
      if (!st.covered[p].test(op))
        missed += std::string(" [") + kPageNames[p] + " " + hex(op, 2) + "]";
    }
  }
  std::printf("  differences: %" PRIu64 "\n", st.mismatches);
  if (!missed.empty()) std::printf("  documented forms never compared:%s\n", missed.c_str());
  return missed.size();
}

int run(int argc, char** argv) {
  std::uint64_t seed = 1, instructions = 10000000;
  std::optional<std::uint64_t> soakSeconds;
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    const char* text = i + 1 < argc ? argv[i + 1] : "";
    char* end = nullptr;
    const std::uint64_t value = std::strtoull(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' ||
        (arg != "--seed" && arg != "--instructions" && arg != "--soak")) {
      std::fprintf(stderr,
                   "usage: differential_test [--seed N] [--instructions M] | --soak SECONDS\n");
      return 2;
    }
    if (arg == "--seed") seed = value;
    if (arg == "--instructions") instructions = value;
    if (arg == "--soak") soakSeconds = value;
  }
  if (soakSeconds) {
    seed = std::random_device{}() * 0x100000000ull + std::random_device{}();
    std::printf("differential soak: seed %" PRIu64 " for %" PRIu64 " s\n", seed, *soakSeconds);
    std::fflush(stdout);
  }
  Differential differential(seed);
  const auto begin = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  };
  for (std::uint64_t index = 0; differential.mismatches < 5; ++index) {
    differential.runProgram(index);
    if (soakSeconds ? index % 64 == 0 && elapsed() >= static_cast<double>(*soakSeconds)
                    : differential.compared >= instructions)
      break;
  }
  const std::size_t missed = printFigures(differential, seed, elapsed());
  // Only a sample that reached every documented form speaks for all of them.
  if (differential.mismatches != 0) return 1;
  return missed == 0 || soakSeconds || instructions < 1000000 ? 0 : 1;
}

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  return korvel::run(argc, argv);
}
