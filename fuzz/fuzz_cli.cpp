// libFuzzer target for korvel-cli's command line and file handling, in process: the
// argument parser, the --in and --dump values, the port prompt loop, the program loader with
// files of any content and size, and the memory rows and register line of the output.
//
// Input layout: arguments separated by NUL bytes, then two NUL bytes, then the program
// file. A file part that starts with FFH and two more bytes h, l stands for a file of
// (h × 256 + l) × 2 bytes (0 to 131070) filled with the rest of the part repeated.
// The file is always written to a private temporary directory, never to a fuzzed path.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "core/machine.h"
#include "peripherals/loader.h"
#include "peripherals/ports.h"

namespace {

namespace fs = std::filesystem;
using korvel::MachineState;

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

// Oracles written from the rules the runner documents, not from its code.
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

std::string expectedPrompt(std::int32_t address, std::int32_t port, bool repeated) {
  char text[96];
  std::snprintf(text, sizeof text, "%s%04XH: Enter data received on port %02XH [00-FF]!",
                repeated ? "WRONG ENTRY !!!\r\n" : "", static_cast<unsigned>(address),
                static_cast<unsigned>(port));
  return text;
}

// Answers the prompts with the fuzzed arguments in order, then says no answer can come.
class ScriptedPrompter final : public korvel::Prompter {
 public:
  explicit ScriptedPrompter(const std::vector<std::string>& answers) : answers_(answers) {}
  std::optional<std::string> ask(const std::string& prompt) override {
    prompts.push_back(prompt);
    if (next_ >= answers_.size()) return std::nullopt;
    return answers_[next_++];
  }
  std::vector<std::string> prompts;

 private:
  const std::vector<std::string>& answers_;
  std::size_t next_ = 0;
};

void checkArguments(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    const std::optional<std::int32_t> entry = korvel::parsePortEntry(arg);
    const std::optional<int> expected = expectedPortEntry(arg);
    expect(entry.has_value() == expected.has_value() && (!entry || *entry == *expected),
           "parsePortEntry disagrees on \"" + arg + "\"");
    const std::optional<std::int64_t> steps = korvel::cli::parseStepCount(arg);
    const std::optional<std::int64_t> expectedSteps = expectedStepCount(arg);
    expect(steps == expectedSteps, "parseStepCount disagrees on \"" + arg + "\"");
  }
}

void checkPrompting(const std::vector<std::string>& args, std::int32_t port, std::int32_t address) {
  ScriptedPrompter prompter(args);
  korvel::PromptedPortInput input(prompter);
  const std::optional<std::int32_t> value = input.portin(port, address);

  std::size_t firstValid = args.size();
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (expectedPortEntry(args[i])) {
      firstValid = i;
      break;
    }
  }
  if (firstValid == args.size()) {
    expect(!value, "portin returned a byte without a valid entry");
    expect(prompter.prompts.size() == args.size() + 1, "portin did not ask until input ended");
  } else {
    expect(value && *value == *expectedPortEntry(args[firstValid]),
           "portin returned the wrong byte");
    expect(prompter.prompts.size() == firstValid + 1, "portin asked a wrong number of times");
  }
  for (std::size_t i = 0; i < prompter.prompts.size(); ++i) {
    expect(prompter.prompts[i] == expectedPrompt(address, port, i > 0),
           "prompt text \"" + prompter.prompts[i] + "\"");
  }
}

void checkOptions(const korvel::cli::ParseResult& parsed) {
  if (parsed.options.help) return;
  if (!parsed.error.empty()) return;
  const korvel::cli::Options& o = parsed.options;
  expect(o.steps >= 0, "negative step count accepted");
  for (std::int32_t v : o.inputs) expect(v >= 0 && v <= 255, "--in byte out of range");
  if (o.dump) {
    expect(o.dump->start >= 0 && o.dump->start < korvel::kMemorySize, "--dump start out of range");
    expect(o.dump->length >= 0 && o.dump->start + o.dump->length <= korvel::kMemorySize,
           "--dump reaches past FFFFH");
  }
}

// Writes the program file, loads it as the runner does, and checks memory and message.
void checkLoading(const std::string& content, std::size_t size, korvel::Machine& machine) {
  const fs::path file = tempDirectory() / "program.bin";
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(file.c_str(), "wb"),
                                                        std::fclose);
    if (!out) fail("cannot write the program file");
    for (std::size_t written = 0; written < size;) {
      const std::size_t n = content.empty() ? 0 : std::min(content.size(), size - written);
      if (n == 0) break;
      if (std::fwrite(content.data(), 1, n, out.get()) != n) fail("cannot write the program file");
      written += n;
    }
  }
  const std::size_t actualSize = content.empty() ? 0 : size;

  MachineState& s = machine.state();
  s.A = 0x55;  // anything the load must reset
  s.PC = 0x1234;
  const korvel::LoadOutcome outcome =
      korvel::loadImage(machine, file, "PROGRAM.BIN", korvel::shownDirectory(tempDirectory()));
  expect(s.A == 0 && s.PC == 0, "load did not reset the registers");
  if (actualSize <= static_cast<std::size_t>(korvel::kMemorySize)) {
    expect(outcome.loaded && outcome.message == korvel::kLoadCompleted,
           "a file of " + std::to_string(actualSize) + " bytes was not loaded: " + outcome.message);
    for (std::size_t a = 0; a < s.memory.size(); ++a) {
      const int expected =
          a < actualSize ? static_cast<unsigned char>(content[a % content.size()]) : 0;
      if (s.memory[a] != expected) fail("memory after load differs at " + std::to_string(a));
    }
  } else {
    expect(!outcome.loaded && !outcome.message.empty(), "an oversize file was loaded");
    for (std::int32_t cell : s.memory) expect(cell == 0, "memory not cleared after a refused load");
  }
}

void checkDump(const korvel::cli::DumpRange& range, const MachineState& s) {
  for (std::int32_t offset = 0; offset < range.length; offset += 16) {
    const int count = range.length - offset < 16 ? range.length - offset : 16;
    char row[korvel::cli::kMaxDumpRowLength];
    const char* end = korvel::cli::writeDumpRow(row, s, range.start + offset, count);
    std::string expected;
    char piece[8];
    std::snprintf(piece, sizeof piece, "%04X: ", static_cast<unsigned>(range.start + offset));
    expected += piece;
    for (int i = 0; i < count; ++i) {
      std::snprintf(
          piece, sizeof piece, "%02X ",
          static_cast<unsigned>(s.memory[static_cast<std::size_t>(range.start + offset + i)]));
      expected += piece;
    }
    expect(std::string_view(row, static_cast<std::size_t>(end - row)) == expected, "dump row");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find(std::string_view("\0\0", 2));
  const std::string argText = input.substr(0, split);
  const std::string filePart = split == std::string::npos ? std::string() : input.substr(split + 2);

  std::vector<std::string> args;
  for (std::size_t begin = 0; begin <= argText.size() && args.size() < 32;) {
    const std::size_t nul = argText.find('\0', begin);
    args.push_back(
        argText.substr(begin, nul == std::string::npos ? std::string::npos : nul - begin));
    if (nul == std::string::npos) break;
    begin = nul + 1;
  }

  checkArguments(args);
  checkPrompting(args, static_cast<std::int32_t>(size % 256),
                 static_cast<std::int32_t>((size * 257) % 65536));
  for (std::size_t i = 0; i + 1 < size && i < 8; i += 2) {
    char line[40];
    std::snprintf(line, sizeof line, "Data %02XH sent to port %02XH", data[i + 1], data[i]);
    expect(korvel::portLogLine(data[i], data[i + 1]) == line, "port log line");
  }

  const korvel::cli::ParseResult parsed = korvel::cli::parseOptions(args);
  checkOptions(parsed);
  if (!parsed.error.empty() || parsed.options.help) return 0;

  std::string content = filePart;
  std::size_t fileSize = filePart.size();
  if (filePart.size() >= 3 && static_cast<unsigned char>(filePart[0]) == 0xFF) {
    fileSize = (static_cast<std::size_t>(static_cast<unsigned char>(filePart[1])) * 256 +
                static_cast<unsigned char>(filePart[2])) *
               2;
    content = filePart.substr(3);
  }
  static const std::unique_ptr<MachineState> state = std::make_unique<MachineState>();
  korvel::Machine machine(*state, korvel::MachineHooks{});
  checkLoading(content, fileSize, machine);
  if (parsed.options.dump) checkDump(*parsed.options.dump, *state);

  char line[korvel::cli::kStateLineLength + 1];
  const char* end = korvel::cli::writeStateLine(line, *state);
  expect(end - line == korvel::cli::kStateLineLength, "register line length");
  return 0;
}
