// The prefixed pages: CB, ED, DD/FD (one body for IX and IY) and DD CB/FD CB (likewise).
// Each is entered with PC on the byte after its prefix; a byte the page does not know
// changes nothing, so the next tick runs that byte as an unprefixed instruction.
#include "decoding.h"
#include "flag_rules.h"
#include "machine.h"
#include "register_pairs.h"

namespace korvel {

using decoding::fields;

// ---------------------------------------------------------------------------------------
// CB page: rotates and shifts write all four flags; BIT writes Zero; RES and SET none.
void Machine::cbinstrukcije() {
  const std::int32_t op = s_.memory[s_.PC];
  if (!decoding::cbKnows(op)) return;
  const decoding::Fields f = fields(op);
  const std::int32_t v = readR(f.z);
  switch (f.x) {
    case 0: writeR(f.z, rotateShift(s_, f.y, v)); break;
    case 1: testBit(s_, f.y, v); break;
    case 2: writeR(f.z, v & ~(1 << f.y)); break;
    default: writeR(f.z, v | (1 << f.y)); break;
  }
  advancePC(1);
}

// ---------------------------------------------------------------------------------------
// ED page.
void Machine::edinstrukcije() {
  MachineState& s = s_;
  const std::int32_t op = s.memory[s.PC];
  if (!decoding::edKnows(op)) return;
  const decoding::Fields f = fields(op);

  if (f.x == 2) {
    // Block instructions: one iteration per tick. The repeating forms step PC back onto
    // their ED byte while they go on, so every iteration is a tick of its own.
    const int direction = (f.y & 1) == 0 ? 1 : -1;  // the I forms step up, the D forms down
    const bool repeating = f.y >= 6;
    std::int32_t hl = pairValue(s, kPairHL);
    switch (f.z) {
      case 0: {  // LDI LDD LDIR LDDR: only Parity changes
        std::int32_t de = pairValue(s, kPairDE);
        setMem(de, mem(hl));
        setPair(s, kPairDE, step16(de, direction));
        setPair(s, kPairHL, step16(hl, direction));
        const std::int32_t bc = step16(pairValue(s, kPairBC), -1);
        setPair(s, kPairBC, bc);
        s.Parity = repeating ? 0 : (bc != 0 ? 1 : 0);
        advancePC(repeating && bc != 0 ? -1 : 1);
        return;
      }
      case 1: {  // CPI CPD CPIR CPDR: Zero and Sign of A - (HL), Parity = BC != 0
        std::int32_t t = s.A - mem(hl);
        if (t < 0) t += 256;
        setZeroSign8(s, t);
        setPair(s, kPairHL, step16(hl, direction));
        const std::int32_t bc = step16(pairValue(s, kPairBC), -1);
        setPair(s, kPairBC, bc);
        s.Parity = bc != 0 ? 1 : 0;
        advancePC(repeating && s.Zero == 0 && s.Parity == 1 ? -1 : 1);
        return;
      }
      case 2: {  // INI IND INIR INDR: only Zero changes
        std::int32_t value = 0;
        if (!readPort(s.C, value)) return;
        setMem(hl, value);
        setPair(s, kPairHL, step16(hl, direction));
        s.B = s.B == 0 ? 255 : s.B - 1;
        s.Zero = repeating ? 1 : (s.B == 0 ? 1 : 0);
        advancePC(repeating && s.B != 0 ? -1 : 1);
        return;
      }
      default: {  // OUTI OUTD OTIR OTDR: only Zero changes
        if (!writePort(s.C, mem(hl))) return;
        setPair(s, kPairHL, step16(hl, direction));
        s.B = s.B == 0 ? 255 : s.B - 1;
        s.Zero = repeating ? 1 : (s.B == 0 ? 1 : 0);
        advancePC(repeating && s.B != 0 ? -1 : 1);
        return;
      }
    }
  }

  switch (f.z) {
    case 0: {  // IN r,(C): Zero, Sign, Parity from the byte; Carry kept
      std::int32_t value = 0;
      if (!readPort(s.C, value)) return;
      writeR(f.y, value);
      setZeroSignParity8(s, value);
      break;
    }
    case 1:  // OUT (C),r
      if (!writePort(s.C, readR(f.y))) return;
      break;
    case 2:  // SBC HL,rr and ADC HL,rr: all four flags
      setPair(s, kPairHL,
              f.q == 0 ? subtractWithCarry16(s, pairValue(s, kPairHL), pairValue(s, f.p))
                       : addWithCarry16(s, pairValue(s, kPairHL), pairValue(s, f.p)));
      break;
    case 3: {  // LD (nn),rr and LD rr,(nn): four bytes
      const std::int32_t nn = operandWord(1);
      if (f.q == 0) {
        const std::int32_t v = pairValue(s, f.p);
        setMem(nn, v & 0xFF);
        setMem(nn + 1, v >> 8);
      } else {
        setPair(s, f.p, mem(nn + 1) * 256 + mem(nn));
      }
      advancePC(3);
      return;
    }
    case 4:  // NEG: A := 0 - A with the flags of SUB
      s.A = subtract8(s, 0, s.A, 0);
      break;
    case 7:
      if (f.y == 4 || f.y == 5) {  // RRD, RLD: the digits of A and (HL) rotate
        const std::int32_t a = s.A;
        const std::int32_t hl = pairValue(s, kPairHL);
        const std::int32_t m = mem(hl);
        if (f.y == 4) {
          s.A = (a / 16) * 16 + m % 16;
          setMem(hl, (a % 16) * 16 + m / 16);
        } else {
          s.A = (a / 16) * 16 + m / 16;
          setMem(hl, (m % 16) * 16 + a % 16);
        }
        setZeroSignParity8(s, s.A);
      }
      // LD I,A, LD R,A, LD A,I, LD A,R: recognised, not simulated
      break;
    default: break;  // RETN, RETI, IM 0/1/2: recognised, not simulated
  }
  advancePC(1);
}

// ---------------------------------------------------------------------------------------
// DD and FD pages: the index register is the only difference.
void Machine::ixinstrukcije() {
  indexPage(s_.IX);
}
void Machine::iyinstrukcije() {
  indexPage(s_.IY);
}

void Machine::indexPage(std::int32_t& xy) {
  MachineState& s = s_;
  const std::int32_t op = s.memory[s.PC];
  if (!decoding::indexKnows(op)) return;
  const decoding::Fields f = fields(op);
  // The cell (IX+d), for the forms that have a displacement.
  const auto cell = [&] { return (xy + signed8(operandByte(1))) & 0xFFFF; };

  switch (op) {
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39: {  // ADD IX,rr: only Carry changes
      const std::int32_t rr = f.p == kPairHL ? xy : pairValue(s, f.p);
      xy = add16(s, xy, rr);
      advancePC(1);
      return;
    }
    case 0x21:
      xy = operandWord(1);
      advancePC(3);
      return;     // LD IX,nn
    case 0x2A: {  // LD IX,(nn)
      const std::int32_t nn = operandWord(1);
      xy = mem(nn + 1) * 256 + mem(nn);
      advancePC(3);
      return;
    }
    case 0x22: {  // LD (nn),IX
      const std::int32_t nn = operandWord(1);
      setMem(nn, xy & 0xFF);
      setMem(nn + 1, xy >> 8);
      advancePC(3);
      return;
    }
    case 0x23:
      xy = step16(xy, 1);
      advancePC(1);
      return;  // INC IX
    case 0x2B:
      xy = step16(xy, -1);
      advancePC(1);
      return;     // DEC IX
    case 0x34: {  // INC (IX+d)
      const std::int32_t a = cell();
      setMem(a, increment8(s, mem(a)));
      advancePC(2);
      return;
    }
    case 0x35: {  // DEC (IX+d)
      const std::int32_t a = cell();
      setMem(a, decrement8(s, mem(a)));
      advancePC(2);
      return;
    }
    case 0x36:
      setMem(cell(), operandByte(2));
      advancePC(3);
      return;  // LD (IX+d),n
    case 0xE1:
      xy = pop();
      advancePC(1);
      return;  // POP IX
    case 0xE5:
      push(xy);
      advancePC(1);
      return;     // PUSH IX
    case 0xE3: {  // EX (SP),IX
      const std::int32_t top = mem(s.SP + 1) * 256 + mem(s.SP);
      setMem(s.SP + 1, xy >> 8);
      setMem(s.SP, xy & 0xFF);
      xy = top;
      advancePC(1);
      return;
    }
    case 0xF9:
      s.SP = xy;
      advancePC(1);
      return;                      // LD SP,IX
    case 0xE9: s.PC = xy; return;  // JP (IX)
    case 0xCB:                     // DD CB d op
      advancePC(1);
      if (&xy == &s.IX) {
        ixcbinstrukcije();
      } else {
        iycbinstrukcije();
      }
      return;
    default: break;
  }

  if (f.x == 1) {
    if (f.z == decoding::kCodeHLCell) {
      writeR(f.y, s.memory[cell()]);  // LD r,(IX+d)
    } else {
      setMem(cell(), readR(f.z));  // LD (IX+d),r
    }
  } else {
    alu8(s, f.y, s.memory[cell()]);  // ALU A,(IX+d)
  }
  advancePC(2);
}

// ---------------------------------------------------------------------------------------
// DD CB and FD CB pages: PC on the displacement, the operation byte after it.
void Machine::ixcbinstrukcije() {
  indexBitPage(s_.IX);
}
void Machine::iycbinstrukcije() {
  indexBitPage(s_.IY);
}

void Machine::indexBitPage(std::int32_t& xy) {
  MachineState& s = s_;
  const std::int32_t op = operandByte(1);
  if (!decoding::indexBitKnows(op)) return;
  const decoding::Fields f = fields(op);
  const std::int32_t a = (xy + signed8(s.memory[s.PC])) & 0xFFFF;
  const std::int32_t m = s.memory[a];
  switch (f.x) {
    case 0: setMem(a, rotateShift(s, f.y, m)); break;
    case 1: testBit(s, f.y, m); break;
    case 2: setMem(a, m & ~(1 << f.y)); break;
    default: setMem(a, m | (1 << f.y)); break;
  }
  advancePC(2);
}

}  // namespace korvel
