// Files by their std::filesystem paths. Opening one with the C library, so that the callers keep
// errno for their messages: on Windows through the wide-character call, since a path there
// is wide and may hold characters that no narrow code page has.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace korvel {

// A path as messages write it: UTF-8 on every system (a narrow string() would fail on
// Windows for a name that the ANSI code page cannot hold).
inline std::string pathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

inline std::FILE* openFile(const std::filesystem::path& file, const char* mode) {
#ifdef _WIN32
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(file.c_str(), wideMode.c_str());
#else
  return std::fopen(file.c_str(), mode);
#endif
}

}  // namespace korvel
