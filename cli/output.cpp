#include "output.h"

#include <cstring>

namespace korvel::cli {

void OutputBuffer::write(std::string_view text) {
  while (!text.empty()) {
    const std::size_t room = capacity_ - used_;
    if (room == 0) {
      flush();
      continue;
    }
    const std::size_t n = text.size() < room ? text.size() : room;
    std::memcpy(buffer_.get() + used_, text.data(), n);
    used_ += n;
    text.remove_prefix(n);
  }
}

bool OutputBuffer::flush() {
  if (used_ > 0) {
    if (std::fwrite(buffer_.get(), 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
  }
  if (std::fflush(file_) != 0) failed_ = true;
  return !failed_;
}

}  // namespace korvel::cli
