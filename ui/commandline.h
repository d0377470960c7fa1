// The command line of `korvel`: korvel [OPTION]... [PROGRAM]
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvel::ui {

extern const char* const kUsage;    // what --help prints
extern const char* const kVersion;  // what --version prints

struct CommandLine {
  bool help = false;
  bool version = false;
  std::optional<std::string> program;     // as given: relative to the current directory
  std::optional<std::string> screenshot;  // --screenshot PREFIX, a debugging aid
  bool quitAfterRun = false;              // --quit-after-run, a test hook
  std::optional<std::string> statusLog;   // --status-log FILE, a test hook
  std::string error;                      // the first problem, in the words of GNU programs
};

// `args` without the program name. Reads them all, so that --help and --version are seen
// even behind an option that only Qt knows (which Qt has not taken out yet).
CommandLine parseCommandLine(const std::vector<std::string>& args);

}  // namespace korvel::ui
