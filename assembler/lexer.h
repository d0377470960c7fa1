// Splits one source line into tokens: names, numbers in all the notations the assembler
// accepts, characters, strings and operators. A comment ends the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::assembler {

enum class TokenKind : std::uint8_t {
  Name,       // letters, digits, '_' and '.', not starting with a digit; also AF'
  Number,     // `value` holds it, brought into 32 bits
  Character,  // 'A': `value` holds the character code
  String,     // "text": `text` includes the quotes
  LeftParen,
  RightParen,
  Comma,
  Colon,
  Dollar,  // $ alone: the address of the current statement
  Plus,
  Minus,
  Star,
  Slash,
  Percent,
  Tilde,
  ShiftLeft,
  ShiftRight,
  Ampersand,
  Caret,
  Bar,
};

struct Token {
  TokenKind kind;
  int column;             // 1-based, counted in bytes
  std::string_view text;  // the token as written
  std::int32_t value = 0;
};

struct LexError {
  int column = 0;
  std::string message;
};

// Tokens of `line` (without its line end) into `tokens`. On a character that cannot start a
// token, or a malformed number, character or string, returns false with `error` set; the
// tokens before it are kept.
bool tokenize(std::string_view line, std::vector<Token>& tokens, LexError& error);

// The name in upper case (names are compared without regard to case).
std::string upperCase(std::string_view text);

}  // namespace korvel::assembler
