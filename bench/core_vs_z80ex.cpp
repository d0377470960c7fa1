// Instructions per second of Korvel's core against z80ex, a mature interpretive Z80 library,
// on the same image, run side by side: the runs alternate between the two so that both
// see the same machine load. Korvel runs the way korvel-cli runs it (the controller's
// Extremely Fast run from a clean start, with a display hook called after every
// instruction); z80ex steps until its HALT. Optionally korvel-cli itself is timed as a process,
// load included.
//
// Every run is checked: the instruction count and final registers of both simulators must
// agree with each other, with the whole of memory, and, for the two workload images, with
// the recorded register table of the workload. Any difference ends with exit status 1.
// Korvel also runs counting T-states (as korvel-cli --tstates and the window do), and its
// total must equal the sum of z80ex's steps.
#include <z80ex/z80ex.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "bench_support.h"
#include "controller.h"
#include "machine.h"
#include "machine_state.h"
#include "timing.h"

namespace {

using korvel::bench::median;

// Final registers of one run, as 16-bit pairs (the flags are not compared: Korvel models
// only four of them and not always as the silicon does).
struct Registers {
  std::int64_t instructions = 0;
  int PC = 0, SP = 0, A = 0, BC = 0, DE = 0, HL = 0, IX = 0, IY = 0;
  int altA = 0, altBC = 0, altDE = 0, altHL = 0;
};

struct Field {
  const char* name;
  int Registers::*field;
};
constexpr std::array<Field, 12> kFields = {{{"PC", &Registers::PC},
                                            {"SP", &Registers::SP},
                                            {"A", &Registers::A},
                                            {"BC", &Registers::BC},
                                            {"DE", &Registers::DE},
                                            {"HL", &Registers::HL},
                                            {"IX", &Registers::IX},
                                            {"IY", &Registers::IY},
                                            {"A'", &Registers::altA},
                                            {"BC'", &Registers::altBC},
                                            {"DE'", &Registers::altDE},
                                            {"HL'", &Registers::altHL}}};

// The workload's own record of its final state (bench/data/README.md). The 1M image's
// record leaves the alternate registers out.
struct Recorded {
  const char* file;
  Registers regs;
  bool hasAlternates;
};
const std::array<Recorded, 2> kRecorded = {{
    {"workload.bin",
     {49977646, 0x01A0, 0x0000, 0x50, 0x262A, 0x77D2, 0x51A8, 0x8220, 0x8260, 0xFD, 0x0000, 0x41D1,
      0xEE4B},
     true},
    {"workload-1m.bin",
     {999666, 0x01A0, 0x0000, 0x64, 0xABBB, 0xFBED, 0x5032, 0x8220, 0x8260, 0, 0, 0, 0},
     false},
}};

std::string hex(int value, int digits) {
  if (value < 0) return "nothing";
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// Prints every difference between two register sets; true when there is none.
bool compare(const char* what, const Registers& expected, const Registers& got,
             bool withAlternates) {
  bool same = true;
  if (expected.instructions != got.instructions) {
    std::printf("MISMATCH %s: instructions: expected %lld, got %lld\n", what,
                static_cast<long long>(expected.instructions),
                static_cast<long long>(got.instructions));
    same = false;
  }
  for (const Field& f : kFields) {
    if (!withAlternates && f.name[std::char_traits<char>::length(f.name) - 1] == '\'') continue;
    const int digits = f.name[0] == 'A' ? 2 : 4;
    if (expected.*f.field != got.*f.field) {
      std::printf("MISMATCH %s: %s: expected %s, got %s\n", what, f.name,
                  hex(expected.*f.field, digits).c_str(), hex(got.*f.field, digits).c_str());
      same = false;
    }
  }
  return same;
}

// Wall time and this thread's CPU time; the CPU time is what the other users of a shared
// machine disturb least.
struct Clock {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double cpu = threadCpuSeconds();

  static double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
};

struct Elapsed {
  double wall = 0;
  double cpu = 0;
};

Elapsed since(const Clock& start) {
  const Clock now;
  return {std::chrono::duration<double>(now.wall - start.wall).count(), now.cpu - start.cpu};
}

// ---- Korvel ---------------------------------------------------------------------------

// The display hook of a run without a window: called after every instruction, it only
// counts, so the loop pays for the call exactly as korvel-cli does without --trace.
class CountingDisplay final : public korvel::Display {
 public:
  void ekran() override { ++calls; }
  std::int64_t calls = 0;
};

class NoOutput final : public korvel::OutputSink {
 public:
  bool write(std::int32_t, std::int32_t) override { return true; }
  std::string error() const override { return {}; }
};

struct KorvelRun {
  Elapsed time;
  Registers regs;
  std::int64_t ekranCalls = 0, tstates = 0;
  korvel::RunEvent end = korvel::RunEvent::LimitReached;
  std::vector<std::uint8_t> memory;
};

// A run as korvel-cli makes it: the controller's Extremely Fast run from a clean start, with
// or without counting T-states (korvel-cli --tstates).
KorvelRun runKorvel(const std::vector<std::uint8_t>& image, std::int64_t limit, bool tstates) {
  NoOutput output;
  CountingDisplay display;
  korvel::Controller controller(output, &display);
  controller.loadImage(image);
  controller.setCountTStates(tstates);

  const Clock start;
  korvel::RunEvent event = controller.start(korvel::RunMode::Fast, limit);
  const std::int64_t callsBefore = display.calls;  // the refreshes of loading and clean
  while (event == korvel::RunEvent::Executed || event == korvel::RunEvent::SliceDone)
    event = controller.runSlice(std::chrono::steady_clock::time_point::max());
  KorvelRun run;
  run.time = since(start);
  run.end = event;
  run.ekranCalls = display.calls - callsBefore;
  run.tstates = controller.tstates();
  const korvel::MachineState& s = controller.state();
  run.regs = {
      controller.fastRunCount(), s.PC, s.SP, s.A,    s.B * 256 + s.C,       s.D * 256 + s.E,
      s.H * 256 + s.L,           s.IX, s.IY, s.altA, s.altB * 256 + s.altC, s.altD * 256 + s.altE,
      s.altH * 256 + s.altL};
  run.memory.assign(s.memory.begin(), s.memory.end());
  return run;
}

// ---- z80ex ----------------------------------------------------------------------------

Z80EX_BYTE z80exMemory[65536];

Z80EX_BYTE readMemory(Z80EX_CONTEXT*, Z80EX_WORD address, int, void*) {
  return z80exMemory[address];
}
void writeMemory(Z80EX_CONTEXT*, Z80EX_WORD address, Z80EX_BYTE value, void*) {
  z80exMemory[address] = value;
}
Z80EX_BYTE readPort(Z80EX_CONTEXT*, Z80EX_WORD, void*) {
  return 0xFF;
}
void writePort(Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}
Z80EX_BYTE readInterruptVector(Z80EX_CONTEXT*, void*) {
  return 0xFF;
}

struct Z80exRun {
  Elapsed time;
  Registers regs;
  bool halted = false;
  std::int64_t tstates = 0;
  std::vector<std::uint8_t> memory;
};

// One z80ex_step runs one opcode or one prefix; an instruction is complete when the last
// step's opcode type is 0. The HALT itself is executed by z80ex but not counted, which
// gives the count of Korvel's loop (instructions before the HALT).
Z80exRun runZ80ex(const std::vector<std::uint8_t>& image, std::int64_t limit) {
  std::fill(std::begin(z80exMemory), std::end(z80exMemory), Z80EX_BYTE{0});
  std::copy(image.begin(), image.end(), std::begin(z80exMemory));
  Z80EX_CONTEXT* cpu = z80ex_create(readMemory, nullptr, writeMemory, nullptr, readPort, nullptr,
                                    writePort, nullptr, readInterruptVector, nullptr);
  for (Z80_REG_T reg : {regAF, regBC, regDE, regHL, regAF_, regBC_, regDE_, regHL_, regIX, regIY,
                        regPC, regSP, regI, regR, regR7, regIM, regIFF1, regIFF2}) {
    z80ex_set_reg(cpu, reg, 0);
  }

  Z80exRun run;
  std::int64_t instructions = 0;
  const Clock start;
  while (instructions < limit) {
    int tstates = 0;
    do {
      tstates += z80ex_step(cpu);
    } while (z80ex_last_op_type(cpu) != 0);
    if (z80ex_doing_halt(cpu)) {
      run.halted = true;
      break;
    }
    ++instructions;
    run.tstates += tstates;
  }
  run.time = since(start);
  const auto reg = [cpu](Z80_REG_T r) { return static_cast<int>(z80ex_get_reg(cpu, r)); };
  run.regs = {instructions, reg(regPC),  reg(regSP), reg(regAF) >> 8, reg(regBC),
              reg(regDE),   reg(regHL),  reg(regIX), reg(regIY),      reg(regAF_) >> 8,
              reg(regBC_),  reg(regDE_), reg(regHL_)};
  z80ex_destroy(cpu);
  run.memory.assign(std::begin(z80exMemory), std::end(z80exMemory));
  return run;
}

// ---- korvel-cli as a process ----------------------------------------------------------

// The register line of korvel-cli ("PC=01A0 SP=0000 ... L'=4B ...") as name -> value.
std::map<std::string, int> parseStateLine(const std::string& output) {
  std::map<std::string, int> values;
  const std::size_t at = output.rfind("PC=");
  if (at == std::string::npos) return values;
  std::istringstream line(output.substr(at, output.find('\n', at) - at));
  std::string item;
  while (line >> item) {
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    values[item.substr(0, eq)] = static_cast<int>(std::strtol(item.c_str() + eq + 1, nullptr, 16));
  }
  return values;
}

// Checks the end of korvel-cli's output against the oracle's registers.
bool checkCliOutput(const korvel::bench::ChildResult& child, const Registers& expected,
                    bool halted) {
  bool good = true;
  if (!child.started || !child.exited || child.status != (halted ? 0 : 1)) {
    std::printf(
        "MISMATCH korvel-cli: %s exit status %d\n",
        child.started ? (child.exited ? "unexpected" : "killed by signal, ") : child.error.c_str(),
        child.status);
    good = false;
  }
  std::string count = " ";
  count += std::to_string(expected.instructions);
  count += " instructions";
  if (child.tail.find(count) == std::string::npos) {
    std::printf("MISMATCH korvel-cli: the output does not report%s\n", count.c_str());
    good = false;
  }
  const std::map<std::string, int> v = parseStateLine(child.tail);
  const auto get = [&v](const char* name) {
    const auto it = v.find(name);
    return it == v.end() ? -1 : it->second;
  };
  const auto pair = [&get](const char* high, const char* low) {
    return get(high) < 0 || get(low) < 0 ? -1 : get(high) * 256 + get(low);
  };
  Registers got{expected.instructions, get("PC"),        get("SP"),       get("A"),  pair("B", "C"),
                pair("D", "E"),        pair("H", "L"),   get("IX"),       get("IY"), get("A'"),
                pair("B'", "C'"),      pair("D'", "E'"), pair("H'", "L'")};
  return compare("korvel-cli", expected, got, true) && good;
}

// ---- the benchmark --------------------------------------------------------------------

const char* const kUsage =
    "Usage: bench_core_vs_z80ex [--runs N] [--limit N] [--cli PATH | --no-cli] [IMAGE]\n"
    "\n"
    "Runs IMAGE (default: the 50M-instruction workload) N times (default 5) on Korvel's core\n"
    "and on z80ex, alternately, and prints instructions per second, the medians and their\n"
    "ratio. With a korvel-cli binary (built alongside, or --cli PATH) it also times\n"
    "korvel-cli as a process on IMAGE. --limit caps every run (default 1000000000).\n"
    "Exit status 1 if any run's registers or counts differ from the other simulator or the\n"
    "workload's recorded state, 2 on a bad command line or image.\n";

double mips(std::int64_t instructions, double seconds) {
  return seconds > 0 ? static_cast<double>(instructions) / seconds / 1e6 : 0;
}

// M instructions/s of one simulator's runs, by wall time and by CPU time.
struct Rates {
  std::vector<double> wall, cpu;
  void add(std::int64_t instructions, const Elapsed& time) {
    wall.push_back(mips(instructions, time.wall));
    cpu.push_back(mips(instructions, time.cpu));
  }
  std::string last() const {
    char text[32];
    std::snprintf(text, sizeof text, "%10.2f (%7.2f)", wall.back(), cpu.back());
    return text;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::optional<korvel::bench::ImageOptions> parsed = korvel::bench::parseImageOptions(
      argc, argv, {KORVEL_BENCH_DATA_DIR "/workload.bin", 5, 1000000000, KORVEL_CLI_PATH},
      "--limit", true);
  if (!parsed) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const korvel::bench::ImageOptions& options = *parsed;
  std::string error;
  const auto image = korvel::bench::readImage(options.image, error);
  if (!image) {
    std::fprintf(stderr, "bench_core_vs_z80ex: %s\n", error.c_str());
    return 2;
  }
  const std::string fileName = std::filesystem::path(options.image).filename().string();
  const Recorded* recorded = nullptr;
  for (const Recorded& r : kRecorded) {
    if (fileName == r.file) recorded = &r;
  }
  const bool withCli = !options.cli.empty() && std::filesystem::exists(options.cli);

  std::printf("image %s (%zu bytes), %d runs each, limit %lld instructions\n",
              options.image.c_str(), image->size(), options.runs,
              static_cast<long long>(options.count));
  std::printf("z80ex %s; korvel-cli: %s\n", z80ex_get_version()->as_string,
              withCli ? options.cli.c_str() : "not measured");
  std::printf("M instructions/s per run, by wall time and (in brackets) by CPU time:\n");
  std::printf("%-4s %20s %20s %20s %20s\n", "run", "Korvel core", "counting T-states", "z80ex",
              "korvel-cli");

  bool allGood = true;
  Rates korvelRates, timedRates, z80exRates, cliRates;
  std::vector<double> pairRatios, cliSeconds;
  std::int64_t instructions = 0, timedTotal = 0;
  for (int i = 0; i < options.runs; ++i) {
    // Alternate which simulator goes first so that neither always runs on a warmer cache.
    KorvelRun k, timed;
    Z80exRun z;
    if (i % 2 == 0) {
      k = runKorvel(*image, options.count, false);
      timed = runKorvel(*image, options.count, true);
      z = runZ80ex(*image, options.count);
    } else {
      z = runZ80ex(*image, options.count);
      timed = runKorvel(*image, options.count, true);
      k = runKorvel(*image, options.count, false);
    }
    instructions = z.regs.instructions;
    timedTotal = timed.tstates;

    // z80ex is the oracle for every run; the recorded table checks both.
    bool good = compare("Korvel vs z80ex", z.regs, k.regs, true);
    good = compare("Korvel counting T-states vs z80ex", z.regs, timed.regs, true) && good;
    if (timed.tstates != z.tstates) {
      std::printf("MISMATCH T-states: Korvel %lld, z80ex %lld\n",
                  static_cast<long long>(timed.tstates), static_cast<long long>(z.tstates));
      good = false;
    }
    if (k.memory != z.memory) {
      std::printf("MISMATCH Korvel vs z80ex: memory differs\n");
      good = false;
    }
    if (k.ekranCalls != k.regs.instructions) {
      std::printf("MISMATCH Korvel: ekran called %lld times for %lld instructions\n",
                  static_cast<long long>(k.ekranCalls),
                  static_cast<long long>(k.regs.instructions));
      good = false;
    }
    if (z.halted != (k.end == korvel::RunEvent::Halted)) {
      std::printf("MISMATCH: only one simulator reached the HALT\n");
      good = false;
    }
    if (recorded != nullptr) {
      good = compare("Korvel vs recorded state", recorded->regs, k.regs, recorded->hasAlternates) &&
             good;
      good = compare("z80ex vs recorded state", recorded->regs, z.regs, recorded->hasAlternates) &&
             good;
    }
    korvelRates.add(instructions, k.time);
    timedRates.add(instructions, timed.time);
    z80exRates.add(instructions, z.time);
    pairRatios.push_back(korvelRates.wall.back() / z80exRates.wall.back());

    if (withCli) {
      const std::vector<std::string> command = {
          options.cli, "--steps", std::to_string(options.count), "--out-log", "-", options.image};
      const auto child =
          korvel::bench::runChild(command, korvel::bench::ChildOutput::Capture, false);
      good = checkCliOutput(child, z.regs, z.halted) && good;
      cliRates.add(instructions, {child.seconds, child.cpuSeconds});
      cliSeconds.push_back(child.seconds);
    }
    allGood = allGood && good;

    std::printf("%-4d %s %s %s", i + 1, korvelRates.last().c_str(), timedRates.last().c_str(),
                z80exRates.last().c_str());
    if (withCli) std::printf(" %s", cliRates.last().c_str());
    std::printf("%s\n", good ? "" : "   (check failed)");
    std::fflush(stdout);
  }

  const double k = median(korvelRates.wall);
  const double z = median(z80exRates.wall);
  const double kCpu = median(korvelRates.cpu);
  const double zCpu = median(z80exRates.cpu);
  std::printf("instructions per run: %lld\n", static_cast<long long>(instructions));
  std::printf("median Korvel core:   %8.2f M instructions/s (CPU time: %.2f)\n", k, kCpu);
  const double kt = median(timedRates.wall), ktCpu = median(timedRates.cpu);
  std::printf(
      "median counting T-states: %.2f M instructions/s (CPU time: %.2f; %+.2f ns per "
      "instruction)\n",
      kt, ktCpu, 1e3 / ktCpu - 1e3 / kCpu);
  std::printf("T-states per run: %lld, as z80ex counts them\n", static_cast<long long>(timedTotal));
  std::printf("median z80ex:         %8.2f M instructions/s (CPU time: %.2f)\n", z, zCpu);
  std::printf("ratio Korvel / z80ex: %8.2f (CPU time: %.2f; median of the per-run ratios: %.2f)\n",
              k / z, kCpu / zCpu, median(pairRatios));
  if (withCli) {
    const double c = median(cliRates.wall);
    std::printf(
        "median korvel-cli:    %8.2f M instructions/s (CPU time: %.2f; %.3f s per run, "
        "load included)\n",
        c, median(cliRates.cpu), median(cliSeconds));
    std::printf("ratio korvel-cli / z80ex: %4.2f (CPU time: %.2f)\n", c / z,
                median(cliRates.cpu) / zCpu);
  }
  if (recorded == nullptr) {
    std::printf(
        "self-check: no recorded state for %s; Korvel and z80ex checked against each "
        "other only\n",
        fileName.c_str());
  }
  std::printf("self-check: %s\n", allGood ? "passed" : "FAILED");
  return allGood ? 0 : 1;
}
