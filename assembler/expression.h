// Expressions: parsed once into postfix order and evaluated with an explicit stack, so that
// a long chain of operators needs no deep recursion. The operators, their precedence and
// their 32-bit signed arithmetic are those of C.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lexer.h"

namespace korvel::assembler {

enum class Op : std::uint8_t {
  Number,  // value
  Symbol,  // value: the symbol's index
  Dollar,  // the address of the current statement
  Negate,
  Complement,
  Low,
  High,
  Multiply,
  Divide,
  Modulo,
  Add,
  Subtract,
  ShiftLeft,
  ShiftRight,
  And,
  Xor,
  Or,
};

struct Item {
  Op op;
  int column;
  std::int32_t value = 0;
};

// A range of items in an item store.
struct Expr {
  std::uint32_t begin = 0, end = 0;
};

// Parentheses deeper than this are refused rather than risking the stack.
inline constexpr int kMaxNesting = 100;

struct ExprError {
  int column = 0;
  std::string message;
};

// Parses all of `tokens` as one expression, appending its items to `items`. `symbol` gives
// the index of a name, or -1 with a message when the name cannot stand in an expression
// (a register).
bool parseExpression(std::span<const Token> tokens, int endColumn, std::vector<Item>& items,
                     Expr& expr,
                     const std::function<int(std::string_view name, std::string& message)>& symbol,
                     ExprError& error);

// The operators in wrapping 32-bit arithmetic. applyBinary gives false with a message for a
// division by zero or a shift count outside 0 to 31.
bool isUnary(Op op);
std::int32_t applyUnary(Op op, std::int32_t a);
bool applyBinary(Op op, std::int32_t a, std::int32_t b, std::int32_t& result, std::string& message);

}  // namespace korvel::assembler
