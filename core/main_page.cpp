// The unprefixed opcodes, decoded on their x/y/z fields (see decoding.h).
#include "core/decoding.h"
#include "core/flag_rules.h"
#include "core/machine.h"
#include "core/register_pairs.h"

namespace korvel {

using decoding::conditionHolds;
using decoding::fields;

void Machine::mainPage(std::int32_t op) {
  MachineState& s = s_;
  const decoding::Fields f = fields(op);

  switch (f.x) {
    case 1:
      if (op == kHaltOpcode) {
        // HALT stops the run and stays on its own opcode.
        hooks_.control->menustop_Click();
        return;
      }
      writeR(f.y, readR(f.z));  // LD r,r'
      advancePC(1);
      return;

    case 2:
      alu8(s, f.y, readR(f.z));  // ALU A,r
      advancePC(1);
      return;

    case 0:
      switch (f.z) {
        case 0:
          switch (f.y) {
            case 0: advancePC(1); return;  // NOP
            case 1:                        // EX AF,AF'
              std::swap(s.A, s.altA);
              std::swap(s.Carry, s.altCarry);
              std::swap(s.Zero, s.altZero);
              std::swap(s.Sign, s.altSign);
              std::swap(s.Parity, s.altParity);
              advancePC(1);
              return;
            case 2: {  // DJNZ e
              const std::int32_t e = signed8(operandByte(1));
              s.B = s.B == 0 ? 255 : s.B - 1;
              advancePC(s.B != 0 ? 2 + e : 2);
              return;
            }
            case 3: advancePC(2 + signed8(operandByte(1))); return;  // JR e
            default:                                                 // JR cc,e
              advancePC(conditionHolds(s, f.y - 4) ? 2 + signed8(operandByte(1)) : 2);
              return;
          }
        case 1:
          if (f.q == 0) {
            setPair(s, f.p, operandWord(1));  // LD rr,nn
            advancePC(3);
          } else {
            const std::int32_t hl =
                add16(s, pairValue(s, kPairHL), pairValue(s, f.p));  // ADD HL,rr
            setPair(s, kPairHL, hl);
            advancePC(1);
          }
          return;
        case 2:
          switch (f.y) {
            case 0:
              setMem(pairValue(s, kPairBC), s.A);
              advancePC(1);
              return;  // LD (BC),A
            case 1:
              s.A = mem(pairValue(s, kPairBC));
              advancePC(1);
              return;  // LD A,(BC)
            case 2:
              setMem(pairValue(s, kPairDE), s.A);
              advancePC(1);
              return;  // LD (DE),A
            case 3:
              s.A = mem(pairValue(s, kPairDE));
              advancePC(1);
              return;  // LD A,(DE)
            case 4: {  // LD (nn),HL
              const std::int32_t nn = operandWord(1);
              setMem(nn, s.L);
              setMem(nn + 1, s.H);
              advancePC(3);
              return;
            }
            case 5: {  // LD HL,(nn)
              const std::int32_t nn = operandWord(1);
              s.L = mem(nn);
              s.H = mem(nn + 1);
              advancePC(3);
              return;
            }
            case 6:
              setMem(operandWord(1), s.A);
              advancePC(3);
              return;  // LD (nn),A
            default:
              s.A = mem(operandWord(1));
              advancePC(3);
              return;  // LD A,(nn)
          }
        case 3:  // INC rr, DEC rr: no flags
          setPair(s, f.p, step16(pairValue(s, f.p), f.q == 0 ? 1 : -1));
          advancePC(1);
          return;
        case 4:
          writeR(f.y, increment8(s, readR(f.y)));
          advancePC(1);
          return;  // INC r
        case 5:
          writeR(f.y, decrement8(s, readR(f.y)));
          advancePC(1);
          return;  // DEC r
        case 6:
          writeR(f.y, operandByte(1));
          advancePC(2);
          return;  // LD r,n
        default:
          switch (f.y) {
            case 4: break;                              // DAA: recognised, not simulated
            case 5: s.A = 255 - s.A; break;             // CPL
            case 6: s.Carry = 1; break;                 // SCF
            case 7: s.Carry = 1 - s.Carry; break;       // CCF
            default: rotateAccumulator(s, f.y); break;  // RLCA RRCA RLA RRA
          }
          advancePC(1);
          return;
      }

    default:  // x == 3
      switch (f.z) {
        case 0:  // RET cc
          if (conditionHolds(s, f.y)) {
            s.PC = pop();
          } else {
            advancePC(1);
          }
          return;
        case 1:
          if (f.q == 0) {  // POP rr
            const std::int32_t v = pop();
            if (f.p == 3) {
              unpackFlags(v & 0xFF, s.Sign, s.Zero, s.Parity, s.Carry);
              s.A = v >> 8;
            } else {
              setPair(s, f.p, v);
            }
            advancePC(1);
            return;
          }
          switch (f.p) {
            case 0: s.PC = pop(); return;  // RET
            case 1:                        // EXX
              std::swap(s.B, s.altB);
              std::swap(s.C, s.altC);
              std::swap(s.D, s.altD);
              std::swap(s.E, s.altE);
              std::swap(s.H, s.altH);
              std::swap(s.L, s.altL);
              advancePC(1);
              return;
            case 2: s.PC = pairValue(s, kPairHL); return;  // JP (HL)
            default:
              s.SP = pairValue(s, kPairHL);
              advancePC(1);
              return;  // LD SP,HL
          }
        case 2:  // JP cc,nn
          if (conditionHolds(s, f.y)) {
            s.PC = operandWord(1);
          } else {
            advancePC(3);
          }
          return;
        case 3:
          switch (f.y) {
            case 0: s.PC = operandWord(1); return;  // JP nn
            case 1:                                 // CB prefix
              advancePC(1);
              cbinstrukcije();
              return;
            case 2:  // OUT (n),A
              if (writePort(operandByte(1), s.A)) advancePC(2);
              return;
            case 3: {  // IN A,(n)
              std::int32_t value = 0;
              if (readPort(operandByte(1), value)) {
                s.A = value;
                advancePC(2);
              }
              return;
            }
            case 4: {  // EX (SP),HL
              const std::int32_t top = mem(s.SP + 1) * 256 + mem(s.SP);
              setMem(s.SP + 1, s.H);
              setMem(s.SP, s.L);
              setPair(s, kPairHL, top);
              advancePC(1);
              return;
            }
            case 5:  // EX DE,HL
              std::swap(s.D, s.H);
              std::swap(s.E, s.L);
              advancePC(1);
              return;
            default: advancePC(1); return;  // DI, EI: recognised, not simulated
          }
        case 4:  // CALL cc,nn
        case 5:
          if (f.z == 5 && f.q == 1 && f.p != 0) {  // prefixes DD, ED, FD
            advancePC(1);
            if (f.p == 1) {
              ixinstrukcije();
            } else if (f.p == 2) {
              edinstrukcije();
            } else {
              iyinstrukcije();
            }
            return;
          }
          if (f.z == 5 && f.q == 0) {  // PUSH rr
            push(f.p == 3 ? s.A * 256 + packFlags(s.Sign, s.Zero, s.Parity, s.Carry)
                          : pairValue(s, f.p));
            advancePC(1);
            return;
          }
          // CALL nn (CDH) and CALL cc,nn. The return address is pushed first and the
          // target read from the operand bytes afterwards, so a push that overwrites them
          // changes the target (the processor itself latches the target before the push).
          advancePC(3);
          if (f.z == 5 || conditionHolds(s, f.y)) {
            push(s.PC);
            s.PC = mem(s.PC - 1) * 256 + mem(s.PC - 2);
          }
          return;
        case 6:
          alu8(s, f.y, operandByte(1));
          advancePC(2);
          return;  // ALU A,n
        default:   // RST p
          push((s.PC + 1) & 0xFFFF);
          s.PC = f.y * 8;
          return;
      }
  }
}

}  // namespace korvel
