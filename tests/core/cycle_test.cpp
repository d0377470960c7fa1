// The instruction cycle: helpers, reset, the tick frame, prefixes whose page does not know
// the byte, repeating block instructions, ports, addresses past FFFFH and the fast loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "tests/core/test_support.h"

namespace korvel::test {
namespace {

TEST(Helpers, HhexGivesTheLowByteInTwoDigits) {
  const std::pair<std::int32_t, const char*> rows[] = {
      {0, "00"}, {10, "0A"}, {255, "FF"}, {256, "00"}, {4660, "34"}, {-1, "FF"}, {0xAB, "AB"}};
  for (const auto& [value, text] : rows) EXPECT_EQ(hhex(value), text) << value;
}

TEST(Helpers, ParityCountsBitsZeroToSeven) {
  const std::pair<std::int32_t, std::int32_t> rows[] = {{0x00, 1}, {0x01, 0}, {0x03, 1},
                                                        {0x80, 0}, {0xFF, 1}, {0x100, 1}};
  for (const auto& [value, even] : rows) {
    auto s = std::make_unique<MachineState>();
    s->Parity = 1 - even;
    s->altParity = 1 - even;
    parity(*s, value);
    EXPECT_EQ(s->Parity, even) << value;
    EXPECT_EQ(s->altParity, 1 - even) << "only the main flag is written";
    EXPECT_EQ(evenParity(value), even == 1) << value;
  }
}

TEST(Reset, CleanZeroesRegistersFlagsAndTextButNotMemory) {
  Rig rig;
  rig.load(0, {0x3E, 0x12});  // LD A,12H
  rig.tick();
  ASSERT_EQ(rig.machine->instructionText(), "LD A,12H");
  apply(rig.s(),
        "A=1 B=2 C=3 D=4 E=5 H=6 L=7 A'=8 B'=9 C'=A D'=B E'=C H'=D L'=E IX=1234 IY=5678 "
        "SP=9ABC PC=DEF0 Carry=1 Zero=1 Sign=1 Parity=1 Carry'=1 Zero'=1 Sign'=1 Parity'=1 "
        "(FFFF)=77");
  const auto before = std::make_unique<MachineState>(rig.s());
  const int calls = rig.display.calls;
  rig.machine->clean();
  EXPECT_EQ(rig.machine->instructionText(), "");
  EXPECT_EQ(rig.display.calls, calls + 1);
  expectState(*before, rig.s(),
              "A=0 B=0 C=0 D=0 E=0 H=0 L=0 A'=0 B'=0 C'=0 D'=0 E'=0 H'=0 L'=0 IX=0 IY=0 SP=0 "
              "PC=0 Carry=0 Zero=0 Sign=0 Parity=0 Carry'=0 Zero'=0 Sign'=0 Parity'=0");
}

// A short program run tick by tick; after each tick the text and the state changes since
// the start (in the notation of test_support.h).
struct Step {
  const char* text;
  const char* changes;
};
struct Path {
  const char* name;
  std::vector<int> code;
  const char* setup;
  std::vector<Step> steps;
};

std::unique_ptr<Rig> runPath(const Path& p,
                             const std::function<void(Rig&, std::size_t)>& afterStep = {},
                             const std::function<void(Rig&)>& prepare = {}) {
  auto rig = std::make_unique<Rig>();
  rig->s().PC = 0x0100;
  apply(rig->s(), p.setup);
  if (prepare) prepare(*rig);
  rig->load(rig->s().PC, p.code);
  const auto before = std::make_unique<MachineState>(rig->s());
  for (std::size_t i = 0; i < p.steps.size(); ++i) {
    SCOPED_TRACE(std::string(p.name) + ", tick " + std::to_string(i + 1));
    rig->tick();
    EXPECT_EQ(rig->machine->instructionText(), p.steps[i].text);
    EXPECT_FALSE(rig->machine->tickAbandoned());
    expectState(*before, rig->s(), p.steps[i].changes);
    if (afterStep) afterStep(*rig, i);
  }
  return rig;
}

TEST(TickFrame, NopOnZeroMemory) {
  runPath({"NOP", {}, "PC=0000", {{"NOP", "PC=0001"}, {"NOP", "PC=0002"}, {"NOP", "PC=0003"}}});
}

TEST(TickFrame, HaltStopsAndStays) {
  const auto rig = runPath({"HALT", {0x76}, "A=12", {{"HALT", "PC=0100"}, {"HALT", "PC=0100"}}});
  EXPECT_EQ(rig->control.stops, 2);
}

TEST(TickFrame, UnknownBytesRunAsMainPageOnTheNextTick) {
  const Path paths[] = {
      {"ED 00", {0xED, 0x00}, "", {{"ED instrukcije", "PC=0101"}, {"NOP", "PC=0102"}}},
      {"CB 30", {0xCB, 0x30, 0x05}, "", {{"CB instrukcije", "PC=0101"}, {"JR NC,05H", "PC=0108"}}},
      {"DD 7C", {0xDD, 0x7C}, "H=42", {{"DD instrukcije", "PC=0101"}, {"LD A,H", "PC=0102 A=42"}}},
      {"FD 00", {0xFD, 0x00}, "", {{"FD instrukcije", "PC=0101"}, {"NOP", "PC=0102"}}},
      {"DD CB 05 36",
       {0xDD, 0xCB, 0x05, 0x36, 0x2A},
       "B=01 HL=3000 IX=1000",
       {{"CB instrukcije", "PC=0102"},
        {"DEC B", "PC=0103 B=00 Zero=1"},
        {"LD (HL),2AH", "PC=0105 B=00 Zero=1 (3000)=2A"}}},
      {"DD CB 00 00",
       {0xDD, 0xCB, 0x00, 0x00},
       "",
       {{"CB instrukcije", "PC=0102"}, {"NOP", "PC=0103"}, {"NOP", "PC=0104"}}},
  };
  for (const Path& p : paths) runPath(p);
  const auto rig =
      runPath({"ED 76", {0xED, 0x76}, "", {{"ED instrukcije", "PC=0101"}, {"HALT", "PC=0101"}}});
  EXPECT_EQ(rig->control.stops, 1);
}

TEST(Ports, InputSeesTheInstructionTextAndAddress) {
  struct Row {
    Path path;
    std::int32_t answer, port, address;
  };
  const Row rows[] = {
      {{"IN A,(n)", {0xDB, 0x05}, "PC=0200 A=12 Zero=1 Carry=1", {{"IN A,(05H)", "A=7E PC=0202"}}},
       0x7E,
       0x05,
       0x0200},
      {{"IN A,(C)",
        {0xED, 0x78},
        "PC=0300 B=99 C=10 Carry=1 Sign=1",
        {{"IN A,(C)", "A=00 Zero=1 Sign=0 Parity=1 PC=0302"}}},
       0x00,
       0x10,
       0x0300},
      {{"IN C,(C)",
        {0xED, 0x48},
        "C=10 Zero=1",
        {{"IN C,(C)", "C=99 Zero=0 Sign=1 Parity=1 PC=0102"}}},
       0x99,
       0x10,
       0x0100},
  };
  for (const Row& row : rows) {
    runPath(
        row.path,
        [&](Rig& r, std::size_t) {
          ASSERT_EQ(r.input.requests.size(), 1u);
          EXPECT_EQ(r.input.requests[0].port, row.port);
          EXPECT_EQ(r.input.requests[0].address, row.address);
          EXPECT_EQ(r.input.requests[0].shownText, row.path.steps[0].text);
          EXPECT_EQ(r.input.requests[0].shownAddress, row.address);
        },
        [&](Rig& r) { r.input.answers = {row.answer}; });
  }
}

TEST(Ports, InputAnswersAreTaken) {
  Rig rig;
  rig.input.answers = {0x7E, 0x00, 0x99};
  rig.load(0, {0xDB, 0x05, 0xED, 0x78, 0xED, 0x48});
  rig.s().C = 0x10;
  for (int i = 0; i < 3; ++i) rig.tick();
  EXPECT_EQ(rig.s().A, 0x00);
  EXPECT_EQ(rig.s().C, 0x99);
}

TEST(Ports, OutputRecordsPortAndData) {
  const Path paths[] = {
      {"OUT (n),A", {0xD3, 0x05}, "A=41 Carry=1", {{"OUT (05H),A", "PC=0102"}}},
      {"OUT (C),A", {0xED, 0x79}, "A=41 B=99 C=10", {{"OUT (C),A", "PC=0102"}}},
  };
  const std::pair<std::int32_t, std::int32_t> lines[] = {{0x05, 0x41}, {0x10, 0x41}};
  for (int i = 0; i < 2; ++i) {
    const auto rig = runPath(paths[i]);
    ASSERT_EQ(rig->output.lines.size(), 1u);
    EXPECT_EQ(rig->output.lines[0], lines[i]);
  }
}

TEST(BlockInstructions, RepeatOneIterationPerTick) {
  runPath({"LDIR",
           {0xED, 0xB0},
           "BC=0003 HL=2000 DE=3000 (2000)=11 (2001)=22 (2002)=33 Parity=1",
           {{"LDIR", "PC=0100 BC=0002 HL=2001 DE=3001 (3000)=11 Parity=0"},
            {"LDIR", "PC=0100 BC=0001 HL=2002 DE=3002 (3000)=11 (3001)=22 Parity=0"},
            {"LDIR", "PC=0102 BC=0000 HL=2003 DE=3003 (3000)=11 (3001)=22 (3002)=33 Parity=0"}}});
  runPath({"LDDR",
           {0xED, 0xB8},
           "BC=0002 HL=2001 DE=3001 (2000)=11 (2001)=22",
           {{"LDDR", "PC=0100 BC=0001 HL=2000 DE=3000 (3001)=22"},
            {"LDDR", "PC=0102 BC=0000 HL=1FFF DE=2FFF (3001)=22 (3000)=11"}}});
  runPath({"CPIR",
           {0xED, 0xB1},
           "A=42 BC=0010 HL=2000 (2000)=00 (2001)=42 Carry=1",
           {{"CPIR", "PC=0100 HL=2001 BC=000F Parity=1"},
            {"CPIR", "PC=0102 HL=2002 BC=000E Parity=1 Zero=1"}}});
  runPath({"CPDR",
           {0xED, 0xB9},
           "A=42 BC=0002 HL=2001 (2000)=50 (2001)=01",
           {{"CPDR", "PC=0100 HL=2000 BC=0001 Parity=1"},
            {"CPDR", "PC=0102 HL=1FFF BC=0000 Parity=0 Zero=0 Sign=1"}}});
}

TEST(BlockInstructions, InirPromptsOncePerIteration) {
  runPath(
      {"INIR",
       {0xED, 0xB2},
       "B=02 C=07 HL=2000",
       {{"INIR", "PC=0100 B=01 HL=2001 (2000)=AA Zero=1"},
        {"INIR", "PC=0102 B=00 HL=2002 (2000)=AA (2001)=BB Zero=1"}}},
      [](Rig& r, std::size_t step) {
        ASSERT_EQ(r.input.requests.size(), step + 1);
        EXPECT_EQ(r.input.requests[step].port, 0x07);
        EXPECT_EQ(r.input.requests[step].address, 0x0100);
        EXPECT_EQ(r.input.requests[step].shownText, "INIR");
      },
      [](Rig& r) {
        r.input.answers = {0xAA, 0xBB};
      });
}

TEST(BlockInstructions, OtirWritesOneLinePerIteration) {
  runPath({"OTIR",
           {0xED, 0xB3},
           "B=02 C=08 HL=2000 (2000)=11 (2001)=22",
           {{"OTIR", "PC=0100 B=01 HL=2001 Zero=1"}, {"OTIR", "PC=0102 B=00 HL=2002 Zero=1"}}},
          [](Rig& r, std::size_t step) {
            ASSERT_EQ(r.output.lines.size(), step + 1);
            EXPECT_EQ(r.output.lines[step],
                      (std::pair<std::int32_t, std::int32_t>{0x08, step == 0 ? 0x11 : 0x22}));
          });
}

TEST(BlockInstructions, LdirWithBcZeroRuns65536Iterations) {
  Rig rig;
  rig.load(0x0100, {0xED, 0xB0});
  apply(rig.s(), "PC=0100 BC=0000 HL=4000 DE=4000 Parity=1");
  const auto before = std::make_unique<MachineState>(rig.s());
  int ticks = 0;
  do {
    rig.machine->clock_Timer();
    ++ticks;
  } while (rig.s().PC == 0x0100 && ticks < 70000);
  EXPECT_EQ(ticks, 65536);
  EXPECT_EQ(rig.display.calls, 65536);
  expectState(*before, rig.s(), "PC=0102 BC=0000 HL=4000 DE=4000 Parity=0");
}

// Our choice for addresses past FFFFH: they wrap to 16 bits, like the Z80's address bus.
TEST(AddressWrap, AddressesPastFFFFWrap) {
  const Case cases[] = {
      {"NOP", {0x00}, "PC=FFFF", "PC=0000"},
      {"LD A,42H", {0x3E}, "PC=FFFF (0000)=42", "A=42 PC=0001"},
      {"LD BC,1234H", {0x01, 0x34}, "PC=FFFE (0000)=12", "BC=1234 PC=0001"},
      {"LD HL,(FFFFH)", {0x2A, 0xFF, 0xFF}, "(FFFF)=34 (0000)=12", "HL=1234 PC=0103"},
      {"LD (FFFFH),HL", {0x22, 0xFF, 0xFF}, "HL=1234", "(FFFF)=34 (0000)=12"},
      {"JR FCH", {0x18, 0xFC}, "PC=0000", "PC=FFFE"},
      {"JR 7FH", {0x18, 0x7F}, "PC=FFF0", "PC=0071"},
      {"CALL 1234H",
       {0xCD, 0x34, 0x12},
       "PC=FFFD SP=8000 (7FFF)=AA (7FFE)=AA",
       "(7FFF)=00 (7FFE)=00 SP=7FFE PC=1234"},
      {"RST 38H",
       {0xFF},
       "PC=FFFF SP=8000 (7FFF)=AA (7FFE)=AA",
       "(7FFF)=00 (7FFE)=00 SP=7FFE PC=0038"},
      {"EX (SP),HL", {0xE3}, "SP=FFFF (FFFF)=78 (0000)=56 HL=1234", "HL=5678 (FFFF)=34 (0000)=12"},
      {"LD A,(IX+FFH)", {0xDD, 0x7E, 0xFF}, "IX=0000 (FFFF)=5A", "A=5A PC=0103"},
      {"LD A,(IX+01H)", {0xDD, 0x7E, 0x01}, "IX=FFFF (0000)=5A", "A=5A"},
      {"LD (IY+80H),A", {0xFD, 0x77, 0x80}, "A=33 IY=0010", "(FF90)=33"},
      {"LD IX,(FFFFH)", {0xDD, 0x2A, 0xFF, 0xFF}, "(FFFF)=34 (0000)=12", "IX=1234"},
      {"EX (SP),IX",
       {0xDD, 0xE3},
       "SP=FFFF (FFFF)=78 (0000)=56 IX=1234",
       "IX=5678 (FFFF)=34 (0000)=12"},
      {"SET 0,(IX+FFH)", {0xDD, 0xCB, 0xFF, 0xC6}, "IX=0000", "(FFFF)=01 PC=0104"},
      {"RLC (IY+01H)", {0xFD, 0xCB, 0x01, 0x06}, "IY=FFFF (0000)=80", "(0000)=01 Carry=1"},
      {"LD (FFFFH),BC", {0xED, 0x43, 0xFF, 0xFF}, "BC=1234", "(FFFF)=34 (0000)=12"},
      {"NEG", {0xED}, "PC=FFFF (0000)=44 A=01", "A=FF Carry=1 Sign=1 PC=0001"},
      {"LD IX,1234H", {0xDD, 0x21, 0x34, 0x12}, "PC=FFFE", "IX=1234 PC=0002"},
      {"SET 0,(IX+05H)", {0xDD, 0xCB, 0x05, 0xC6}, "PC=FFFE IX=2000", "(2005)=01 PC=0002"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    runCase(c);
  }
}

// A port that gives no byte, or cannot record one, abandons the instruction: nothing
// changes and PC stays on its first byte.
TEST(Abandon, PortFailureChangesNothing) {
  struct Row {
    const char* name;
    std::vector<int> code;
    const char* setup;
    int goodTicks;  // iterations that succeed before the port fails
    std::vector<std::optional<std::int32_t>> answers;
    int acceptCount;
  };
  const Row rows[] = {
      {"IN A,(n)", {0xDB, 0x05}, "A=12 Zero=1", 0, {std::nullopt}, -1},
      {"IN B,(C)", {0xED, 0x40}, "B=12 C=05 Zero=1", 0, {std::nullopt}, -1},
      {"INI", {0xED, 0xA2}, "B=03 HL=2000", 0, {std::nullopt}, -1},
      {"INIR", {0xED, 0xB2}, "B=03 HL=2000", 1, {0xAA, std::nullopt}, -1},
      {"OUT (n),A", {0xD3, 0x05}, "A=12", 0, {}, 0},
      {"OUT (C),A", {0xED, 0x79}, "A=12 C=05", 0, {}, 0},
      {"OUTD", {0xED, 0xAB}, "B=03 HL=2000 Zero=1", 0, {}, 0},
      {"OTIR", {0xED, 0xB3}, "B=03 HL=2000", 1, {}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Rig rig;
    rig.s().PC = 0x0100;
    apply(rig.s(), row.setup);
    rig.load(0x0100, row.code);
    rig.input.answers.assign(row.answers.begin(), row.answers.end());
    rig.input.fallback = std::nullopt;
    rig.output.acceptCount = row.acceptCount;
    for (int i = 0; i < row.goodTicks; ++i) rig.tick();
    ASSERT_FALSE(rig.machine->tickAbandoned());
    ASSERT_EQ(rig.s().PC, 0x0100);
    const auto before = std::make_unique<MachineState>(rig.s());
    rig.tick();
    EXPECT_TRUE(rig.machine->tickAbandoned());
    expectState(*before, rig.s(), "PC=0100");
    // Once the port works again the instruction runs.
    rig.input.fallback = 0x55;
    rig.output.acceptCount = -1;
    rig.tick();
    EXPECT_FALSE(rig.machine->tickAbandoned());
  }
}

TEST(ExtremelyFast, StopsBeforeHalt) {
  Rig rig;
  rig.load(0, {0x76});
  const RunResult r = runExtremelyFast(*rig.machine, 1000000);
  EXPECT_EQ(r.end, RunEnd::Halted);
  EXPECT_EQ(r.instructions, 0);
  EXPECT_EQ(rig.machine->instructionText(), "HALT");
  EXPECT_EQ(rig.s().PC, 0);

  Rig rig2;
  rig2.load(0, {0x00, 0x00, 0x00, 0x76});
  const RunResult r2 = runExtremelyFast(*rig2.machine, 1000000);
  EXPECT_EQ(r2.end, RunEnd::Halted);
  EXPECT_EQ(r2.instructions, 3);
  EXPECT_EQ(rig2.s().PC, 3);
}

TEST(ExtremelyFast, EndsAtTheLimit) {
  Rig rig;
  rig.load(0, {0x18, 0xFE});
  const RunResult r = runExtremelyFast(*rig.machine, 1000000);
  EXPECT_EQ(r.end, RunEnd::LimitReached);
  EXPECT_EQ(r.instructions, 1000000);
  EXPECT_EQ(rig.s().PC, 0);
  EXPECT_EQ(rig.machine->instructionText(), "JR FEH");
}

TEST(ExtremelyFast, EndsOnAbandonedInstruction) {
  Rig rig;
  rig.load(0, {0x00, 0xDB, 0x05});
  rig.input.fallback = std::nullopt;
  const RunResult r = runExtremelyFast(*rig.machine, 1000000);
  EXPECT_EQ(r.end, RunEnd::Abandoned);
  EXPECT_EQ(rig.s().PC, 1);
}

// Random programs on random states: after every instruction every field is in its range.
class RandomInput : public PortInput {
 public:
  explicit RandomInput(std::mt19937& rng) : rng_(rng) {}
  std::optional<std::int32_t> portin(std::int32_t, std::int32_t) override {
    return static_cast<std::int32_t>(rng_() % 256);
  }

 private:
  std::mt19937& rng_;
};

TEST(Invariants, RandomProgramsKeepEveryFieldInRange) {
  using M = MachineState;
  struct Range {
    const char* name;
    std::int32_t M::*field;
    std::int32_t max;
  };
  const Range ranges[] = {
      {"A", &M::A, 255},           {"B", &M::B, 255},
      {"C", &M::C, 255},           {"D", &M::D, 255},
      {"E", &M::E, 255},           {"H", &M::H, 255},
      {"L", &M::L, 255},           {"A'", &M::altA, 255},
      {"B'", &M::altB, 255},       {"C'", &M::altC, 255},
      {"D'", &M::altD, 255},       {"E'", &M::altE, 255},
      {"H'", &M::altH, 255},       {"L'", &M::altL, 255},
      {"IX", &M::IX, 65535},       {"IY", &M::IY, 65535},
      {"SP", &M::SP, 65535},       {"PC", &M::PC, 65535},
      {"Carry", &M::Carry, 1},     {"Zero", &M::Zero, 1},
      {"Sign", &M::Sign, 1},       {"Parity", &M::Parity, 1},
      {"Carry'", &M::altCarry, 1}, {"Zero'", &M::altZero, 1},
      {"Sign'", &M::altSign, 1},   {"Parity'", &M::altParity, 1},
  };
  std::mt19937 rng(20240611);
  const auto owner = std::make_unique<MachineState>();
  MachineState* state = owner.get();
  RecordingDisplay display;
  RandomInput input(rng);
  RecordingOutput output;
  CountingControl control;
  Machine machine(*state, {&display, &input, &output, &control});

  constexpr int kRuns = 20, kTicksPerRun = 10000, kMemoryCheckEvery = 64;
  for (int run = 0; run < kRuns; ++run) {
    for (auto& cell : state->memory) cell = static_cast<std::int32_t>(rng() % 256);
    for (const Range& r : ranges)
      (*state).*r.field = static_cast<std::int32_t>(rng() % static_cast<unsigned>(r.max + 1));
    std::string recent;
    for (int t = 0; t < kTicksPerRun; ++t) {
      if (state->memory[state->PC] == kHaltOpcode)
        state->PC = static_cast<std::int32_t>(rng() % 65536);
      machine.clock_Timer();
      output.lines.clear();
      recent = machine.instructionText();
      for (const Range& r : ranges) {
        const std::int32_t v = (*state).*r.field;
        ASSERT_TRUE(v >= 0 && v <= r.max)
            << r.name << " = " << v << " after \"" << recent << "\" (run " << run << ")";
      }
      if (t % kMemoryCheckEvery != kMemoryCheckEvery - 1) continue;
      const auto bad = std::find_if(state->memory.begin(), state->memory.end(),
                                    [](std::int32_t cell) { return cell < 0 || cell > 255; });
      ASSERT_TRUE(bad == state->memory.end())
          << "mem[" << bad - state->memory.begin() << "] = " << *bad << " within the "
          << kMemoryCheckEvery << " instructions up to \"" << recent << "\" (run " << run << ")";
    }
  }
}

}  // namespace
}  // namespace korvel::test
