// The forms in which a result leaves the assembler: messages, Intel HEX, the symbol table,
// and the line of an address.
#include <algorithm>
#include <cstdio>

#include "assembler.h"
#include "lexer.h"
#include "open_file.h"

namespace korvel::assembler {

bool isSourceFile(const std::filesystem::path& file) {
  const std::string extension = upperCase(pathText(file.extension()));
  return extension == ".ASM" || extension == ".Z80" || extension == ".S";
}

std::string formatDiagnostic(const Diagnostic& d) {
  if (d.line <= 0) return d.file + ": error: " + d.message;
  return d.file + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) +
         ": error: " + d.message;
}

std::string intelHex(const Result& result) {
  // The runs of addresses that statements filled, merged where they touch.
  std::vector<std::pair<std::int32_t, std::int32_t>> runs;  // [begin, end)
  for (const LineAddress& l : result.lines) {
    const std::int32_t end = l.address + l.length;
    if (!runs.empty() && l.address <= runs.back().second) {
      runs.back().second = std::max(runs.back().second, end);
    } else {
      runs.emplace_back(l.address, end);
    }
  }
  std::string out;
  char text[64];
  for (const auto& [begin, end] : runs) {
    for (std::int32_t at = begin; at < end; at += 16) {
      const std::int32_t count = std::min(16, end - at);
      unsigned sum = static_cast<unsigned>(count) + (static_cast<unsigned>(at) >> 8) +
                     (static_cast<unsigned>(at) & 0xFFu);
      std::snprintf(text, sizeof text, ":%02X%04X00", static_cast<unsigned>(count),
                    static_cast<unsigned>(at));
      out += text;
      for (std::int32_t k = 0; k < count; ++k) {
        const unsigned byte = result.image[static_cast<std::size_t>(at + k)];
        sum += byte;
        std::snprintf(text, sizeof text, "%02X", byte);
        out += text;
      }
      std::snprintf(text, sizeof text, "%02X\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
      out += text;
    }
  }
  out += ":00000001FF\n";
  return out;
}

std::string symbolTable(const Result& result) {
  // Names line up in a column as wide as the longest, up to 24; longer ones push it out.
  constexpr std::size_t kWidest = 24;
  std::size_t width = 0;
  for (const Symbol& s : result.symbols) width = std::max(width, std::min(s.name.size(), kWidest));
  std::string out;
  char value[64];
  for (const Symbol& s : result.symbols) {
    if (s.value >= 0 && s.value <= 0xFFFF) {
      std::snprintf(value, sizeof value, "  %04XH  %11d  ", static_cast<unsigned>(s.value),
                    s.value);
    } else {
      std::snprintf(value, sizeof value, "  %08XH  %11d  ", static_cast<std::uint32_t>(s.value),
                    s.value);
    }
    out += s.name + std::string(width - std::min(width, s.name.size()), ' ') + value +
           (s.equ ? "EQU  " : "label") + "  " + s.file + ":" + std::to_string(s.line) + "\n";
  }
  return out;
}

const LineAddress* lineAt(const Result& result, std::int32_t address) {
  const auto after =
      std::upper_bound(result.lines.begin(), result.lines.end(), address,
                       [](std::int32_t a, const LineAddress& l) { return a < l.address; });
  if (after == result.lines.begin()) return nullptr;
  const LineAddress& l = *(after - 1);
  return address < l.address + l.length ? &l : nullptr;
}

}  // namespace korvel::assembler
