// Port input typed by the user and port output appended to a log file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "machine.h"

namespace korvel {

// Asks the user for one line of text. The empty text stands for a cancelled entry;
// nullopt means no answer can ever come (end of input, the program is closing).
class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual std::optional<std::string> ask(const std::string& prompt) = 0;
};

inline constexpr const char* kWrongEntry = "WRONG ENTRY !!!";
// The file to which every OUT appends its line.
inline constexpr const char* kOutLogFileName = "out.log";

// "0012H: Enter data received on port 05H [00-FF]!", with "WRONG ENTRY !!!" and CR LF
// in front when `repeated`.
std::string portPrompt(std::int32_t instructionAddress, std::int32_t portnum, bool repeated);

// Exactly two hexadecimal digits, either case, nothing before or after.
std::optional<std::int32_t> parsePortEntry(const std::string& entry);

// "Data 41H sent to port 05H" (without the line end).
std::string portLogLine(std::int32_t portnum, std::int32_t portdata);

// portin: asks through the Prompter until a valid entry; a cancel counts as wrong.
class PromptedPortInput : public PortInput {
 public:
  explicit PromptedPortInput(Prompter& prompter) : prompter_(prompter) {}
  std::optional<std::int32_t> portin(std::int32_t portnum,
                                     std::int32_t instructionAddress) override;

 private:
  Prompter& prompter_;
};

// portout: opens the log for appending, writes one line ended by CR LF, closes it.
// On failure portout returns false and lastError() says what went wrong in plain words,
// naming the file.
class LogFilePortOutput : public PortOutput {
 public:
  explicit LogFilePortOutput(std::filesystem::path file) : file_(std::move(file)) {}
  bool portout(std::int32_t portnum, std::int32_t portdata) override;
  const std::string& lastError() const { return lastError_; }
  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
  std::string lastError_;
};

}  // namespace korvel
