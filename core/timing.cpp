// T-states of every instruction, one table per page in the octal x/y/z layout of the Z80
// manuals (see decoding.h), prefixes included. A conditional instruction is written with its
// shorter time; what it adds when it jumps, calls, returns or repeats is in one place below.
//
// Bytes that a page does not know: the tick executes only the prefix (the next tick runs the
// byte as an unprefixed instruction), so it takes 4 T-states for each prefix byte it
// consumed: 4 for CB, ED, DD or FD followed by an unknown byte, 8 for DD CB d or FD CB d
// followed by an unknown operation byte.
#include "timing.h"

#include <array>
#include <cstdint>

#include "decoding.h"

namespace korvel {

namespace {

using decoding::fields;
using Table = std::array<std::uint8_t, 256>;

constexpr int kPrefixByte = 4;

// clang-format off
// Main page, by opcode: a row of eight is one x and y, the columns z = 0..7. Conditional
// forms (DJNZ, JR cc, RET cc, CALL cc) with the time when they do not jump. 0: a prefix.
constexpr std::uint8_t kMainWritten[256] = {
// x = 0: z=0 NOP, EX AF,AF', DJNZ, JR, JR cc   z=1 LD rr,nn / ADD HL,rr   z=2 the loads
// through (BC), (DE) and (nn)   z=3 INC rr / DEC rr   z=4 INC r   z=5 DEC r   z=6 LD r,n
// z=7 RLCA RRCA RLA RRA DAA CPL SCF CCF
//  z=0  1   2   3   4   5   6   7
     4, 10,  7,  6,  4,  4,  7,  4,  // 00 NOP        LD (BC),A
     4, 11,  7,  6,  4,  4,  7,  4,  // 08 EX AF,AF'  LD A,(BC)
     8, 10,  7,  6,  4,  4,  7,  4,  // 10 DJNZ e     LD (DE),A
    12, 11,  7,  6,  4,  4,  7,  4,  // 18 JR e       LD A,(DE)
     7, 10, 16,  6,  4,  4,  7,  4,  // 20 JR NZ,e    LD (nn),HL
     7, 11, 16,  6,  4,  4,  7,  4,  // 28 JR Z,e     LD HL,(nn)
     7, 10, 13,  6, 11, 11, 10,  4,  // 30 JR NC,e    LD (nn),A   INC (HL)  DEC (HL)  LD (HL),n
     7, 11, 13,  6,  4,  4,  7,  4,  // 38 JR C,e     LD A,(nn)
// x = 1: LD r,r' 4, with (HL) 7; HALT 4. x = 2: ALU A,r 4, with (HL) 7.
     4,  4,  4,  4,  4,  4,  7,  4,  // 40 LD B,r    LD B,(HL) 7
     4,  4,  4,  4,  4,  4,  7,  4,  // 48 LD C,r
     4,  4,  4,  4,  4,  4,  7,  4,  // 50 LD D,r
     4,  4,  4,  4,  4,  4,  7,  4,  // 58 LD E,r
     4,  4,  4,  4,  4,  4,  7,  4,  // 60 LD H,r
     4,  4,  4,  4,  4,  4,  7,  4,  // 68 LD L,r
     7,  7,  7,  7,  7,  7,  4,  7,  // 70 LD (HL),r 7; 76 HALT 4
     4,  4,  4,  4,  4,  4,  7,  4,  // 78 LD A,r
     4,  4,  4,  4,  4,  4,  7,  4,  // 80 ADD A,r   ADD A,(HL) 7
     4,  4,  4,  4,  4,  4,  7,  4,  // 88 ADC A,r
     4,  4,  4,  4,  4,  4,  7,  4,  // 90 SUB r
     4,  4,  4,  4,  4,  4,  7,  4,  // 98 SBC A,r
     4,  4,  4,  4,  4,  4,  7,  4,  // A0 AND r
     4,  4,  4,  4,  4,  4,  7,  4,  // A8 XOR r
     4,  4,  4,  4,  4,  4,  7,  4,  // B0 OR r
     4,  4,  4,  4,  4,  4,  7,  4,  // B8 CP r
// x = 3: z=0 RET cc   z=1 POP rr, RET, EXX, JP (HL), LD SP,HL   z=2 JP cc,nn   z=3 below
// z=4 CALL cc,nn   z=5 PUSH rr, CALL nn, the prefixes   z=6 ALU A,n   z=7 RST
     5, 10, 10, 10, 10, 11,  7, 11,  // C0 RET NZ  POP BC    JP nn
     5, 10, 10,  0, 10, 17,  7, 11,  // C8 RET Z   RET       (CB)        CALL nn
     5, 10, 10, 11, 10, 11,  7, 11,  // D0 RET NC  POP DE    OUT (n),A
     5,  4, 10, 11, 10,  0,  7, 11,  // D8 RET C   EXX       IN A,(n)    (DD)
     5, 10, 10, 19, 10, 11,  7, 11,  // E0 RET PO  POP HL    EX (SP),HL
     5,  4, 10,  4, 10,  0,  7, 11,  // E8 RET PE  JP (HL)   EX DE,HL    (ED)
     5, 10, 10,  4, 10, 11,  7, 11,  // F0 RET P   POP AF    DI
     5,  6, 10,  4, 10,  0,  7, 11,  // F8 RET M   LD SP,HL  EI          (FD)
};

// CB page, by x and z (y is the operation or the bit): a register 8, (HL) 15, BIT b,(HL) 12.
constexpr std::uint8_t kCBWritten[4][8] = {
//  B  C  D  E  H  L (HL) A
    {8, 8, 8, 8, 8, 8, 15, 8},  // 00-3F RLC RRC RL RR SLA SRA SRL
    {8, 8, 8, 8, 8, 8, 12, 8},  // 40-7F BIT b
    {8, 8, 8, 8, 8, 8, 15, 8},  // 80-BF RES b
    {8, 8, 8, 8, 8, 8, 15, 8},  // C0-FF SET b
};

// ED page, x = 1 by y and z, then the block instructions (x = 2, y = 4..7, z = 0..3).
// The repeating forms with the time of their last iteration. 0: not decoded.
constexpr std::uint8_t kEDWritten[8][8] = {
//  IN r,(C) OUT (C),r SBC/ADC HL,rr LD (nn),rr/rr,(nn) NEG RETN/RETI IM  LD I/R, RRD/RLD
    {12, 12, 15, 20, 8, 14, 8,  9},  // 40 B   SBC HL,BC  LD (nn),BC  NEG  RETN  IM 0  LD I,A
    {12, 12, 15, 20, 0, 14, 0,  9},  // 48 C   ADC HL,BC  LD BC,(nn)       RETI        LD R,A
    {12, 12, 15, 20, 0,  0, 8,  9},  // 50 D   SBC HL,DE  LD (nn),DE             IM 1  LD A,I
    {12, 12, 15, 20, 0,  0, 8,  9},  // 58 E   ADC HL,DE  LD DE,(nn)             IM 2  LD A,R
    {12, 12, 15, 20, 0,  0, 0, 18},  // 60 H   SBC HL,HL  LD (nn),HL                   RRD
    {12, 12, 15, 20, 0,  0, 0, 18},  // 68 L   ADC HL,HL  LD HL,(nn)                   RLD
    { 0,  0, 15, 20, 0,  0, 0,  0},  // 70     SBC HL,SP  LD (nn),SP
    {12, 12, 15, 20, 0,  0, 0,  0},  // 78 A   ADC HL,SP  LD SP,(nn)
};
constexpr std::uint8_t kEDBlockWritten[4][4] = {
    {16, 16, 16, 16},  // A0 LDI  CPI  INI  OUTI
    {16, 16, 16, 16},  // A8 LDD  CPD  IND  OUTD
    {16, 16, 16, 16},  // B0 LDIR CPIR INIR OTIR
    {16, 16, 16, 16},  // B8 LDDR CPDR INDR OTDR
};

// DD and FD pages, by the opcode after the prefix, octal rows as on the main page. 0: not
// decoded (CB, the hand-over to DD CB and FD CB, is timed by that page).
constexpr std::uint8_t kIndexWritten[256] = {
//  z=0  1   2   3   4   5   6   7
     0,  0,  0,  0,  0,  0,  0,  0,  // 00
     0, 15,  0,  0,  0,  0,  0,  0,  // 08 ADD IX,BC
     0,  0,  0,  0,  0,  0,  0,  0,  // 10
     0, 15,  0,  0,  0,  0,  0,  0,  // 18 ADD IX,DE
     0, 14, 20, 10,  0,  0,  0,  0,  // 20 LD IX,nn  LD (nn),IX  INC IX
     0, 15, 20, 10,  0,  0,  0,  0,  // 28 ADD IX,IX LD IX,(nn)  DEC IX
     0,  0,  0,  0, 23, 23, 19,  0,  // 30 INC (IX+d) DEC (IX+d) LD (IX+d),n
     0, 15,  0,  0,  0,  0,  0,  0,  // 38 ADD IX,SP
     0,  0,  0,  0,  0,  0, 19,  0,  // 40 LD B,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 48 LD C,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 50 LD D,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 58 LD E,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 60 LD H,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 68 LD L,(IX+d)
    19, 19, 19, 19, 19, 19,  0, 19,  // 70 LD (IX+d),r
     0,  0,  0,  0,  0,  0, 19,  0,  // 78 LD A,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 80 ADD A,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 88 ADC A,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 90 SUB (IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // 98 SBC A,(IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // A0 AND (IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // A8 XOR (IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // B0 OR (IX+d)
     0,  0,  0,  0,  0,  0, 19,  0,  // B8 CP (IX+d)
     0,  0,  0,  0,  0,  0,  0,  0,  // C0
     0,  0,  0,  0,  0,  0,  0,  0,  // C8 (CB)
     0,  0,  0,  0,  0,  0,  0,  0,  // D0
     0,  0,  0,  0,  0,  0,  0,  0,  // D8
     0, 14,  0, 23,  0, 15,  0,  0,  // E0 POP IX  EX (SP),IX  PUSH IX
     0,  8,  0,  0,  0,  0,  0,  0,  // E8 JP (IX)
     0,  0,  0,  0,  0,  0,  0,  0,  // F0
     0, 10,  0,  0,  0,  0,  0,  0,  // F8 LD SP,IX
};

// DD CB d op and FD CB d op, by x of the operation byte (only z = 6, the cell, is decoded).
constexpr std::uint8_t kIndexBitWritten[4] = {
    23,  // RLC RRC RL RR SLA SRA SRL (IX+d)
    20,  // BIT b,(IX+d)
    23,  // RES b,(IX+d)
    23,  // SET b,(IX+d)
};
// clang-format on

// What a conditional instruction adds when it jumps, calls, returns or repeats (the extra
// machine cycles of the jump, the push, the pop or the step back):
//   DJNZ e      8, or 13 when B does not reach 0     JR cc,e  7, or 12 when cc holds
//   CALL cc,nn  10, or 17 when cc holds              RET cc   5, or 11 when cc holds
//   JP cc,nn    10 either way: the target is read whether or not the jump is taken
//   LDIR LDDR CPIR CPDR INIR INDR OTIR OTDR: 16 on the last iteration, 21 on the others
constexpr int kJumpExtra = 5, kCallExtra = 7, kReturnExtra = 6, kRepeatExtra = 5;
enum Conditional : std::uint8_t { kNone, kDjnz, kJrCc, kRetCc, kCallCc };

// A page's table by opcode: the written time of every byte the decoder knows, and for the
// others the prefix bytes alone. Every byte that the decoder knows must have a time.
template <typename Written, typename Knows>
constexpr Table pageTable(Written written, Knows knows, int unknown) {
  Table table{};
  for (int op = 0; op < 256; ++op)
    table[op] = static_cast<std::uint8_t>(knows(op) ? written(op) : unknown);
  return table;
}
template <typename Written, typename Knows>
constexpr bool everyDecodedByteTimed(Written written, Knows knows) {
  for (int op = 0; op < 256; ++op)
    if (knows(op) && written(op) == 0) return false;
  return true;
}

constexpr auto kMainTime = [](int op) { return kMainWritten[op]; };
constexpr auto kMainKnows = [](int op) {
  return op != 0xCB && op != 0xDD && op != 0xED && op != 0xFD;
};
constexpr auto kCBTime = [](int op) { return kCBWritten[op >> 6][op & 7]; };
constexpr auto kEDTime = [](int op) {
  const decoding::Fields f = fields(op);
  if (f.x == 1) return kEDWritten[f.y][f.z];
  return f.x == 2 && f.y >= 4 && f.z <= 3 ? kEDBlockWritten[f.y - 4][f.z] : std::uint8_t{0};
};
constexpr auto kIndexTime = [](int op) { return kIndexWritten[op]; };
constexpr auto kIndexKnows = [](int op) { return op != 0xCB && decoding::indexKnows(op); };
constexpr auto kIndexBitTime = [](int op) {
  return (op & 7) == decoding::kCodeHLCell ? kIndexBitWritten[op >> 6] : std::uint8_t{0};
};

static_assert(everyDecodedByteTimed(kMainTime, kMainKnows));
static_assert(everyDecodedByteTimed(kCBTime, decoding::cbKnows));
static_assert(everyDecodedByteTimed(kEDTime, decoding::edKnows));
static_assert(everyDecodedByteTimed(kIndexTime, kIndexKnows));
static_assert(everyDecodedByteTimed(kIndexBitTime, decoding::indexBitKnows));

constexpr Table kMainPage = pageTable(kMainTime, kMainKnows, 0);
constexpr Table kCBPage = pageTable(kCBTime, decoding::cbKnows, kPrefixByte);
constexpr Table kEDPage = pageTable(kEDTime, decoding::edKnows, kPrefixByte);
constexpr Table kIndexPage = pageTable(kIndexTime, kIndexKnows, kPrefixByte);
constexpr Table kIndexBitPage = pageTable(kIndexBitTime, decoding::indexBitKnows, 2 * kPrefixByte);

constexpr std::array<Conditional, 256> kMainConditional = [] {
  std::array<Conditional, 256> kinds{};
  for (int op = 0; op < 256; ++op) {
    const decoding::Fields f = fields(op);
    if (op == 0x10) kinds[op] = kDjnz;
    if (f.x == 0 && f.z == 0 && f.y >= 4) kinds[op] = kJrCc;
    if (f.x == 3 && f.z == 0) kinds[op] = kRetCc;
    if (f.x == 3 && f.z == 4) kinds[op] = kCallCc;
  }
  return kinds;
}();

int mainPageExtra(const MachineState& s, std::int32_t op) {
  const int y = (op >> 3) & 7;
  switch (kMainConditional[op]) {
    case kNone: return 0;
    case kDjnz: return s.B != 1 ? kJumpExtra : 0;  // B = 0 wraps to FFH and jumps
    case kJrCc: return decoding::conditionHolds(s, y - 4) ? kJumpExtra : 0;
    case kRetCc: return decoding::conditionHolds(s, y) ? kReturnExtra : 0;
    default: return decoding::conditionHolds(s, y) ? kCallExtra : 0;
  }
}

// A repeating block instruction (ED B0-B3, B8-BB) repeats unless its count reaches 0 with
// this iteration (BC for LDIR, LDDR, CPIR, CPDR; B for the others; 0 on entry wraps and
// repeats), and CPIR and CPDR also end on the byte that equals A.
int repeatExtra(const MachineState& s, std::int32_t op) {
  if ((op & 0xF4) != 0xB0) return 0;
  const bool wholeBC = (op & 3) <= 1;
  const bool countEnds = wholeBC ? s.B == 0 && s.C == 1 : s.B == 1;
  const bool match = (op & 3) == 1 && s.A == s.memory[(s.H * 256 + s.L) & 0xFFFF];
  return countEnds || match ? 0 : kRepeatExtra;
}

}  // namespace

int tstates(const MachineState& s) {
  const auto at = [&s](int offset) { return s.memory[(s.PC + offset) & 0xFFFF]; };
  const std::int32_t op = at(0);
  switch (op) {
    case 0xCB: return kCBPage[at(1)];
    case 0xED: return kEDPage[at(1)] + repeatExtra(s, at(1));
    case 0xDD:
    case 0xFD: return at(1) == 0xCB ? kIndexBitPage[at(3)] : kIndexPage[at(1)];
    default: return kMainPage[op] + mainPageExtra(s, op);
  }
}

}  // namespace korvel
