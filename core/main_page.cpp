// The unprefixed opcodes. The x/y/z fields of the opcode (see decoding.h) select the
// operands; the opcodes are listed by value, one group per shape, so that one jump through
// a table of all 256 reaches the handler.
#include "decoding.h"
#include "flag_rules.h"
#include "machine.h"
#include "register_pairs.h"

namespace korvel {

using decoding::conditionHolds;
using decoding::fields;

void Machine::mainPage(std::int32_t op) {
  MachineState& s = s_;
  const decoding::Fields f = fields(op);

  switch (op) {
    // ---- 40H..7FH: LD r,r', and HALT where LD (HL),(HL) would be.
    case 0x76:  // HALT stops the run and stays on its own opcode.
      hooks_.control->menustop_Click();
      return;
    // clang-format off
    case 0x40: case 0x41: case 0x42: case 0x43: case 0x44: case 0x45: case 0x46: case 0x47:
    case 0x48: case 0x49: case 0x4A: case 0x4B: case 0x4C: case 0x4D: case 0x4E: case 0x4F:
    case 0x50: case 0x51: case 0x52: case 0x53: case 0x54: case 0x55: case 0x56: case 0x57:
    case 0x58: case 0x59: case 0x5A: case 0x5B: case 0x5C: case 0x5D: case 0x5E: case 0x5F:
    case 0x60: case 0x61: case 0x62: case 0x63: case 0x64: case 0x65: case 0x66: case 0x67:
    case 0x68: case 0x69: case 0x6A: case 0x6B: case 0x6C: case 0x6D: case 0x6E: case 0x6F:
    case 0x70: case 0x71: case 0x72: case 0x73: case 0x74: case 0x75:            case 0x77:
    case 0x78: case 0x79: case 0x7A: case 0x7B: case 0x7C: case 0x7D: case 0x7E: case 0x7F:
      // clang-format on
      writeR(f.y, readR(f.z));
      advancePC(1);
      return;

    // ---- 80H..BFH: ADD ADC SUB SBC AND XOR OR CP with a register or (HL).
    // clang-format off
    case 0x80: case 0x81: case 0x82: case 0x83: case 0x84: case 0x85: case 0x86: case 0x87:
    case 0x88: case 0x89: case 0x8A: case 0x8B: case 0x8C: case 0x8D: case 0x8E: case 0x8F:
    case 0x90: case 0x91: case 0x92: case 0x93: case 0x94: case 0x95: case 0x96: case 0x97:
    case 0x98: case 0x99: case 0x9A: case 0x9B: case 0x9C: case 0x9D: case 0x9E: case 0x9F:
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: case 0xA4: case 0xA5: case 0xA6: case 0xA7:
    case 0xA8: case 0xA9: case 0xAA: case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF:
    case 0xB0: case 0xB1: case 0xB2: case 0xB3: case 0xB4: case 0xB5: case 0xB6: case 0xB7:
    case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
      // clang-format on
      alu8(s, f.y, readR(f.z));
      advancePC(1);
      return;

    // ---- 00H..3FH
    case 0x00: advancePC(1); return;  // NOP
    case 0x08:                        // EX AF,AF'
      std::swap(s.A, s.altA);
      std::swap(s.Carry, s.altCarry);
      std::swap(s.Zero, s.altZero);
      std::swap(s.Sign, s.altSign);
      std::swap(s.Parity, s.altParity);
      advancePC(1);
      return;
    case 0x10: {  // DJNZ e
      const std::int32_t e = signed8(operandByte(1));
      s.B = s.B == 0 ? 255 : s.B - 1;
      advancePC(s.B != 0 ? 2 + e : 2);
      return;
    }
    case 0x18: advancePC(2 + signed8(operandByte(1))); return;  // JR e
    case 0x20:
    case 0x28:
    case 0x30:
    case 0x38:  // JR cc,e (NZ Z NC C)
      advancePC(conditionHolds(s, f.y - 4) ? 2 + signed8(operandByte(1)) : 2);
      return;
    case 0x01:
    case 0x11:
    case 0x21:
    case 0x31:  // LD rr,nn
      setPair(s, f.p, operandWord(1));
      advancePC(3);
      return;
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39: {  // ADD HL,rr
      const std::int32_t hl = add16(s, pairValue(s, kPairHL), pairValue(s, f.p));
      setPair(s, kPairHL, hl);
      advancePC(1);
      return;
    }
    case 0x02:  // LD (BC),A
      setMem(pairValue(s, kPairBC), s.A);
      advancePC(1);
      return;
    case 0x0A:  // LD A,(BC)
      s.A = mem(pairValue(s, kPairBC));
      advancePC(1);
      return;
    case 0x12:  // LD (DE),A
      setMem(pairValue(s, kPairDE), s.A);
      advancePC(1);
      return;
    case 0x1A:  // LD A,(DE)
      s.A = mem(pairValue(s, kPairDE));
      advancePC(1);
      return;
    case 0x22: {  // LD (nn),HL
      const std::int32_t nn = operandWord(1);
      setMem(nn, s.L);
      setMem(nn + 1, s.H);
      advancePC(3);
      return;
    }
    case 0x2A: {  // LD HL,(nn)
      const std::int32_t nn = operandWord(1);
      s.L = mem(nn);
      s.H = mem(nn + 1);
      advancePC(3);
      return;
    }
    case 0x32:  // LD (nn),A
      setMem(operandWord(1), s.A);
      advancePC(3);
      return;
    case 0x3A:  // LD A,(nn)
      s.A = mem(operandWord(1));
      advancePC(3);
      return;
    case 0x03:
    case 0x13:
    case 0x23:
    case 0x33:  // INC rr: no flags
    case 0x0B:
    case 0x1B:
    case 0x2B:
    case 0x3B:  // DEC rr: no flags
      setPair(s, f.p, step16(pairValue(s, f.p), f.q == 0 ? 1 : -1));
      advancePC(1);
      return;
    // clang-format off
    case 0x04: case 0x0C: case 0x14: case 0x1C: case 0x24: case 0x2C: case 0x34: case 0x3C:
      // clang-format on
      writeR(f.y, increment8(s, readR(f.y)));  // INC r
      advancePC(1);
      return;
    // clang-format off
    case 0x05: case 0x0D: case 0x15: case 0x1D: case 0x25: case 0x2D: case 0x35: case 0x3D:
      // clang-format on
      writeR(f.y, decrement8(s, readR(f.y)));  // DEC r
      advancePC(1);
      return;
    // clang-format off
    case 0x06: case 0x0E: case 0x16: case 0x1E: case 0x26: case 0x2E: case 0x36: case 0x3E:
      // clang-format on
      writeR(f.y, operandByte(1));  // LD r,n
      advancePC(2);
      return;
    case 0x07:
    case 0x0F:
    case 0x17:
    case 0x1F:  // RLCA RRCA RLA RRA
      rotateAccumulator(s, f.y);
      advancePC(1);
      return;
    case 0x27: advancePC(1); return;  // DAA: recognised, not simulated
    case 0x2F:                        // CPL
      s.A = 255 - s.A;
      advancePC(1);
      return;
    case 0x37:  // SCF
      s.Carry = 1;
      advancePC(1);
      return;
    case 0x3F:  // CCF
      s.Carry = 1 - s.Carry;
      advancePC(1);
      return;

    // ---- C0H..FFH
    // clang-format off
    case 0xC0: case 0xC8: case 0xD0: case 0xD8: case 0xE0: case 0xE8: case 0xF0: case 0xF8:
      // clang-format on
      if (conditionHolds(s, f.y)) {  // RET cc
        s.PC = pop();
      } else {
        advancePC(1);
      }
      return;
    case 0xC1:
    case 0xD1:
    case 0xE1:  // POP BC, POP DE, POP HL
      setPair(s, f.p, pop());
      advancePC(1);
      return;
    case 0xF1: {  // POP AF
      const std::int32_t v = pop();
      unpackFlags(v & 0xFF, s.Sign, s.Zero, s.Parity, s.Carry);
      s.A = v >> 8;
      advancePC(1);
      return;
    }
    case 0xC9: s.PC = pop(); return;  // RET
    case 0xD9:                        // EXX
      std::swap(s.B, s.altB);
      std::swap(s.C, s.altC);
      std::swap(s.D, s.altD);
      std::swap(s.E, s.altE);
      std::swap(s.H, s.altH);
      std::swap(s.L, s.altL);
      advancePC(1);
      return;
    case 0xE9: s.PC = pairValue(s, kPairHL); return;  // JP (HL)
    case 0xF9:                                        // LD SP,HL
      s.SP = pairValue(s, kPairHL);
      advancePC(1);
      return;
    // clang-format off
    case 0xC2: case 0xCA: case 0xD2: case 0xDA: case 0xE2: case 0xEA: case 0xF2: case 0xFA:
      // clang-format on
      if (conditionHolds(s, f.y)) {  // JP cc,nn
        s.PC = operandWord(1);
      } else {
        advancePC(3);
      }
      return;
    case 0xC3: s.PC = operandWord(1); return;  // JP nn
    case 0xCB:                                 // CB prefix
      advancePC(1);
      cbinstrukcije();
      return;
    case 0xDD:  // DD prefix
      advancePC(1);
      ixinstrukcije();
      return;
    case 0xED:  // ED prefix
      advancePC(1);
      edinstrukcije();
      return;
    case 0xFD:  // FD prefix
      advancePC(1);
      iyinstrukcije();
      return;
    case 0xD3:  // OUT (n),A
      if (writePort(operandByte(1), s.A)) advancePC(2);
      return;
    case 0xDB: {  // IN A,(n)
      std::int32_t value = 0;
      if (readPort(operandByte(1), value)) {
        s.A = value;
        advancePC(2);
      }
      return;
    }
    case 0xE3: {  // EX (SP),HL
      const std::int32_t top = mem(s.SP + 1) * 256 + mem(s.SP);
      setMem(s.SP + 1, s.H);
      setMem(s.SP, s.L);
      setPair(s, kPairHL, top);
      advancePC(1);
      return;
    }
    case 0xEB:  // EX DE,HL
      std::swap(s.D, s.H);
      std::swap(s.E, s.L);
      advancePC(1);
      return;
    case 0xF3:
    case 0xFB: advancePC(1); return;  // DI, EI: recognised, not simulated
    case 0xC5:
    case 0xD5:
    case 0xE5:  // PUSH BC, PUSH DE, PUSH HL
      push(pairValue(s, f.p));
      advancePC(1);
      return;
    case 0xF5:  // PUSH AF
      push(s.A * 256 + packFlags(s.Sign, s.Zero, s.Parity, s.Carry));
      advancePC(1);
      return;
    // CALL nn and CALL cc,nn. The return address is pushed first and the target read from
    // the operand bytes afterwards, so a push that overwrites them changes the target (the
    // processor itself latches the target before the push).
    case 0xCD:
    // clang-format off
    case 0xC4: case 0xCC: case 0xD4: case 0xDC: case 0xE4: case 0xEC: case 0xF4: case 0xFC:
      // clang-format on
      advancePC(3);
      if (op == 0xCD || conditionHolds(s, f.y)) {
        push(s.PC);
        s.PC = mem(s.PC - 1) * 256 + mem(s.PC - 2);
      }
      return;
    // clang-format off
    case 0xC6: case 0xCE: case 0xD6: case 0xDE: case 0xE6: case 0xEE: case 0xF6: case 0xFE:
      // clang-format on
      alu8(s, f.y, operandByte(1));  // ALU A,n
      advancePC(2);
      return;
    default:  // C7H CFH D7H DFH E7H EFH F7H FFH: RST p
      push((s.PC + 1) & 0xFFFF);
      s.PC = f.y * 8;
      return;
  }
}

}  // namespace korvel
