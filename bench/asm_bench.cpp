// The assembler's speed: a generated source of 10,000 lines with every kind of statement
// (instructions of every page, labels, forward references to labels and to a chain of EQUs,
// expressions, DB, DW, DS, comments) is assembled in memory several times; the median time
// is printed. The goal is at most 50 ms in a Release build.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "assembler.h"
#include "bench_support.h"

namespace {

const char* const kUsage =
    "Usage: bench_asm [--runs N] [--write FILE]\n"
    "\n"
    "Assembles a generated 10,000-line source in memory N times (default 21) and prints\n"
    "the time of each run's median, the fastest run and the lines per second. --write saves\n"
    "the source to FILE as well.\n";

constexpr int kBlocks = 500;  // of 20 lines each

std::string generatedSource() {
  std::string s;
  char line[128];
  const auto add = [&s, &line](const char* format, auto... values) {
    std::snprintf(line, sizeof line, format, values...);
    s += line;
    s += '\n';
  };
  for (int i = 0; i < kBlocks; ++i) {
    add("; block %d: code with forward references, then its data", i);
    add("b%d:     ld   a,c%d+1            ; an EQU defined further down", i, i);
    add("        ld   hl,t%d              ; a label further down", i);
    add("        ld   (ix+%d),a", i % 128);
    add("        bit  %d,(iy-%d)", i % 8, i % 100);
    add("        jr   nz,n%d", i);
    add("        call s%d", i);
    add("n%d:     djnz b%d", i, i);
    add("        add  a,(hl)");
    add("        sub  LOW(t%d) & 7FH", i);
    add("        ld   de,(t%d+2)", i);
    add("        ex   af,af'");
    add("        out  (c),a");
    add("        jp   z,b%d", (i + 1) % kBlocks);
    add("s%d:     ret", i);
    add("t%d:     db   \"blk\",%d,HIGH($)", i, i % 256);
    add("        dw   b%d,t%d*2+1", i, i);
    add("c%d      equ  d%d-1", i, i);
    add("d%d:     equ  %d+2", i, i % 100);
    add("        ds   2");
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 21;
  std::string write;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      const auto n = korvel::bench::parseCount(argv[++i]);
      if (!n || *n > 10000) {
        std::fputs(kUsage, stderr);
        return 2;
      }
      runs = static_cast<int>(*n);
    } else if (arg == "--write" && i + 1 < argc) {
      write = argv[++i];
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }

  const std::string source = generatedSource();
  if (!write.empty() && !(std::ofstream(write, std::ios::binary) << source)) {
    std::fprintf(stderr, "bench_asm: cannot write %s\n", write.c_str());
    return 2;
  }
  std::vector<double> milliseconds;
  std::size_t bytes = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const korvel::assembler::Result r = korvel::assembler::assembleText(source, "bench.asm");
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (!r.ok()) {
      std::fprintf(stderr, "bench_asm: the generated source has errors; the first:\n%s\n",
                   korvel::assembler::formatDiagnostic(r.errors[0]).c_str());
      return 1;
    }
    bytes = r.image.size();
    milliseconds.push_back(took.count());
  }
  const double median = korvel::bench::median(milliseconds);
  const int lines = kBlocks * 20;
  std::printf("source: %d lines, %zu bytes of text; image: %zu bytes\n", lines, source.size(),
              bytes);
  std::printf(
      "assemble in memory (listing and symbols included), %d runs: median %.2f ms, "
      "fastest %.2f ms, %.0f lines/s (goal: at most 50 ms)\n",
      runs, median, *std::min_element(milliseconds.begin(), milliseconds.end()),
      lines / (median / 1000.0));
  return 0;
}
