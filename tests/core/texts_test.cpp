// Exact instruction texts: every shape on every page, and every entry of the name tables
// (registers, pairs, conditions, ALU, rotates, block instructions) at least once.
#include <gtest/gtest.h>

#include "tests/core/test_support.h"

namespace korvel::test {
namespace {

// clang-format off
const Case kTexts[] = {
    // Main page.
    {"NOP", "00"},          {"LD BC,1234H", "01 34 12"},
    {"LD BC,0000H", "01 00 00"},                    {"LD (BC),A", "02"},    {"INC DE", "13"},
    {"INC B", "04"},        {"DEC C", "0D"},        {"LD B,0AH", "06 0A"},  {"LD A,00H", "3E 00"},
    {"RLCA", "07"},         {"RRCA", "0F"},         {"RLA", "17"},          {"RRA", "1F"},
    {"DAA", "27"},          {"CPL", "2F"},          {"SCF", "37"},          {"CCF", "3F"},
    {"EX AF,AF'", "08"},    {"ADD HL,HL", "29"},    {"LD A,(BC)", "0A"},    {"DEC SP", "3B"},
    {"DJNZ FEH", "10 FE"},  {"LD (DE),A", "12"},    {"JR 00H", "18 00"},    {"LD A,(DE)", "1A"},
    {"JR NZ,05H", "20 05"}, {"JR C,80H", "38 80"},  {"LD HL,C000H", "21 00 C0"},
    {"LD (1234H),HL", "22 34 12"},                  {"LD HL,(1234H)", "2A 34 12"},
    {"LD SP,FFFFH", "31 FF FF"},                    {"LD (1234H),A", "32 34 12"},
    {"LD A,(0005H)", "3A 05 00"},                   {"INC (HL)", "34"},     {"DEC (HL)", "35"},
    {"LD (HL),2AH", "36 2A"},                       {"LD B,C", "41"},       {"LD D,E", "53"},
    {"LD H,L", "65"},       {"LD (HL),A", "77"},    {"LD A,(HL)", "7E"},    {"HALT", "76"},
    {"ADD A,B", "80"},      {"ADC A,C", "89"},      {"SUB D", "92"},        {"SBC A,E", "9B"},
    {"AND H", "A4"},        {"XOR L", "AD"},        {"OR (HL)", "B6"},      {"CP A", "BF"},
    {"ADD A,0AH", "C6 0A"}, {"CP 7FH", "FE 7F"},    {"RET NZ", "C0"},
    {"JP Z,0005H", "CA 05 00"},                     {"CALL NC,1234H", "D4 34 12"},
    {"RET C", "D8"},        {"JP PO,1234H", "E2 34 12"},
    {"CALL PE,C000H", "EC 00 C0"},                  {"RET P", "F0"},
    {"JP M,1234H", "FA 34 12"},                     {"JP 0100H", "C3 00 01"},
    {"CALL 1234H", "CD 34 12"},                     {"RET", "C9"},          {"POP DE", "D1"},
    {"PUSH BC", "C5"},      {"POP HL", "E1"},       {"PUSH AF", "F5"},      {"RST 00H", "C7"},
    {"RST 38H", "FF"},      {"OUT (05H),A", "D3 05"},                       {"IN A,(05H)", "DB 05"},
    {"EXX", "D9"},          {"EX (SP),HL", "E3"},   {"JP (HL)", "E9"},      {"EX DE,HL", "EB"},
    {"DI", "F3"},           {"EI", "FB"},           {"LD SP,HL", "F9"},
    // ED page.
    {"IN B,(C)", "ED 40"},  {"OUT (C),A", "ED 79"}, {"SBC HL,BC", "ED 42"}, {"ADC HL,SP", "ED 7A"},
    {"LD (1234H),BC", "ED 43 34 12"},               {"LD SP,(0005H)", "ED 7B 05 00"},
    {"NEG", "ED 44"},       {"RETN", "ED 45"},      {"RETI", "ED 4D"},      {"IM 0", "ED 46"},
    {"IM 1", "ED 56"},      {"IM 2", "ED 5E"},      {"LD I,A", "ED 47"},    {"LD R,A", "ED 4F"},
    {"LD A,I", "ED 57"},    {"LD A,R", "ED 5F"},    {"RRD", "ED 67"},       {"RLD", "ED 6F"},
    {"LDI", "ED A0"},       {"CPI", "ED A1"},       {"INI", "ED A2"},       {"OUTI", "ED A3"},
    {"LDD", "ED A8"},       {"CPD", "ED A9"},       {"IND", "ED AA"},       {"OUTD", "ED AB"},
    {"LDIR", "ED B0"},      {"CPIR", "ED B1"},      {"INIR", "ED B2"},      {"OTIR", "ED B3"},
    {"LDDR", "ED B8"},      {"CPDR", "ED B9"},      {"INDR", "ED BA"},      {"OTDR", "ED BB"},
    // CB page.
    {"RLC B", "CB 00"},     {"RRC C", "CB 09"},     {"RL D", "CB 12"},      {"RR E", "CB 1B"},
    {"SLA H", "CB 24"},     {"SRA L", "CB 2D"},     {"SRL (HL)", "CB 3E"},  {"BIT 0,A", "CB 47"},
    {"RES 7,(HL)", "CB BE"},                        {"SET 3,B", "CB D8"},
    // DD and FD pages.
    {"ADD IX,BC", "DD 09"}, {"ADD IY,IY", "FD 29"}, {"ADD IX,SP", "DD 39"},
    {"LD IX,1234H", "DD 21 34 12"},                 {"LD IY,(1234H)", "FD 2A 34 12"},
    {"LD (0005H),IX", "DD 22 05 00"},               {"INC IX", "DD 23"},    {"DEC IY", "FD 2B"},
    {"INC (IX+05H)", "DD 34 05"},                   {"DEC (IY+FBH)", "FD 35 FB"},
    {"LD (IX+FEH),2AH", "DD 36 FE 2A"},             {"LD A,(IX+FBH)", "DD 7E FB"},
    {"LD (IY+05H),A", "FD 77 05"},                  {"ADC A,(IX+00H)", "DD 8E 00"},
    {"CP (IY+80H)", "FD BE 80"},                    {"POP IX", "DD E1"},    {"PUSH IY", "FD E5"},
    {"EX (SP),IX", "DD E3"},                        {"LD SP,IY", "FD F9"},  {"JP (IX)", "DD E9"},
    // DD CB and FD CB pages.
    {"RLC (IX+05H)", "DD CB 05 06"},                {"SRL (IY+7FH)", "FD CB 7F 3E"},
    {"BIT 0,(IX+FEH)", "DD CB FE 46"},              {"RES 7,(IY+00H)", "FD CB 00 BE"},
    {"SET 0,(IY+05H)", "FD CB 05 C6"},
    // Bytes that a page does not know keep the prefix's placeholder.
    {"ED instrukcije", "ED 00"},                    {"ED instrukcije", "ED 76"},
    {"CB instrukcije", "CB 30"},                    {"CB instrukcije", "CB 37"},
    {"DD instrukcije", "DD 7C"},                    {"FD instrukcije", "FD DD"},
    {"CB instrukcije", "DD CB 05 36"},              {"CB instrukcije", "FD CB 05 07"},
};
// clang-format on

TEST(InstructionText, EveryShapeOnEveryPage) {
  for (const Case& c : kTexts) runCase(c);
}

}  // namespace
}  // namespace korvel::test
