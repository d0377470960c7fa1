// A program read from a file and checked, ready to be placed in memory from 0000H.
#pragma once

#include <cstdint>
#include <vector>

namespace korvel {

struct ProgramImage {
  std::vector<std::uint8_t> bytes;  // bytes[k] goes to address k; the cells after them hold 00H
  std::int32_t count = 0;           // how many cells the file gives a value
  std::int32_t lowest = 0;          // the first and last of those cells (both 0 when count is 0)
  std::int32_t highest = 0;
};

}  // namespace korvel
