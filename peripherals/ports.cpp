#include "ports.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "open_file.h"

namespace korvel {

namespace {

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string portPrompt(std::int32_t instructionAddress, std::int32_t portnum, bool repeated) {
  std::string prompt;
  if (repeated) {
    prompt += kWrongEntry;
    prompt += "\r\n";
  }
  char address[4];
  writeHex4(address, instructionAddress);
  prompt.append(address, sizeof address);
  prompt += "H: Enter data received on port ";
  prompt += hhex(portnum);
  prompt += "H";
  prompt += " [00-FF]!";
  return prompt;
}

std::optional<std::int32_t> parsePortEntry(const std::string& entry) {
  if (entry.size() != 2) return std::nullopt;
  const int high = hexDigitValue(entry[0]);
  const int low = hexDigitValue(entry[1]);
  if (high < 0 || low < 0) return std::nullopt;
  return high * 16 + low;
}

std::string portLogLine(std::int32_t portnum, std::int32_t portdata) {
  return "Data " + hhex(portdata) + "H sent to port " + hhex(portnum) + "H";
}

std::optional<std::int32_t> PromptedPortInput::portin(std::int32_t portnum,
                                                      std::int32_t instructionAddress) {
  bool repeated = false;
  for (;;) {
    const std::optional<std::string> entry =
        prompter_.ask(portPrompt(instructionAddress, portnum, repeated));
    if (!entry) return std::nullopt;  // nobody can answer any more
    // A cancelled box gives the empty text, which is as wrong as any other bad entry.
    if (const std::optional<std::int32_t> value = parsePortEntry(*entry)) return value;
    repeated = true;
  }
}

bool LogFilePortOutput::portout(std::int32_t portnum, std::int32_t portdata) {
  const std::string line = portLogLine(portnum, portdata) + "\r\n";
  const auto fail = [this](int error) {
    lastError_ = "Cannot write to " + pathText(file_) + ": " + std::strerror(error);
    return false;
  };

  // Opened for this one line and closed again, so that every line is on disk when the
  // OUT instruction ends and nothing already in the file is ever rewritten.
  errno = 0;
  std::FILE* log = openFile(file_, "ab");
  if (log == nullptr) return fail(errno != 0 ? errno : EIO);
  errno = 0;
  const bool written =
      std::fwrite(line.data(), 1, line.size(), log) == line.size() && std::fflush(log) == 0;
  const int writeError = errno != 0 ? errno : EIO;
  errno = 0;
  const bool closed = std::fclose(log) == 0;
  const int closeError = errno != 0 ? errno : EIO;
  if (!written) return fail(writeError);
  if (!closed) return fail(closeError);
  lastError_.clear();
  return true;
}

}  // namespace korvel
