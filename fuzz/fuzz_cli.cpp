// libFuzzer target for korvel-cli, run whole and in process: the command line, the program
// file, the answers typed at the port prompts, and everything the runner prints. The checks
// come from the runner's documented behaviour (README, --help), not from its code.
//
// Input layout: the arguments separated by NUL bytes; two NUL bytes; standard input; two NUL
// bytes; the program file part. Without the second pair of NUL bytes there is no program
// file. The file part starts with a control byte: bit 0 makes standard output refuse every
// write; bit 1 makes the next two bytes h, l stand for a file of (h × 256 + l) × 2 bytes (0
// to 131070) filled with the rest of the part repeated. The program file and the OUT log
// always live in a private temporary directory, whatever the arguments name: PROGRAM is
// program.bin there, --out-log is - (kept), or out.log there, or (for a name with a slash)
// a file in a directory that does not exist.
#include <stdio.h>  // open_memstream
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "machine_state.h"
#include "options.h"
#include "ports.h"
#include "runner.h"

namespace {

namespace fs = std::filesystem;
namespace cli = korvel::cli;

// A run that may print a trace line per instruction is kept short.
constexpr std::int64_t kMaxSteps = 1000;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_cli: %s\n", what.c_str());
  std::abort();
}

void expect(bool condition, const std::string& what) {
  if (!condition) fail(what);
}

const fs::path& tempDirectory() {
  static const fs::path dir = [] {
    char pattern[] = "/tmp/korvel-fuzz-cli-XXXXXX";
    if (mkdtemp(pattern) == nullptr) fail("cannot create a temporary directory");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(tempDirectory(), ec);
    });
    return fs::path(pattern);
  }();
  return dir;
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t begin = 0;;) {
    const std::size_t end = text.find(separator, begin);
    parts.emplace_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) return parts;
    begin = end + 1;
  }
}

bool isHex(const std::string& text, std::size_t at, std::size_t digits) {
  if (at + digits > text.size()) return false;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(text[i])) || std::islower(text[i])) return false;
  }
  return true;
}

int hexAt(const std::string& text, std::size_t at, std::size_t digits) {
  return static_cast<int>(std::strtol(text.substr(at, digits).c_str(), nullptr, 16));
}

// Oracles for the two number forms of the command line.
std::optional<int> expectedPortEntry(const std::string& entry) {
  if (entry.size() != 2 || !std::isxdigit(static_cast<unsigned char>(entry[0])) ||
      !std::isxdigit(static_cast<unsigned char>(entry[1]))) {
    return std::nullopt;
  }
  return static_cast<int>(std::strtol(entry.c_str(), nullptr, 16));
}

std::optional<std::int64_t> expectedStepCount(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (INT64_MAX - (c - '0')) / 10) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// "PC=0014 SP=F000 ... Carry'=0 Zero'=0 Sign'=0 Parity'=0": the fields in this order, upper
// case hexadecimal, flags 0 or 1. Returns PC.
int checkStateLine(const std::string& line) {
  static const char* const kNames[] = {
      "PC", "SP", "IX",    "IY",   "A",      "B",      "C",     "D",      "E",
      "H",  "L",  "Carry", "Zero", "Sign",   "Parity", "A'",    "B'",     "C'",
      "D'", "E'", "H'",    "L'",   "Carry'", "Zero'",  "Sign'", "Parity'"};
  const std::vector<std::string> fields = split(line, ' ');
  expect(fields.size() == std::size(kNames), "register line \"" + line + "\"");
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string name = std::string(kNames[i]) + "=";
    const std::size_t digits = i < 4 ? 4 : (i >= 11 && i < 15) || i >= 22 ? 1 : 2;
    const bool good = fields[i].size() == name.size() + digits && fields[i].starts_with(name) &&
                      isHex(fields[i], name.size(), digits) &&
                      (digits != 1 || fields[i].back() <= '1');
    expect(good, "register line field \"" + fields[i] + "\"");
  }
  return hexAt(fields[0], 3, 4);
}

// "Data 41H sent to port 05H", and the line end that follows it.
bool isOutLine(const std::string& line) {
  return line.size() == 26 && line.starts_with("Data ") && isHex(line, 5, 2) &&
         line.substr(7, 15) == "H sent to port " && isHex(line, 22, 2) && line[24] == 'H' &&
         line[25] == '\r';
}

struct Captured {
  int status = -1;
  std::string out, err;
};

Captured runCaptured(bool fullOutput, const std::string& input,
                     const std::vector<std::string>* args, const cli::Options* options) {
  char* outText = nullptr;
  char* errText = nullptr;
  std::size_t outSize = 0, errSize = 0;
  std::FILE* out = fullOutput ? std::fopen("/dev/full", "w") : open_memstream(&outText, &outSize);
  std::FILE* err = open_memstream(&errText, &errSize);
  if (out == nullptr || err == nullptr) fail("cannot open the output streams");
  std::istringstream in(input);
  Captured c;
  c.status =
      args != nullptr ? cli::runCommandLine(*args, out, err, in) : cli::run(*options, out, err, in);
  std::fclose(out);
  std::fclose(err);
  if (outText != nullptr) c.out.assign(outText, outSize);
  c.err.assign(errText, errSize);
  std::free(outText);
  std::free(errText);
  return c;
}

// The prompts on standard error against the lines of standard input that answered them:
// a read asks until a line is a port byte; each further question of the same read starts
// with "WRONG ENTRY !!!"; input that ends fails the run, naming the waiting read. Returns
// the error lines that follow the prompts.
std::vector<std::string> checkPrompts(const std::vector<std::string>& errLines,
                                      const std::string& input) {
  std::vector<std::string> answers;
  std::istringstream in(input);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    answers.push_back(line);
  }
  std::size_t prompts = 0;
  std::string lastPrompt;
  std::vector<std::string> errors;
  for (std::size_t i = 0; i < errLines.size(); ++i) {
    const std::string& line = errLines[i];
    if (line.starts_with("korvel-cli: ")) {
      errors.assign(errLines.begin() + static_cast<std::ptrdiff_t>(i), errLines.end());
      for (const std::string& e : errors) expect(e.starts_with("korvel-cli: "), "after an error");
      break;
    }
    const bool wrong = line == "WRONG ENTRY !!!\r";
    const std::string& prompt = wrong && i + 1 < errLines.size() ? errLines[++i] : line;
    expect(prompt.size() == 47 && isHex(prompt, 0, 4) &&
               prompt.substr(4, 31) == "H: Enter data received on port " && isHex(prompt, 35, 2) &&
               prompt.substr(37) == "H [00-FF]!",
           "prompt \"" + prompt + "\"");
    expect(prompts <= answers.size(), "asked again after the input ended");
    const bool afterWrongAnswer = prompts > 0 && !expectedPortEntry(answers[prompts - 1]);
    expect(wrong == afterWrongAnswer, "WRONG ENTRY does not follow exactly the wrong answers");
    if (wrong) expect(prompt == lastPrompt, "a repeated prompt names another read");
    lastPrompt = prompt;
    ++prompts;
  }
  const std::string ended = "korvel-cli: input ended while the instruction at ";
  if (prompts > answers.size()) {
    expect(!errors.empty() && errors[0] == ended + lastPrompt.substr(0, 4) +
                                               "H was waiting for data on port " +
                                               lastPrompt.substr(35, 3),
           "the end of input is not reported as the error, naming the read");
  } else {
    expect(prompts == 0 || expectedPortEntry(answers[prompts - 1]),
           "a read ended on an answer that is not a port byte");
    expect(errors.empty() || !errors[0].starts_with(ended),
           "input ended reported while answers were left");
  }
  return errors;
}

// The output of a run whose program loaded: trace lines and OUT lines, the dump rows, the
// closing summary and register line.
void checkRun(const cli::Options& o, const std::string& input, const std::string& image,
              bool logWritable, bool fullOutput, const Captured& c) {
  std::vector<std::string> errLines = split(c.err, '\n');
  expect(errLines.back().empty(), "standard error does not end with a line end");
  errLines.pop_back();
  const std::vector<std::string> errors = checkPrompts(errLines, input);
  expect(c.status >= 0 && c.status <= 3, "exit status " + std::to_string(c.status));
  expect((c.status == cli::kExitError) == !errors.empty(),
         "exit status " + std::to_string(c.status) + " with " + std::to_string(errors.size()) +
             " errors");
  if (fullOutput) {
    // A run that failed otherwise reports that first.
    expect(errors.size() <= 2 && errors.back() == "korvel-cli: Cannot write to standard output",
           "an output that refuses writes is not reported");
    return;
  }
  expect(errors.size() <= 1, "more than one error reported");
  const std::string lastErr = errors.empty() ? std::string() : errors.back();
  const bool logFailed = lastErr.starts_with("korvel-cli: Cannot write to ");
  expect(!logFailed || (!logWritable && lastErr.find("out.log") != std::string::npos),
         "OUT log error \"" + lastErr + "\"");

  // The summary: how the run ended, the instruction, with --tstates the T-states, the state.
  std::vector<std::string> lines = split(c.out, '\n');
  const std::size_t summary = o.tstates ? 5 : 4;
  expect(lines.size() >= summary && lines.back().empty(), "summary missing");
  const int pc = checkStateLine(lines[lines.size() - 2]);
  std::int64_t tstates = -1;
  expect(!o.tstates ||
             std::sscanf(lines[lines.size() - 3].c_str(), "T-states: %" SCNd64, &tstates) == 1,
         "T-states line missing");
  expect(lines[lines.size() - summary + 1].starts_with("instruction: "),
         "instruction line missing");
  const std::string& result = lines[lines.size() - summary];
  const std::string stopAt = result.size() > 26 ? result.substr(22, 4) : std::string();
  std::int64_t count = -1;
  if (std::sscanf(result.c_str(), "halted at %*4XH after %" SCNd64 " instructions", &count) == 1) {
    expect(c.status == cli::kExitHalted &&
               result.substr(10, 4) == lines[lines.size() - 2].substr(3, 4),
           "halted line \"" + result + "\"");
  } else if (std::sscanf(result.c_str(),
                         "stopped at breakpoint %*4XH after %" SCNd64 " instructions",
                         &count) == 1) {
    // It stands before an instruction the run reached, on one of the breakpoints.
    expect(c.status == cli::kExitBreakpoint && isHex(stopAt, 0, 4) && hexAt(stopAt, 0, 4) == pc &&
               std::find(o.breakpoints.begin(), o.breakpoints.end(), pc) != o.breakpoints.end(),
           "breakpoint line \"" + result + "\"");
  } else {
    expect(std::sscanf(result.c_str(), "stopped after %" SCNd64 " instructions", &count) == 1,
           "result line \"" + result + "\"");
    expect(c.status != cli::kExitHalted, "stopped but exit status 0");
    expect(c.status != cli::kExitStepLimit || count == o.steps, "step limit ended the run early");
  }
  expect(count >= 0 && count <= o.steps, "instruction count beyond the step limit");
  const std::string how = c.status == cli::kExitHalted ? "halted at " + result.substr(10, 4) + "H"
                          : c.status == cli::kExitBreakpoint
                              ? "stopped at breakpoint " + stopAt + "H"
                              : std::string("stopped");
  expect(result == how + " after " + std::to_string(count) + " instructions",
         "result line \"" + result + "\"");
  expect(!o.tstates || (tstates >= 4 * count && tstates <= 23 * count), "T-states out of reach");

  std::size_t rows = 0;
  if (o.dump) {
    rows = static_cast<std::size_t>((o.dump->length + 15) / 16);
    expect(lines.size() >= summary + rows, "dump rows missing");
    for (std::size_t r = 0; r < rows; ++r) {
      const std::string& row = lines[lines.size() - summary - rows + r];
      const int address = o.dump->start + static_cast<int>(r) * 16;
      const int cells = std::min(16, o.dump->length - static_cast<int>(r) * 16);
      expect(row.size() == 6 + 3 * static_cast<std::size_t>(cells) && isHex(row, 0, 4) &&
                 hexAt(row, 0, 4) == address && row.substr(4, 2) == ": ",
             "dump row \"" + row + "\"");
      for (int i = 0; i < cells; ++i) {
        const std::size_t at = 6 + 3 * static_cast<std::size_t>(i);
        expect(isHex(row, at, 2) && row[at + 2] == ' ', "dump row \"" + row + "\"");
        // Before the first instruction memory holds the file, zeros after it.
        const std::size_t cell = static_cast<std::size_t>(address + i);
        const int loaded = cell < image.size() ? static_cast<unsigned char>(image[cell]) : 0;
        expect(count != 0 || hexAt(row, at, 2) == loaded, "dump differs from the file");
      }
    }
  }

  // Before the dump: one trace line per instruction (address, text, registers), each at
  // the PC the previous one left; OUT lines when the log is standard output.
  std::int64_t traced = 0;
  int expectedAddress = 0;
  std::string lastState;
  for (std::size_t i = 0; i + summary + rows < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (o.outLog == "-" && isOutLine(line)) continue;
    const std::vector<std::string> parts = split(line, '\t');
    expect(o.trace && parts.size() == 3 && parts[0].size() == 4 && isHex(parts[0], 0, 4) &&
               !parts[1].empty(),
           "unexpected output line \"" + line + "\"");
    expect(hexAt(parts[0], 0, 4) == expectedAddress, "trace address is not the previous PC");
    expectedAddress = checkStateLine(parts[2]);
    lastState = parts[2];
    ++traced;
  }
  if (o.trace) {
    expect(traced == count, "trace lines " + std::to_string(traced) + " for " +
                                std::to_string(count) + " instructions");
    expect(traced == 0 || lastState == lines[lines.size() - 2],
           "the last trace line's registers differ from the final ones");
  }
  expect(count > 0 || pc == 0, "no instruction ran, but PC is not 0000H");
  if (logWritable && o.outLog != "-") {
    std::FILE* log = std::fopen((tempDirectory() / "out.log").c_str(), "rb");
    if (log == nullptr) return;  // no OUT ran
    std::string text;
    for (int ch; (ch = std::fgetc(log)) != EOF;) text += static_cast<char>(ch);
    std::fclose(log);
    std::vector<std::string> logLines = split(text, '\n');
    expect(logLines.back().empty(), "OUT log does not end with a line end");
    logLines.pop_back();
    for (const std::string& l : logLines) expect(isOutLine(l), "OUT log line \"" + l + "\"");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view whole(reinterpret_cast<const char*>(data), size);
  const std::string_view pair("\0\0", 2);
  const std::size_t argsEnd = whole.find(pair);
  const std::string_view argText = whole.substr(0, argsEnd);
  std::string input;
  std::optional<std::string> filePart;
  if (argsEnd != std::string_view::npos) {
    const std::string_view rest = whole.substr(argsEnd + 2);
    const std::size_t inputEnd = rest.find(pair);
    input = rest.substr(0, inputEnd);
    if (inputEnd != std::string_view::npos) filePart = rest.substr(inputEnd + 2);
  }
  std::vector<std::string> args = split(argText, '\0');
  if (args.size() > 32) args.resize(32);

  for (const std::string& arg : args) {
    const std::optional<std::int32_t> entry = korvel::parsePortEntry(arg);
    const std::optional<int> expected = expectedPortEntry(arg);
    expect(entry.has_value() == expected.has_value() && (!entry || *entry == *expected),
           "parsePortEntry disagrees on \"" + arg + "\"");
    expect(cli::parseStepCount(arg) == expectedStepCount(arg),
           "parseStepCount disagrees on \"" + arg + "\"");
  }

  const std::uint8_t control = filePart && !filePart->empty() ? (*filePart)[0] : 0;
  const bool fullOutput = (control & 1) != 0;
  const cli::ParseResult parsed = cli::parseOptions(args);
  if (parsed.options.help || parsed.options.version || !parsed.error.empty()) {
    const Captured c = runCaptured(fullOutput, input, &args, nullptr);
    if (parsed.options.help || parsed.options.version) {
      const char* start = parsed.options.help ? "Usage: korvel-cli " : "korvel-cli (Korvel) ";
      expect(c.status == (fullOutput ? cli::kExitError : 0) && c.err.empty() &&
                 (fullOutput || c.out.starts_with(start)),
             parsed.options.help ? "--help" : "--version");
    } else {
      expect(c.status == cli::kExitError && c.out.empty() && c.err.starts_with("korvel-cli: ") &&
                 c.err.ends_with("\nTry 'korvel-cli --help' for more information.\n"),
             "command line error \"" + c.err + "\"");
    }
    return 0;
  }

  // The program file, in the private directory.
  cli::Options o = parsed.options;
  o.steps = std::min(o.steps, kMaxSteps);
  o.program = (tempDirectory() / "program.bin").string();
  std::error_code ec;
  fs::remove(o.program, ec);
  fs::remove(tempDirectory() / "out.log", ec);
  std::string image;
  if (filePart) {
    std::string content = filePart->empty() ? std::string() : filePart->substr(1);
    std::size_t fileSize = content.size();
    if ((control & 2) != 0 && content.size() >= 2) {
      fileSize = (static_cast<unsigned char>(content[0]) * std::size_t{256} +
                  static_cast<unsigned char>(content[1])) *
                 2;
      content.erase(0, 2);
      if (content.empty()) fileSize = 0;
    }
    for (std::size_t at = 0; at < fileSize; at += content.size()) {
      image.append(content, 0, std::min(content.size(), fileSize - at));
    }
    std::FILE* file = std::fopen(o.program.c_str(), "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size() ||
        std::fclose(file) != 0) {
      fail("cannot write the program file");
    }
  }
  const bool logWritable = o.outLog.find('/') == std::string::npos;
  if (o.outLog != "-") {
    o.outLog = (logWritable ? tempDirectory() / "out.log"
                            : tempDirectory() / "no-such-directory" / "out.log")
                   .string();
  }

  const Captured c = runCaptured(fullOutput, input, nullptr, &o);
  if (!filePart || image.size() > static_cast<std::size_t>(korvel::kMemorySize)) {
    expect(c.status == cli::kExitError && c.out.empty() && c.err.starts_with("korvel-cli: ") &&
               std::count(c.err.begin(), c.err.end(), '\n') == 1,
           "a missing or oversize program file is not refused: \"" + c.err + "\"");
    return 0;
  }
  checkRun(o, input, image, logWritable, fullOutput, c);
  return 0;
}
