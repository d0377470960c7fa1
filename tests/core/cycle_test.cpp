// The instruction cycle: helpers, reset, instructions over several ticks (prefixes whose page
// does not know the byte, repeating block instructions, ports) and the fast run loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "tests/core/test_support.h"

namespace korvel::test {
namespace {

TEST(Helpers, HhexAndParity) {
  const std::pair<std::int32_t, const char*> texts[] = {{0, "00"},   {10, "0A"},   {255, "FF"},
                                                        {256, "00"}, {4660, "34"}, {-1, "FF"}};
  for (const auto& [value, text] : texts) EXPECT_EQ(hhex(value), text) << value;
  const std::pair<std::int32_t, std::int32_t> parities[] = {{0x00, 1}, {0x01, 0}, {0x03, 1},
                                                            {0x80, 0}, {0xFF, 1}, {0x100, 1}};
  for (const auto& [value, even] : parities) {
    auto s = std::make_unique<MachineState>();
    s->Parity = s->altParity = 1 - even;
    parity(*s, value);
    EXPECT_EQ(s->Parity, even) << value;
    EXPECT_EQ(s->altParity, 1 - even) << "only the main flag is written";
  }
}

TEST(Reset, StartUpAndCleanZeroRegistersFlagsAndTextButNotMemory) {
  Rig rig;
  std::string zeros;
  for (const Field& f : kFields) {
    EXPECT_EQ(rig.s().*f.member, 0) << f.name;
    zeros += std::string(f.name) + "=0 ";
  }
  EXPECT_EQ(rig.machine.instructionText(), "");
  rig.load(0, "3E 12");
  rig.tick();
  for (const Field& f : kFields) rig.s().*f.member = f.max;
  const auto before = std::make_unique<MachineState>(rig.s());
  rig.machine.clean();
  EXPECT_EQ(rig.machine.instructionText(), "");
  EXPECT_EQ(rig.hooks.ekranCalls, 2);
  expectState(*before, rig.s(), zeros);
}

// clang-format off
const Case kTicks[] = {
    {"NOP|NOP|NOP", "", "PC=0000", "PC=0001|PC=0002|PC=0003"},
    {"HALT|HALT", "76", "A=12", "PC=0100|PC=0100", "", "stop; stop"},
    // A byte that a page does not know runs as a main-page instruction on the next tick.
    {"ED instrukcije|NOP", "ED 00", "", "PC=0101|PC=0102"},
    {"CB instrukcije|JR NC,05H", "CB 30 05", "", "PC=0101|PC=0108"},
    {"DD instrukcije|LD A,H", "DD 7C", "H=42", "PC=0101|A=42 PC=0102"},
    {"FD instrukcije|HALT", "FD 76", "", "PC=0101|PC=0101", "", "stop"},
    {"CB instrukcije|DEC B|LD (HL),2AH", "DD CB 05 36 2A", "B=01 HL=3000 IX=1000",
     "PC=0102|B=00 Zero=1 PC=0103|(3000)=2A PC=0105"},
    // Repeating block instructions: one iteration per tick, PC back on EDH while they go on.
    {"LDIR|LDIR|LDIR", "ED B0", "BC=0003 HL=2000 DE=3000 (2000)=11 (2001)=22 (2002)=33 Parity=1",
     "PC=0100 BC=0002 HL=2001 DE=3001 (3000)=11 Parity=0|PC=0100 BC=0001 HL=2002 DE=3002 "
     "(3001)=22|PC=0102 BC=0000 HL=2003 DE=3003 (3002)=33"},
    {"CPIR|CPIR", "ED B1", "A=42 BC=0010 HL=2000 (2001)=42 Carry=1",
     "PC=0100 HL=2001 BC=000F Parity=1|PC=0102 HL=2002 BC=000E Zero=1"},
    {"CPDR|CPDR", "ED B9", "A=42 BC=0002 HL=2001 (2000)=43",
     "PC=0100 HL=2000 BC=0001 Parity=1|PC=0102 HL=1FFF BC=0000 Parity=0 Sign=1"},
    {"INIR|INIR", "ED B2", "B=02 C=07 HL=2000",
     "PC=0100 B=01 HL=2001 (2000)=AA Zero=1|PC=0102 B=00 HL=2002 (2001)=BB", "AA BB",
     "in 07@0100; in 07@0100"},
    {"OTIR|OTIR", "ED B3", "B=02 C=08 HL=2000 (2000)=11 (2001)=22",
     "PC=0100 B=01 HL=2001 Zero=1|PC=0102 B=00 HL=2002", "", "out 08=11; out 08=22"},
    // Ports: the text is shown while the port is asked; IN r,(C) sets Zero, Sign, Parity.
    {"IN A,(05H)", "DB 05", "PC=0200 Zero=1 Carry=1", "A=7E PC=0202", "7E", "in 05@0200"},
    {"IN A,(C)", "ED 78", "B=99 C=10 Carry=1 Sign=1", "A=00 Zero=1 Sign=0 Parity=1", "00",
     "in 10@0100"},
    {"IN C,(C)", "ED 48", "C=10", "C=99 Sign=1 Parity=1 PC=0102", "99", "in 10@0100"},
    {"OUT (05H),A", "D3 05", "A=41 Carry=1", "PC=0102", "", "out 05=41"},
    {"OUT (C),A", "ED 79", "A=41 B=99 C=10", "PC=0102", "", "out 10=41"},
    // A port that gives no byte, or cannot record one, abandons the instruction: nothing
    // changes and PC stays on its first byte, so it runs again once the port works.
    {"IN A,(05H)|IN A,(05H)", "DB 05", "A=12", "PC=0100|A=55 PC=0102", "- 55",
     "in 05@0100; abandoned; in 05@0100"},
    {"IN B,(C)", "ED 40", "B=12 C=05 Zero=1", "PC=0100", "-", "in 05@0100; abandoned"},
    {"INIR|INIR", "ED B2", "B=03 HL=2000", "PC=0100 B=02 HL=2001 (2000)=AA Zero=1|PC=0100",
     "AA -", "in 00@0100; in 00@0100; abandoned"},
    {"OUT (05H),A", "D3 05", "A=12", "PC=0100", "-", "abandoned"},
    {"OUT (C),A|OUT (C),A", "ED 79", "A=12 C=05", "PC=0100|PC=0102", "-", "abandoned; out 05=12"},
    {"OTIR|OTIR", "ED B3", "B=03 HL=2000 (2000)=11", "PC=0100 B=02 HL=2001 Zero=1|PC=0100",
     "ok -", "out 00=11; abandoned"},
};
// clang-format on

TEST(Ticks, InstructionsOverSeveralTicks) {
  for (const Case& c : kTicks) runCase(c);
}

TEST(Ticks, LdirWithBcZeroCopies65536Bytes) {
  Rig rig;
  apply(rig.s(), "PC=0100 BC=0000 HL=4000 DE=4000 Parity=1");
  rig.load(0x0100, "ED B0");
  const auto before = std::make_unique<MachineState>(rig.s());
  int ticks = 0;
  do rig.machine.clock_Timer();
  while (++ticks < 70000 && rig.s().PC == 0x0100);
  EXPECT_EQ(ticks, 65536);
  expectState(*before, rig.s(), "PC=0102 Parity=0");
}

TEST(ExtremelyFast, EndsBeforeHaltAtTheLimitOrOnAnAbandonedInstruction) {
  const std::tuple<const char*, RunEnd, std::int64_t, std::int32_t, const char*> rows[] = {
      {"76", RunEnd::Halted, 0, 0x0000, "HALT"},
      {"00 00 00 76", RunEnd::Halted, 3, 0x0003, "HALT"},
      {"18 FE", RunEnd::LimitReached, 1000000, 0x0000, "JR FEH"},
      {"00 DB 05", RunEnd::Abandoned, 1, 0x0001, "IN A,(05H)"}};
  for (const auto& [code, end, instructions, pc, text] : rows) {
    Rig rig;
    rig.load(0, code);
    rig.hooks.answers = {"-"};
    const RunResult result = runExtremelyFast(rig.machine, 1000000);
    EXPECT_EQ(result.end, end) << code;
    EXPECT_EQ(result.instructions, instructions) << code;
    EXPECT_EQ(rig.s().PC, pc) << code;
    EXPECT_EQ(rig.machine.instructionText(), text) << code;
  }
}

// Random programs on random states: after every instruction every field is in its range.
TEST(Invariants, RandomProgramsKeepEveryFieldInRange) {
  std::mt19937 rng(20240611);
  Rig rig;
  MachineState& s = rig.s();
  const auto inRange = [](std::int32_t cell) { return cell >= 0 && cell <= 255; };
  for (int run = 0; run < 20; ++run) {
    for (auto& cell : s.memory) cell = static_cast<std::int32_t>(rng() % 256);
    for (const Field& f : kFields) s.*f.member = static_cast<std::int32_t>(rng() % (f.max + 1u));
    for (int t = 0; t < 10000; ++t) {
      if (s.memory[s.PC] == kHaltOpcode) s.PC = static_cast<std::int32_t>(rng() % 65536);
      rig.hooks.answers = {hhex(static_cast<std::int32_t>(rng() % 256))};
      rig.machine.clock_Timer();
      rig.hooks.log.clear();
      const std::string text = rig.machine.instructionText();
      for (const Field& f : kFields)
        ASSERT_TRUE(s.*f.member >= 0 && s.*f.member <= f.max)
            << f.name << " = " << s.*f.member << " after " << text << " (run " << run << ")";
      if (t % 64 != 63) continue;
      ASSERT_TRUE(std::all_of(s.memory.begin(), s.memory.end(), inRange))
          << "a cell out of range within the 64 instructions up to " << text;
    }
  }
}

}  // namespace
}  // namespace korvel::test
