// Texts with particular operands (golden/forms.txt holds every form's text); effects at edges,
// wraps and deliberate differences from the silicon; instructions over several ticks (unknown
// bytes after a prefix, block repeats, ports); reset; random programs.
// Values from the Z80 manual.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "test_support.h"

namespace korvel::test {
namespace {

// clang-format off
const Case kCases[] = {
    // Texts with operands the golden listing does not use (it has FBH, 00FBH and FBH for
    // every form): zeros, a word beginning with a letter digit, the ends of a displacement.
    {"LD A,00H", "3E 00"}, {"LD BC,0000H", "01 00 00"}, {"LD HL,C000H", "21 00 C0"},
    {"JR C,80H", "38 80"}, {"CP (IY+80H)", "FD BE 80"}, {"SRL (IY+7FH)", "FD CB 7F 3E"},
    {"LD (IX+FEH),2AH", "DD 36 FE 2A"}, {"LD SP,(1234H)", "ED 7B 34 12"},
    // Effects: flags at their edges.
    {"ADD A,B", "80", "A=7F B=01", "A=80 Carry=0 Zero=0 Sign=1 Parity=1"},
    {"ADD A,B", "80", "A=80 B=80", "A=00 Carry=1 Zero=1 Sign=0 Parity=1"},
    {"ADD A,B", "80", "A=FF B=01", "A=00 Carry=1 Zero=1 Sign=0 Parity=0"},
    {"ADC A,B", "88", "A=7F B=00 Carry=1", "A=80 Carry=0 Sign=1 Parity=1"},
    {"ADC A,B", "88", "A=FF B=00 Carry=1", "A=00 Carry=1 Zero=1"},
    {"SUB B", "90", "A=80 B=01", "A=7F Carry=0 Sign=0 Parity=1"},
    {"INC A", "3C", "A=7F", "A=80 Sign=1 Parity=1"},
    {"INC A", "3C", "A=FF Carry=1 Parity=1", "A=00 Zero=1 Parity=0"},
    {"DEC B", "05", "B=80 Sign=1", "B=7F Sign=0 Parity=1"},
    {"DEC B", "05", "B=00 Zero=1 Parity=1", "B=FF Sign=1 Zero=0 Parity=0"},
    {"INC (HL)", "34", "HL=2000 (2000)=FF", "(2000)=00 Zero=1"},
    {"INC BC", "03", "BC=00FF", "BC=0100"}, {"INC BC", "03", "BC=FFFF Sign=1", "BC=0000"},
    {"DEC BC", "0B", "BC=0000", "BC=FFFF"}, {"INC SP", "33", "SP=FFFF", "SP=0000"},
    {"DEC SP", "3B", "SP=0000", "SP=FFFF"}, {"INC IX", "DD 23", "IX=FFFF", "IX=0000"},
    {"DEC IY", "FD 2B", "IY=0000", "IY=FFFF"},
    {"ADC HL,BC", "ED 4A", "HL=7FFF BC=0000 Carry=1", "HL=8000 Parity=1 Sign=1 Carry=0"},
    {"ADC HL,HL", "ED 6A", "HL=8000", "HL=0000 Carry=1 Zero=1 Parity=1"},
    {"SBC HL,BC", "ED 42", "HL=8000 BC=0001", "HL=7FFF Parity=1"},
    {"NEG", "ED 44", "A=00 Carry=1 Parity=1", "Carry=0 Zero=1 Parity=0"},
    {"NEG", "ED 44", "A=80", "Carry=1 Sign=1 Parity=1"},
    {"LDI", "ED A0", "BC=0001 HL=2000 DE=3000 (2000)=5A Parity=1",
     "BC=0000 HL=2001 DE=3001 (3000)=5A Parity=0"},
    {"SRL L", "CB 3D", "L=FF Sign=1", "L=7F Carry=1 Sign=0 Parity=0"},
    // Jumps and the stack where the vectors rarely go: B at 01H and 00H, SP at either end.
    {"JR FEH", "18 FE", "PC=1000", "PC=1000"}, {"DJNZ FEH", "10 FE", "B=01", "B=00 PC=0102"},
    {"DJNZ FEH", "10 FE", "B=00", "B=FF PC=0100"},
    {"CALL 1234H|RET", "CD 34 12", "SP=0000 (1234)=C9",
     "(FFFF)=01 (FFFE)=03 SP=FFFE PC=1234|SP=0000 PC=0103"},
    {"PUSH BC", "C5", "SP=0000 BC=1234", "(FFFF)=12 (FFFE)=34 SP=FFFE PC=0101"},
    {"POP BC", "C1", "SP=FFFF (FFFF)=34 (0000)=12", "BC=1234 SP=0001"},
    {"PUSH IX|POP IY", "DD E5 FD E1", "SP=0000 IX=1234",
     "(FFFF)=12 (FFFE)=34 SP=FFFE|IY=1234 SP=0000"},
    // Where this machine differs from the silicon on purpose, and what the vectors leave out.
    {"BIT 7,A", "CB 7F", "A=80 Zero=1 Carry=1 Parity=1", "Zero=0"},  // Sign, Parity kept
    {"BIT 7,A", "CB 7F", "A=7F Sign=1", "Zero=1"},
    {"BIT 0,(IX+FEH)", "DD CB FE 46", "IX=0002 (0000)=01 Zero=1 Sign=1", "Zero=0 PC=0104"},
    {"SET 0,(IY+05H)", "FD CB 05 C6", "IY=2000", "(2005)=01 PC=0104"},
    {"DAA", "27", "A=9A Carry=1 Sign=1", "PC=0101"},
    {"RETI", "ED 4D", "SP=2000 (2000)=34 (2001)=12", "PC=0102"},
    {"RETN", "ED 45", "SP=2000 (2000)=34 (2001)=12", "PC=0102"},
    {"LD A,I", "ED 57", "A=12 Zero=1", "PC=0102"}, {"LD A,R", "ED 5F", "A=12", "PC=0102"},
    {"POP AF|PUSH AF", "F1 F5", "SP=2000 (2000)=FF (2001)=12",  // unmodelled flag bits are 0
     "A=12 Sign=1 Zero=1 Parity=1 Carry=1 SP=2002|(2000)=C5 SP=2000"},
    {"LD (0101H),A", "32 01 01", "A=77", "(0101)=77 PC=0103"},  // text taken before the write
    // CALL reads its target after the push: a stack over its own operand bytes changes it.
    {"CALL 1234H", "CD 34 12", "SP=0103", "(0102)=01 (0101)=03 SP=0101 PC=0103"},
    {"CALL C,1234H", "DC 34 12", "SP=0102 Carry=1", "(0101)=01 (0100)=03 SP=0100 PC=1201"},
    {"CALL NC,1234H", "D4 34 12", "SP=0103 Carry=1", "PC=0103"},
    // Addresses past FFFFH wrap to 16 bits, as on the Z80's address bus.
    {"NOP", "00", "PC=FFFF", "PC=0000"}, {"LD BC,1234H", "01 34 12", "PC=FFFE", "BC=1234 PC=0001"},
    {"LD HL,(FFFFH)", "2A FF FF", "(FFFF)=34 (0000)=12", "HL=1234"},
    {"LD (FFFFH),BC", "ED 43 FF FF", "BC=1234", "(FFFF)=34 (0000)=12"},
    {"EX (SP),IX", "DD E3", "SP=FFFF (FFFF)=78 (0000)=56 IX=1234", "IX=5678 (FFFF)=34 (0000)=12"},
    {"JR FCH", "18 FC", "PC=0000", "PC=FFFE"}, {"JR 7FH", "18 7F", "PC=FFF0", "PC=0071"},
    {"CALL 1234H", "CD 34 12", "PC=FFFD SP=8000 (7FFF)=AA (7FFE)=AA",
     "(7FFF)=00 (7FFE)=00 SP=7FFE PC=1234"},
    {"LD A,(IX+FFH)", "DD 7E FF", "IX=0000 (FFFF)=5A", "A=5A"},
    {"LD (IY+80H),A", "FD 77 80", "A=33 IY=0010", "(FF90)=33"},
    {"RLC (IY+01H)", "FD CB 01 06", "IY=FFFF (0000)=80", "(0000)=01 Carry=1"},
    {"NEG", "ED 44", "PC=FFFF A=01", "A=FF Carry=1 Sign=1 PC=0001"},
    {"SET 0,(IX+05H)", "DD CB 05 C6", "PC=FFFE IX=2000", "(2005)=01 PC=0002"},
    // Over several ticks.
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

TEST(Instructions, TextsEdgesDeliberateChoicesWrapsAndTicks) {
  for (const Case& c : kCases) runCase(c);
}

TEST(Helpers, HhexAndParity) {
  const std::tuple<std::int32_t, const char*, std::int32_t> rows[] = {
      {0, "00", 1}, {10, "0A", 0}, {255, "FF", 1}, {256, "00", 0}, {4660, "34", 1}, {-1, "FF", 1}};
  const std::int32_t parityOf[] = {0x00, 0x01, 0x03, 0x80, 0xFF, 0x100};
  auto s = std::make_unique<MachineState>();
  for (int i = 0; const auto& [value, text, even] : rows) {
    EXPECT_EQ(hhex(value), text) << value;
    s->Parity = s->altParity = 1 - even;
    parity(*s, parityOf[i++]);
    EXPECT_EQ(std::pair(s->Parity, s->altParity), std::pair(even, 1 - even)) << parityOf[i - 1];
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

// Random programs on random states: after every instruction every field is in its range.
TEST(Invariants, RandomProgramsKeepEveryFieldInRange) {
  std::mt19937 rng(20240611);
  Rig rig;
  MachineState& s = rig.s();
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
      ASSERT_TRUE(t % 64 != 63 || std::all_of(s.memory.begin(), s.memory.end(),
                                              [](auto cell) { return cell >= 0 && cell <= 255; }))
          << "a cell out of range within the 64 instructions up to " << text;
    }
  }
}

}  // namespace
}  // namespace korvel::test
