// The golden listing of every documented form on the seven pages (golden/forms.txt) against
// the core: every byte of every page runs twice, and each form must show the listed text,
// advance PC by the listed length (or jump where listed) and take the listed T-states in both
// runs; every byte a page does not know must keep its prefix's placeholder, consume only the
// prefix bytes and take 4 T-states for each, or it shows up as a line the listing lacks.
//   forms_test [LISTING]          compares; exit status 1 on a difference
//   forms_test --write [LISTING]  writes the listing from the core (done once, then read line
//                                 by line against the Z80 manual)
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "machine.h"
#include "timing.h"

#ifndef KORVEL_FORMS_FILE
#define KORVEL_FORMS_FILE "forms.txt"
#endif

namespace {

using namespace korvel;
using Bytes = std::vector<int>;

const char* const kHeader =
    "# Every documented instruction form of the seven pages, as Korvel shows and times it.\n"
    "# Columns: the bytes; the text after the tick; the length in bytes (the PC advance when\n"
    "# it does not jump); the T-states, taken/not taken for a conditional form and repeats/last\n"
    "# for a repeating block instruction; where PC goes when it jumps.\n"
    "# Operands: a byte FBH, a word 00FBH, a displacement FBH (-5).\n"
    "# Each line runs at 0100H twice, with A = 55H, HL = 4000H, IX = 5000H, IY = 6000H, SP =\n"
    "# 7000H holding the word 8000H, every other cell 00H, ports reading 00H, and (1) the four\n"
    "# flags 0 and BC = 0100H, (2) the four flags 1 and BC = 0001H: every conditional form\n"
    "# jumps in one run and falls through in the other. Written by forms_test --write.\n";

struct Ports final : PortInput, PortOutput {
  std::optional<std::int32_t> portin(std::int32_t, std::int32_t) override { return 0; }
  bool portout(std::int32_t, std::int32_t) override { return true; }
};

struct Tick {
  std::string text;
  int advance, time;  // PC after it less 0100H; tstates before it
  bool jumped() const { return advance < 1 || advance > 4; }
};

Tick tick(const Bytes& bytes, int run) {
  const auto s = std::make_unique<MachineState>();
  Ports ports;
  Machine machine(*s, {nullptr, &ports, &ports, nullptr});
  s->PC = 0x0100, s->A = 0x55, s->H = 0x40, s->IX = 0x5000, s->IY = 0x6000, s->SP = 0x7000;
  s->memory[0x7001] = 0x80;
  s->Carry = s->Zero = s->Sign = s->Parity = run;
  s->B = 1 - run, s->C = run;
  for (std::size_t i = 0; i < bytes.size(); ++i) s->memory[0x100 + i] = bytes[i];
  const int time = tstates(*s);
  machine.clock_Timer();
  return {machine.instructionText(), s->PC - 0x100, time};
}

std::string hex(int value, int digits) {
  char text[8];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}
// The first `count` bytes, 00 past the end: "DD CB FB 46".
std::string code(const Bytes& bytes, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += hex(i < static_cast<int>(bytes.size()) ? bytes[i] : 0, 2);
  }
  return text;
}
std::string join(const std::string& a, const std::string& b, const char* between = "|") {
  return a == b ? a : a + between + b;
}

std::string line(const std::string& code, const std::string& text, int length,
                 const std::string& time, const std::string& target = "") {
  char line[128];
  std::snprintf(line, sizeof line, "%-13s%-17s%-3d%-7s%s", code.c_str(), text.c_str(), length,
                time.c_str(), target.c_str());
  std::string trimmed = line;
  return trimmed.erase(trimmed.find_last_not_of(' ') + 1);
}

// The line of `bytes` as the core runs them in the two set-ups. A run that ends 1 to 4 bytes
// on fell through; `length` serves a form that jumps in both. Where the runs disagree as no
// Z80 instruction does, both values show, joined by '|'.
std::string observe(const Bytes& bytes, int length) {
  const Tick r[2] = {tick(bytes, 0), tick(bytes, 1)};
  const std::string t[2] = {std::to_string(r[0].time), std::to_string(r[1].time)};
  std::string time = join(t[0], t[1]), target;
  if (r[0].jumped() != r[1].jumped()) {  // conditional: taken/not taken
    const int taken = r[0].jumped() ? 0 : 1;
    length = r[1 - taken].advance, time = t[taken] + "/" + t[1 - taken];
    target = hex(0x100 + r[taken].advance, 4) + "H";
  } else if (r[0].jumped()) {
    target = join(hex(0x100 + r[0].advance, 4) + "H", hex(0x100 + r[1].advance, 4) + "H");
  } else {
    length = r[0].advance;
    if (r[1].advance != length) time += " length|" + std::to_string(r[1].advance);
  }
  return line(code(bytes, length), join(r[0].text, r[1].text, " | "), length, time, target);
}

// Jumps in both runs, so PC shows no length: JP nn, CALL nn, JR e, RET, RST, JP (HL), HALT,
// JP (IX), JP (IY), by the Z80 manual.
int jumpLength(const Bytes& b) {
  if (b[0] == 0xDD || b[0] == 0xFD) return 2;
  return b[0] == 0xC3 || b[0] == 0xCD ? 3 : b[0] == 0x18 ? 2 : 1;
}

// The listing as the core gives it: every byte of every page, with the operands FB 00 after
// it (DD CB and FD CB: FB before it), one line for each that its page decodes. A byte that
// the page does not know must give the prefix's placeholder line, or it is listed too.
std::vector<std::string> listing() {
  struct Page {
    Bytes prefix;
    const char* placeholder;
  };
  const Page pages[] = {{{}, ""},
                        {{0xCB}, "CB instrukcije"},
                        {{0xED}, "ED instrukcije"},
                        {{0xDD}, "DD instrukcije"},
                        {{0xFD}, "FD instrukcije"},
                        {{0xDD, 0xCB}, "CB instrukcije"},
                        {{0xFD, 0xCB}, "CB instrukcije"}};
  std::vector<std::string> lines;
  for (const Page& page : pages) {
    const int n = static_cast<int>(page.prefix.size());
    const std::string placeholder =
        line(code(page.prefix, n), page.placeholder, n, std::to_string(4 * n));
    for (int op = 0; op < 256; ++op) {
      const bool prefix = op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD;
      if ((n == 0 && prefix) || (n == 1 && page.prefix[0] != 0xCB && op == 0xCB)) continue;
      Bytes bytes = page.prefix;
      for (int b : n == 2 ? Bytes{0xFB, op} : Bytes{op, 0xFB, 0x00}) bytes.push_back(b);
      const std::string observed = observe(bytes, jumpLength(bytes));
      if (n == 0 || observed != placeholder) lines.push_back(observed);
    }
  }
  return lines;
}

int write(const char* path) {
  std::ofstream out(path, std::ios::binary);
  out << kHeader;
  const std::vector<std::string> lines = listing();
  for (const std::string& l : lines) out << l << '\n';
  std::printf("forms_test: %zu forms written to %s\n", lines.size(), path);
  return out.flush() ? 0 : 2;
}

// Every line of the file that the core does not give, and every line it gives that the file
// does not hold.
int check(const char* path) {
  std::ifstream in(path);
  if (!in) return std::fprintf(stderr, "forms_test: cannot read %s\n", path), 2;
  std::map<std::string, int> listed;  // line -> its number in the file
  int number = 0;
  for (std::string text; std::getline(in, text);)
    if (++number, !text.empty() && text[0] != '#') listed.emplace(text, number);
  const std::vector<std::string> given = listing();
  const std::set<std::string> core(given.begin(), given.end());
  int differences = 0;
  const auto differ = [&differences](const std::string& what) {
    if (++differences <= 30) std::printf("%s\n", what.c_str());
  };
  for (const auto& [text, at] : listed)
    if (!core.contains(text))
      differ(std::string(path) + ":" + std::to_string(at) + ": not as the core gives it: " + text);
  for (const std::string& text : given)
    if (!listed.contains(text)) differ("the core gives: " + text);
  std::printf("forms_test: %zu forms listed, %d differences\n", listed.size(), differences);
  return differences == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool writing = argc > 1 && std::string(argv[1]) == "--write";
  const char* path = argc > 1 + writing ? argv[1 + writing] : KORVEL_FORMS_FILE;
  if (argc > 2 + writing || (argc > 1 && !writing && argv[1][0] == '-')) {
    std::fputs("usage: forms_test [--write] [LISTING]\n", stderr);
    return 2;
  }
  return writing ? write(path) : check(path);
}
