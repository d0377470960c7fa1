// The assembler in process: the language (snippets and the bytes they make), every class of
// error with its exact place and message, the outputs, INCLUDE, the examples, every
// documented form, and inputs built to exhaust time or memory.
#include "assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "documented_forms.h"
#include "temp_dir.h"

namespace korvel::assembler {
namespace {

using testing::TempDir;

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char hex[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X ", b);
    text += hex;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::string errorsOf(const Result& r) {
  std::string text;
  for (const Diagnostic& d : r.errors) text += formatDiagnostic(d) + "\n";
  return text;
}

TEST(Assembler, SnippetsMakeTheirBytes) {
  const std::pair<const char*, const char*> kCases[] = {
      // Every notation of a number.
      {" ld a,255\n ld a,0FFH\n ld a,0ffh\n ld a,0xFF\n ld a,$FF\n ld a,11111111B\n"
       " ld a,%11111111\n ld a,377q\n ld a,377O\n ld a,'A'\n db 1b,7Q,7o,9D",
       "3E FF 3E FF 3E FF 3E FF 3E FF 3E FF 3E FF 3E FF 3E FF 3E 41 01 07 07 09"},
      // C's precedence, truncating division, arithmetic right shift, % as modulo after a value.
      {" dw 2+3*4,(2+3)*4,1<<4|1,1+2<<1,-7/2,-7%2,-8>>1,~0&0FFH,6^3,LOW(1234H),HIGH(1234H)\n"
       " db %101,7 % 3",
       "0E 00 14 00 11 00 06 00 FD FF FF FF FC FF FF 00 05 00 34 00 12 00 05 01"},
      // 32-bit arithmetic wraps.
      {" dw 80000000H+80000000H,0FFFFFFFFH*2+0FFFFH,(-80000000H)/-1&0FFFFH", "00 00 FD FF 00 00"},
      // The edges of each range.
      {" ld a,-128\n ld a,255\n ld bc,-32768\n ld bc,65535\n ld (ix-128),a\n ld (iy+127),a",
       "3E 80 3E FF 01 00 80 01 FF FF DD 77 80 FD 77 7F"},
      // Relative jumps to the instruction itself, forward and back to the limits.
      {"start: jr start\n jr next\n djnz $\nnext: jr $+129\n jr $-126",
       "18 FE 18 02 10 FE 18 7F 18 80"},
      // Forward references and an EQU chain defined after its use.
      {" ld a,x\nx equ y+1\ny: equ w*2\nw equ 3\n jp later\nlater: ld hl,$",
       "3E 07 C3 05 00 21 05 00"},
      // Data: strings and numbers mixed, words, space with and without a fill, gaps of 00H; a
      // label on an ORG line names the new address.
      {" db \"Hi\",0DH,'!',\"\"\n dw 1,label\n ds 2\n defs 2,0AAH\nlabel: org 0EH\n defm \"Z\"",
       "48 69 0D 21 01 00 0E 00 00 00 AA AA 00 00 5A"},
      // Operand forms: (IX) is (IX+0), a displacement expression, ports, fixed operands.
      {" ld a,(ix)\n ld (iy-1+3),b\n jp (ix)\n ex af,af'\n in a,(c)\n out (0FEH),a\n"
       " rst 38h\n im 2\n ld a,i\n ld a,(2+3)*4\n ld a,(5)",
       "DD 7E 00 FD 70 02 DD E9 08 ED 78 D3 FE FF ED 5E ED 57 3E 14 3A 05 00"},
      // The shorthands ADD r and SUB A,r, for all eight operations.
      {" add b\n sub a,c\n adc (hl)\n cp a,5\n and a,(ix+1)\n xor a,a",
       "80 91 8E FE 05 DD A6 01 AF"},
      // Case, labels in the first column without a colon, indented labels with one, EQU
      // without a colon, END and what follows it.
      {"Start NOP\nloop: Djnz LOOP\n  x: equ 5\n  y EQU X\n Ld A,Y\n end\n garbage here",
       "00 10 FE 3E 05"},
      // Tabs, comments, Windows line ends, an empty program.
      {"\tld a,1 ; comment\r\n\r\n;only a comment\r\nnop", "3E 01 00"},
      {"", ""},
  };
  for (const auto& [source, bytes] : kCases) {
    SCOPED_TRACE(source);
    const Result r = assembleText(source, "t.asm");
    EXPECT_EQ(errorsOf(r), "");
    EXPECT_EQ(hexBytes(r.image), bytes);
  }
}

TEST(Assembler, EveryErrorHasItsPlaceAndReason) {
  const std::pair<const char*, const char*> kCases[] = {
      {" foo a", "1:2: unknown instruction foo"},
      {" ldri", "1:2: unknown instruction ldri; did you mean LDIR?"},
      {" loop djnz loop",
       "1:2: unknown instruction loop; if loop is a label, end it with a colon or start it in "
       "the first column"},
      {" ld (bc),b", "1:2: ld (bc),b: no such instruction; LD (BC) takes only A: LD (BC),A"},
      {" LD (IX+1),(HL)",
       "1:2: LD (IX+1),(HL): no such instruction; with (IX+d) first: LD (IX+d),n or LD (IX+d),r"},
      {" jp (bc)",
       "1:2: jp (bc): no such instruction; JP takes: JP cc,nn, JP nn, JP (HL), JP (IX) or "
       "JP (IY)"},
      {" nop 5", "1:2: nop 5: NOP takes no operands"},
      {" push",
       "1:2: PUSH needs an operand: PUSH BC, PUSH DE, PUSH HL, PUSH AF, PUSH IX or "
       "PUSH IY"},
      {" ld a,missing", "1:7: undefined label missing"},
      {" ld a,FFH",
       "1:7: undefined label FFH; a hexadecimal number that starts with a letter needs a 0 in "
       "front: 0FFH"},
      {"x: nop\nx: nop", "2:1: label x is already defined at t.asm:1"},
      {"b: nop", "1:1: b cannot be a label: it is the name of a register"},
      {"ldir: nop", "1:1: ldir cannot be a label: it is the name of an instruction"},
      {" ld a,256", "1:7: 256 (0100H) is out of range for a byte: -128 to 255"},
      {" db -129", "1:5: -129 is out of range for a byte: -128 to 255"},
      {" ld hl,65536", "1:8: 65536 (10000H) is out of range for a word: -32768 to 65535"},
      {" dw -32769", "1:5: -32769 is out of range for a word: -32768 to 65535"},
      {" ld a,(ix+128)", "1:7: displacement 128 is out of range: (IX+d) takes -128 to 127"},
      {" jr $+130",
       "1:5: JR cannot reach 0082H: it is 1 byte too far forward (JR reaches from 128 bytes "
       "back to 127 forward, counted from the next instruction)"},
      {" ds 127\n djnz 0",
       "2:7: DJNZ cannot reach 0000H: it is 1 byte too far back (DJNZ reaches from 128 bytes "
       "back to 127 forward, counted from the next instruction)"},
      {" im 3", "1:5: IM 3 does not exist: the interrupt modes are 0, 1 and 2"},
      {" rst 9", "1:6: RST 9 does not exist: RST takes 00H, 08H, 10H, 18H, 20H, 28H, 30H or 38H"},
      {" bit 8,a", "1:6: bit number 8 is out of range: the bits of a byte are 0 to 7"},
      {" org 0FFFFH\n ld a,1\n nop",
       "2:2: past the end of memory: this statement would fill up to 10000H, but the last "
       "address is FFFFH"},
      {" org 10000H", "1:6: ORG 65536 (10000H) lies outside memory (0000H to FFFFH)"},
      {" db 1,2\n org 1\n db 3",
       "3:2: this overwrites 0001H, already written by line 1: an ORG that goes back may only "
       "fill addresses still free"},
      {" org later\nlater:",
       "1:6: ORG needs a value known where it stands, but later depends on an address further "
       "down"},
      {" db \"abc", "1:5: unterminated string: the closing \" is missing"},
      {" ld a,'ab'",
       "1:7: a character constant holds exactly one character ('A'); for text use DB \"...\""},
      {" ld a,(1+2", "1:7: unbalanced parentheses: this ( has no matching )"},
      {" ld a,1+2)", "1:10: unbalanced parentheses: this ) has no matching ("},
      {" ld a,", "1:7: missing operand after ,"},
      {" ld a,2*", "1:9: missing value after *"},
      {" ld a,1/0", "1:8: division by zero"},
      {" ld a,1<<32", "1:8: shift count 32 is outside 0 to 31"},
      {" ld a,b+1", "1:7: b is a register: it cannot be part of a value"},
      {" ld a,(hl+1)", "1:10: (HL) takes no displacement; only (IX+d) and (IY+d) do"},
      {" ld a,12AB", "1:7: 12AB is not a number; a hexadecimal number ends with H: 12ABH"},
      {"u equ v\nv equ u", "2:7: circular EQU: u -> v -> u (each needs the next to have a value)"},
      {"a1 equ b1\nb1 equ c1+1\nc1 equ b1",
       "3:8: circular EQU: b1 -> c1 -> b1 (each needs the next to have a value)"},
      {" equ 5", "1:2: EQU needs a name before it: NAME EQU value"},
      {" end 5", "1:6: END takes no operand (a program always starts at 0000H)"},
      {" include \"none.asm\"", "1:10: cannot read none.asm: No such file or directory"},
      {"\x01", "1:1: unexpected byte 01H: a control character"},
      // The undocumented forms are refused by name.
      {" sll b",
       "1:2: sll is an undocumented instruction that Korvel does not run; SLA shifts left "
       "with a 0 into bit 0"},
      {" ld a,ixh", "1:7: IXH is a half of IX: an undocumented register that Korvel does not run"},
      {" in f,(c)",
       "1:2: IN F,(C): an undocumented instruction that Korvel does not run; IN r,(C) reads into "
       "B, C, D, E, H, L or A"},
      {" out (c),0",
       "1:2: OUT (C),0: an undocumented instruction that Korvel does not run; OUT (C),r writes "
       "B, C, D, E, H, L or A"},
      {" set 1,(iy-2),a",
       "1:2: SET b,(IY+d),r copies the result into a register: an undocumented instruction that "
       "Korvel does not run; write SET b,(IY+d), then LD r,(IY+d)"},
  };
  for (const auto& [source, expected] : kCases) {
    SCOPED_TRACE(source);
    const Result r = assembleText(source, "t.asm");
    ASSERT_FALSE(r.ok());
    const std::string e = expected;  // "line:column: message"
    const std::size_t colon = e.find(':', e.find(':') + 1);
    EXPECT_EQ(formatDiagnostic(r.errors[0]),
              "t.asm:" + e.substr(0, colon) + ": error:" + e.substr(colon + 1));
    EXPECT_TRUE(r.image.empty() && r.lines.empty() && r.symbols.empty() && r.listing.empty());
  }
}

TEST(Assembler, AllErrorsComeInSourceOrderUpToFifty) {
  // The first error is found only in pass two, the others while reading.
  std::string source = " ld a,300\n";
  for (int i = 1; i < 50; ++i) source += " bad\n";
  Result r = assembleText(source, "t.asm");
  ASSERT_EQ(r.errors.size(), 50u);
  EXPECT_EQ(r.errors[0].line, 1);
  EXPECT_EQ(r.errors[49].line, 50);
  r = assembleText(source + " bad\n", "t.asm");
  ASSERT_EQ(r.errors.size(), 51u);
  EXPECT_EQ(r.errors[49].line, 50);
  EXPECT_EQ(formatDiagnostic(r.errors[50]),
            "t.asm:51:2: error: too many errors: 51 in all, the first 50 are shown");
  // Two statements inside one earlier range: each is reported.
  r = assembleText(" ds 10\n org 2\n nop\n org 5\n nop", "t.asm");
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_TRUE(r.errors[0].line == 3 && r.errors[1].line == 5);
}

TEST(Assembler, ListingSymbolsHexAndLines) {
  const Result r = assembleText(
      "; demo\nstart: ld a,5\n       jr start\n       org 10H\nmsg:   db \"AB\",0,1,2,3\n"
      "n      equ -1\n       ds 17,0EEH\n",
      "demo.asm");
  ASSERT_EQ(errorsOf(r), "");
  EXPECT_EQ(r.listing,
            "                       1  ; demo\n"
            "0000  3E 05            2  start: ld a,5\n"
            "0002  18 FC            3         jr start\n"
            "0010                   4         org 10H\n"
            "0010  41 42 00 01      5  msg:   db \"AB\",0,1,2,3\n"
            "0014  02 03\n"
            "      = FFFFFFFFH      6  n      equ -1\n"
            "0016  EE EE EE EE      7         ds 17,0EEH\n");
  EXPECT_EQ(symbolTable(r),
            "msg    0010H           16  label  demo.asm:5\n"
            "n      FFFFFFFFH           -1  EQU    demo.asm:6\n"
            "start  0000H            0  label  demo.asm:2\n");
  EXPECT_EQ(intelHex(r),
            ":040000003E0518FCA5\n:10001000414200010203EEEEEEEEEEEEEEEEEEEE0B\n"
            ":07002000EEEEEEEEEEEEEE57\n:00000001FF\n");
  ASSERT_NE(lineAt(r, 0x0003), nullptr);
  EXPECT_EQ(lineAt(r, 0x0003)->line, 3);
  EXPECT_EQ(lineAt(r, 0x0015)->line, 5);
  EXPECT_EQ(lineAt(r, 0x0004), nullptr);
  EXPECT_EQ(lineAt(r, 0x0016)->line, 7);
  EXPECT_EQ(lineAt(r, 0x0027), nullptr);
}

TEST(Assembler, IncludesAreReadBesideTheFileThatNamesThem) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  const auto write = [](const std::filesystem::path& file, const std::string& text) {
    testing::writeBytes(file, std::vector<unsigned char>(text.begin(), text.end()));
  };
  write(dir / "main.asm", " nop\n include \"sub/a.asm\"\n db value\n");
  write(dir / "sub" / "a.asm", " include \"b.asm\"\n");
  write(dir / "sub" / "b.asm", "value equ 7\n halt\n");
  Result r = assembleFile(dir / "main.asm");
  EXPECT_EQ(errorsOf(r), "");
  EXPECT_EQ(hexBytes(r.image), "00 76 07");
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_TRUE(r.lines[1].file.ends_with("sub/b.asm") && r.lines[1].line == 2);

  write(dir / "sub" / "b.asm", "value equ 1\n include \"a.asm\"\n");
  r = assembleFile(dir / "main.asm");
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_TRUE(r.errors[0].file.ends_with("sub/b.asm") && r.errors[0].line == 2) << errorsOf(r);
  EXPECT_TRUE(r.errors[0].message.ends_with("sub/a.asm -> " + (dir / "sub/b.asm").string() +
                                            " -> " + (dir / "sub/a.asm").string()))
      << r.errors[0].message;
  // The same through assembleText: includes are found beside the name given.
  r = assembleText(" include \"sub/b.asm\"", dir / "editor.asm");
  EXPECT_TRUE(r.errors.size() == 1 && r.errors[0].message.starts_with("INCLUDE cycle:"));
}

TEST(Assembler, ExamplesAssembleToTheirCommittedImages) {
  for (const char* name : {"hello", "pages"}) {
    const std::string base = std::string(KORVEL_EXAMPLES_DIR) + "/" + name;
    const Result r = assembleFile(base + ".asm");
    EXPECT_EQ(errorsOf(r), "");
    const std::string image = testing::readText(base + ".bin");
    EXPECT_EQ(hexBytes(r.image), hexBytes(std::vector<std::uint8_t>(image.begin(), image.end())))
        << name;
  }
}

// Assembling each text the core shows gives back the bytes it was shown for.
TEST(Assembler, EveryDocumentedFormAssemblesBackToItsBytes) {
  const std::vector<testing::DocumentedForm> forms = testing::documentedForms();
  EXPECT_EQ(forms.size(), 2u * (252 + 248 + 58 + 2 * 39 + 2 * 31));
  std::map<std::string, const testing::DocumentedForm*> first;
  for (const testing::DocumentedForm& f : forms) {
    SCOPED_TRACE(f.source);
    const Result r = assembleText(" " + f.source, "forms.asm");
    ASSERT_EQ(errorsOf(r), "");
    ASSERT_TRUE(!r.image.empty() && r.image.size() <= 4);
    // Where the ED page repeats a main-page text (LD HL,(nn)), the main page's shorter bytes.
    const testing::DocumentedForm& expected = *first.try_emplace(f.shown, &f).first->second;
    EXPECT_TRUE(std::equal(r.image.begin(), r.image.end(), expected.bytes.begin()));
    // Bytes left out would show up as FFH in the text.
    std::array<std::uint8_t, 4> padded{0xFF, 0xFF, 0xFF, 0xFF};
    std::copy(r.image.begin(), r.image.end(), padded.begin());
    EXPECT_EQ(disassemble(padded), f.shown);
  }
}

// What an editor colours, as "kind:text", by the rules the assembler reads lines with.
TEST(Assembler, LinesAreClassifiedAsTheAssemblerReadsThem) {
  const std::pair<const char*, const char*> kCases[] = {
      {"loop: ld a,(ix+5) ; count", "L:loop M:ld R:a R:ix N:5 C:; count"},
      {"start ex af,af'", "L:start M:ex R:af R:af'"},
      {" jr nz,start+$0F", "M:jr R:nz N:$0F"},
      {"nop", "M:nop"},  // a mnemonic in the first column is no label
      {"port equ 0FFh", "L:port D:equ N:0FFh"},
      {"  x: DB \"a;b\",'c',%101 ;;", "L:x D:DB S:\"a;b\" N:'c' N:%101 C:;;"},
      {" ld a,12G4 ; here", "M:ld R:a E:12G4 C:; here"},
      {" db \"open ; string", "D:db E:\"open ; string"},
      {" ld @,b", "M:ld E:@ R:b"},
      {"; only \xC5\xBE", "C:; only \xC5\xBE"},
  };
  const char kKinds[] = "LMRDNSCE";
  for (const auto& [line, expected] : kCases) {
    std::string shown;
    for (const Word& w : classifyLine(line)) {
      if (!shown.empty()) shown += ' ';
      shown += std::string(1, kKinds[static_cast<int>(w.kind)]) + ':' +
               std::string(line).substr(static_cast<std::size_t>(w.column - 1),
                                        static_cast<std::size_t>(w.length));
    }
    EXPECT_EQ(shown, expected) << line;
  }
}

// Inputs made to exhaust time, memory or the stack end with a result or a message.
TEST(Assembler, HostileInputsEndWithAResultOrAMessage) {
  const std::string megabyte(1 << 20, '1');
  std::string sum = " ld a,1";
  for (int i = 0; i < (1 << 19); ++i) sum += "+1";
  std::string nested = " ld a," + std::string(100000, '(') + "1" + std::string(100000, ')');
  std::string chain;  // an EQU chain of 200,000 lines, used before any of it is defined
  chain += " dw l0&0FFFFH\n";
  for (int i = 0; i < 199999; ++i) {
    chain += "l" + std::to_string(i) + " equ l" + std::to_string(i + 1) + "+1\n";
  }
  chain += "l199999 equ 1\n";
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(1 + i % 255);
  const std::pair<std::string, std::string> kCases[] = {
      {" nop ;" + megabyte, ""},
      {" db " + megabyte,
       "t.asm:1:5: error: 11111111111111111111...: number too large: values have at most 32 bits"},
      {sum, "t.asm:1:7: error: 524289 (80001H) is out of range for a byte: -128 to 255"},
      {nested, "t.asm:1:108: error: parentheses nested more than 100 deep"},
      {chain, ""},
      {std::string("\x7F"
                   "ELF\0\1",
                   6),
       "t.asm: error: cannot assemble: it is not a text file"},
      {binary, "t.asm:1:1: error: unexpected byte 01H: a control character"},
  };
  for (const auto& [source, expected] : kCases) {
    SCOPED_TRACE(expected);
    const Result r = assembleText(source, "t.asm");
    if (expected.empty()) {
      EXPECT_EQ(errorsOf(r), "");
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_LE(r.errors.size(), 51u);
      EXPECT_TRUE(formatDiagnostic(r.errors[0]).starts_with(expected))
          << formatDiagnostic(r.errors[0]).substr(0, 200);
    }
  }
  EXPECT_EQ(hexBytes(assembleText(chain, "t.asm").image), "40 0D");  // 200,000 = 30D40H
}

}  // namespace
}  // namespace korvel::assembler
