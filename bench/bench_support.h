// Small helpers shared by the benchmark programs: medians, loading an image, and running
// a program as a child process while measuring its wall time and peak resident memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvel::bench {

double median(std::vector<double> values);

// The whole file, or nullopt (with `error` set) if it cannot be read or exceeds 64 KB.
std::optional<std::vector<std::uint8_t>> readImage(const std::string& path, std::string& error);

// A whole positive decimal number; nullopt for anything else.
std::optional<std::int64_t> parseCount(const std::string& text);

// The command line the image benchmarks share: [--runs N] [COUNT_OPTION N] [--cli PATH]
// [--no-cli] [IMAGE], starting from `defaults`. nullopt for anything else.
struct ImageOptions {
  std::string image;
  int runs = 5;
  std::int64_t count = 0;  // the value of COUNT_OPTION: a step limit
  std::string cli;         // korvel-cli; empty with --no-cli
};
std::optional<ImageOptions> parseImageOptions(int argc, char** argv, ImageOptions defaults,
                                              const std::string& countOption, bool allowNoCli);

enum class ChildOutput {
  DevNull,  // standard output goes to /dev/null
  Capture,  // standard output is read through a pipe: lines counted, the tail kept
};

struct ChildResult {
  bool started = false;  // false: fork or exec failed (see `error`)
  std::string error;
  bool exited = false;    // false: ended by a signal
  int status = 0;         // the exit status, or the signal number
  double seconds = 0;     // wall time from fork to the end of the child
  double cpuSeconds = 0;  // user and system CPU time of the child (wait4)
  // Peak resident memory of the program itself (VmHWM just before it exits), in KB;
  // -1 unless peak measurement was asked for.
  long peakKb = -1;
  // ru_maxrss from wait4, in KB. Linux folds the parent's resident size at fork time into
  // it, so it is an upper bound on the child's own peak.
  long maxRssKb = 0;
  std::uint64_t lines = 0;  // newlines read (Capture only)
  std::uint64_t bytes = 0;  // bytes read (Capture only)
  std::string tail;         // the last 64 KB of standard output (Capture only)
};

// Runs argv[0] with the arguments argv[1..]; standard error is inherited, standard input
// is /dev/null. With `measurePeak` the child is traced only to be stopped once at its
// exit, where its VmHWM is read; nothing else is intercepted.
ChildResult runChild(const std::vector<std::string>& argv, ChildOutput output, bool measurePeak);

}  // namespace korvel::bench
