// The current-instruction text, formed from the instruction's bytes with the same decoding
// and name tables as execution: a page that does not know a byte leaves its placeholder.
#include <cstring>

#include "decoding.h"
#include "machine.h"
#include "register_pairs.h"

namespace korvel {

using decoding::fields;
using decoding::kRegisterNames;

namespace {

class TextWriter {
 public:
  explicit TextWriter(char* out) : start_(out), p_(out) {}
  TextWriter& operator<<(const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(p_, text, n);
    p_ += n;
    return *this;
  }
  TextWriter& operator<<(char c) {
    *p_++ = c;
    return *this;
  }
  // A byte operand: two digits and "H".
  TextWriter& byte(std::int32_t v) {
    p_ = writeHex2(p_, v);
    return *this << 'H';
  }
  // A word operand stored low byte first: four digits, high byte first, and "H".
  TextWriter& word(std::int32_t low, std::int32_t high) {
    p_ = writeHex2(writeHex2(p_, high), low);
    return *this << 'H';
  }
  int length() const { return static_cast<int>(p_ - start_); }

 private:
  char* start_;
  char* p_;
};

void cbPageText(TextWriter& w, std::int32_t op) {
  const decoding::Fields f = fields(op);
  if (f.x == 0) {
    w << decoding::kRotateNames[f.y] << ' ' << kRegisterNames[f.z];
  } else {
    w << decoding::kBitOpNames[f.x] << ' ' << static_cast<char>('0' + f.y) << ','
      << kRegisterNames[f.z];
  }
}

void edPageText(TextWriter& w, std::int32_t op, std::int32_t low, std::int32_t high) {
  const decoding::Fields f = fields(op);
  if (f.x == 2) {
    w << decoding::kBlockNames[f.y - 4][f.z];
    return;
  }
  const char* pair = decoding::kPairNames[f.p];
  switch (f.z) {
    case 0: w << "IN " << kRegisterNames[f.y] << ",(C)"; break;
    case 1: w << "OUT (C)," << kRegisterNames[f.y]; break;
    case 2: w << (f.q == 0 ? "SBC HL," : "ADC HL,") << pair; break;
    case 3:
      if (f.q == 0) {
        w << "LD (";
        w.word(low, high) << ")," << pair;
      } else {
        w << "LD " << pair << ",(";
        w.word(low, high) << ')';
      }
      break;
    default: w << decoding::kEdFixedNames[f.z - 4][f.y]; break;
  }
}

// (IX+d): the displacement always as its stored byte after a plus sign.
void indexedCell(TextWriter& w, const char* xy, std::int32_t d) {
  w << '(' << xy << '+';
  w.byte(d) << ')';
}

void indexBitText(TextWriter& w, const char* xy, std::int32_t d, std::int32_t op) {
  const decoding::Fields f = fields(op);
  if (f.x == 0) {
    w << decoding::kRotateNames[f.y] << ' ';
  } else {
    w << decoding::kBitOpNames[f.x] << ' ' << static_cast<char>('0' + f.y) << ',';
  }
  indexedCell(w, xy, d);
}

void indexPageText(TextWriter& w, const char* xy, const std::array<std::uint8_t, 4>& b) {
  const std::int32_t op = b[1];
  const decoding::Fields f = fields(op);
  switch (op) {
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39:
      w << "ADD " << xy << ',' << (f.p == kPairHL ? xy : decoding::kPairNames[f.p]);
      return;
    case 0x21:
      w << "LD " << xy << ',';
      w.word(b[2], b[3]);
      return;
    case 0x2A:
      w << "LD " << xy << ",(";
      w.word(b[2], b[3]) << ')';
      return;
    case 0x22:
      w << "LD (";
      w.word(b[2], b[3]) << ")," << xy;
      return;
    case 0x23: w << "INC " << xy; return;
    case 0x2B: w << "DEC " << xy; return;
    case 0x34:
      w << "INC ";
      indexedCell(w, xy, b[2]);
      return;
    case 0x35:
      w << "DEC ";
      indexedCell(w, xy, b[2]);
      return;
    case 0x36:
      w << "LD ";
      indexedCell(w, xy, b[2]);
      w << ',';
      w.byte(b[3]);
      return;
    case 0xE1: w << "POP " << xy; return;
    case 0xE5: w << "PUSH " << xy; return;
    case 0xE3: w << "EX (SP)," << xy; return;
    case 0xF9: w << "LD SP," << xy; return;
    case 0xE9: w << "JP (" << xy << ')'; return;
    case 0xCB:
      if (decoding::indexBitKnows(b[3])) {
        indexBitText(w, xy, b[2], b[3]);
      } else {
        w << "CB instrukcije";
      }
      return;
    default: break;
  }
  if (f.x == 1 && f.z == decoding::kCodeHLCell) {
    w << "LD " << kRegisterNames[f.y] << ',';
    indexedCell(w, xy, b[2]);
  } else if (f.x == 1) {
    w << "LD ";
    indexedCell(w, xy, b[2]);
    w << ',' << kRegisterNames[f.z];
  } else {
    w << decoding::kAluNames[f.y];
    indexedCell(w, xy, b[2]);
  }
}

void mainPageText(TextWriter& w, const std::array<std::uint8_t, 4>& b) {
  const std::int32_t op = b[0];
  const decoding::Fields f = fields(op);
  const char* r_y = kRegisterNames[f.y];
  const char* r_z = kRegisterNames[f.z];
  switch (f.x) {
    case 1:
      if (op == kHaltOpcode) {
        w << "HALT";
      } else {
        w << "LD " << r_y << ',' << r_z;
      }
      return;
    case 2: w << decoding::kAluNames[f.y] << r_z; return;
    case 0:
      switch (f.z) {
        case 0:
          switch (f.y) {
            case 0: w << "NOP"; return;
            case 1: w << "EX AF,AF'"; return;
            case 2: w << "DJNZ "; break;
            case 3: w << "JR "; break;
            default: w << "JR " << decoding::kConditionNames[f.y - 4] << ','; break;
          }
          w.byte(b[1]);
          return;
        case 1:
          if (f.q == 0) {
            w << "LD " << decoding::kPairNames[f.p] << ',';
            w.word(b[1], b[2]);
          } else {
            w << "ADD HL," << decoding::kPairNames[f.p];
          }
          return;
        case 2:
          switch (f.y) {
            case 0: w << "LD (BC),A"; return;
            case 1: w << "LD A,(BC)"; return;
            case 2: w << "LD (DE),A"; return;
            case 3: w << "LD A,(DE)"; return;
            case 4:
              w << "LD (";
              w.word(b[1], b[2]) << "),HL";
              return;
            case 5:
              w << "LD HL,(";
              w.word(b[1], b[2]) << ')';
              return;
            case 6:
              w << "LD (";
              w.word(b[1], b[2]) << "),A";
              return;
            default:
              w << "LD A,(";
              w.word(b[1], b[2]) << ')';
              return;
          }
        case 3: w << (f.q == 0 ? "INC " : "DEC ") << decoding::kPairNames[f.p]; return;
        case 4: w << "INC " << r_y; return;
        case 5: w << "DEC " << r_y; return;
        case 6:
          w << "LD " << r_y << ',';
          w.byte(b[1]);
          return;
        default: w << decoding::kAccumulatorOps[f.y]; return;
      }
    default:
      switch (f.z) {
        case 0: w << "RET " << decoding::kConditionNames[f.y]; return;
        case 1:
          if (f.q == 0) {
            w << "POP " << decoding::kStackPairNames[f.p];
          } else {
            w << decoding::kMainGroupNames[f.p];
          }
          return;
        case 2:
          w << "JP " << decoding::kConditionNames[f.y] << ',';
          w.word(b[1], b[2]);
          return;
        case 3:
          switch (f.y) {
            case 0:
              w << "JP ";
              w.word(b[1], b[2]);
              return;
            case 1:
              if (decoding::cbKnows(b[1])) {
                cbPageText(w, b[1]);
              } else {
                w << "CB instrukcije";
              }
              return;
            case 2:
              w << "OUT (";
              w.byte(b[1]) << "),A";
              return;
            case 3:
              w << "IN A,(";
              w.byte(b[1]) << ')';
              return;
            case 4: w << "EX (SP),HL"; return;
            case 5: w << "EX DE,HL"; return;
            case 6: w << "DI"; return;
            default: w << "EI"; return;
          }
        case 4:
          w << "CALL " << decoding::kConditionNames[f.y] << ',';
          w.word(b[1], b[2]);
          return;
        case 5:
          if (f.q == 0) {
            w << "PUSH " << decoding::kStackPairNames[f.p];
          } else if (f.p == 0) {
            w << "CALL ";
            w.word(b[1], b[2]);
          } else if (f.p == 2) {
            if (decoding::edKnows(b[1])) {
              edPageText(w, b[1], b[2], b[3]);
            } else {
              w << "ED instrukcije";
            }
          } else {
            const char* xy = decoding::kIndexNames[f.p == 1 ? 0 : 1];
            if (decoding::indexKnows(b[1])) {
              indexPageText(w, xy, b);
            } else {
              w << (f.p == 1 ? "DD instrukcije" : "FD instrukcije");
            }
          }
          return;
        case 6:
          w << decoding::kAluNames[f.y];
          w.byte(b[1]);
          return;
        default:
          w << "RST ";
          w.byte(f.y * 8);
          return;
      }
  }
}

}  // namespace

int disassemble(const std::array<std::uint8_t, 4>& bytes, char* out) {
  TextWriter w(out);
  mainPageText(w, bytes);
  return w.length();
}

std::string disassemble(const std::array<std::uint8_t, 4>& bytes) {
  char buffer[Machine::kMaxTextLength];
  return std::string(buffer, static_cast<std::size_t>(disassemble(bytes, buffer)));
}

namespace {

// DD and FD pages, by the byte after the prefix; the prefix is counted.
int indexPageLength(const std::array<std::uint8_t, 4>& b) {
  switch (b[1]) {
    case 0xCB: return decoding::indexBitKnows(b[3]) ? 4 : 2;  // DD CB d op
    case 0x21:
    case 0x22:
    case 0x2A:
    case 0x36: return 4;  // a word, or a displacement and a byte
    case 0x34:
    case 0x35: return 3;
    default: break;
  }
  const decoding::Fields f = fields(b[1]);
  return f.x == 1 || f.x == 2 ? 3 : 2;  // the (IX+d) forms, else IX alone
}

}  // namespace

int instructionLength(const std::array<std::uint8_t, 4>& b) {
  const decoding::Fields f = fields(b[0]);
  switch (f.x) {
    case 1:
    case 2: return 1;
    case 0:
      switch (f.z) {
        case 0: return f.y <= 1 ? 1 : 2;  // NOP, EX AF,AF'; DJNZ and JR with e
        case 1: return f.q == 0 ? 3 : 1;  // LD rr,nn; ADD HL,rr
        case 2: return f.y <= 3 ? 1 : 3;  // through (BC) and (DE); through (nn)
        case 6: return 2;                 // LD r,n
        default: return 1;
      }
    default:
      switch (f.z) {
        case 2:
        case 4: return 3;  // JP cc,nn; CALL cc,nn
        case 3:
          switch (f.y) {
            case 0: return 3;                                // JP nn
            case 1: return decoding::cbKnows(b[1]) ? 2 : 1;  // CB page
            case 2:
            case 3: return 2;  // OUT (n),A; IN A,(n)
            default: return 1;
          }
        case 5:
          if (f.q == 0) return 1;  // PUSH rr
          switch (f.p) {
            case 0: return 3;  // CALL nn
            case 2:            // ED page: LD (nn),rr and LD rr,(nn) carry a word
              if (!decoding::edKnows(b[1])) return 1;
              return fields(b[1]).x == 1 && fields(b[1]).z == 3 ? 4 : 2;
            default: return decoding::indexKnows(b[1]) ? indexPageLength(b) : 1;
          }
        case 6: return 2;  // ALU A,n
        default: return 1;
      }
  }
}

}  // namespace korvel
