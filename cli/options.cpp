#include "options.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "machine_state.h"
#include "ports.h"

namespace korvel::cli {

const char* const kUsage =
    "Usage: korvel-cli [--steps N] [--trace] [--tstates] [--in LIST] [--out-log FILE]\n"
    "                  [--dump START:LEN] [--break ADDR]... PROGRAM\n"
    "\n"
    "Loads PROGRAM, a raw Z80 memory image of at most 65536 bytes (Intel HEX when it ends in\n"
    ".hex or .ihx), at 0000H and runs it from 0000H with all registers 0 until it meets a HALT\n"
    "opcode (76H) or has run N instructions. A PROGRAM named *.asm, *.z80 or *.s (in any case)\n"
    "is Z80 assembly source: it is assembled first, as korvel-asm does, and its errors are\n"
    "reported as FILE:LINE:COLUMN.\n"
    "\n"
    "  --steps N          run at most N instructions (decimal, default 1000000)\n"
    "  --trace            after every instruction print its address, its text and all\n"
    "                     registers and flags, separated by tabs\n"
    "  --in LIST          bytes for the port reads, used in order: two hexadecimal digits\n"
    "                     each, separated by commas (e.g. 05,ff,0A); when they are used up,\n"
    "                     every read asks for its byte on the terminal\n"
    "  --out-log FILE     file to which every OUT appends its line (default out.log in the\n"
    "                     current directory; - for standard output)\n"
    "  --dump START:LEN   after the run print LEN bytes of memory from address START, both\n"
    "                     hexadecimal (e.g. 0100:20), sixteen bytes to a row\n"
    "  --tstates          after the closing instruction line, print the T-states that a\n"
    "                     real Z80 takes for the instructions run: T-states: N\n"
    "  --break ADDR       stop before executing the instruction at ADDR (hexadecimal,\n"
    "                     0000 to FFFF); may be given several times\n"
    "  --help             print this text and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "Exit status: 0 the program reached HALT, 1 the step limit ended the run, 2 an error\n"
    "(bad command line, program file not loadable, port input ended, log not writable),\n"
    "3 the run stopped at a breakpoint.\n";

std::string versionText(const char* program) {
  return std::string(program) +
         " (Korvel) " KORVEL_VERSION
         "\n"
         "Copyright (C) 2026 the Korvel developers.\n"
         "This program comes with NO WARRANTY, to the extent permitted by law.\n";
}

namespace {

// Parses the whole of `text` as an unsigned number in `base`.
std::optional<std::uint64_t> parseWhole(const std::string& text, int base) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::string parseInputs(const std::string& list, std::vector<std::int32_t>& inputs) {
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = list.find(',', begin);
    const std::string entry =
        list.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
    const std::optional<std::int32_t> value = parsePortEntry(entry);
    if (!value) {
      return "--in: \"" + entry +
             "\" is not a port byte; each entry must be exactly two hexadecimal digits "
             "(00 to FF), separated by commas";
    }
    inputs.push_back(*value);
    if (comma == std::string::npos) return {};
    begin = comma + 1;
  }
}

std::string parseDump(const std::string& text, std::optional<DumpRange>& dump) {
  const std::string wrongForm = "--dump: \"" + text +
                                "\" is not START:LEN with START and LEN in hexadecimal "
                                "(e.g. 0100:20)";
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return wrongForm;
  const std::optional<std::uint64_t> start = parseWhole(text.substr(0, colon), 16);
  const std::optional<std::uint64_t> length = parseWhole(text.substr(colon + 1), 16);
  if (!start || !length) return wrongForm;
  if (*start >= static_cast<std::uint64_t>(kMemorySize) ||
      *length > static_cast<std::uint64_t>(kMemorySize) - *start) {
    return "--dump: " + text + " reaches past the last address FFFFH";
  }
  dump = DumpRange{static_cast<std::int32_t>(*start), static_cast<std::int32_t>(*length)};
  return {};
}

}  // namespace

std::optional<std::int64_t> parseStepCount(const std::string& text) {
  const std::optional<std::uint64_t> value = parseWhole(text, 10);
  if (!value || *value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return std::nullopt;
  return static_cast<std::int64_t>(*value);
}

ParseResult parseOptions(const std::vector<std::string>& args) {
  ParseResult result;
  Options& o = result.options;
  std::vector<std::string> programs;
  bool optionsEnded = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      programs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return result;
    }
    if (arg == "--version") {
      o.version = true;
      return result;
    }
    if (arg == "--trace") {
      o.trace = true;
      continue;
    }
    if (arg == "--tstates") {
      o.tstates = true;
      continue;
    }

    // The options with a value take it as the next argument or after "=".
    std::string name = arg;
    std::optional<std::string> value;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (name != "--steps" && name != "--in" && name != "--out-log" && name != "--dump" &&
        name != "--break") {
      result.error = "unknown option " + arg;
      return result;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        result.error = "option " + name + " needs a value";
        return result;
      }
      value = args[++i];
    }

    if (name == "--steps") {
      const std::optional<std::int64_t> steps = parseStepCount(*value);
      if (!steps) {
        result.error = "--steps: \"" + *value +
                       "\" is not a step count; give a whole number from 0 up, in decimal";
        return result;
      }
      o.steps = *steps;
    } else if (name == "--in") {
      o.inputs.clear();
      result.error = parseInputs(*value, o.inputs);
    } else if (name == "--out-log") {
      if (value->empty()) {
        result.error = "--out-log needs a file name (or - for standard output)";
      }
      o.outLog = *value;
    } else if (name == "--break") {
      const std::optional<std::uint64_t> address = parseWhole(*value, 16);
      if (!address || *address >= static_cast<std::uint64_t>(kMemorySize)) {
        result.error =
            "--break: \"" + *value + "\" is not an address; give 0000 to FFFF in hexadecimal";
      } else {
        o.breakpoints.push_back(static_cast<std::int32_t>(*address));
      }
    } else {
      result.error = parseDump(*value, o.dump);
    }
    if (!result.error.empty()) return result;
  }

  if (programs.empty()) {
    result.error = "no program file given";
  } else if (programs.size() > 1) {
    result.error =
        "only one program file can be run, but " + std::to_string(programs.size()) + " were given";
  } else {
    o.program = programs.front();
  }
  return result;
}

}  // namespace korvel::cli
