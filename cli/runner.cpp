#include "runner.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller.h"
#include "machine.h"
#include "output.h"
#include "ports.h"
#include "program_file.h"

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

// Port reads take the --in bytes first, then ask on the terminal; nullopt when the input
// has ended and no byte will ever come.
class CliPortInput {
 public:
  CliPortInput(const std::vector<std::int32_t>& answers, Prompter& prompter)
      : answers_(answers.begin(), answers.end()), prompted_(prompter) {}

  std::optional<std::int32_t> next(const InputRequest& request) {
    if (!answers_.empty()) {
      const std::int32_t value = answers_.front();
      answers_.pop_front();
      return value;
    }
    return prompted_.portin(request.port, request.address);
  }

 private:
  std::deque<std::int32_t> answers_;
  PromptedPortInput prompted_;
};

std::string inputEndedMessage(const InputRequest& request) {
  char address[4];
  writeHex4(address, request.address);
  return "input ended while the instruction at " + std::string(address, sizeof address) +
         "H was waiting for data on port " + hhex(request.port) + "H";
}

// OUT lines go to a log file, or to standard output with the same CR LF line ends.
class CliOutput : public OutputSink {
 public:
  CliOutput(const std::string& log, OutputBuffer& out)
      : toStdout_(log == "-"), file_(log), out_(out) {}

  bool write(std::int32_t portnum, std::int32_t portdata) override {
    if (!toStdout_) return file_.portout(portnum, portdata);
    out_.write(portLogLine(portnum, portdata));
    out_.write("\r\n");
    return out_.flush();
  }
  std::string error() const override { return toStdout_ ? kStdoutFailed : file_.lastError(); }
  static constexpr const char* kStdoutFailed = "Cannot write to standard output";

 private:
  bool toStdout_;
  LogFilePortOutput file_;
  OutputBuffer& out_;
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

void printDump(OutputBuffer& out, const MachineState& s, const DumpRange& range) {
  for (std::int32_t offset = 0; offset < range.length; offset += 16) {
    const int count = range.length - offset < 16 ? range.length - offset : 16;
    char* row = out.reserve(kMaxDumpRowLength + 1);
    row = writeDumpRow(row, s, range.start + offset, count);
    *row++ = '\n';
    out.commit(row);
  }
}

}  // namespace

int run(const Options& options, std::FILE* outFile, std::FILE* err, std::istream& in) {
  OutputBuffer out(outFile);
  TerminalPrompter prompter(out, err, in);
  CliPortInput input(options.inputs, prompter);
  CliOutput output(options.outLog, out);
  TraceDisplay display(out);
  // Without a trace nothing needs to see every instruction.
  Controller controller(output, options.trace ? &display : nullptr);
  display.attach(controller.machine());
  controller.setCountTStates(options.tstates);

  // A raw image, or Intel HEX by its extension; checked whole before it reaches memory.
  const ProgramRead program = readProgramFile(fs::path(options.program));
  if (!program.image) {
    // The assembler's messages name their file and line themselves, as compilers do.
    if (program.assemblerErrors)
      std::fprintf(err, "%s\n", program.message.c_str());
    else
      printError(err, program.message);
    return kExitError;
  }
  placeProgram(controller.machine(), *program.image);
  for (const std::int32_t address : options.breakpoints) controller.setBreakpoint(address);

  // Every run starts like Start: registers and flags 0, PC = 0000H, memory as loaded; then
  // it goes on as the Extremely Fast rate does, up to the step limit.
  RunEvent event = controller.start(RunMode::Fast, options.steps);
  display.setTracing(options.trace);
  const auto never = std::chrono::steady_clock::time_point::max();
  std::string error;
  while (event == RunEvent::Executed || event == RunEvent::SliceDone ||
         event == RunEvent::NeedsInput) {
    if (event != RunEvent::NeedsInput) {
      event = controller.runSlice(never);
      continue;
    }
    const InputRequest request = *controller.pendingInput();
    const std::optional<std::int32_t> byte = input.next(request);
    if (!byte) {
      controller.stop();
      error = inputEndedMessage(request);
      break;
    }
    event = controller.supplyInput(*byte);
  }
  display.setTracing(false);
  if (event == RunEvent::OutputFailed) error = output.error();

  const MachineState& s = controller.state();
  char address[4];
  writeHex4(address, s.PC);
  const std::string at(address, sizeof address);
  const std::string count = std::to_string(controller.fastRunCount()) + " instructions\n";
  int status = kExitStepLimit;
  std::string summary = "stopped after " + count;
  if (!error.empty()) {
    out.flush();
    printError(err, error);
    status = kExitError;
  } else if (event == RunEvent::Halted) {
    status = kExitHalted;
    summary = "halted at " + at + "H after " + count;
  } else if (event == RunEvent::Breakpoint) {
    status = kExitBreakpoint;
    summary = "stopped at breakpoint " + at + "H after " + count;
  }

  if (options.dump) printDump(out, s, *options.dump);
  summary += "instruction: " + controller.instructionText() + "\n";
  if (options.tstates) summary += "T-states: " + std::to_string(controller.tstates()) + "\n";
  out.write(summary);
  char* line = out.reserve(kStateLineLength + 1);
  line = writeStateLine(line, s);
  *line++ = '\n';
  out.commit(line);

  if (!out.flush()) {
    // An OUT line to standard output that failed has been reported already.
    if (error != CliOutput::kStdoutFailed) printError(err, CliOutput::kStdoutFailed);
    return kExitError;
  }
  return status;
}

int runCommandLine(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                   std::istream& in) {
  const ParseResult parsed = parseOptions(args);
  if (parsed.options.help || parsed.options.version) {
    std::fputs(parsed.options.help ? kUsage : versionText("korvel-cli").c_str(), out);
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
