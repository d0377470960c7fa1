// libFuzzer target for the Intel HEX reader: the input is the text of a HEX file. A refusal
// must name a line of the text; an accepted text must hold nothing but records whose bytes
// add up to 0, and its image must read back the same when written out again as HEX.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "intel_hex.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_hex: %s\n", what.c_str());
  std::abort();
}

void expect(bool condition, const std::string& what) {
  if (!condition) fail(what);
}

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Every line of an accepted text is blank, or a colon and pairs of hex digits adding up to
// 0 modulo 256, with CR, blanks and tabs allowed at its end.
void checkAcceptedLines(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    if (line.empty()) continue;
    expect(line[0] == ':' && line.size() % 2 == 1 && line.size() >= 11,
           "accepted a line that is no record");
    int sum = 0;
    for (std::size_t i = 1; i < line.size(); i += 2) {
      const int high = digit(line[i]), low = digit(line[i + 1]);
      expect(high >= 0 && low >= 0, "accepted a non-hex character");
      sum += high * 16 + low;
    }
    expect(sum % 256 == 0, "accepted a record with a bad checksum");
  }
}

// The image from its lowest to its highest cell as data records of up to 32 bytes.
std::string writeHex(const korvel::ProgramImage& image) {
  std::string text;
  char field[8];
  for (std::int32_t address = image.lowest; image.count > 0 && address <= image.highest;) {
    const int length = std::min(32, image.highest - address + 1);
    int sum = length + (address >> 8) + (address & 0xFF);
    std::snprintf(field, sizeof field, ":%02X%04X", length, static_cast<unsigned>(address));
    text += field;
    text += "00";
    for (int i = 0; i < length; ++i, ++address) {
      const int value = image.bytes[static_cast<std::size_t>(address)];
      sum += value;
      std::snprintf(field, sizeof field, "%02X", value);
      text += field;
    }
    std::snprintf(field, sizeof field, "%02X\n", (256 - sum % 256) % 256);
    text += field;
  }
  return text + ":00000001FF\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const korvel::HexRead read = korvel::readIntelHex(text);
  if (!read.image) {
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    expect(read.line >= 1 && read.line <= lines,
           "refusal names line " + std::to_string(read.line) + " of " + std::to_string(lines));
    expect(!read.reason.empty(), "refusal without a reason");
    return 0;
  }
  checkAcceptedLines(text);

  const korvel::ProgramImage& image = *read.image;
  if (image.count == 0) {
    expect(image.bytes.empty(), "no cell given, but bytes");
    return 0;
  }
  expect(0 <= image.lowest && image.lowest <= image.highest && image.highest <= 0xFFFF &&
             image.bytes.size() == static_cast<std::size_t>(image.highest) + 1 &&
             image.count <= image.highest - image.lowest + 1,
         "image range");
  for (std::int32_t a = 0; a < image.lowest; ++a) {
    expect(image.bytes[static_cast<std::size_t>(a)] == 0, "a cell below the lowest is not 00H");
  }

  const korvel::HexRead again = korvel::readIntelHex(writeHex(image));
  expect(again.image && again.image->bytes == image.bytes && again.image->lowest == image.lowest &&
             again.image->highest == image.highest,
         "the image written out as HEX reads back differently: " + again.reason);

  // Nothing may follow the end-of-file record.
  const korvel::HexRead extended = korvel::readIntelHex(std::string(text) + "\n:00000001FF\n");
  expect(!extended.image && extended.reason == "text after the end-of-file record",
         "a record after the end-of-file record was accepted");
  return 0;
}
