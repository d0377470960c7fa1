// Where out.log goes: beside the program when that folder takes it, otherwise in the
// user's data folder.
#pragma once

#include <filesystem>

namespace korvel {

struct LogLocation {
  std::filesystem::path file;  // the out.log that OUT lines are appended to
  // false when neither folder would take the log: `file` is then the one in the preferred
  // folder, and the first OUT fails there with the reason.
  bool writable = false;
};

// out.log in `preferredFolder` (the program's folder, or the application directory for
// program.bin) when it can be appended to there; otherwise out.log in `dataFolder`, which
// is created when needed. Finding out writes nothing to an existing out.log and leaves no
// file behind.
LogLocation chooseLogFile(const std::filesystem::path& preferredFolder,
                          const std::filesystem::path& dataFolder);

// Whether out.log in `folder` can be appended to: an existing one is opened for appending
// and closed unchanged; for a missing one a file of another name is created and removed.
bool canAppendLog(const std::filesystem::path& folder);

}  // namespace korvel
