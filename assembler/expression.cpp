#include "expression.h"

#include <limits>

namespace korvel::assembler {

namespace {

// C precedence, lowest first: | ^ & (<< >>) (+ -) (* / %).
int precedence(TokenKind kind, Op& op) {
  switch (kind) {
    case TokenKind::Bar: op = Op::Or; return 1;
    case TokenKind::Caret: op = Op::Xor; return 2;
    case TokenKind::Ampersand: op = Op::And; return 3;
    case TokenKind::ShiftLeft: op = Op::ShiftLeft; return 4;
    case TokenKind::ShiftRight: op = Op::ShiftRight; return 4;
    case TokenKind::Plus: op = Op::Add; return 5;
    case TokenKind::Minus: op = Op::Subtract; return 5;
    case TokenKind::Star: op = Op::Multiply; return 6;
    case TokenKind::Slash: op = Op::Divide; return 6;
    case TokenKind::Percent: op = Op::Modulo; return 6;
    default: return 0;
  }
}

std::string shown(const Token& t) {
  constexpr std::size_t kLongest = 20;
  if (t.text.size() <= kLongest) return std::string(t.text);
  return std::string(t.text.substr(0, kLongest)) + "...";
}

class Parser {
 public:
  Parser(std::span<const Token> tokens, int endColumn, std::vector<Item>& items,
         const std::function<int(std::string_view, std::string&)>& symbol, ExprError& error)
      : t_(tokens), endColumn_(endColumn), items_(items), symbol_(symbol), error_(error) {}

  bool parseAll() {
    if (!binary(1)) return false;
    if (pos_ < t_.size()) {
      if (t_[pos_].kind == TokenKind::RightParen) {
        return fail(t_[pos_].column, "unbalanced parentheses: this ) has no matching (");
      }
      return fail(t_[pos_].column, "unexpected " + shown(t_[pos_]) + " after a complete value");
    }
    return true;
  }

 private:
  bool fail(int column, std::string message) {
    error_ = {column, std::move(message)};
    return false;
  }

  // Operators of at least `minimum` precedence; the right operand of each takes only
  // stronger ones, so the recursion is as deep as the precedence levels, not the chain.
  bool binary(int minimum) {
    if (!unary()) return false;
    for (;;) {
      if (pos_ >= t_.size()) return true;
      Op op{};
      const int level = precedence(t_[pos_].kind, op);
      if (level == 0 || level < minimum) return true;
      const int column = t_[pos_++].column;
      if (!binary(level + 1)) return false;
      items_.push_back({op, column});
    }
  }

  // Prefix operators are collected and applied after their operand, without recursion.
  bool unary() {
    const std::size_t first = prefixes_.size();
    while (pos_ < t_.size()) {
      const TokenKind k = t_[pos_].kind;
      if (k == TokenKind::Minus) {
        prefixes_.push_back({Op::Negate, t_[pos_].column});
      } else if (k == TokenKind::Tilde) {
        prefixes_.push_back({Op::Complement, t_[pos_].column});
      } else if (k != TokenKind::Plus) {
        break;
      }
      ++pos_;
    }
    if (!primary()) return false;
    while (prefixes_.size() > first) {
      items_.push_back(prefixes_.back());
      prefixes_.pop_back();
    }
    return true;
  }

  bool primary() {
    if (pos_ >= t_.size()) {
      return fail(endColumn_,
                  pos_ == 0 ? "missing value" : "missing value after " + shown(t_[pos_ - 1]));
    }
    const Token& t = t_[pos_++];
    switch (t.kind) {
      case TokenKind::Number:
      case TokenKind::Character: items_.push_back({Op::Number, t.column, t.value}); return true;
      case TokenKind::Dollar: items_.push_back({Op::Dollar, t.column}); return true;
      case TokenKind::LeftParen: return parenthesized(t.column, Op::Number);
      case TokenKind::Name: {
        const std::string upper = upperCase(t.text);
        if ((upper == "LOW" || upper == "HIGH") && pos_ < t_.size() &&
            t_[pos_].kind == TokenKind::LeftParen) {
          const int column = t_[pos_++].column;
          return parenthesized(column, upper == "LOW" ? Op::Low : Op::High);
        }
        std::string message;
        const int index = symbol_(t.text, message);
        if (index < 0) return fail(t.column, message);
        items_.push_back({Op::Symbol, t.column, index});
        return true;
      }
      case TokenKind::String:
        return fail(t.column,
                    "a string in double quotes can stand only in DB; a single "
                    "character is written 'A'");
      case TokenKind::RightParen:
        return fail(t.column, pos_ == 1 ? "missing value before )"
                                        : "missing value after " + shown(t_[pos_ - 2]));
      default:
        return fail(t.column, pos_ == 1 ? "missing value before " + shown(t)
                                        : "missing value after " + shown(t_[pos_ - 2]));
    }
  }

  // "(" has been read; the value inside, its ")", then `apply` (Op::Number: nothing).
  bool parenthesized(int column, Op apply) {
    if (++depth_ > kMaxNesting) {
      return fail(column, "parentheses nested more than " + std::to_string(kMaxNesting) + " deep");
    }
    if (!binary(1)) return false;
    if (pos_ >= t_.size() || t_[pos_].kind != TokenKind::RightParen) {
      return fail(column, pos_ >= t_.size()
                              ? "unbalanced parentheses: this ( has no matching )"
                              : "unexpected " + shown(t_[pos_]) + " inside parentheses");
    }
    ++pos_;
    --depth_;
    if (apply != Op::Number) items_.push_back({apply, column});
    return true;
  }

  std::span<const Token> t_;
  int endColumn_;
  std::vector<Item>& items_;
  const std::function<int(std::string_view, std::string&)>& symbol_;
  ExprError& error_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::vector<Item> prefixes_;
};

}  // namespace

bool parseExpression(std::span<const Token> tokens, int endColumn, std::vector<Item>& items,
                     Expr& expr, const std::function<int(std::string_view, std::string&)>& symbol,
                     ExprError& error) {
  const std::size_t begin = items.size();
  Parser parser(tokens, endColumn, items, symbol, error);
  if (!parser.parseAll()) {
    items.resize(begin);
    return false;
  }
  expr = {static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(items.size())};
  return true;
}

bool isUnary(Op op) {
  return op == Op::Negate || op == Op::Complement || op == Op::Low || op == Op::High;
}

std::int32_t applyUnary(Op op, std::int32_t a) {
  const auto u = static_cast<std::uint32_t>(a);
  switch (op) {
    case Op::Negate: return static_cast<std::int32_t>(0u - u);
    case Op::Complement: return static_cast<std::int32_t>(~u);
    case Op::Low: return static_cast<std::int32_t>(u & 0xFFu);
    default: return static_cast<std::int32_t>((u >> 8) & 0xFFu);  // High
  }
}

// Wrapping 32-bit arithmetic: the unsigned forms are exact modulo 2^32 and convert back.
bool applyBinary(Op op, std::int32_t a, std::int32_t b, std::int32_t& result,
                 std::string& message) {
  const auto ua = static_cast<std::uint32_t>(a);
  const auto ub = static_cast<std::uint32_t>(b);
  switch (op) {
    case Op::Multiply: result = static_cast<std::int32_t>(ua * ub); return true;
    case Op::Divide:
    case Op::Modulo:
      if (b == 0) {
        message = op == Op::Divide ? "division by zero" : "modulo by zero";
        return false;
      }
      if (a == std::numeric_limits<std::int32_t>::min() && b == -1) {
        result = op == Op::Divide ? a : 0;  // the one quotient that does not fit wraps
      } else {
        result = op == Op::Divide ? a / b : a % b;
      }
      return true;
    case Op::Add: result = static_cast<std::int32_t>(ua + ub); return true;
    case Op::Subtract: result = static_cast<std::int32_t>(ua - ub); return true;
    case Op::ShiftLeft:
    case Op::ShiftRight:
      if (b < 0 || b > 31) {
        message = "shift count " + std::to_string(b) + " is outside 0 to 31";
        return false;
      }
      result = op == Op::ShiftLeft ? static_cast<std::int32_t>(ua << b) : a >> b;
      return true;
    case Op::And: result = static_cast<std::int32_t>(ua & ub); return true;
    case Op::Xor: result = static_cast<std::int32_t>(ua ^ ub); return true;
    default: result = static_cast<std::int32_t>(ua | ub); return true;  // Or
  }
}

}  // namespace korvel::assembler
