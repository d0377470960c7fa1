// The flag rules of the whole instruction set, one function each. Only the four modelled
// flags exist: Carry, Zero, Sign and Parity (parity or overflow, by instruction).
#pragma once

#include <cstdint>

#include "machine_state.h"

namespace korvel {

inline std::int32_t signed8(std::int32_t byte) {
  return byte > 127 ? byte - 256 : byte;
}
inline std::int32_t signed16(std::int32_t word) {
  return word > 32767 ? word - 65536 : word;
}

inline void setZeroSign8(MachineState& s, std::int32_t v) {
  s.Zero = v == 0 ? 1 : 0;
  s.Sign = v > 127 ? 1 : 0;
}

// Zero, Sign from the byte and Parity as its parity (logic, CB rotates, IN r,(C), RRD/RLD).
inline void setZeroSignParity8(MachineState& s, std::int32_t v) {
  setZeroSign8(s, v);
  s.Parity = evenParity(v) ? 1 : 0;
}

// ADD, ADC: Parity is the signed overflow, Carry the carry out of bit 7.
inline void addToA(MachineState& s, std::int32_t operand, std::int32_t carryIn) {
  const std::int32_t t = signed8(s.A) + signed8(operand) + carryIn;
  s.Parity = (t < -128 || t > 127) ? 1 : 0;
  std::int32_t a = s.A + operand + carryIn;
  if (a > 255) {
    a -= 256;
    s.Carry = 1;
  } else {
    s.Carry = 0;
  }
  s.A = a;
  setZeroSign8(s, a);
}

// SUB, SBC, CP and NEG: Parity is the signed overflow, Carry the borrow.
inline std::int32_t subtract8(MachineState& s, std::int32_t minuend, std::int32_t operand,
                              std::int32_t carryIn) {
  const std::int32_t t = signed8(minuend) - signed8(operand) - carryIn;
  s.Parity = (t < -128 || t > 127) ? 1 : 0;
  std::int32_t r = minuend - operand - carryIn;
  if (r < 0) {
    r += 256;
    s.Carry = 1;
  } else {
    s.Carry = 0;
  }
  setZeroSign8(s, r);
  return r;
}

inline void subtractFromA(MachineState& s, std::int32_t operand, std::int32_t carryIn) {
  s.A = subtract8(s, s.A, operand, carryIn);
}

// CP: the flags of SUB, A unchanged.
inline void compareWithA(MachineState& s, std::int32_t operand) {
  subtract8(s, s.A, operand, 0);
}

// AND, XOR, OR: Parity is the parity of A, Carry cleared.
inline void logicFlags(MachineState& s) {
  setZeroSignParity8(s, s.A);
  s.Carry = 0;
}

// The eight 8-bit operations of the ALU column, selected by bits 3..5 of the opcode.
inline void alu8(MachineState& s, int operation, std::int32_t operand) {
  switch (operation) {
    case 0: addToA(s, operand, 0); break;
    case 1: addToA(s, operand, s.Carry); break;
    case 2: subtractFromA(s, operand, 0); break;
    case 3: subtractFromA(s, operand, s.Carry); break;
    case 4:
      s.A &= operand;
      logicFlags(s);
      break;
    case 5:
      s.A ^= operand;
      logicFlags(s);
      break;
    case 6:
      s.A |= operand;
      logicFlags(s);
      break;
    default: compareWithA(s, operand); break;
  }
}

// INC of a register or cell: Parity is the overflow 7FH -> 80H; Carry untouched.
inline std::int32_t increment8(MachineState& s, std::int32_t x) {
  s.Parity = x == 127 ? 1 : 0;
  x = x == 255 ? 0 : x + 1;
  setZeroSign8(s, x);
  return x;
}

// DEC of a register or cell: Parity is the overflow 80H -> 7FH; Carry untouched.
inline std::int32_t decrement8(MachineState& s, std::int32_t x) {
  s.Parity = x == 128 ? 1 : 0;
  x = x == 0 ? 255 : x - 1;
  setZeroSign8(s, x);
  return x;
}

// ADD HL,rr / ADD IX,rr / ADD IY,rr: only Carry changes.
inline std::int32_t add16(MachineState& s, std::int32_t a, std::int32_t b) {
  std::int32_t t = a + b;
  if (t > 0xFFFF) {
    t -= 0x10000;
    s.Carry = 1;
  } else {
    s.Carry = 0;
  }
  return t;
}

// ADC HL,rr and SBC HL,rr: all four flags, 16-bit overflow in Parity.
inline std::int32_t addWithCarry16(MachineState& s, std::int32_t h, std::int32_t r) {
  const std::int32_t c = s.Carry;
  const std::int32_t t = signed16(h) + signed16(r) + c;
  s.Parity = (t < -32768 || t > 32767) ? 1 : 0;
  std::int32_t u = h + r + c;
  if (u > 0xFFFF) {
    u -= 0x10000;
    s.Carry = 1;
  } else {
    s.Carry = 0;
  }
  s.Zero = u == 0 ? 1 : 0;
  s.Sign = u > 32767 ? 1 : 0;
  return u;
}

inline std::int32_t subtractWithCarry16(MachineState& s, std::int32_t h, std::int32_t r) {
  const std::int32_t c = s.Carry;
  const std::int32_t t = signed16(h) - signed16(r) - c;
  s.Parity = (t < -32768 || t > 32767) ? 1 : 0;
  std::int32_t u = h - r - c;
  if (u < 0) {
    u += 0x10000;
    s.Carry = 1;
  } else {
    s.Carry = 0;
  }
  s.Zero = u == 0 ? 1 : 0;
  s.Sign = u > 32767 ? 1 : 0;
  return u;
}

// The CB-page rotates and shifts (RLC RRC RL RR SLA SRA - SRL), selected by bits 3..5 of
// the operation byte; they write all four flags, Parity as the parity of the result.
inline std::int32_t rotateShift(MachineState& s, int operation, std::int32_t v) {
  const std::int32_t oldCarry = s.Carry;
  const std::int32_t bit7 = v > 127 ? 1 : 0;
  const std::int32_t bit0 = v & 1;
  switch (operation) {
    case 0:  // RLC
      s.Carry = bit7;
      v = (v * 2 - bit7 * 256) + bit7;
      break;
    case 1:  // RRC
      s.Carry = bit0;
      v = (v - bit0) / 2 + bit0 * 128;
      break;
    case 2:  // RL
      s.Carry = bit7;
      v = (v * 2 - bit7 * 256) + oldCarry;
      break;
    case 3:  // RR
      s.Carry = bit0;
      v = (v - bit0) / 2 + oldCarry * 128;
      break;
    case 4:  // SLA
      s.Carry = bit7;
      v = v * 2 - bit7 * 256;
      break;
    case 5:  // SRA
      s.Carry = bit0;
      v = (v - bit0) / 2 + bit7 * 128;
      break;
    default:  // SRL
      s.Carry = bit0;
      v = (v - bit0) / 2;
      break;
  }
  setZeroSignParity8(s, v);
  return v;
}

// BIT b: only Zero changes.
inline void testBit(MachineState& s, int bit, std::int32_t v) {
  s.Zero = (v & (1 << bit)) == 0 ? 1 : 0;
}

// RLCA, RRCA, RLA, RRA: only Carry changes.
inline void rotateAccumulator(MachineState& s, int operation) {
  const std::int32_t oldCarry = s.Carry;
  const std::int32_t bit7 = s.A >= 128 ? 1 : 0;
  const std::int32_t bit0 = s.A & 1;
  switch (operation) {
    case 0:  // RLCA
      s.Carry = bit7;
      s.A = s.A * 2 - bit7 * 256 + bit7;
      break;
    case 1:  // RRCA
      s.Carry = bit0;
      s.A = (s.A - bit0) / 2 + bit0 * 128;
      break;
    case 2:  // RLA
      s.Carry = bit7;
      s.A = s.A * 2 - bit7 * 256 + oldCarry;
      break;
    default:  // RRA
      s.Carry = bit0;
      s.A = (s.A - bit0) / 2 + oldCarry * 128;
      break;
  }
}

}  // namespace korvel
