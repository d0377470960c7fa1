// Instruction effects at the edges where the recorded vectors are thin (boundary values,
// wraps at either end of memory) and where this machine deliberately differs from the
// silicon. Values from the Z80 manual; each row names every field and cell it changes.
#include <gtest/gtest.h>

#include "tests/core/test_support.h"

namespace korvel::test {
namespace {

// clang-format off
const Case kEdges[] = {
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
    {"INC BC", "03", "BC=00FF", "BC=0100"},
    {"INC BC", "03", "BC=FFFF Sign=1", "BC=0000"},
    {"DEC BC", "0B", "BC=0000", "BC=FFFF"},
    {"INC SP", "33", "SP=FFFF", "SP=0000"},
    {"DEC SP", "3B", "SP=0000", "SP=FFFF"},
    {"INC IX", "DD 23", "IX=FFFF", "IX=0000"},
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
    {"JR FEH", "18 FE", "PC=1000", "PC=1000"},
    {"DJNZ FEH", "10 FE", "B=01", "B=00 PC=0102"},
    {"DJNZ FEH", "10 FE", "B=00", "B=FF PC=0100"},
    {"CALL 1234H|RET", "CD 34 12", "SP=0000 (1234)=C9",
     "(FFFF)=01 (FFFE)=03 SP=FFFE PC=1234|SP=0000 PC=0103"},
    {"PUSH BC", "C5", "SP=0000 BC=1234", "(FFFF)=12 (FFFE)=34 SP=FFFE PC=0101"},
    {"POP BC", "C1", "SP=FFFF (FFFF)=34 (0000)=12", "BC=1234 SP=0001"},
    {"PUSH IX|POP IY", "DD E5 FD E1", "SP=0000 IX=1234",
     "(FFFF)=12 (FFFE)=34 SP=FFFE|IY=1234 SP=0000"},
};

// Where this machine differs from the silicon on purpose, and what the vectors leave out.
const Case kDeliberate[] = {
    {"BIT 7,A", "CB 7F", "A=80 Zero=1 Carry=1 Parity=1", "Zero=0"},  // Sign, Parity kept
    {"BIT 7,A", "CB 7F", "A=7F Sign=1", "Zero=1"},
    {"BIT 0,(IX+FEH)", "DD CB FE 46", "IX=0002 (0000)=01 Zero=1 Sign=1", "Zero=0 PC=0104"},
    {"SET 0,(IY+05H)", "FD CB 05 C6", "IY=2000", "(2005)=01 PC=0104"},
    {"DAA", "27", "A=9A Carry=1 Sign=1", "PC=0101"},
    {"RETI", "ED 4D", "SP=2000 (2000)=34 (2001)=12", "PC=0102"},
    {"RETN", "ED 45", "SP=2000 (2000)=34 (2001)=12", "PC=0102"},
    {"LD A,I", "ED 57", "A=12 Zero=1", "PC=0102"},
    {"LD A,R", "ED 5F", "A=12", "PC=0102"},
    {"POP AF|PUSH AF", "F1 F5", "SP=2000 (2000)=FF (2001)=12",  // unmodelled flag bits are 0
     "A=12 Sign=1 Zero=1 Parity=1 Carry=1 SP=2002|(2000)=C5 SP=2000"},
    {"LD (0101H),A", "32 01 01", "A=77", "(0101)=77 PC=0103"},  // text taken before the write
    {"CALL 1234H", "CD 34 12", "SP=0103", "(0102)=01 (0101)=03 SP=0101 PC=1234"},  // latched
};

// Addresses past FFFFH wrap to 16 bits, as on the Z80's address bus.
const Case kAddressWrap[] = {
    {"NOP", "00", "PC=FFFF", "PC=0000"},
    {"LD BC,1234H", "01 34 12", "PC=FFFE", "BC=1234 PC=0001"},
    {"LD HL,(FFFFH)", "2A FF FF", "(FFFF)=34 (0000)=12", "HL=1234"},
    {"LD (FFFFH),BC", "ED 43 FF FF", "BC=1234", "(FFFF)=34 (0000)=12"},
    {"EX (SP),IX", "DD E3", "SP=FFFF (FFFF)=78 (0000)=56 IX=1234", "IX=5678 (FFFF)=34 (0000)=12"},
    {"JR FCH", "18 FC", "PC=0000", "PC=FFFE"},
    {"JR 7FH", "18 7F", "PC=FFF0", "PC=0071"},
    {"CALL 1234H", "CD 34 12", "PC=FFFD SP=8000 (7FFF)=AA (7FFE)=AA",
     "(7FFF)=00 (7FFE)=00 SP=7FFE PC=1234"},
    {"LD A,(IX+FFH)", "DD 7E FF", "IX=0000 (FFFF)=5A", "A=5A"},
    {"LD (IY+80H),A", "FD 77 80", "A=33 IY=0010", "(FF90)=33"},
    {"RLC (IY+01H)", "FD CB 01 06", "IY=FFFF (0000)=80", "(0000)=01 Carry=1"},
    {"NEG", "ED 44", "PC=FFFF A=01", "A=FF Carry=1 Sign=1 PC=0001"},
    {"SET 0,(IX+05H)", "DD CB 05 C6", "PC=FFFE IX=2000", "(2005)=01 PC=0002"},
};
// clang-format on

TEST(Instructions, FlagsJumpsAndStackAtTheirEdges) {
  for (const Case& c : kEdges) runCase(c);
}
TEST(Instructions, DeliberateChoices) {
  for (const Case& c : kDeliberate) runCase(c);
}
TEST(Instructions, AddressesWrapAtBothEnds) {
  for (const Case& c : kAddressWrap) runCase(c);
}

}  // namespace
}  // namespace korvel::test
