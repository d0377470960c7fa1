// Peak resident memory of korvel-cli: the whole workload without a trace, and a million
// traced instructions with standard output to /dev/null. The peak is the child's VmHWM read
// just before it exits; ru_maxrss from wait4 is printed beside it as a cross-check (Linux
// counts the launcher's own size at fork time into that one, so it can only be larger).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using korvel::bench::ChildOutput;
using korvel::bench::ChildResult;

struct Case {
  const char* name;
  std::vector<std::string> arguments;
};

}  // namespace

int main(int argc, char** argv) {
  std::string cli = KORVEL_CLI_PATH;
  std::string image = KORVEL_BENCH_DATA_DIR "/workload.bin";
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cli" && i + 1 < argc) {
      cli = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      const auto n = korvel::bench::parseCount(argv[++i]);
      if (!n || *n > 100) {
        std::fputs("bench_cli_memory: --runs takes a number from 1 to 100\n", stderr);
        return 2;
      }
      runs = static_cast<int>(*n);
    } else if (!arg.empty() && arg[0] != '-') {
      image = arg;
    } else {
      std::fputs(
          "Usage: bench_cli_memory [--runs N] [--cli PATH] [IMAGE]\n"
          "Prints the peak resident memory (KB) of korvel-cli running IMAGE (default: the\n"
          "workload) to its HALT, and running 1000000 traced instructions to /dev/null.\n",
          stderr);
      return 2;
    }
  }
  if (cli.empty() || !std::filesystem::exists(cli)) {
    std::fprintf(stderr, "bench_cli_memory: no korvel-cli binary%s%s; pass --cli PATH\n",
                 cli.empty() ? "" : " at ", cli.c_str());
    return 2;
  }

  const std::vector<Case> cases = {
      {"run to HALT, no trace", {"--steps", "1000000000", "--out-log", "-", image}},
      {"--trace --steps 1000000", {"--trace", "--steps", "1000000", "--out-log", "-", image}},
  };
  std::printf("korvel-cli: %s\nimage: %s\n", cli.c_str(), image.c_str());
  bool good = true;
  for (const Case& c : cases) {
    std::vector<std::string> command = {cli};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    long peak = 0;
    long maxRss = 0;
    bool caseGood = true;
    for (int i = 0; i < runs && caseGood; ++i) {
      const ChildResult child = korvel::bench::runChild(command, ChildOutput::DevNull, true);
      // 0: the program reached its HALT; 1: the step limit ended the run.
      if (!child.started || !child.exited || child.status > 1) {
        std::fprintf(stderr, "bench_cli_memory: %s: %s %d\n", c.name,
                     !child.started ? child.error.c_str()
                     : child.exited ? "korvel-cli failed with exit status"
                                    : "korvel-cli was killed by signal",
                     child.status);
        caseGood = false;
        break;
      }
      peak = std::max(peak, child.peakKb);
      maxRss = std::max(maxRss, child.maxRssKb);
    }
    if (!caseGood) {
      good = false;
      continue;
    }
    std::printf("%-26s peak RSS %6ld KB (%.2f MB)   [wait4 ru_maxrss %ld KB]\n", c.name, peak,
                static_cast<double>(peak) / 1024.0, maxRss);
  }
  return good ? 0 : 1;
}
