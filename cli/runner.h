// The runner behind korvel-cli: loads a program image and runs it on the Korvel core without
// a window, the way the Extremely Fast rate does, with an optional trace of every
// instruction. It works on the streams it is given, so that it can also be driven in
// process.
#pragma once

#include <cstdio>
#include <istream>
#include <string>
#include <vector>

#include "options.h"

namespace korvel::cli {

inline constexpr int kExitHalted = 0;
inline constexpr int kExitStepLimit = 1;
inline constexpr int kExitError = 2;
inline constexpr int kExitBreakpoint = 3;

// The whole command: `args` is the command line without the program's own name. Normal
// output goes to `out`; errors and the port prompts go to `err`, and the answers to the
// prompts are lines of `in`. Returns the exit status.
int runCommandLine(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                   std::istream& in);

// One run with options already parsed (not --help).
int run(const Options& options, std::FILE* out, std::FILE* err, std::istream& in);

}  // namespace korvel::cli
