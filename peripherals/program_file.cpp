#include "program_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>

#include "assembler.h"
#include "intel_hex.h"
#include "loader.h"
#include "open_file.h"
#include "source_reader.h"

namespace korvel {

namespace fs = std::filesystem;

namespace {

// Text files larger than this are not programs of a 64 KiB machine.
constexpr std::size_t kTextFileLimit = 16 * 1024 * 1024;
constexpr const char* kTextLimitText = "program text files hold at most 16777216 bytes";

std::string lowerExtension(const fs::path& file) {
  std::string extension = pathText(file.extension());
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

// "prog.hex in the directory /home/ana/z80/", as the loader's messages name a file.
std::string whereText(const fs::path& file) {
  std::error_code ec;
  fs::path full = fs::absolute(file, ec);
  if (ec) full = file;
  std::string folder = pathText(full.lexically_normal().parent_path());
  if (folder.empty() || folder.back() != static_cast<char>(fs::path::preferred_separator)) {
    folder += static_cast<char>(fs::path::preferred_separator);
  }
  return pathText(file.filename()) + " in the directory " + folder;
}

std::string addressText(std::int32_t address) {
  char text[4];
  writeHex4(text, address);
  return std::string(text, sizeof text) + "H";
}

std::string describe(const fs::path& file, const ProgramImage& image, bool assembled = false) {
  const std::string name = pathText(file.filename()) + (assembled ? ": assembled, " : ": ");
  if (image.count == 0) return name + "0 bytes, memory all 00H";
  return name + std::to_string(image.count) + (image.count == 1 ? " byte at " : " bytes at ") +
         addressText(image.lowest) + "-" + addressText(image.highest);
}

ProgramRead loaded(const fs::path& file, ProgramImage image, bool assembled = false) {
  std::string description = describe(file, image, assembled);
  return {std::move(image), {}, std::move(description)};
}

ProgramRead readRawImage(const fs::path& file, const std::string& where) {
  FileBytes read = readFileBytes(file, static_cast<std::size_t>(kMemorySize), where,
                                 "the memory takes at most 65536 bytes");
  if (!read.bytes) return {std::nullopt, read.message, {}};
  ProgramImage image;
  image.bytes.assign(read.bytes->begin(), read.bytes->end());
  image.count = static_cast<std::int32_t>(image.bytes.size());
  image.highest = std::max(image.count - 1, 0);
  return loaded(file, std::move(image));
}

ProgramRead readHexFile(const fs::path& file, const std::string& where) {
  const FileBytes read = readFileBytes(file, kTextFileLimit, where, kTextLimitText);
  if (!read.bytes) return {std::nullopt, read.message, {}};
  HexRead hex = readIntelHex(
      std::string_view(reinterpret_cast<const char*>(read.bytes->data()), read.bytes->size()));
  if (!hex.image) {
    return {std::nullopt,
            "Can't load file " + where + ": line " + std::to_string(hex.line) + ": " + hex.reason,
            {}};
  }
  return loaded(file, std::move(*hex.image));
}

// Assembly source goes through Korvel's assembler, which turns the text into an image or
// lists what is wrong with it, each problem with its file, line and column.
ProgramRead assembleSourceFile(const fs::path& file, const std::string& where) {
  const FileBytes read = readFileBytes(file, kTextFileLimit, where, kTextLimitText);
  if (!read.bytes) return {std::nullopt, read.message, {}};
  return assembledProgram(
      assembler::assembleText(
          std::string_view(reinterpret_cast<const char*>(read.bytes->data()), read.bytes->size()),
          file),
      file);
}

}  // namespace

ProgramFileType programFileType(const fs::path& file) {
  const std::string extension = lowerExtension(file);
  if (extension == ".hex" || extension == ".ihx") return ProgramFileType::IntelHex;
  if (extension == ".asm" || extension == ".z80" || extension == ".s") {
    return ProgramFileType::AssemblySource;
  }
  return ProgramFileType::RawImage;
}

ProgramRead readProgramFile(const fs::path& file) {
  const std::string where = whereText(file);
  switch (programFileType(file)) {
    case ProgramFileType::IntelHex: return readHexFile(file, where);
    case ProgramFileType::AssemblySource: return assembleSourceFile(file, where);
    case ProgramFileType::RawImage: break;
  }
  return readRawImage(file, where);
}

SourceRead readSourceText(const fs::path& file) {
  const std::string where = whereText(file);
  const FileBytes read = readFileBytes(file, kTextFileLimit, where, kTextLimitText);
  if (!read.bytes) return {std::nullopt, read.message};
  std::string text(read.bytes->begin(), read.bytes->end());
  std::string reason;
  if (!assembler::checkSourceText(text, reason)) {
    return {std::nullopt, "Can't load file " + where + ": " + reason};
  }
  return {std::move(text), {}};
}

ProgramRead assembledProgram(const assembler::Result& result, const fs::path& file) {
  if (!result.ok()) {
    std::string message;
    for (const assembler::Diagnostic& d : result.errors) {
      if (!message.empty()) message += '\n';
      message += assembler::formatDiagnostic(d);
    }
    return {std::nullopt, message, {}, true};
  }
  ProgramImage image;
  image.bytes = result.image;
  for (const assembler::LineAddress& line : result.lines) {
    if (line.length == 0) continue;
    if (image.count == 0 || line.address < image.lowest) image.lowest = line.address;
    image.highest = std::max(image.highest, line.address + line.length - 1);
    image.count += line.length;
  }
  return loaded(file, std::move(image), true);
}

void placeProgram(Machine& machine, const ProgramImage& image) {
  machine.clean();
  MachineState& s = machine.state();
  std::fill(s.memory.begin(), s.memory.end(), 0);
  const std::size_t count = std::min(image.bytes.size(), static_cast<std::size_t>(kMemorySize));
  std::copy_n(image.bytes.begin(), count, s.memory.begin());
}

}  // namespace korvel
