#include "loader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "open_file.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

char upperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return upperAscii(c); });
  return text;
}

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && upperAscii(a) == upperAscii(b);
}

bool isPresent(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec)) && !ec;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string shownDirectory(const fs::path& directory) {
  std::string shown = upperAscii(pathText(directory));
  if (shown.empty() || shown.back() != fs::path::preferred_separator) {
    shown += static_cast<char>(fs::path::preferred_separator);
  }
  return shown;
}

fs::path findProgramFile(const fs::path& directory) {
  for (const char* name : {kProgramFileName, "PROGRAM.BIN"}) {
    const fs::path candidate = directory / name;
    if (isPresent(candidate)) return candidate;
  }
  // Any other spelling of the name; sorted so that the choice does not depend on the
  // order in which the file system lists the directory.
  std::vector<fs::path> matches;
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    if (sameNameIgnoringCase(pathText(it->path().filename()), kProgramFileName)) {
      matches.push_back(it->path());
    }
  }
  if (matches.empty()) return {};
  return *std::min_element(matches.begin(), matches.end());
}

FileBytes readFileBytes(const fs::path& file, std::size_t limit, const std::string& where,
                        const std::string& limitText) {
  if (file.empty() || !isPresent(file)) return {std::nullopt, "Can't find file " + where};

  const auto unreadable = [&where](const std::string& reason) {
    return FileBytes{std::nullopt, "Can't read file " + where + ": " + reason};
  };
  std::error_code ec;
  if (fs::is_directory(file, ec)) return unreadable("it is a directory, not a file");

  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> in(openFile(file, "rb"));
  if (!in) return unreadable(std::strerror(errno != 0 ? errno : EIO));

  // Read in steps, so that a small file under a large limit needs little memory; one byte
  // more than the limit is asked for to see a larger file.
  constexpr std::size_t kStep = 65536;
  std::vector<unsigned char> bytes;
  std::size_t count = 0;
  errno = 0;
  while (count <= limit && !std::feof(in.get()) && !std::ferror(in.get())) {
    bytes.resize(std::min(limit + 1, count + kStep));
    count += std::fread(bytes.data() + count, 1, bytes.size() - count, in.get());
  }
  if (std::ferror(in.get())) return unreadable(std::strerror(errno != 0 ? errno : EIO));
  if (count > limit) {
    const std::uintmax_t size = fs::file_size(file, ec);
    const std::string sizeText =
        ec ? "more than " + std::to_string(limit) + " bytes" : std::to_string(size) + " bytes";
    return {std::nullopt,
            "Can't load file " + where + ": it holds " + sizeText + ", but " + limitText};
  }
  bytes.resize(count);
  return {std::move(bytes), {}};
}

LoadOutcome loadImage(Machine& machine, const fs::path& file, const std::string& shownName,
                      const std::string& shownDir) {
  machine.clean();
  MachineState& s = machine.state();
  std::fill(s.memory.begin(), s.memory.end(), 0);

  // The image reaches the memory only when all of it could be read.
  const FileBytes image = readFileBytes(file, static_cast<std::size_t>(kMemorySize),
                                        shownName + " in the directory " + shownDir,
                                        "the memory takes at most 65536 bytes");
  if (!image.bytes) return {false, image.message};
  std::copy(image.bytes->begin(), image.bytes->end(), s.memory.begin());
  return {true, kLoadCompleted};
}

LoadOutcome menuloader(Machine& machine, const fs::path& directory) {
  return loadImage(machine, findProgramFile(directory), "PROGRAM.BIN", shownDirectory(directory));
}

}  // namespace korvel
