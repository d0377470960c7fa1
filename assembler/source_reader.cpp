#include "source_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "open_file.h"

namespace korvel::assembler {

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool readSource(const fs::path& path, std::string& text, std::string& reason) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    reason = std::strerror(ENOENT);
    return false;
  }
  if (fs::is_directory(status)) {
    reason = "it is a directory, not a file";
    return false;
  }
  // A device or a pipe could block or never end.
  if (!fs::is_regular_file(status)) {
    reason = "it is not a regular file";
    return false;
  }
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> in(openFile(path, "rb"));
  if (!in) {
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  text.clear();
  char buffer[1 << 16];
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, in.get());
    text.append(buffer, n);
    if (n < sizeof buffer || text.size() > kMaxSourceBytes) break;
  }
  if (std::ferror(in.get())) {
    reason = std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  return checkSourceText(text, reason);
}

bool checkSourceText(const std::string& text, std::string& reason) {
  if (text.size() > kMaxSourceBytes) {
    reason = "it is larger than " + std::to_string(kMaxSourceBytes >> 20) +
             " MB, too large for a source";
    return false;
  }
  const std::size_t zero = text.find('\0');
  if (zero == std::string::npos) return true;
  reason = "it is not a text file (byte 00H at offset " + std::to_string(zero) +
           "); give the assembly source, not a program image";
  return false;
}

}  // namespace korvel::assembler
