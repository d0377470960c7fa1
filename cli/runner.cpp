#include "cli/runner.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "assembler/assembler.h"
#include "cli/output.h"
#include "core/machine.h"
#include "peripherals/loader.h"
#include "peripherals/ports.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;

void printError(std::FILE* err, const std::string& message) {
  std::fprintf(err, "korvel-cli: %s\n", message.c_str());
}

// The user answers port reads on the terminal: the prompt goes to standard error and the
// answer is one line of standard input. End of input means no answer will ever come.
class TerminalPrompter : public Prompter {
 public:
  TerminalPrompter(OutputBuffer& out, std::FILE* err, std::istream& in)
      : out_(out), err_(err), in_(in) {}

  std::optional<std::string> ask(const std::string& prompt) override {
    out_.flush();  // what the program printed so far comes before the question
    std::fprintf(err_, "%s\n", prompt.c_str());
    std::fflush(err_);
    std::string line;
    if (!std::getline(in_, line)) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

 private:
  OutputBuffer& out_;
  std::FILE* err_;
  std::istream& in_;
};

// Port reads take the --in bytes first, then ask on the terminal.
class CliPortInput : public PortInput {
 public:
  CliPortInput(const std::vector<std::int32_t>& answers, Prompter& prompter)
      : answers_(answers.begin(), answers.end()), prompted_(prompter) {}

  std::optional<std::int32_t> portin(std::int32_t portnum,
                                     std::int32_t instructionAddress) override {
    if (!answers_.empty()) {
      const std::int32_t value = answers_.front();
      answers_.pop_front();
      return value;
    }
    std::optional<std::int32_t> value = prompted_.portin(portnum, instructionAddress);
    if (!value) {
      ended_ = true;
      endedPort_ = portnum;
      endedAddress_ = instructionAddress;
    }
    return value;
  }

  bool ended() const { return ended_; }
  std::string endMessage() const {
    char address[4];
    writeHex4(address, endedAddress_);
    return "input ended while the instruction at " + std::string(address, sizeof address) +
           "H was waiting for data on port " + hhex(endedPort_) + "H";
  }

 private:
  std::deque<std::int32_t> answers_;
  PromptedPortInput prompted_;
  bool ended_ = false;
  std::int32_t endedPort_ = 0;
  std::int32_t endedAddress_ = 0;
};

// OUT lines go to a log file, or to standard output with the same CR LF line ends.
class CliPortOutput : public PortOutput {
 public:
  CliPortOutput(const std::string& log, OutputBuffer& out)
      : toStdout_(log == "-"), file_(log), out_(out) {}

  bool portout(std::int32_t portnum, std::int32_t portdata) override {
    if (!toStdout_) {
      if (file_.portout(portnum, portdata)) return true;
      error_ = file_.lastError();
      return false;
    }
    out_.write(portLogLine(portnum, portdata));
    out_.write("\r\n");
    if (out_.flush()) return true;
    error_ = kStdoutFailed;
    return false;
  }

  const std::string& error() const { return error_; }
  bool standardOutputFailed() const { return error_ == kStdoutFailed; }
  static constexpr const char* kStdoutFailed = "Cannot write to standard output";

 private:
  bool toStdout_;
  LogFilePortOutput file_;
  OutputBuffer& out_;
  std::string error_;
};

// ekran ends every tick; while tracing it prints the tick's line. It is also called by
// clean, so it prints only while a run is going.
class TraceDisplay : public Display {
 public:
  explicit TraceDisplay(OutputBuffer& out) : out_(out) {}

  void attach(const Machine& machine) { machine_ = &machine; }
  void setTracing(bool on) { tracing_ = on; }

  void ekran() override {
    if (!tracing_ || machine_->tickAbandoned()) return;
    char* line = out_.reserve(4 + 1 + Machine::kMaxTextLength + 1 + kStateLineLength + 1);
    line = writeHex4(line, machine_->instructionAddress());
    *line++ = '\t';
    line += machine_->writeInstructionText(line);
    *line++ = '\t';
    line = writeStateLine(line, machine_->state());
    *line++ = '\n';
    out_.commit(line);
  }

 private:
  OutputBuffer& out_;
  const Machine* machine_ = nullptr;
  bool tracing_ = false;
};

// HALT executed by a tick asks for a stop; the run loop then ends.
class CliRunControl : public RunControl {
 public:
  void attach(Machine& machine) { machine_ = &machine; }
  void menustop_Click() override {
    if (machine_ != nullptr) machine_->requestStop();
  }

 private:
  Machine* machine_ = nullptr;
};

void printDump(OutputBuffer& out, const MachineState& s, const DumpRange& range) {
  for (std::int32_t offset = 0; offset < range.length; offset += 16) {
    const int count = range.length - offset < 16 ? range.length - offset : 16;
    char* row = out.reserve(kMaxDumpRowLength + 1);
    row = writeDumpRow(row, s, range.start + offset, count);
    *row++ = '\n';
    out.commit(row);
  }
}

// An assembly source is assembled in memory and loaded as Program Loader loads an image;
// its errors are printed as korvel-asm prints them.
bool loadSource(Machine& machine, const fs::path& source, std::FILE* err) {
  const assembler::Result result = assembler::assembleFile(source);
  for (const assembler::Diagnostic& d : result.errors) {
    std::fprintf(err, "%s\n", assembler::formatDiagnostic(d).c_str());
  }
  if (!result.ok()) return false;
  machine.clean();
  MachineState& s = machine.state();
  std::fill(s.memory.begin(), s.memory.end(), 0);
  std::copy(result.image.begin(), result.image.end(), s.memory.begin());
  return true;
}

}  // namespace

int run(const Options& options, std::FILE* outFile, std::FILE* err, std::istream& in) {
  OutputBuffer out(outFile);
  TerminalPrompter prompter(out, err, in);
  CliPortInput input(options.inputs, prompter);
  CliPortOutput output(options.outLog, out);
  TraceDisplay display(out);
  CliRunControl control;

  auto state = std::make_unique<MachineState>();
  Machine machine(*state, MachineHooks{&display, &input, &output, &control});
  display.attach(machine);
  control.attach(machine);

  const fs::path program(options.program);
  const bool source = assembler::isSourceFile(program);
  if (source && !loadSource(machine, program, err)) return kExitError;
  std::error_code ec;
  fs::path folder = fs::absolute(program, ec).parent_path();
  if (ec) folder = program.parent_path();
  std::string shownName = program.filename().string();
  for (char& c : shownName) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const LoadOutcome loaded = source
                                 ? LoadOutcome{true, kLoadCompleted}
                                 : loadImage(machine, program, shownName, shownDirectory(folder));
  if (!loaded.loaded) {
    printError(err, loaded.message);
    return kExitError;
  }

  // Every run starts like Start: registers and flags 0, PC = 0000H, memory as loaded.
  machine.clean();
  display.setTracing(options.trace);
  const RunResult result = runExtremelyFast(machine, options.steps);
  display.setTracing(false);

  int status = kExitStepLimit;
  bool halted = false;
  const MachineState& s = machine.state();
  if (result.end == RunEnd::Halted ||
      (result.end == RunEnd::StopRequested && s.memory[s.PC & 0xFFFF] == kHaltOpcode)) {
    halted = true;
    status = kExitHalted;
  } else if (result.end == RunEnd::Abandoned) {
    out.flush();
    printError(err, input.ended()            ? input.endMessage()
                    : output.error().empty() ? "the instruction at PC could not be completed"
                                             : output.error());
    status = kExitError;
  }

  if (options.dump) printDump(out, s, *options.dump);

  std::string summary;
  if (halted) {
    char address[4];
    writeHex4(address, s.PC);
    summary = "halted at " + std::string(address, sizeof address) + "H after " +
              std::to_string(result.instructions) + " instructions\n";
  } else {
    summary = "stopped after " + std::to_string(result.instructions) + " instructions\n";
  }
  summary += "instruction: " + machine.instructionText() + "\n";
  out.write(summary);
  char* line = out.reserve(kStateLineLength + 1);
  line = writeStateLine(line, s);
  *line++ = '\n';
  out.commit(line);

  if (!out.flush()) {
    // An OUT line to standard output that failed has been reported already.
    if (!output.standardOutputFailed()) printError(err, CliPortOutput::kStdoutFailed);
    return kExitError;
  }
  return status;
}

int runCommandLine(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                   std::istream& in) {
  const ParseResult parsed = parseOptions(args);
  if (parsed.options.help) {
    std::fputs(kUsage, out);
    return std::fflush(out) == 0 ? 0 : kExitError;
  }
  if (!parsed.error.empty()) {
    std::fprintf(err, "korvel-cli: %s\nTry 'korvel-cli --help' for more information.\n",
                 parsed.error.c_str());
    return kExitError;
  }
  return run(parsed.options, out, err, in);
}

}  // namespace korvel::cli
