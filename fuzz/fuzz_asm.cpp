// libFuzzer target for the assembler: the input is a source text, assembled as an editor's
// buffer named fuzz.asm in a private directory that also holds two files to INCLUDE
// ("inc.asm", a few statements, and "loop.asm", which includes itself). The checks come
// from the assembler's documented results (assembler/assembler.h), not from its code:
//   - errors: at most 50 and one "too many errors", each with a place and a reason;
//   - success: an image of at most 64 KB whose last byte some line wrote, lines sorted by
//     address without overlaps and found again by lineAt, symbols sorted and one line each
//     in the symbol table, a listing, and Intel HEX that reads back to the image with
//     correct checksums;
//   - the same text gives the same result a second time.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "assembler.h"

namespace {

namespace fs = std::filesystem;
namespace as = korvel::assembler;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_asm: %s\n", what.c_str());
  std::abort();
}

void expect(bool condition, const std::string& what) {
  if (!condition) fail(what);
}

const fs::path& directory() {
  static const fs::path dir = [] {
    char pattern[] = "/tmp/korvel-fuzz-asm-XXXXXX";
    if (mkdtemp(pattern) == nullptr) fail("cannot create a temporary directory");
    const fs::path d(pattern);
    const auto write = [&d](const char* name, const char* text) {
      std::FILE* f = std::fopen((d / name).c_str(), "wb");
      if (f == nullptr || std::fputs(text, f) < 0 || std::fclose(f) != 0) fail("cannot write");
    };
    write("inc.asm", "inc_value equ 12H\ninc_label: ld a,inc_value\n db \"inc\",0\n");
    write("loop.asm", " nop\n include \"loop.asm\"\n");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(directory(), ec);
    });
    return d;
  }();
  return dir;
}

int hexValue(const std::string& text, std::size_t at, std::size_t digits) {
  int v = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    const char c = text[i];
    expect((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "Intel HEX digit");
    v = v * 16 + (c <= '9' ? c - '0' : c - 'A' + 10);
  }
  return v;
}

// Reads the HEX back: every data byte must equal the image's, every checksum be right, and
// the end record come last.
void checkHex(const as::Result& r) {
  const std::string hex = as::intelHex(r);
  std::size_t pos = 0, covered = 0;
  for (;;) {
    const std::size_t end = hex.find('\n', pos);
    expect(end != std::string::npos && hex[pos] == ':', "Intel HEX record");
    const std::string record = hex.substr(pos, end - pos);
    const int count = hexValue(record, 1, 2);
    expect(record.size() == 11 + 2 * static_cast<std::size_t>(count), "Intel HEX length");
    int sum = 0;
    for (std::size_t i = 1; i + 1 < record.size(); i += 2) sum += hexValue(record, i, 2);
    expect((sum & 0xFF) == 0, "Intel HEX checksum");
    const int address = hexValue(record, 3, 4);
    if (hexValue(record, 7, 2) == 1) {
      expect(end + 1 == hex.size() && record == ":00000001FF", "Intel HEX end record");
      break;
    }
    expect(count > 0 && count <= 16, "Intel HEX data record");
    for (int k = 0; k < count; ++k) {
      const std::size_t a = static_cast<std::size_t>(address + k);
      expect(a < r.image.size() &&
                 r.image[a] == hexValue(record, 9 + 2 * static_cast<std::size_t>(k), 2),
             "Intel HEX byte differs from the image");
    }
    covered += static_cast<std::size_t>(count);
    pos = end + 1;
  }
  std::size_t written = 0;
  for (const as::LineAddress& l : r.lines) written += static_cast<std::size_t>(l.length);
  expect(covered == written, "Intel HEX does not hold every byte written");
}

void check(const as::Result& r) {
  expect(r.errors.size() <= as::kMaxErrors + 1, "more than 51 diagnostics");
  for (std::size_t i = 0; i < r.errors.size(); ++i) {
    const as::Diagnostic& d = r.errors[i];
    expect(!d.message.empty() && !d.file.empty(), "diagnostic without a reason or a file");
    expect(d.line >= 0 && (d.line == 0 ? d.column == 0 : d.column >= 1), "diagnostic place");
    const bool tooMany = d.message.starts_with("too many errors");
    expect(tooMany == (i == as::kMaxErrors), "\"too many errors\" is not the 51st diagnostic");
  }
  if (!r.ok()) {
    expect(r.image.empty() && r.lines.empty() && r.symbols.empty() && r.listing.empty(),
           "a result with errors carries output");
    return;
  }
  expect(r.image.size() <= 65536, "image larger than memory");
  std::int32_t next = 0;
  bool lastByteWritten = r.image.empty();
  for (const as::LineAddress& l : r.lines) {
    expect(l.length > 0 && l.address >= next, "lines overlap or are out of order");
    expect(static_cast<std::size_t>(l.address + l.length) <= r.image.size(), "line past the image");
    expect(as::lineAt(r, l.address) == &l && as::lineAt(r, l.address + l.length - 1) == &l,
           "lineAt does not find a line");
    lastByteWritten =
        lastByteWritten || static_cast<std::size_t>(l.address + l.length) == r.image.size();
    next = l.address + l.length;
  }
  expect(lastByteWritten, "the image goes past the last byte written");
  for (std::size_t i = 1; i < r.symbols.size(); ++i) {
    std::string a = r.symbols[i - 1].name, b = r.symbols[i].name;
    for (std::string* s : {&a, &b}) {
      for (char& c : *s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    expect(a < b, "symbols not sorted, or one defined twice");
  }
  expect(!r.listing.empty() || r.lines.empty(), "no listing");
  const std::string table = as::symbolTable(r);
  expect(static_cast<std::size_t>(std::count(table.begin(), table.end(), '\n')) == r.symbols.size(),
         "the symbol table does not hold one line per symbol");
  checkHex(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const fs::path name = directory() / "fuzz.asm";
  const as::Result r = as::assembleText(text, name);
  check(r);
  const as::Result again = as::assembleText(text, name);
  expect(again.image == r.image && again.errors.size() == r.errors.size() &&
             again.listing == r.listing,
         "the same text gives another result");
  for (std::size_t i = 0; i < r.errors.size(); ++i) {
    expect(as::formatDiagnostic(again.errors[i]) == as::formatDiagnostic(r.errors[i]),
           "the same text gives other messages");
  }
  return 0;
}
