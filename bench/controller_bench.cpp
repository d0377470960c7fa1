// The controller's Extremely Fast run of 1,000,000 instructions of a jump to itself (18H FEH),
// as the window makes it, with and without its bookkeeping: nothing, T-states, step-back
// history, history with eight breakpoints that are never reached. Prints the median time of
// each and its ratio to the run without bookkeeping, and the memory the history takes.
//   bench_controller [--runs N]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "controller.h"

namespace {

struct NoOutput final : korvel::OutputSink {
  bool write(std::int32_t, std::int32_t) override { return true; }
  std::string error() const override { return {}; }
};

}  // namespace

int main(int argc, char** argv) {
  int runs = 9;
  if (argc == 3 && std::strcmp(argv[1], "--runs") == 0 && std::atoi(argv[2]) > 0) {
    runs = std::atoi(argv[2]);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: bench_controller [--runs N]\n");
    return 2;
  }
  NoOutput output;
  korvel::Controller controller(output);
  controller.loadImage({0x18, 0xFE});
  struct Variant {
    const char* name;
    bool tstates, history;
    int breakpoints;
  };
  const Variant variants[] = {{"no bookkeeping", false, false, 0},
                              {"T-states", true, false, 0},
                              {"T-states and history", true, true, 0},
                              {"T-states, history, 8 breakpoints", true, true, 8}};
  double base = 0;
  for (const Variant& v : variants) {
    controller.setCountTStates(v.tstates);
    controller.setHistoryEnabled(v.history);
    for (int b = 0; b < 8; ++b) controller.removeBreakpoint(0x1000 + b);
    for (int b = 0; b < v.breakpoints; ++b) controller.setBreakpoint(0x1000 + b);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
      const auto begin = std::chrono::steady_clock::now();
      controller.start(korvel::RunMode::Fast);
      korvel::RunEvent event = korvel::RunEvent::Executed;
      while (event == korvel::RunEvent::Executed || event == korvel::RunEvent::SliceDone)
        event = controller.runSlice(begin + std::chrono::milliseconds(10));
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
              .count());
      if (event != korvel::RunEvent::LimitReached || controller.fastRunCount() != 1000000) {
        std::fprintf(stderr, "bench_controller: the run did not do 1000000 instructions\n");
        return 1;
      }
    }
    const double m = korvel::bench::median(ms);
    if (base == 0) base = m;
    std::printf("%-34s %7.2f ms  (%.2f x the run without bookkeeping)\n", v.name, m, m / base);
    if (v.history)
      std::printf("%-34s %7.1f MB for %zu instructions\n", "  history",
                  static_cast<double>(controller.history()->memoryBytes()) / (1024.0 * 1024.0),
                  controller.historySize());
  }
  return 0;
}
