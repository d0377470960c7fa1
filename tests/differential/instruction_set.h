// The documented Z80 instruction set as the Z80 manual lists it, page by page, and random
// programs built from it. These tables are the test's own: they are written from the manual,
// not taken from the core, so that an opcode the core forgets to decode shows up as a
// difference.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace korvel::differential {

// A small, fast generator (SplitMix64) that gives the same numbers on every compiler.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  bool percent(int p) { return below(100) < p; }
  // A byte, often one of the values where flag rules turn: 00, 01, 7F, 80, FF.
  std::uint8_t byte();
  // A word, often near 0000H, 8000H or FFFFH, where addresses and sums wrap.
  std::uint16_t word();

 private:
  std::uint64_t state_;
};

enum class Page { Main, CB, ED, DD, FD, DDCB, FDCB };
inline constexpr int kPageCount = 7;
const char* pageName(Page page);

// What the bytes at PC are.
struct Decoded {
  Page page = Page::Main;
  int op = 0;               // opcode on its page; for DD CB and FD CB the operation byte
  int length = 1;           // bytes of the whole instruction, prefixes included
  bool documented = false;  // one of the documented instructions
  bool halt = false;        // 76H on the main page
  // For an undocumented form: how far a simulator that executes only the prefix moves
  // PC (1 after CB, ED, DD, FD; 2 after DD CB and FD CB, onto the displacement byte).
  int prefixLength = 0;
};
Decoded decode(const std::array<std::uint8_t, 4>& bytes);

// The documented opcodes of a page (for DD and FD without the CB hand-over, which the
// DD CB and FD CB pages stand for). Every main-page opcode except the prefixes and HALT.
const std::vector<int>& documentedOpcodes(Page page);

struct Program {
  std::uint16_t start = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint16_t> instructionAddresses;
};

// `count` random documented instructions from every page, then HALT. Absolute jumps and
// calls mostly target the program's own instructions; repeating block instructions are
// mostly preceded by a small repeat count.
Program generateProgram(Rng& rng, std::uint16_t start, int count);

}  // namespace korvel::differential
