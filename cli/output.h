// Buffered standard output of korvel-cli: formatting writes into a large char buffer so
// that a trace of millions of instructions stays cheap.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

#include "register_fields.h"

namespace korvel::cli {

// A large buffer in front of a FILE*, written with fwrite when full or flushed.
class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* file, std::size_t capacity = std::size_t{1} << 20)
      : file_(file),
        capacity_(capacity),
        buffer_(std::make_unique_for_overwrite<char[]>(capacity)) {}
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // Room for at least `n` bytes (n <= capacity); returns where to write them.
  char* reserve(std::size_t n) {
    if (capacity_ - used_ < n) flush();
    return buffer_.get() + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }
  void write(std::string_view text);

  // Writes out everything buffered; false if the file refused any of it, now or before.
  bool flush();
  bool failed() const { return failed_; }

 private:
  std::FILE* file_;
  std::size_t capacity_;
  // Left uninitialised: a short run touches only the first pages of it.
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace korvel::cli
