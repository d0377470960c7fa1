// The command line of korvel-cli.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvel::cli {

inline constexpr std::int64_t kDefaultSteps = 1000000;

struct DumpRange {
  std::int32_t start = 0;
  std::int32_t length = 0;
};

struct Options {
  std::int64_t steps = kDefaultSteps;
  bool trace = false;
  bool tstates = false;              // a closing line with the T-states of the run
  std::vector<std::int32_t> inputs;  // answers for the port reads, in order
  std::string outLog = "out.log";    // "-" is standard output
  std::optional<DumpRange> dump;
  std::vector<std::int32_t> breakpoints;  // the run stops before executing any of these
  std::string program;
  bool help = false;
  bool version = false;
};

struct ParseResult {
  Options options;
  std::string error;  // empty when the command line is good
};

ParseResult parseOptions(const std::vector<std::string>& args);

// A whole non-negative decimal number, no sign, no blanks; nullopt for anything else or
// a number too large for 64 bits.
std::optional<std::int64_t> parseStepCount(const std::string& text);

extern const char* const kUsage;
// The --version text: the program, the package and its version, in the GNU way.
std::string versionText(const char* program);

}  // namespace korvel::cli
