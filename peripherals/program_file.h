// Program files chosen by the user: read and checked by their type without touching the
// machine, then placed the way the Program Loader places program.bin.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "machine.h"
#include "program_image.h"

namespace korvel {

namespace assembler {
struct Result;
}

// By the extension, in any case: .hex and .ihx Intel HEX; .asm, .z80 and .s assembly
// source; anything else (.bin, .com, no extension) a raw image, byte k at address k.
enum class ProgramFileType { RawImage, IntelHex, AssemblySource };
ProgramFileType programFileType(const std::filesystem::path& file);

struct ProgramRead {
  std::optional<ProgramImage> image;  // what to place, when the file can be loaded
  std::string message;                // otherwise why not, naming the file and its folder
  std::string description;  // when loaded, for the status bar: "prog.hex: 37 bytes at 0000H-0024H"
  // The message lists the assembler's errors, one "FILE:LINE:COLUMN: error: ..." a line.
  bool assemblerErrors = false;
};

// Reads `file` (relative to the current directory when relative) and checks all of it;
// the machine is not touched. A raw image holds at most 65536 bytes; one of 0 bytes loads
// and leaves memory all 00H. Texts are UTF-8.
ProgramRead readProgramFile(const std::filesystem::path& file);

// The text of an assembly source for an editor, read and checked as readProgramFile reads
// one (same limits, same messages naming the file and its folder), without assembling it.
struct SourceRead {
  std::optional<std::string> text;
  std::string message;  // when there is no text, why not
};
SourceRead readSourceText(const std::filesystem::path& file);

// What an assembly of `file`'s text gives to place: the image and its description when
// `result` has no error, otherwise the errors one a line (assemblerErrors set).
ProgramRead assembledProgram(const assembler::Result& result, const std::filesystem::path& file);

// Places a read image as the Program Loader does: clean, every cell 0, the image from 0000H.
void placeProgram(Machine& machine, const ProgramImage& image);

}  // namespace korvel
