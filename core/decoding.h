// Opcode fields, name tables, the conditions and the sets of bytes each prefixed page knows.
// Execution, the instruction text and the timing all decode through these, so they cannot
// drift apart.
//
// An opcode splits into x = bits 7..6, y = bits 5..3, z = bits 2..0, and y into
// p = bits 5..4, q = bit 3: the usual octal view of the Z80 tables.
#pragma once

#include <cstdint>

#include "machine_state.h"

namespace korvel::decoding {

struct Fields {
  int x, y, z, p, q;
};
constexpr Fields fields(std::int32_t op) {
  return {op >> 6, (op >> 3) & 7, op & 7, (op >> 4) & 3, (op >> 3) & 1};
}

// The prefixes that hand an instruction to another page.
inline constexpr std::int32_t kPrefixCB = 0xCB;
inline constexpr std::int32_t kPrefixED = 0xED;
// DD selects IX and FD selects IY, in the same order in both tables.
inline constexpr std::int32_t kIndexPrefixes[2] = {0xDD, 0xFD};
inline constexpr const char* kIndexNames[2] = {"IX", "IY"};

// Register codes 0..7; code 6 is the memory cell at HL.
inline constexpr int kCodeHLCell = 6;
inline constexpr const char* kRegisterNames[8] = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
// Pairs by p: with SP (loads, 16-bit arithmetic) and with AF (PUSH, POP).
inline constexpr const char* kPairNames[4] = {"BC", "DE", "HL", "SP"};
inline constexpr const char* kStackPairNames[4] = {"BC", "DE", "HL", "AF"};
// Conditions by cc: NZ Z NC C test Zero and Carry, PO PE P M test Parity and Sign.
inline constexpr const char* kConditionNames[8] = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
// True when condition cc holds: JP cc, CALL cc and RET cc jump, JR cc by cc - 4.
inline bool conditionHolds(const MachineState& s, int cc) {
  switch (cc) {
    case 0: return s.Zero == 0;
    case 1: return s.Zero == 1;
    case 2: return s.Carry == 0;
    case 3: return s.Carry == 1;
    case 4: return s.Parity == 0;
    case 5: return s.Parity == 1;
    case 6: return s.Sign == 0;
    default: return s.Sign == 1;
  }
}
// The ALU column 80H..BFH and the immediate forms C6H..FEH; each text ends where the
// operand begins.
inline constexpr const char* kAluNames[8] = {"ADD A,", "ADC A,", "SUB ", "SBC A,",
                                             "AND ",   "XOR ",   "OR ",  "CP "};
inline constexpr const char* kAccumulatorOps[8] = {"RLCA", "RRCA", "RLA", "RRA",
                                                   "DAA",  "CPL",  "SCF", "CCF"};
// Main page x = 3, z = 1, q = 1, by p.
inline constexpr const char* kMainGroupNames[4] = {"RET", "EXX", "JP (HL)", "LD SP,HL"};
// CB-page rotates and shifts by y; 6 is the undocumented group that is not decoded.
inline constexpr const char* kRotateNames[8] = {"RLC", "RRC", "RL",    "RR",
                                                "SLA", "SRA", nullptr, "SRL"};
inline constexpr int kUndocumentedShift = 6;
inline constexpr const char* kUndocumentedShiftName = "SLL";
inline constexpr const char* kBitOpNames[4] = {nullptr, "BIT", "RES", "SET"};
// ED page x = 1, z = 4..7, by [z - 4][y]; nullptr where the byte is decoded otherwise or
// not at all.
inline constexpr const char* kEdFixedNames[4][8] = {
    {"NEG"},
    {"RETN", "RETI"},
    {"IM 0", nullptr, "IM 1", "IM 2"},
    {"LD I,A", "LD R,A", "LD A,I", "LD A,R", "RRD", "RLD"},
};
// ED block instructions by [y - 4][z].
inline constexpr const char* kBlockNames[4][4] = {{"LDI", "CPI", "INI", "OUTI"},
                                                  {"LDD", "CPD", "IND", "OUTD"},
                                                  {"LDIR", "CPIR", "INIR", "OTIR"},
                                                  {"LDDR", "CPDR", "INDR", "OTDR"}};

// CB page: every byte but the undocumented shifts 30H..37H.
constexpr bool cbKnows(std::int32_t op) {
  return (op >> 3) != kUndocumentedShift;
}

// ED page: the 58 documented second bytes.
constexpr bool edKnows(std::int32_t op) {
  const Fields f = fields(op);
  if (f.x == 2) return f.z <= 3 && f.y >= 4;  // block instructions
  if (f.x != 1) return false;
  switch (f.z) {
    case 0:
    case 1: return f.y != 6;  // IN r,(C) and OUT (C),r
    case 2:
    case 3: return true;                              // ADC/SBC HL,rr and LD (nn),rr / rr,(nn)
    case 4: return f.y == 0;                          // NEG
    case 5: return f.y <= 1;                          // RETN, RETI
    case 6: return f.y == 0 || f.y == 2 || f.y == 3;  // IM 0, IM 1, IM 2
    default: return f.y <= 5;                         // LD I,A .. LD A,R, RRD, RLD
  }
}

// DD and FD pages: the 39 documented index instructions and the hand-over to DD CB / FD CB.
constexpr bool indexKnows(std::int32_t op) {
  switch (op) {
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39:  // ADD IX,rr
    case 0x21:
    case 0x22:
    case 0x23:
    case 0x2A:
    case 0x2B:
    case 0x34:
    case 0x35:
    case 0x36:
    case 0xE1:
    case 0xE3:
    case 0xE5:
    case 0xE9:
    case 0xF9:
    case 0xCB: return true;
    default: break;
  }
  const Fields f = fields(op);
  if (f.x == 1) return (f.z == kCodeHLCell) != (f.y == kCodeHLCell);  // LD r,(IX+d) / (IX+d),r
  if (f.x == 2) return f.z == kCodeHLCell;                            // ALU A,(IX+d)
  return false;
}

// DD CB and FD CB pages: the 31 operations on (IX+d) without a register copy.
constexpr bool indexBitKnows(std::int32_t op) {
  return (op & 7) == kCodeHLCell && (op >> 3) != kUndocumentedShift;
}

}  // namespace korvel::decoding
