// Trace lines per second of `korvel-cli --trace`: the workload is run for a fixed number of
// instructions with standard output to /dev/null, several times; the median is printed.
// One extra run first reads the trace through a pipe to count its lines and bytes, so that
// the figure is known to be lines actually produced.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using korvel::bench::ChildOutput;
using korvel::bench::ChildResult;

const char* const kUsage =
    "Usage: bench_trace_throughput [--runs N] [--steps N] [--cli PATH] [IMAGE]\n"
    "\n"
    "Runs 'korvel-cli --trace --steps N IMAGE' (default N 10000000, IMAGE the workload) with\n"
    "standard output to /dev/null, runs times (default 5), and prints trace lines per\n"
    "second for each run and their median. IMAGE must not reach its HALT within N steps.\n";

// The run must end on its step limit (exit status 1), having printed a line per step.
bool ranToLimit(const ChildResult& child) {
  if (!child.started) {
    std::fprintf(stderr, "bench_trace_throughput: %s\n", child.error.c_str());
    return false;
  }
  if (!child.exited || child.status != 1) {
    std::fprintf(stderr,
                 "bench_trace_throughput: korvel-cli %s %d; the run must end on its step "
                 "limit (exit status 1)\n",
                 child.exited ? "ended with exit status" : "was killed by signal", child.status);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<korvel::bench::ImageOptions> parsed = korvel::bench::parseImageOptions(
      argc, argv, {KORVEL_BENCH_DATA_DIR "/workload.bin", 5, 10000000, KORVEL_CLI_PATH}, "--steps",
      false);
  if (!parsed) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const korvel::bench::ImageOptions& options = *parsed;
  if (options.cli.empty() || !std::filesystem::exists(options.cli)) {
    std::fprintf(stderr, "bench_trace_throughput: no korvel-cli binary%s%s; pass --cli PATH\n",
                 options.cli.empty() ? "" : " at ", options.cli.c_str());
    return 2;
  }
  const std::vector<std::string> command = {
      options.cli, "--trace", "--steps",    std::to_string(options.count),
      "--out-log", "-",       options.image};
  std::printf("command: korvel-cli --trace --steps %lld --out-log - %s\n",
              static_cast<long long>(options.count), options.image.c_str());

  const ChildResult counted = korvel::bench::runChild(command, ChildOutput::Capture, false);
  if (!ranToLimit(counted)) return 1;
  if (counted.lines < static_cast<std::uint64_t>(options.count)) {
    std::fprintf(stderr, "bench_trace_throughput: %llu lines for %lld steps\n",
                 static_cast<unsigned long long>(counted.lines),
                 static_cast<long long>(options.count));
    return 1;
  }
  const double steps = static_cast<double>(options.count);
  std::printf(
      "through a pipe: %llu lines (%llu after the trace), %.1f bytes per line, "
      "%.0f trace lines/s\n",
      static_cast<unsigned long long>(counted.lines),
      static_cast<unsigned long long>(counted.lines) -
          static_cast<unsigned long long>(options.count),
      static_cast<double>(counted.bytes) / static_cast<double>(counted.lines),
      steps / counted.seconds);

  std::vector<double> rates;
  for (int i = 0; i < options.runs; ++i) {
    const ChildResult child = korvel::bench::runChild(command, ChildOutput::DevNull, false);
    if (!ranToLimit(child)) return 1;
    rates.push_back(steps / child.seconds);
    std::printf("run %d: %.3f s, %.0f lines/s\n", i + 1, child.seconds, rates.back());
    std::fflush(stdout);
  }
  std::printf("median to /dev/null: %.0f trace lines/s (%.2f M lines/s)\n",
              korvel::bench::median(rates), korvel::bench::median(rates) / 1e6);
  return 0;
}
