#include "instruction_set.h"

#include <algorithm>

namespace korvel::differential {

std::uint8_t Rng::byte() {
  static constexpr std::uint8_t kEdges[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
  if (percent(20)) return kEdges[below(5)];
  return static_cast<std::uint8_t>(next());
}

std::uint16_t Rng::word() {
  const int pick = below(10);
  if (pick == 0) return static_cast<std::uint16_t>(below(16));
  if (pick == 1) return static_cast<std::uint16_t>(0xFFF0 + below(16));
  if (pick == 2) return static_cast<std::uint16_t>(0x7FF8 + below(16));
  return static_cast<std::uint16_t>(next());
}

const char* pageName(Page page) {
  switch (page) {
    case Page::Main: return "main";
    case Page::CB: return "CB";
    case Page::ED: return "ED";
    case Page::DD: return "DD";
    case Page::FD: return "FD";
    case Page::DDCB: return "DD CB";
    case Page::FDCB: return "FD CB";
  }
  return "?";
}

namespace {

// Main page: bytes per opcode.
int mainLength(int op) {
  if ((op & 0xC7) == 0xC2 || (op & 0xC7) == 0xC4) return 3;  // JP cc,nn  CALL cc,nn
  if ((op & 0xC7) == 0xC6) return 2;                         // ALU A,n
  if ((op & 0xC7) == 0x06) return 2;                         // LD r,n  LD (HL),n
  switch (op) {
    case 0x01:
    case 0x11:
    case 0x21:
    case 0x31:  // LD rr,nn
    case 0x22:
    case 0x2A:
    case 0x32:
    case 0x3A:  // LD (nn),HL  LD HL,(nn)  LD (nn),A  LD A,(nn)
    case 0xC3:
    case 0xCD:  // JP nn  CALL nn
      return 3;
    case 0x10:
    case 0x18:
    case 0x20:
    case 0x28:
    case 0x30:
    case 0x38:  // DJNZ, JR
    case 0xD3:
    case 0xDB:  // OUT (n),A  IN A,(n)
      return 2;
    default: return 1;
  }
}

// ED page: the 58 documented second bytes.
constexpr int kEdOpcodes[] = {
    0x40, 0x48, 0x50, 0x58, 0x60, 0x68, 0x78,        // IN r,(C)
    0x41, 0x49, 0x51, 0x59, 0x61, 0x69, 0x79,        // OUT (C),r
    0x42, 0x52, 0x62, 0x72, 0x4A, 0x5A, 0x6A, 0x7A,  // SBC HL,rr  ADC HL,rr
    0x43, 0x53, 0x63, 0x73, 0x4B, 0x5B, 0x6B, 0x7B,  // LD (nn),rr  LD rr,(nn)
    0x44, 0x45, 0x4D, 0x46, 0x56, 0x5E,              // NEG RETN RETI IM 0/1/2
    0x47, 0x4F, 0x57, 0x5F, 0x67, 0x6F,              // LD I,A  LD R,A  LD A,I  LD A,R  RRD RLD
    0xA0, 0xA1, 0xA2, 0xA3, 0xA8, 0xA9, 0xAA, 0xAB,  // LDI CPI INI OUTI LDD CPD IND OUTD
    0xB0, 0xB1, 0xB2, 0xB3, 0xB8, 0xB9, 0xBA, 0xBB,  // and their repeating forms
};

int edLength(int op) {
  return (op & 0xC7) == 0x43 ? 4 : 2;
}

// DD and FD pages: the 39 documented index-register opcodes (CBH is the hand-over).
constexpr int kIndexOpcodes[] = {
    0x09, 0x19, 0x29, 0x39,                          // ADD IX,rr
    0x21, 0x2A, 0x22, 0x23, 0x2B,                    // LD IX,nn  LD IX,(nn)  LD (nn),IX  INC/DEC IX
    0x34, 0x35, 0x36,                                // INC/DEC (IX+d)  LD (IX+d),n
    0x46, 0x4E, 0x56, 0x5E, 0x66, 0x6E, 0x7E,        // LD r,(IX+d)
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x77,        // LD (IX+d),r
    0x86, 0x8E, 0x96, 0x9E, 0xA6, 0xAE, 0xB6, 0xBE,  // ALU A,(IX+d)
    0xE1, 0xE5, 0xE3, 0xF9, 0xE9,                    // POP PUSH EX (SP) LD SP JP (IX)
};

int indexLength(int op) {
  switch (op) {
    case 0x21:
    case 0x2A:
    case 0x22:
    case 0x36: return 4;
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39:
    case 0x23:
    case 0x2B:
    case 0xE1:
    case 0xE5:
    case 0xE3:
    case 0xF9:
    case 0xE9: return 2;
    default: return 3;
  }
}

// DD CB and FD CB: rotates and shifts of (IX+d) (no SLL), BIT, RES and SET; never the
// forms that copy the result into a register.
bool indexBitDocumented(int op) {
  return (op & 7) == 6 && op != 0x36;
}

std::vector<int> collect(Page page) {
  std::vector<int> ops;
  switch (page) {
    case Page::Main:
      for (int op = 0; op < 256; ++op) {
        if (op != 0xCB && op != 0xDD && op != 0xED && op != 0xFD && op != 0x76) ops.push_back(op);
      }
      break;
    case Page::CB:
      for (int op = 0; op < 256; ++op) {
        if (op < 0x30 || op > 0x37) ops.push_back(op);
      }
      break;
    case Page::ED: ops.assign(std::begin(kEdOpcodes), std::end(kEdOpcodes)); break;
    case Page::DD:
    case Page::FD: ops.assign(std::begin(kIndexOpcodes), std::end(kIndexOpcodes)); break;
    case Page::DDCB:
    case Page::FDCB:
      for (int op = 0; op < 256; ++op) {
        if (indexBitDocumented(op)) ops.push_back(op);
      }
      break;
  }
  return ops;
}

bool contains(const std::vector<int>& ops, int op) {
  return std::find(ops.begin(), ops.end(), op) != ops.end();
}

}  // namespace

const std::vector<int>& documentedOpcodes(Page page) {
  static const std::array<std::vector<int>, kPageCount> tables = {
      collect(Page::Main), collect(Page::CB),   collect(Page::ED),  collect(Page::DD),
      collect(Page::FD),   collect(Page::DDCB), collect(Page::FDCB)};
  return tables[static_cast<std::size_t>(page)];
}

Decoded decode(const std::array<std::uint8_t, 4>& b) {
  Decoded d;
  switch (b[0]) {
    case 0xCB:
      d.page = Page::CB;
      d.op = b[1];
      d.length = 2;
      d.documented = contains(documentedOpcodes(Page::CB), d.op);
      d.prefixLength = 1;
      return d;
    case 0xED:
      d.page = Page::ED;
      d.op = b[1];
      d.length = edLength(d.op);
      d.documented = contains(documentedOpcodes(Page::ED), d.op);
      d.prefixLength = 1;
      return d;
    case 0xDD:
    case 0xFD: {
      const bool ix = b[0] == 0xDD;
      if (b[1] == 0xCB) {
        d.page = ix ? Page::DDCB : Page::FDCB;
        d.op = b[3];
        d.length = 4;
        d.documented = indexBitDocumented(d.op);
        d.prefixLength = 2;
        return d;
      }
      d.page = ix ? Page::DD : Page::FD;
      d.op = b[1];
      d.length = indexLength(d.op);
      d.documented = contains(documentedOpcodes(d.page), d.op);
      d.prefixLength = 1;
      return d;
    }
    default:
      d.op = b[0];
      d.length = mainLength(d.op);
      d.halt = d.op == 0x76;
      d.documented = !d.halt;
      return d;
  }
}

namespace {

bool isAbsoluteJumpOrCall(int op) {
  return op == 0xC3 || op == 0xCD || (op & 0xC7) == 0xC2 || (op & 0xC7) == 0xC4;
}

// Weights of the pages in a program, in the order of Page.
constexpr int kPageWeights[kPageCount] = {25, 17, 18, 12, 12, 8, 8};

Page randomPage(Rng& rng) {
  int pick = rng.below(100);
  for (int i = 0; i < kPageCount; ++i) {
    if (pick < kPageWeights[i]) return static_cast<Page>(i);
    pick -= kPageWeights[i];
  }
  return Page::Main;
}

}  // namespace

Program generateProgram(Rng& rng, std::uint16_t start, int count) {
  Program program;
  program.start = start;
  std::vector<std::uint8_t>& out = program.bytes;
  std::vector<std::size_t> instructionOffsets;
  std::vector<std::size_t> targetOffsets;  // where a JP or CALL keeps its target word

  auto begin = [&] { instructionOffsets.push_back(out.size()); };
  auto operands = [&](int n) {
    for (int i = 0; i < n; ++i) out.push_back(rng.byte());
  };
  // Without a small count in front, a repeating block instruction would mostly spend the
  // whole program repeating (BC up to 65536, B up to 256).
  auto smallCount = [&](bool wholeBC) {
    if (!rng.percent(90)) return;
    begin();
    out.push_back(wholeBC ? 0x01 : 0x06);  // LD BC,nn  or  LD B,n
    out.push_back(static_cast<std::uint8_t>(1 + rng.below(24)));
    if (wholeBC) out.push_back(0);
  };

  for (int i = 0; i < count; ++i) {
    const Page page = randomPage(rng);
    const std::vector<int>& ops = documentedOpcodes(page);
    const int op = ops[static_cast<std::size_t>(rng.below(static_cast<int>(ops.size())))];
    switch (page) {
      case Page::Main: {
        begin();
        out.push_back(static_cast<std::uint8_t>(op));
        if (isAbsoluteJumpOrCall(op)) targetOffsets.push_back(out.size());
        operands(mainLength(op) - 1);
        break;
      }
      case Page::CB:
        begin();
        out.push_back(0xCB);
        out.push_back(static_cast<std::uint8_t>(op));
        break;
      case Page::ED:
        if (op >= 0xB0) smallCount((op & 0x03) < 2);  // LDIR CPIR LDDR CPDR: BC; the rest: B
        begin();
        out.push_back(0xED);
        out.push_back(static_cast<std::uint8_t>(op));
        operands(edLength(op) - 2);
        break;
      case Page::DD:
      case Page::FD:
        begin();
        out.push_back(page == Page::DD ? 0xDD : 0xFD);
        out.push_back(static_cast<std::uint8_t>(op));
        operands(indexLength(op) - 2);
        break;
      case Page::DDCB:
      case Page::FDCB:
        begin();
        out.push_back(page == Page::DDCB ? 0xDD : 0xFD);
        out.push_back(0xCB);
        out.push_back(rng.byte());  // displacement
        out.push_back(static_cast<std::uint8_t>(op));
        break;
    }
  }
  begin();
  out.push_back(0x76);  // HALT

  for (std::size_t offset : instructionOffsets) {
    program.instructionAddresses.push_back(static_cast<std::uint16_t>(start + offset));
  }
  for (std::size_t at : targetOffsets) {
    std::uint16_t target = rng.word();
    if (rng.percent(85)) {
      target = program.instructionAddresses[static_cast<std::size_t>(
          rng.below(static_cast<int>(program.instructionAddresses.size())))];
    }
    out[at] = static_cast<std::uint8_t>(target & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(target >> 8);
  }
  return program;
}

}  // namespace korvel::differential
