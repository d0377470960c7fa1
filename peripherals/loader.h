// The program loader: clears the machine and reads a raw image into memory at 0000H.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "machine.h"

namespace korvel {

inline constexpr const char* kProgramFileName = "program.bin";
inline constexpr const char* kLoadCompleted = "Operation completed!";

// The application directory as it is shown to the user: upper case, ending with the
// separator. Files are still opened through the real path.
std::string shownDirectory(const std::filesystem::path& directory);

// The program file in `directory`: "program.bin", else "PROGRAM.BIN", else any spelling
// of that name that differs only in case. Empty when there is none.
std::filesystem::path findProgramFile(const std::filesystem::path& directory);

struct FileBytes {
  std::optional<std::vector<unsigned char>> bytes;  // the whole file, when it could be read
  std::string message;                              // otherwise why not
};

// Reads all of `file` when it holds at most `limit` bytes. The messages name the file as
// `where` ("PROGRAM.BIN in the directory C:\KORVEL\"): "Can't find file <where>" for a
// missing file, "Can't read file <where>: <reason>" for a directory or a failed read, and
// "Can't load file <where>: it holds N bytes, but <limitText>" for a larger file.
FileBytes readFileBytes(const std::filesystem::path& file, std::size_t limit,
                        const std::string& where, const std::string& limitText);

struct LoadOutcome {
  bool loaded = false;  // true only when the whole image is in memory
  std::string message;  // the text for the user: "Operation completed!" or why not
};

// Loads exactly as the menu's Program Loader does: clean, every cell to 0, then the image
// from 0000H. A missing, unreadable or oversize (> 65536 bytes) file leaves memory all zero
// and says why; `shownName` is the file name as the message spells it ("PROGRAM.BIN").
LoadOutcome loadImage(Machine& machine, const std::filesystem::path& file,
                      const std::string& shownName, const std::string& shownDir);

// The menu item: loads findProgramFile(directory), messages as above.
LoadOutcome menuloader(Machine& machine, const std::filesystem::path& directory);

}  // namespace korvel
