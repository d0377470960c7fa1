#include "commandline.h"

namespace korvel::ui {

const char* const kUsage =
    "Usage: korvel [OPTION]... [PROGRAM]\n"
    "Open the Korvel window, a Z80 simulator for learners, with PROGRAM loaded at 0000H\n"
    "when one is given, as File > Open Program loads it (a relative path is taken from\n"
    "the current directory).\n"
    "\n"
    "PROGRAM is read by its extension, in any case: .hex and .ihx as Intel HEX; .asm, .z80\n"
    "and .s as assembly source, which opens in the source editor and is assembled there; any\n"
    "other name as a raw memory image of at most 65536 bytes. A PROGRAM that cannot be\n"
    "loaded is reported in the window, which opens all the same.\n"
    "\n"
    "      --quit-after-run     run PROGRAM at the Extremely Fast rate once the window is up,\n"
    "                           print how the run ended and exit: status 0 when it reached\n"
    "                           HALT, 1 otherwise (a hook for tests and scripts)\n"
    "      --screenshot=PREFIX  save pictures of the windows as PREFIX-*.png and exit\n"
    "      --status-log=FILE    append to FILE every text that the status bar gives about\n"
    "                           runs and loads and every note under the source editor, one\n"
    "                           a line (a hook for tests and scripts)\n"
    "      --help               display this help and exit\n"
    "      --version            output version information and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted too.\n";

const char* const kVersion = "korvel (Korvel) " KORVEL_VERSION
                             "\n"
                             "Korvel is provided as is, without any warranty.\n";

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  const auto problem = [&line](std::string text) {
    if (line.error.empty()) line.error = std::move(text);
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (line.program) {
        problem("extra operand '" + arg + "'");
      } else {
        line.program = arg;
      }
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--quit-after-run") {
      line.quitAfterRun = true;
    } else if (arg.rfind("--status-log=", 0) == 0) {
      line.statusLog = arg.substr(13);
    } else if (arg == "--status-log") {
      if (i + 1 < args.size()) {
        line.statusLog = args[++i];
      } else {
        problem("option '--status-log' requires an argument");
      }
    } else if (arg.rfind("--screenshot=", 0) == 0) {
      line.screenshot = arg.substr(13);
    } else if (arg == "--screenshot") {
      if (i + 1 < args.size()) {
        line.screenshot = args[++i];
      } else {
        problem("option '--screenshot' requires an argument");
      }
    } else if (arg.rfind("--", 0) == 0) {
      problem("unrecognized option '" + arg + "'");
    } else {
      problem("invalid option -- '" + arg.substr(1) + "'");
    }
  }
  return line;
}

}  // namespace korvel::ui
