#include "intel_hex.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace korvel {

namespace {

constexpr std::uint64_t kAddressSpace = 0x10000;

enum RecordType : int {
  kData = 0x00,
  kEndOfFile = 0x01,
  kExtendedSegment = 0x02,
  kStartSegment = 0x03,
  kExtendedLinear = 0x04,
  kStartLinear = 0x05,
};

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// An address as at least four upper-case hexadecimal digits and "H": 00FFH, 10000H.
std::string addressText(std::uint64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "%04llXH", static_cast<unsigned long long>(address));
  return text;
}

std::string byteText(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02XH", value & 0xFF);
  return text;
}

std::string characterText(char c) {
  if (c >= 0x21 && c <= 0x7E) return std::string("'") + c + "'";
  if (c == ' ') return "' ' (a blank)";
  return "(byte " + byteText(static_cast<unsigned char>(c)) + ")";
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// The data bytes each record type must hold, -1 for any number.
int requiredLength(int type) {
  switch (type) {
    case kData: return -1;
    case kEndOfFile: return 0;
    case kExtendedSegment:
    case kExtendedLinear: return 2;
    case kStartSegment:
    case kStartLinear: return 4;
    default: return -2;  // not a record type
  }
}

}  // namespace

HexRead readIntelHex(std::string_view text) {
  std::vector<std::uint8_t> memory(kAddressSpace, 0);
  std::vector<bool> given(kAddressSpace, false);
  std::uint64_t base = 0;  // from the last extended-address record
  bool ended = false;
  std::size_t line = 0, lastRecordLine = 0;
  std::vector<int> bytes;

  const auto refuse = [&line](std::string reason) {
    return HexRead{std::nullopt, line, std::move(reason)};
  };

  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    std::string_view record = text.substr(at, end == std::string_view::npos ? end : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    ++line;
    while (!record.empty() && isBlank(record.back())) record.remove_suffix(1);
    if (record.empty()) continue;
    if (ended) return refuse("text after the end-of-file record");
    lastRecordLine = line;

    if (record.front() != ':') return refuse("missing colon: every record starts with ':'");
    for (std::size_t column = 1; column < record.size(); ++column) {
      if (hexDigitValue(record[column]) < 0) {
        return refuse("non-hex character " + characterText(record[column]) + " in column " +
                      std::to_string(column + 1));
      }
    }
    const std::size_t digits = record.size() - 1;
    if (digits % 2 != 0) return refuse("bad record length: an odd number of hex digits");
    bytes.resize(digits / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = hexDigitValue(record[1 + 2 * i]) * 16 + hexDigitValue(record[2 + 2 * i]);
    }
    // Length, address high and low, type, the data, checksum.
    if (bytes.size() < 5) {
      return refuse("bad record length: a record has at least 5 bytes (length, address, type, " +
                    std::string("checksum), this one ") + std::to_string(bytes.size()));
    }
    const int length = bytes[0];
    const std::size_t held = bytes.size() - 5;
    if (held != static_cast<std::size_t>(length)) {
      return refuse("bad record length: the length field says " + std::to_string(length) +
                    " data bytes, but the record holds " + std::to_string(held));
    }
    int sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    const int expected = (0x100 - (sum & 0xFF)) & 0xFF;
    if (bytes.back() != expected) {
      return refuse("bad checksum: expected " + byteText(expected) + ", found " +
                    byteText(bytes.back()));
    }
    const int type = bytes[3];
    const int required = requiredLength(type);
    if (required == -2) return refuse("unknown record type " + byteText(type));
    if (required >= 0 && length != required) {
      return refuse("bad record length: a type " + byteText(type) + " record holds " +
                    std::to_string(required) + " data bytes, this one " + std::to_string(length));
    }

    const int* data = bytes.data() + 4;
    const std::uint64_t word =
        required == 2 ? static_cast<std::uint64_t>(data[0] * 256 + data[1]) : 0;
    switch (type) {
      case kData: {
        if (length == 0) break;
        const std::uint64_t first = base + static_cast<std::uint64_t>(bytes[1] * 256 + bytes[2]);
        const std::uint64_t last = first + static_cast<std::uint64_t>(length) - 1;
        if (last >= kAddressSpace) {
          return refuse("record runs past FFFFH: its data cover " + addressText(first) + "-" +
                        addressText(last));
        }
        for (int i = 0; i < length; ++i) {
          memory[first + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(data[i]);
          given[first + static_cast<std::uint64_t>(i)] = true;
        }
        break;
      }
      case kEndOfFile: ended = true; break;
      case kExtendedSegment: base = word << 4; break;
      case kExtendedLinear: base = word << 16; break;
      default: break;  // a start address means nothing to a machine that always starts at 0000H
    }
  }

  line = lastRecordLine == 0 ? 1 : lastRecordLine;
  if (lastRecordLine == 0) return refuse("empty file: there are no records");
  if (!ended) {
    return refuse("missing end record: the file ends without the end-of-file record :00000001FF");
  }

  ProgramImage image;
  for (std::size_t address = 0; address < kAddressSpace; ++address) {
    if (!given[address]) continue;
    if (image.count == 0) image.lowest = static_cast<std::int32_t>(address);
    image.highest = static_cast<std::int32_t>(address);
    ++image.count;
  }
  if (image.count > 0) {
    memory.resize(static_cast<std::size_t>(image.highest) + 1);
    image.bytes = std::move(memory);
  }
  return {std::move(image), 0, {}};
}

}  // namespace korvel
