// Intel HEX text read into an image of the 64 KiB memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "program_image.h"

namespace korvel {

struct HexRead {
  std::optional<ProgramImage> image;  // set only when the whole text is good
  std::size_t line = 0;               // otherwise the first bad line, counting from 1,
  std::string reason;                 // and what is wrong with it, in plain words
};

// Reads data (00) and end-of-file (01) records; start-address records (03, 05) are checked
// and ignored; extended-address records (02, 04) are followed as long as every data byte
// stays within 0000H-FFFFH. Later records overwrite earlier ones; cells no record covers
// are 00H. Lines may end in CR LF, blank lines are skipped, and nothing but blank lines may
// follow the end-of-file record. The whole text is checked before the image is returned.
HexRead readIntelHex(std::string_view text);

}  // namespace korvel
