// Random programs of documented Z80 instructions on Korvel's core and on z80ex side by side,
// one instruction at a time: PC, SP, IX, IY, A..L, the alternates, the four modelled flags of
// both sets, the cells written, the port traffic (every read answered with the same random
// byte) and the T-states (z80ex's steps of one instruction added up) must agree after each,
// except as kDifferences says.
//   differential_test [--seed N] [--instructions M]    a fixed sample (seed 1, 10,000,000)
//   differential_test --soak SECONDS                    a random seed, printed first
// Exits 1 on a difference, or when a sample of a million or more missed a documented form.
#include <z80ex/z80ex.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "machine.h"
#include "register_fields.h"
#include "timing.h"

namespace korvel {
namespace {

// The documented instruction set, written from the Z80 manual rather than taken from the core,
// so that an opcode the core forgets to decode shows up as a difference.
enum Page { kMain, kCB, kED, kDD, kFD, kDDCB, kFDCB, kPageCount };
const char* const kPageNames[] = {"main", "CB", "ED", "DD", "FD", "DD CB", "FD CB"};
constexpr int kPrefixes[] = {0, 0xCB, 0xED, 0xDD, 0xFD, 0xDD, 0xFD};
constexpr int kPageWeights[] = {25, 17, 18, 12, 12, 8, 8};  // percent of a program

// Bytes of each documented instruction, prefixes included, one row per high nibble of the
// opcode: the main page, ED 40-BF, then DD and FD (without the DD CB hand-over). '-' marks
// the prefixes, HALT and the undocumented forms.
// clang-format off
constexpr const char kLengths[] =
    "1311112111111121" "2311112121111121" "2331112121311121" "2331112121311121" "1111111111111111"
    "1111111111111111" "1111111111111111" "111111-111111111" "1111111111111111" "1111111111111111"
    "1111111111111111" "1111111111111111" "11333121113-3321" "1132312111323-21" "1131312111313-21"
    "1131312111313-21" "222422222224-2-2" "2224--222224--22" "2224---22224---2" "--24----2224----"
    "----------------" "----------------" "2222----2222----" "2222----2222----" "---------2------"
    "---------2------" "-442-----242----" "----334--2------" "------3-------3-" "------3-------3-"
    "------3-------3-" "333333-3------3-" "------3-------3-" "------3-------3-" "------3-------3-"
    "------3-------3-" "----------------" "----------------" "-2-2-2---2------" "---------2------";
struct Program { int start; std::vector<std::uint8_t> bytes; std::vector<int> addresses; };
// clang-format on

// 0 for a form that is not documented. CB: all but 30-37; DD CB and FD CB: rotates, shifts
// (no SLL), BIT, RES and SET of (IX+d), never the forms that also copy into a register.
int lengthOf(int page, int op) {
  if (page == kCB) return op >= 0x30 && op < 0x38 ? 0 : 2;
  if (page >= kDDCB) return (op & 7) == 6 && op != 0x36 ? 4 : 0;
  if (page == kED && (op < 0x40 || op >= 0xC0)) return 0;
  const int row = (op >> 4) + (page == kMain ? 0 : page == kED ? 12 : 24);
  const char c = kLengths[row * 16 + (op & 15)];
  return c == '-' ? 0 : c - '0';
}

std::array<std::vector<int>, kPageCount> kForms;  // filled by run()

// The same numbers on every compiler: the engine is fixed by the standard, % is ours.
struct Rng {
  std::mt19937_64 next;
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  bool percent(int p) { return below(100) < p; }
  int pick(const std::vector<int>& from) { return from[below(static_cast<int>(from.size()))]; }
  // Often a value where flag rules turn (00, 01, 7F, 80, FF), or a word near a wrap.
  int byte() { return percent(20) ? std::array{0, 1, 0x7F, 0x80, 0xFF}[below(5)] : below(256); }
  int word() {
    return percent(30) ? std::array{0, 0xFFF0, 0x7FF8}[below(3)] + below(16) : below(65536);
  }
};

// `count` random documented instructions from every page, then HALT. Absolute jumps and calls
// mostly target the program's own instructions; a repeating block instruction mostly gets a
// small count first, or it would spend the program repeating.
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
    const int op = rng.pick(kForms[page]);
    if (page == kED && op >= 0xB0 && rng.percent(90)) {
      const bool wholeBC = (op & 3) < 2;  // LDIR CPIR LDDR CPDR count BC, the rest B
      begin(), put(wholeBC ? 0x01 : 0x06), put(1 + rng.below(24));
      if (wholeBC) put(0);
    }
    begin();
    const std::size_t end = p.bytes.size() + static_cast<std::size_t>(lengthOf(page, op));
    if (page != kMain) put(kPrefixes[page]);
    if (page >= kDDCB) put(0xCB), put(rng.byte());  // the displacement
    put(op);
    if (page == kMain && (op == 0xC3 || op == 0xCD || (op & 0xC7) == 0xC2 || (op & 0xC7) == 0xC4))
      targets.push_back(p.bytes.size());
    while (p.bytes.size() < end) put(rng.byte());
  }
  begin(), put(0x76);
  for (std::size_t at : targets) {
    const int target = rng.percent(85) ? rng.pick(p.addresses) : rng.word();
    p.bytes[at] = static_cast<std::uint8_t>(target),
    p.bytes[at + 1] = static_cast<std::uint8_t>(target >> 8);
  }
  return p;
}

// ---- Where Korvel differs from the silicon: everything the comparison leaves out is here.
// Korvel models four flags, Sign, Zero, Parity and Carry (bits 7, 6, 2, 0 of F); z80ex's F
// and F' are cut to them before every instruction, so PUSH AF writes the same byte on both.
// Each row skips compared fields (z80ex then takes Korvel's values), or with kAlone runs the
// instruction on Korvel alone (it must change nothing but PC), or with kEnd ends the program.
// kTargetAfterPush: when the pushed return address overwrites the instruction's own operand,
// Korvel's PC must be the word that the operand bytes hold after the push; the two machines
// then go separate ways and the program ends.
// T-states, row by row: HALT is not compared (the program ends before it); an undocumented
// form run alone must take 4 for each prefix byte; every other row is compared with z80ex,
// since Korvel takes the silicon's time whatever it does differently: DAA 4, CALL 17, CALL cc
// 17 or 10, BIT 8, 12 or 20, LDIR and LDDR 21 or 16, INI, IND, OUTI, OUTD 16, INIR, INDR,
// OTIR, OTDR 21 or 16, RETN and RETI 14, LD A,I and LD A,R 9.
constexpr unsigned kS = 1, kZ = 2, kP = 4, kC = 8, kFlags = 15, kA = 16, kPC = 32, kSP = 64,
                   kAlone = 128, kEnd = 256, kTargetAfterPush = 512;
constexpr unsigned kHalt = 1u << kPageCount, kUndocumented = 2u << kPageCount;
constexpr unsigned kBitPages = 1u << kCB | 1u << kDDCB | 1u << kFDCB;

// clang-format off
struct Difference {
  unsigned pages;   // bits of Page, or kHalt or kUndocumented
  int mask, value;  // the opcodes with (op & mask) == value
  unsigned skipped; const char* what;
};
const Difference kDifferences[] = {
    {kHalt, 0, 0, kEnd, "HALT: Korvel ends the run on it; the silicon idles until an interrupt"},
    {kUndocumented, 0, 0, kAlone, "undocumented: Korvel runs the prefix alone, then the next byte"},
    {1u << kMain, 0xFF, 0x27, kA | kFlags, "DAA: Korvel shows it without executing it"},
    {1u << kMain, 0xFF, 0xCD, kTargetAfterPush, "CALL: Korvel reads the target after the push"},
    {1u << kMain, 0xC7, 0xC4, kTargetAfterPush, "CALL cc: Korvel reads the target after the push"},
    {kBitPages, 0xC0, 0x40, kS | kP, "BIT: Korvel sets only Zero and keeps Sign and Parity"},
    {1u << kED, 0xF7, 0xB0, kP, "LDIR, LDDR: Korvel sets Parity to 0 on every iteration"},
    {1u << kED, 0xF6, 0xA2, kS | kP | kC, "INI, IND, OUTI, OUTD: Korvel defines only Zero"},
    {1u << kED, 0xF6, 0xB2, kFlags, "INIR, INDR, OTIR, OTDR: Korvel sets Zero to 1 on every step"},
    {1u << kED, 0xF7, 0x45, kPC | kSP, "RETN, RETI: no interrupts; Korvel pops nothing, goes on"},
    {1u << kED, 0xF7, 0x57, kA | kS | kZ | kP, "LD A,I, LD A,R: Korvel has no I or R; A, flags kept"},
    // LD I,A, LD R,A, IM 0/1/2, DI and EI change nothing modelled on either side: compared.
};

// ---- The compared fields, those of kRegisterFields, with where z80ex keeps each and the
// Difference bits that skip it.
struct Field : RegisterField {
  Z80_REG_T reg; int shift; unsigned skippedBy;
};
const std::array<Field, kRegisterFields.size()> kFields = [] {
  const std::tuple<Z80_REG_T, int, unsigned> places[] = {
      {regPC, 0, kPC}, {regSP, 0, kSP}, {regIX, 0, 0}, {regIY, 0, 0}, {regAF, 8, kA},
      {regBC, 8, 0}, {regBC, 0, 0}, {regDE, 8, 0}, {regDE, 0, 0}, {regHL, 8, 0}, {regHL, 0, 0},
      {regAF, 0, kC}, {regAF, 6, kZ}, {regAF, 7, kS}, {regAF, 2, kP}, {regAF_, 8, 0},
      {regBC_, 8, 0}, {regBC_, 0, 0}, {regDE_, 8, 0}, {regDE_, 0, 0}, {regHL_, 8, 0},
      {regHL_, 0, 0}, {regAF_, 0, 0}, {regAF_, 6, 0}, {regAF_, 7, 0}, {regAF_, 2, 0}};
  std::array<Field, kRegisterFields.size()> fields{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const auto [reg, shift, skippedBy] = places[i];
    fields[i] = Field{kRegisterFields[i], reg, shift, skippedBy};
  }
  return fields;
}();
// clang-format on

std::string hex(std::int64_t value, int digits, const char* before = "") {
  char text[32];
  std::snprintf(text, sizeof text, "%s%0*" PRIX64, before, digits,
                static_cast<std::uint64_t>(value));
  return text;
}

// The port traffic of a step on either side, in order: " 41H@05H" read 41H, " 05H=41H" wrote.
struct Ports final : PortInput, PortOutput {
  std::optional<std::int32_t> portin(std::int32_t port, std::int32_t) override {
    traffic += hex(byte, 2, " ") + "H@" + hex(port & 0xFF, 2) + "H";
    return byte;
  }
  bool portout(std::int32_t port, std::int32_t data) override {
    traffic += hex(port & 0xFF, 2, " ") + "H=" + hex(data, 2) + "H";
    return true;
  }
  int byte = 0;
  std::string traffic;
};

struct Differential {
  static Differential& self(void* d) { return *static_cast<Differential*>(d); }
  ~Differential() { z80ex_destroy(cpu); }

  std::uint64_t seed, programs = 0, compared = 0, mismatches = 0;
  std::array<std::bitset<256>, kPageCount> covered{};
  std::unique_ptr<MachineState> state = std::make_unique<MachineState>();
  Ports ports, zPorts;
  Machine machine{*state, MachineHooks{nullptr, &ports, &ports, nullptr}};
  // z80ex with its own 64 KiB, recording the cells it writes in a step.
  std::vector<std::uint8_t> zMemory = std::vector<std::uint8_t>(kMemorySize);
  std::vector<int> zWrites;
  Z80EX_CONTEXT* cpu = z80ex_create(
      [](auto*, auto a, auto, void* d) { return self(d).zMemory[a]; }, this,
      [](auto*, auto a, auto v, void* d) { self(d).zMemory[a] = v, self(d).zWrites.push_back(a); },
      this, [](auto*, auto p, void* d) { return Z80EX_BYTE(*self(d).zPorts.portin(p, 0)); }, this,
      [](auto*, auto p, auto v, void* d) { self(d).zPorts.portout(p, v); }, this,
      [](auto*, void*) { return Z80EX_BYTE{0xFF}; }, this);  // no interrupt is ever requested
  Program program;
  std::vector<std::string> errors;

  void compareCell(int address) {
    const int a = address & 0xFFFF, k = state->memory[a], r = zMemory[a];
    if (k == r || errors.size() >= 8) return;
    const std::string text = hex(a, 4, "(") + "H): korvel " + hex(k, 2) + ", z80ex " + hex(r, 2);
    if (std::find(errors.begin(), errors.end(), text) == errors.end()) errors.push_back(text);
  }

  // Program `index` of the seed on random memory, registers and flags, at a random address
  // (sometimes across FFFFH), the stack mostly holding addresses of its instructions, until its
  // HALT or for three steps per instruction (an endless JR must not swallow the sample). False
  // on a difference. `allMemory` compares every cell after every step, not only likely ones.
  bool runProgram(std::uint64_t index, bool allMemory = false) {
    Rng rng{std::mt19937_64(seed * 0xD1B54A32D192ED03ull + index)};
    MachineState& s = *state;
    const auto poke = [&](int address, std::uint64_t value) {
      s.memory[address & 0xFFFF] = zMemory[address & 0xFFFF] = static_cast<std::uint8_t>(value);
    };
    for (int a = 0; a < kMemorySize; a += 8)
      for (std::uint64_t v = rng.next(), i = 0; i < 8; ++i)
        poke(a + static_cast<int>(i), v >> 8 * i);
    for (const Field& f : kFields)
      s.*f.member = f.max == 1 ? rng.below(2) : f.max == 0xFF ? rng.byte() : rng.word();
    s.PC = rng.percent(10) ? 0xFF00 + rng.below(256) : rng.below(65536);
    program = generate(rng, s.PC, 20 + rng.below(180));
    for (int k = -8; k < 24; ++k) {
      const int target = rng.percent(70) ? rng.pick(program.addresses) : -1;
      if (target >= 0) poke(s.SP + 2 * k, target & 0xFF), poke(s.SP + 2 * k + 1, target >> 8);
    }
    for (std::size_t i = 0; i < program.bytes.size(); ++i)
      poke(program.start + static_cast<int>(i), program.bytes[i]);
    ++programs;
    std::array<std::uint8_t, 4> b{};
    for (int step = 0; step < 3 * static_cast<int>(program.addresses.size()); ++step) {
      for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(s.memory[(s.PC + i) & 0xFFFF]);
      // The page, the opcode, and how far executing the prefix alone moves PC.
      const bool xy = b[0] == 0xDD || b[0] == 0xFD, bits = xy && b[1] == 0xCB;
      int page = b[0] == 0xCB ? kCB : b[0] == 0xED ? kED : kMain;
      if (xy) page = (b[0] == 0xDD ? kDD : kFD) + (bits ? kDDCB - kDD : 0);
      const int op = b[page == kMain ? 0 : bits ? 3 : 1], prefix = page == kMain ? 0 : bits ? 2 : 1;
      unsigned kind = lengthOf(page, op) == 0 ? kUndocumented : 1u << page;
      if (page == kMain && op == 0x76) kind = kHalt;
      const Difference* row = nullptr;
      for (const Difference& d : kDifferences)
        if (row == nullptr && (d.pages & kind) != 0 && (op & d.mask) == d.value) row = &d;
      const unsigned skipped = row != nullptr ? row->skipped : 0;
      if (skipped & kEnd) break;
      const bool alone = (skipped & kAlone) != 0;
      // The cells it could write, from the registers before it: where its pairs, index
      // registers and operands point, and the stack.
      const int d = static_cast<std::int8_t>(b[2]), nn1 = b[1] | b[2] << 8, nn2 = b[2] | b[3] << 8;
      const int candidates[] = {
          s.H * 256 + s.L, s.D * 256 + s.E, s.B * 256 + s.C, s.SP - 2, s.SP - 1, s.SP,
          s.SP + 1,        s.IX + d,        s.IY + d,        nn1,      nn1 + 1,  nn2,
          nn2 + 1};
      std::array<std::int32_t, std::size(kFields)> before{};
      std::array<int, regSP + 1> values{};
      for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const Field& f = kFields[i];
        before[i] = s.*f.member;
        values[f.reg] |= (before[i] & f.max) << f.shift;  // the other bits of F become 0
      }
      for (int r = regAF; r <= regSP; ++r)
        z80ex_set_reg(cpu, static_cast<Z80_REG_T>(r), static_cast<Z80EX_WORD>(values[r]));
      errors.clear(), zWrites.clear(), ports.traffic.clear(), zPorts.traffic.clear();
      ports.byte = zPorts.byte = rng.byte();
      const int time = tstates(s);
      machine.clock_Timer();
      // A whole instruction on z80ex, which returns after each prefix byte (four at most, DD
      // CB d op). A repeating block instruction runs one iteration, PC on it while it repeats.
      int zTime = alone ? 4 * prefix : 0;
      for (int bytes = 0; !alone && (zTime += z80ex_step(cpu), z80ex_last_op_type(cpu) != 0);
           ++bytes)
        if (bytes == 3) std::abort();
      if (time != zTime)
        errors.push_back("T-states: korvel " + std::to_string(time) +
                         (alone ? ", expected " : ", z80ex ") + std::to_string(zTime));
      // A taken CALL whose push covered one of its operand bytes.
      const auto covers = [&](int cell) {
        const int below = (before[1] - cell) & 0xFFFF;  // the push writes SP-1 and SP-2
        return below == 1 || below == 2;
      };
      const bool targetAfterPush = (skipped & kTargetAfterPush) != 0 && s.SP != before[1] &&
                                   (covers(before[0] + 1) || covers(before[0] + 2));
      for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const Field& f = kFields[i];
        const int k = s.*f.member;
        const int operand = zMemory[(before[0] + 1) & 0xFFFF] | zMemory[(before[0] + 2) & 0xFFFF]
                                                                    << 8;
        const int r = alone && i == 0             ? (before[0] + prefix) & 0xFFFF
                      : alone                     ? before[i]
                      : targetAfterPush && i == 0 ? operand
                                                  : (z80ex_get_reg(cpu, f.reg) >> f.shift) & f.max;
        if ((f.skippedBy & skipped) == 0 && k != r)
          errors.push_back(std::string(f.name) + ": korvel " + hex(k, f.digits()) +
                           (alone ? ", expected " : ", z80ex ") + hex(r, f.digits()));
        // Out of range, a field could hide in a skipped field or a wrapped pair.
        if (k < 0 || k > f.max)
          errors.push_back(std::string(f.name) + " out of range: " + std::to_string(k));
      }
      // Korvel alone must write no cell either: z80ex's memory still holds them all.
      for (int a : zWrites) compareCell(a);
      for (int a : candidates) compareCell(a);
      for (int a = 0; allMemory && a < kMemorySize; ++a) compareCell(a);
      if (ports.traffic != zPorts.traffic)
        errors.push_back("ports: korvel" + ports.traffic + ", z80ex" + zPorts.traffic);
      if (machine.tickAbandoned()) errors.emplace_back("Korvel abandoned the instruction");
      if (!alone) ++compared, covered[page].set(static_cast<std::size_t>(op));
      if (!errors.empty()) return report(index, step, b, row);
      if (targetAfterPush) break;
    }
    errors.clear();
    for (int a = 0; a < kMemorySize; ++a) compareCell(a);
    if (errors.empty()) return true;
    // A wrong write that no candidate covered: the program again, all memory compared after
    // every step, finds the step.
    return allMemory ? report(index, -1, b, nullptr) : runProgram(index, true);
  }

  bool report(std::uint64_t index, int step, const std::array<std::uint8_t, 4>& b,
              const Difference* row) {
    ++mismatches;
    std::printf("DIFFERENCE in program %" PRIu64 " of seed %" PRIu64 ", ", index, seed);
    if (step < 0)
      std::printf("in memory at the end\n");
    else
      std::printf("step %d: bytes %02X %02X %02X %02X, Korvel's text \"%s\"\n", step, b[0], b[1],
                  b[2], b[3], machine.instructionText().c_str());
    if (row != nullptr)
      std::printf("  (a known difference, the other fields compared: %s)\n", row->what);
    for (const std::string& e : errors) std::printf("  %s\n", e.c_str());
    std::printf("  program at %sH:", hex(program.start, 4).c_str());
    for (std::size_t i = 0; i < program.bytes.size(); ++i)
      std::printf("%s%02X", i % 32 == 0 ? "\n   " : " ", program.bytes[i]);
    std::printf("\n");
    std::fflush(stdout);
    return false;
  }
};

int run(int argc, char** argv) {
  for (int page = 0; page < kPageCount; ++page)
    for (int op = 0; op < 256; ++op)
      if (lengthOf(page, op) != 0) kForms[page].push_back(op);
  std::uint64_t seed = 1, instructions = 10000000;
  std::optional<std::uint64_t> soak;  // seconds
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    const char* text = i + 1 < argc ? argv[i + 1] : "";
    char* end = nullptr;
    const std::uint64_t value = std::strtoull(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' ||
        (arg != "--seed" && arg != "--instructions" && arg != "--soak")) {
      std::fputs("usage: differential_test [--seed N] [--instructions M] | --soak SECONDS\n",
                 stderr);
      return 2;
    }
    (arg == "--seed" ? seed : arg == "--instructions" ? instructions : soak.emplace()) = value;
  }
  if (soak) {
    seed = std::random_device{}() * 0x100000000ull + std::random_device{}();
    std::printf("differential soak: seed %" PRIu64 " for %" PRIu64 " s\n", seed, *soak);
    std::fflush(stdout);
  }
  const auto st = std::make_unique<Differential>();
  st->seed = seed;
  const auto begin = std::chrono::steady_clock::now();
  double seconds = 0;
  for (std::uint64_t index = 0; st->mismatches < 5; ++index) {
    st->runProgram(index);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (soak ? seconds >= static_cast<double>(*soak) : st->compared >= instructions) break;
  }
  std::printf("differential: seed %" PRIu64 ", %" PRIu64 " programs, %" PRIu64
              " instructions compared in %.1f s, %" PRIu64 " differences\n  forms compared:",
              seed, st->programs, st->compared, seconds, st->mismatches);
  bool missed = false;
  for (int p = 0; p < kPageCount; ++p) {
    std::printf(" %s %zu/%zu%s", kPageNames[p], st->covered[p].count(), kForms[p].size(),
                p + 1 < kPageCount ? "," : "\n");
    missed |= st->covered[p].count() < kForms[p].size();
  }
  // Only a sample that reached every documented form speaks for all of them.
  return st->mismatches != 0 || (missed && !soak && instructions >= 1000000) ? 1 : 0;
}

}  // namespace
}  // namespace korvel

int main(int argc, char** argv) {
  return korvel::run(argc, argv);
}
