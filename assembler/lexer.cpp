#include "lexer.h"

#include <cstdio>

namespace korvel::assembler {

namespace {

bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isAlnum(char c) {
  return isLetter(c) || isDigit(c);
}
bool isNameStart(char c) {
  return isLetter(c) || c == '_' || c == '.';
}
bool isNameChar(char c) {
  return isAlnum(c) || c == '_' || c == '.';
}

int digitValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return 99;
}

bool allHexDigits(std::string_view digits) {
  for (char c : digits) {
    if (digitValue(c) >= 16) return false;
  }
  return true;
}

// Digits in `base` into a 32-bit value; an empty string, a wrong digit or more than 32 bits
// give a message.
bool parseDigits(std::string_view digits, int base, std::int32_t& value, std::string& message) {
  static const char* const kBaseNames[17] = {"", "", "binary", "", "",           "",
                                             "", "", "octal",  "", "decimal",    "",
                                             "", "", "",       "", "hexadecimal"};
  if (digits.empty()) {
    message = std::string("missing digits in a ") + kBaseNames[base] + " number";
    return false;
  }
  std::uint64_t v = 0;
  for (char c : digits) {
    const int d = digitValue(c);
    if (d >= base) {
      message = std::string("'") + c + "' is not a " + kBaseNames[base] + " digit";
      return false;
    }
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (v > 0xFFFFFFFFu) {
      message = "number too large: values have at most 32 bits";
      return false;
    }
  }
  value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  return true;
}

// A number that starts with a digit: 255, 0FFH, 0xFF, 1010B, 17Q, 17O, 255D.
bool parseNumber(std::string_view t, std::int32_t& value, std::string& message) {
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    return parseDigits(t.substr(2), 16, value, message);
  }
  int base = 10;
  switch (t.back()) {
    case 'H':
    case 'h': base = 16; break;
    case 'B':
    case 'b': base = 2; break;
    case 'Q':
    case 'q':
    case 'O':
    case 'o': base = 8; break;
    case 'D':
    case 'd': base = 10; break;
    default: return parseDigits(t, 10, value, message);
  }
  return parseDigits(t.substr(0, t.size() - 1), base, value, message);
}

// A token as messages quote it: long ones are cut short.
std::string shown(std::string_view token) {
  constexpr std::size_t kLongest = 20;
  if (token.size() <= kLongest) return std::string(token);
  return std::string(token.substr(0, kLongest)) + "...";
}

}  // namespace

std::string upperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool tokenize(std::string_view line, std::vector<Token>& tokens, LexError& error) {
  tokens.clear();
  std::size_t i = 0;
  const auto fail = [&](std::size_t at, std::string message) {
    error = {static_cast<int>(at) + 1, std::move(message)};
    return false;
  };
  const auto valueEnds = [&tokens] {
    if (tokens.empty()) return false;
    const TokenKind k = tokens.back().kind;
    return k == TokenKind::Name || k == TokenKind::Number || k == TokenKind::Character ||
           k == TokenKind::RightParen || k == TokenKind::Dollar;
  };
  while (i < line.size()) {
    const char c = line[i];
    const std::size_t start = i;
    const auto push = [&](TokenKind kind, std::size_t length, std::int32_t value = 0) {
      tokens.push_back({kind, static_cast<int>(start) + 1, line.substr(start, length), value});
      i = start + length;
    };
    if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
      continue;
    }
    if (c == ';') break;
    if (isNameStart(c)) {
      std::size_t end = i + 1;
      while (end < line.size() && isNameChar(line[end])) ++end;
      // EX AF,AF': the alternate pair's quote belongs to the name.
      if (end - i == 2 && end < line.size() && line[end] == '\'' &&
          upperCase(line.substr(i, 2)) == "AF") {
        ++end;
      }
      push(TokenKind::Name, end - i);
      continue;
    }
    if (isDigit(c)) {
      std::size_t end = i + 1;
      while (end < line.size() && isAlnum(line[end])) ++end;
      const std::string_view t = line.substr(i, end - i);
      std::int32_t value = 0;
      std::string message;
      if (!parseNumber(t, value, message)) {
        if (message.find("digit") != std::string::npos) {
          if (allHexDigits(t)) {
            return fail(i, shown(t) + " is not a number; a hexadecimal number ends with H: " +
                               shown(t) + "H");
          }
          return fail(i, shown(t) + " is not a number (" + message + ")");
        }
        return fail(i, shown(t) + ": " + message);
      }
      push(TokenKind::Number, end - i, value);
      continue;
    }
    // % is binary when a digit follows at once and it does not stand between two values:
    // "DB %101", "LD A,%101", but "7 % 3" and "7%3".
    const bool binary = c == '%' && i + 1 < line.size() &&
                        (line[i + 1] == '0' || line[i + 1] == '1') &&
                        (!valueEnds() || line[i - 1] == ' ' || line[i - 1] == '\t');
    if (c == '$' || binary) {
      std::size_t end = i + 1;
      while (end < line.size() && isAlnum(line[end])) ++end;
      if (end == i + 1) {
        push(TokenKind::Dollar, 1);
        continue;
      }
      std::int32_t value = 0;
      std::string message;
      if (!parseDigits(line.substr(i + 1, end - i - 1), c == '$' ? 16 : 2, value, message)) {
        return fail(i, shown(line.substr(i, end - i)) + " is not a number (" + message + ")");
      }
      push(TokenKind::Number, end - i, value);
      continue;
    }
    if (c == '\'') {
      if (i + 2 < line.size() && line[i + 2] == '\'' && line[i + 1] != '\'') {
        push(TokenKind::Character, 3, static_cast<unsigned char>(line[i + 1]));
        continue;
      }
      const std::size_t close = line.find('\'', i + 1);
      if (close == std::string_view::npos) {
        return fail(i, "unterminated character constant: the closing ' is missing");
      }
      return fail(i,
                  "a character constant holds exactly one character ('A'); for text use "
                  "DB \"...\"");
    }
    if (c == '"') {
      const std::size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) {
        return fail(i, "unterminated string: the closing \" is missing");
      }
      push(TokenKind::String, close + 1 - i);
      continue;
    }
    if ((c == '<' || c == '>') && i + 1 < line.size() && line[i + 1] == c) {
      push(c == '<' ? TokenKind::ShiftLeft : TokenKind::ShiftRight, 2);
      continue;
    }
    TokenKind kind;
    switch (c) {
      case '(': kind = TokenKind::LeftParen; break;
      case ')': kind = TokenKind::RightParen; break;
      case ',': kind = TokenKind::Comma; break;
      case ':': kind = TokenKind::Colon; break;
      case '+': kind = TokenKind::Plus; break;
      case '-': kind = TokenKind::Minus; break;
      case '*': kind = TokenKind::Star; break;
      case '/': kind = TokenKind::Slash; break;
      case '%': kind = TokenKind::Percent; break;
      case '~': kind = TokenKind::Tilde; break;
      case '&': kind = TokenKind::Ampersand; break;
      case '^': kind = TokenKind::Caret; break;
      case '|': kind = TokenKind::Bar; break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
          std::string message = std::string("unexpected character '") + c + "'";
          if (c == '<' || c == '>') message += " (the shifts are << and >>)";
          return fail(i, message);
        }
        char code[8];
        std::snprintf(code, sizeof code, "%02XH", byte);
        return fail(i, std::string("unexpected byte ") + code +
                           (byte >= 0x80 ? ": letters outside ASCII may stand only in comments "
                                           "and strings"
                                         : ": a control character"));
      }
    }
    push(kind, 1);
  }
  return true;
}

}  // namespace korvel::assembler
