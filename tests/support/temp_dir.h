// A fresh directory for one test, removed with everything in it afterwards; file helpers.
#pragma once

#include <cstdlib>  // mkdtemp
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvel::testing {

class TempDir {
  std::filesystem::path path_;
  std::error_code ignored_;

 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvel-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
  TempDir(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
};

inline void writeBytes(const std::filesystem::path& file, const std::vector<unsigned char>& bytes) {
  std::ofstream out(file, std::ios::binary);
  if (!out.write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes)))
    throw std::runtime_error("cannot write " + file.string());
}

inline std::string readText(const std::filesystem::path& file) {
  return {std::istreambuf_iterator<char>(std::ifstream(file, std::ios::binary).rdbuf()), {}};
}

}  // namespace korvel::testing
