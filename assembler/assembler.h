// Korvel's Z80 assembler: Zilog syntax in, a memory image out, with a listing, a symbol
// table and the address of every line. Two passes, so labels and EQUs may be used before
// they are defined. Every error comes with its file, line and column, and a reason in plain
// words; a result with errors carries nothing else.
//
// The language, in short: one statement per line, `[label[:]] [mnemonic [operands]] [; comment]`;
// a label in the first column needs no colon. Names, mnemonics and registers are read
// without regard to case. Numbers: 255, 0FFH, 0xFF, $FF, 1010B, %1010, 17Q, 17O, 'A'; `$`
// alone is the address of the statement. Expressions: + - ~ (unary), * / %, + -, << >>, &,
// ^, |, parentheses, LOW(x), HIGH(x), in C's precedence and 32-bit signed arithmetic.
// Directives: ORG, EQU, DB/DEFB/DM/DEFM, DW/DEFW, DS/DEFS count[,fill], END, INCLUDE "file".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::assembler {

// `line` and `column` count from 1; a problem with a whole file (one that cannot be read)
// has line 0 and column 0.
struct Diagnostic {
  std::string file;  // as the user named it, or as an INCLUDE composed it
  int line = 0;
  int column = 0;
  std::string message;
};

// A label or an EQU with its value.
struct Symbol {
  std::string name;  // as written where it was defined
  std::int32_t value = 0;
  std::string file;
  int line = 0;
  bool equ = false;  // an EQU; otherwise a label
};

// A statement that placed bytes in memory: where, how many, and its source line.
struct LineAddress {
  std::int32_t address = 0;
  int length = 0;
  std::string file;
  int line = 0;
};

// At most this many errors are listed; when there are more, one further diagnostic says so.
inline constexpr int kMaxErrors = 50;

struct Result {
  std::vector<Diagnostic> errors;  // in source order; empty on success
  // On success only:
  std::vector<std::uint8_t> image;  // from 0000H to the highest byte written; gaps are 00H
  std::vector<LineAddress> lines;   // sorted by address
  std::vector<Symbol> symbols;      // sorted by name, without regard to case
  std::string listing;              // address, bytes, line number, source line
  bool ok() const { return errors.empty(); }
};

// Assembles a source file; INCLUDE paths are relative to the file that names them.
Result assembleFile(const std::filesystem::path& source);

// Assembles source text held in memory (an editor's unsaved buffer). `name` is the file
// name used in messages, and INCLUDE paths are relative to its folder.
Result assembleText(std::string_view text, const std::filesystem::path& name);

// True for the names of assembly sources: .asm, .z80 and .s, in any case.
bool isSourceFile(const std::filesystem::path& file);

// "prog.asm:12:9: error: message" (or "prog.asm: error: message" for a whole file).
std::string formatDiagnostic(const Diagnostic& diagnostic);

// Intel HEX of the bytes that the statements placed (gaps are left out, as a loader fills
// them with 00H): data records of up to 16 bytes, then the end record; lines end with LF.
std::string intelHex(const Result& result);

// One line per symbol: name, value in hexadecimal and decimal, kind, and where it is defined.
std::string symbolTable(const Result& result);

// The line whose bytes include `address`, or nullptr.
const LineAddress* lineAt(const Result& result, std::int32_t address);

// What the assembler takes the pieces of one source line for, so that an editor can colour
// them by the same rules: a label where a label is read, mnemonics, registers and directives
// by the assembler's own names, numbers (and `$`, characters) as the reader knows them.
enum class WordKind : std::uint8_t {
  Label,  // the label a line defines
  Mnemonic,
  Register,  // registers and conditions
  Directive,
  Number,
  String,
  Comment,
  Error,  // what cannot be read (an unterminated string runs to the end of the line)
};
struct Word {
  int column = 0;  // from 1, in bytes, like the columns of diagnostics
  int length = 0;  // in bytes
  WordKind kind = WordKind::Error;
};
// The coloured pieces of `line` (without its line end), left to right; names that are none
// of the above (labels used as values) and punctuation are left out.
std::vector<Word> classifyLine(std::string_view line);

}  // namespace korvel::assembler
