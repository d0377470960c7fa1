// Every byte of the seven pages against the golden listing (golden/forms.txt): a documented
// form must show the listed text, advance PC by the listed length, jump where listed and take
// the listed T-states; any other byte must leave its prefix's placeholder, consume only the
// prefix bytes and take 4 T-states for each.
//   forms_test [LISTING]          compares; exit status 1 on a difference
//   forms_test --write [LISTING]  writes the listing from the core (done once, then read line
//                                 by line against the Z80 manual)
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/machine.h"
#include "core/timing.h"

#ifndef KORVEL_FORMS_FILE
#define KORVEL_FORMS_FILE "forms.txt"
#endif

namespace {

using namespace korvel;
using Bytes = std::vector<int>;
using Fields = std::vector<std::string>;  // bytes, text, length, T-states[, jump target]

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

// The line of `bytes` as the core runs them in the two set-ups. A run that ends 1 to 4 bytes
// on fell through; `length` serves a form that jumps in both. Where the runs disagree as no
// Z80 instruction does, both values show, joined by '|'.
Fields observe(const Bytes& bytes, int length) {
  const Tick r[2] = {tick(bytes, 0), tick(bytes, 1)};
  const std::string t[2] = {std::to_string(r[0].time), std::to_string(r[1].time)};
  std::string time, target;
  if (r[0].jumped() != r[1].jumped()) {  // conditional: taken/not taken
    const int taken = r[0].jumped() ? 0 : 1;
    length = r[1 - taken].advance, time = t[taken] + "/" + t[1 - taken];
    target = hex(0x100 + r[taken].advance, 4) + "H";
  } else if (r[0].jumped()) {
    time = join(t[0], t[1]);
    target = join(hex(0x100 + r[0].advance, 4) + "H", hex(0x100 + r[1].advance, 4) + "H");
  } else {
    length = r[0].advance, time = join(t[0], t[1]);
    if (r[1].advance != length) time += " length|" + std::to_string(r[1].advance);
  }
  Fields fields = {code(bytes, length), join(r[0].text, r[1].text, " | "), std::to_string(length),
                   time};
  if (!target.empty()) fields.push_back(target);
  return fields;
}

std::string format(const Fields& f) {
  char line[128];
  std::snprintf(line, sizeof line, "%-13s%-17s%-3s%-7s%s", f[0].c_str(), f[1].c_str(), f[2].c_str(),
                f[3].c_str(), f.size() > 4 ? f[4].c_str() : "");
  std::string text = line;
  return text.erase(text.find_last_not_of(' ') + 1);
}

// Every byte of every page, each with operands FB 00 after it (DD CB and FD CB: FB before it),
// and the line that a byte the page does not know must give.
struct Form {
  Bytes bytes;
  Fields placeholder;
};
std::vector<Form> everyByte() {
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
  std::vector<Form> forms;
  for (const Page& page : pages) {
    const int n = static_cast<int>(page.prefix.size());
    const Fields placeholder = n == 0 ? Fields{}
                                      : Fields{code(page.prefix, n), page.placeholder,
                                               std::to_string(n), std::to_string(4 * n)};
    for (int op = 0; op < 256; ++op) {
      const bool prefix = op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD;
      if ((n == 0 && prefix) || (n == 1 && page.prefix[0] != 0xCB && op == 0xCB)) continue;
      Bytes bytes = page.prefix;
      for (int b : n == 2 ? Bytes{0xFB, op} : Bytes{op, 0xFB, 0x00}) bytes.push_back(b);
      forms.push_back({bytes, placeholder});
    }
  }
  return forms;
}

// Prefixes and opcode, the same for a form and its line: "DD CB 46" for DD CB FB 46.
std::string key(const Bytes& b) {
  const bool bits = b.size() > 3 && (b[0] == 0xDD || b[0] == 0xFD) && b[1] == 0xCB;
  const bool prefixed =
      b.size() > 1 && (b[0] == 0xCB || b[0] == 0xED || b[0] == 0xDD || b[0] == 0xFD);
  std::string k = hex(b.empty() ? 0 : b[0], 2);
  if (bits) return k + " CB " + hex(b[3], 2);
  return prefixed ? k + " " + hex(b[1], 2) : k;
}

// Jumps in both runs, so PC shows no length: JP nn, CALL nn, JR e, RET, RST, JP (HL), HALT,
// JP (IX), JP (IY), by the Z80 manual.
int jumpLength(const Bytes& b) {
  if (b[0] == 0xDD || b[0] == 0xFD) return 2;
  return b[0] == 0xC3 || b[0] == 0xCD ? 3 : b[0] == 0x18 ? 2 : 1;
}

int write(const char* path) {
  std::ofstream out(path, std::ios::binary);
  out << kHeader;
  int lines = 0;
  for (const Form& form : everyByte()) {
    const Fields f = observe(form.bytes, jumpLength(form.bytes));
    if (f != form.placeholder) out << format(f) << '\n', ++lines;
  }
  std::printf("forms_test: %d forms written to %s\n", lines, path);
  return out.flush() ? 0 : 2;
}

int check(const char* path) {
  std::ifstream in(path);
  if (!in) return std::fprintf(stderr, "forms_test: cannot read %s\n", path), 2;
  struct Line {
    int number;
    Bytes bytes;
    Fields fields;
  };
  std::map<std::string, Line> listed;
  int number = 0;
  for (std::string text; std::getline(in, text);) {
    if (++number, text.empty() || text[0] == '#') continue;
    Line line{number, {}, {}};
    for (std::size_t at = 0, gap; at < text.size(); at = text.find_first_not_of(' ', gap)) {
      gap = text.find("  ", at);
      line.fields.push_back(text.substr(at, gap - at));
    }
    std::istringstream code(line.fields[0]);
    for (std::string b; code >> b;) line.bytes.push_back(std::stoi(b, nullptr, 16));
    if (line.fields.size() < 4 || line.bytes.empty() ||
        !listed.emplace(key(line.bytes), line).second)
      return std::fprintf(stderr, "%s:%d: not a line of the listing\n", path, number), 2;
  }
  int differences = 0;
  std::size_t found = 0;
  const auto differ = [&](const std::string& where, const Fields& want, const Fields& got) {
    if (++differences <= 20)
      std::printf("%s\n  expected:   %s\n  core gives: %s\n", where.c_str(), format(want).c_str(),
                  format(got).c_str());
  };
  for (const Form& form : everyByte()) {
    const auto it = listed.find(key(form.bytes));
    if (it == listed.end()) {
      const Fields got = observe(form.bytes, 0);
      if (got != form.placeholder) differ("not listed, so not decoded:", form.placeholder, got);
      continue;
    }
    const Line& line = it->second;
    const Fields got = observe(line.bytes, static_cast<int>(line.bytes.size()));
    if (++found, got != line.fields)
      differ(std::string(path) + ":" + std::to_string(line.number) + ":", line.fields, got);
  }
  if (found != listed.size())
    std::printf("%zu lines name no byte of a page\n", listed.size() - found);
  std::printf("forms_test: %zu forms listed, %d differences\n", listed.size(), differences);
  return differences == 0 && found == listed.size() ? 0 : 1;
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
