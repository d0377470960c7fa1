// Reading a source file with the checks that keep the assembler's time and memory bounded:
// regular files only (never a device or a pipe), a size limit, and no binary files.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace korvel::assembler {

inline constexpr std::size_t kMaxSourceBytes = std::size_t{8} << 20;

// The whole file into `text`; false with the reason in plain words.
bool readSource(const std::filesystem::path& path, std::string& text, std::string& reason);

// False with the reason when `text` is no source text (it holds a zero byte, as program
// images do).
bool checkSourceText(const std::string& text, std::string& reason);

}  // namespace korvel::assembler
