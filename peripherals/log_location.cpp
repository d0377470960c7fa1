#include "log_location.h"

#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "ports.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

// A name in `folder` that nothing has, for a file that lives only as long as the test.
fs::path unusedName(const fs::path& folder) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const fs::path candidate =
        folder / (".korvel-write-test-" + std::to_string(random()) + std::to_string(random()));
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
  return {};
}

}  // namespace

bool canAppendLog(const fs::path& folder) {
  if (folder.empty()) return false;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return false;
  const fs::path log = folder / kOutLogFileName;
  const fs::file_status status = fs::status(log, ec);
  if (fs::exists(status)) {
    // Only a plain file: opening anything else (a pipe) could wait for ever.
    if (!fs::is_regular_file(status)) return false;
    std::ofstream probe(log, std::ios::binary | std::ios::app);
    return probe.is_open();
  }
  const fs::path probeFile = unusedName(folder);
  if (probeFile.empty()) return false;
  bool created = false;
  {
    std::ofstream probe(probeFile, std::ios::binary | std::ios::out);
    created = probe.is_open();
  }
  if (created) fs::remove(probeFile, ec);
  return created;
}

LogLocation chooseLogFile(const fs::path& preferredFolder, const fs::path& dataFolder) {
  if (canAppendLog(preferredFolder)) return {preferredFolder / kOutLogFileName, true};
  if (!dataFolder.empty()) {
    std::error_code ec;
    fs::create_directories(dataFolder, ec);
    if (canAppendLog(dataFolder)) return {dataFolder / kOutLogFileName, true};
  }
  return {preferredFolder / kOutLogFileName, false};
}

}  // namespace korvel
