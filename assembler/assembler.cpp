// The assembler's passes. Reading turns every line into a statement (INCLUDEs read in
// place) and fixes each instruction's form, and so its length, from the kinds of its
// operands alone. Pass one gives every statement its address. Pass two computes every value,
// checks its range and writes the bytes. EQUs are resolved when first needed, through an
// explicit stack, so chains of any length and in any order work and cycles are found.
#include "assembler.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>

#include "decoding.h"
#include "expression.h"
#include "instruction_table.h"
#include "lexer.h"
#include "open_file.h"
#include "source_reader.h"

namespace korvel::assembler {

namespace {

namespace fs = std::filesystem;
namespace dc = decoding;

constexpr std::int32_t kMemoryEnd = 0x10000;
constexpr std::size_t kMaxLines = 1'000'000;  // all files together
constexpr std::size_t kMaxTotalBytes = std::size_t{16} << 20;
constexpr std::size_t kMaxIncludeDepth = 16;
constexpr std::size_t kLongestEcho = 40;

// ---------------------------------------------------------------------------------------
// Words

// Register and condition names as operands spell them, from the core's tables.
const std::vector<std::string>& registerWords() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> w;
    for (const char* r : dc::kRegisterNames) w.emplace_back(r);
    w.erase(std::remove(w.begin(), w.end(), "(HL)"), w.end());
    for (const char* const* table : {dc::kPairNames, dc::kStackPairNames}) {
      for (int i = 0; i < 4; ++i) w.emplace_back(table[i]);
    }
    for (const char* c : dc::kConditionNames) w.emplace_back(c);
    for (const char* xy : dc::kIndexNames) w.emplace_back(xy);
    // The interrupt and refresh registers, the flag register and the alternate pair; the
    // halves of IX and IY are named only to be refused.
    for (const char* extra : {"I", "R", "F", "AF'", "IXH", "IXL", "IYH", "IYL"}) {
      w.emplace_back(extra);
    }
    std::sort(w.begin(), w.end());
    w.erase(std::unique(w.begin(), w.end()), w.end());
    return w;
  }();
  return words;
}

// The register word in its stored spelling, or empty.
std::string_view registerWord(std::string_view upper) {
  const std::vector<std::string>& words = registerWords();
  const auto it = std::lower_bound(words.begin(), words.end(), upper);
  return it != words.end() && *it == upper ? std::string_view(*it) : std::string_view();
}

bool isIndexHalf(std::string_view reg) {
  return reg.size() == 3 && reg[0] == 'I';
}
bool isIndexRegister(std::string_view reg) {
  return reg == "IX" || reg == "IY";
}
bool isCondition(std::string_view upper) {
  return std::any_of(std::begin(dc::kConditionNames), std::end(dc::kConditionNames),
                     [upper](const char* c) { return upper == c; });
}

enum class Kind : std::uint8_t { Label, Instruction, Org, Equ, Db, Dw, Ds, Include, End };

constexpr std::pair<const char*, Kind> kDirectives[] = {
    {"ORG", Kind::Org}, {"EQU", Kind::Equ}, {"DB", Kind::Db},   {"DEFB", Kind::Db},
    {"DM", Kind::Db},   {"DEFM", Kind::Db}, {"DW", Kind::Dw},   {"DEFW", Kind::Dw},
    {"DS", Kind::Ds},   {"DEFS", Kind::Ds}, {"END", Kind::End}, {"INCLUDE", Kind::Include},
};

std::optional<Kind> directive(std::string_view upper) {
  for (const auto& [name, kind] : kDirectives) {
    if (upper == name) return kind;
  }
  return std::nullopt;
}

// Names of the undocumented shift that learners meet in other tables.
bool isUndocumentedShift(std::string_view upper) {
  return upper == dc::kUndocumentedShiftName || upper == "SL1" || upper == "SLI" || upper == "SLS";
}

bool isKeyword(std::string_view upper) {
  return directive(upper) || InstructionTable::instance().isMnemonic(upper) ||
         isUndocumentedShift(upper);
}

// a and b differ by one letter added, dropped, changed, or two neighbours swapped.
bool oneEditApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  if (a.size() == b.size()) {
    if (i == a.size()) return false;
    if (a.substr(i + 1) == b.substr(i + 1)) return true;
    return i + 1 < a.size() && a[i] == b[i + 1] && a[i + 1] == b[i] &&
           a.substr(i + 2) == b.substr(i + 2);
  }
  return a.substr(i) == b.substr(i + 1);
}

std::string echo(std::string_view text) {
  if (text.size() <= kLongestEcho) return std::string(text);
  return std::string(text.substr(0, kLongestEcho)) + "...";
}

// At least four digits, as the instruction texts write addresses; negative values in their
// 32-bit form.
std::string hexValue(std::int32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, v >= 0 ? "%04XH" : "%08XH", static_cast<std::uint32_t>(v));
  return text;
}

std::string numberText(std::int32_t v) {
  return v >= 0 ? std::to_string(v) + " (" + hexValue(v) + ")" : std::to_string(v);
}

// ---------------------------------------------------------------------------------------
// Statements

struct SourceFile {
  fs::path path;  // for opening the files it includes
  std::string shown;
  std::string text;
};

enum class OperandKind : std::uint8_t {
  Register,          // A, HL, NZ, AF'
  IndirectRegister,  // (HL), (C), (IX)
  IndexCell,         // (IX+d)
  Indirect,          // (value)
  Immediate,         // value
  String,            // "text", in DB only
};

struct Operand {
  OperandKind kind = OperandKind::Immediate;
  std::string_view name;  // the register, upper case; String: the contents
  Expr value;
  bool hasValue = false;  // (IX) has none: the displacement is 0
  int column = 0;
  std::string_view text;  // as written
};

struct Statement {
  Kind kind = Kind::Label;
  bool bad = false;
  int file = 0, line = 0, column = 0;  // column: the mnemonic (or the label)
  std::uint32_t order = 0;             // position among all lines read
  int label = -1;
  const Form* form = nullptr;
  std::uint32_t operandBegin = 0, operandCount = 0;
  std::int32_t address = 0, size = 0;
  std::string_view source;  // mnemonic and operands as written
};

enum class SymbolState : std::uint8_t { Undefined, Label, Equ, Resolving, Resolved, Failed };

struct SymbolEntry {
  std::string name;
  SymbolState state = SymbolState::Undefined;
  bool placed = false;  // a label whose address is known
  int statement = -1;
  std::int32_t value = 0;
};

struct ListingLine {
  int file, line, statement;
  std::string_view text;
};

// Keeps the first kMaxErrors + 1 errors in source order, however many are reported.
class ErrorList {
 public:
  void add(std::uint32_t order, Diagnostic d) {
    ++total_;
    const Key key{order, d.column, total_};
    if (kept_.size() > kKept - 1 && !(key < kept_.back().first)) return;
    kept_.insert(std::upper_bound(kept_.begin(), kept_.end(), key,
                                  [](const Key& k, const auto& e) { return k < e.first; }),
                 {key, std::move(d)});
    if (kept_.size() > kKept) kept_.pop_back();
  }
  bool empty() const { return total_ == 0; }
  // Whether an error at this place would be among those shown; when not, its message need
  // not be worked out, only counted.
  bool shows(std::uint32_t order, int column) const {
    return kept_.size() < kKept || Key{order, column, total_ + 1} < kept_.back().first;
  }
  std::vector<Diagnostic> take() {
    std::vector<Diagnostic> out;
    for (std::size_t i = 0; i < kept_.size() && i + 1 < kKept; ++i) {
      out.push_back(std::move(kept_[i].second));
    }
    if (total_ >= kKept) {
      Diagnostic more = kept_.back().second;
      more.message = "too many errors: " + std::to_string(total_) + " in all, the first " +
                     std::to_string(kMaxErrors) + " are shown";
      out.push_back(std::move(more));
    }
    return out;
  }

 private:
  struct Key {
    std::uint32_t order;
    int column;
    std::size_t sequence;
    bool operator<(const Key& o) const {
      if (order != o.order) return order < o.order;
      if (column != o.column) return column < o.column;
      return sequence < o.sequence;
    }
  };
  static constexpr std::size_t kKept = kMaxErrors + 1;
  std::vector<std::pair<Key, Diagnostic>> kept_;
  std::size_t total_ = 0;
};

enum class Status : std::uint8_t { Ok, Unknown, Failed, Needs };

struct Value {
  Status status = Status::Ok;
  std::int32_t value = 0;
  int symbol = -1;  // Unknown: the label not yet placed (-1: a later $); Needs: the EQU
  int column = 0;
};

// ---------------------------------------------------------------------------------------

class Assembly {
 public:
  Result run(const fs::path& path, std::string shown, std::optional<std::string_view> text);

 private:
  // Reading
  void readFile(int file);
  void parseLine(int file, int line, std::string_view text);
  bool defineLabel(const Token& name, const Statement& s, int statement, bool equ);
  bool splitOperands(std::span<const Token> tokens, Statement& s,
                     std::vector<std::span<const Token>>& parts);
  bool parseExpr(std::span<const Token> tokens, int endColumn, const Statement& s, Expr& expr);
  bool parseOperand(std::span<const Token> tokens, const Statement& s, Operand& out);
  void parseInstruction(Statement& s, std::string_view mnemonic,
                        const std::vector<std::span<const Token>>& parts);
  void parseDirective(Statement& s, const std::vector<std::span<const Token>>& parts);
  void include(int statement, const Token& name);
  void unknownMnemonic(const Statement& s, const Token& word, const Token* next);
  std::string noSuchForm(const Statement& s, std::string_view mnemonic,
                         std::span<const Operand> ops);
  int symbolIndex(std::string_view name);

  // Passes
  void passOne();
  void passTwo();
  Value evaluateOnce(const Expr& e, int statement);
  Value resolve(int symbol);
  Value evaluate(const Expr& e, int statement);
  std::optional<std::int32_t> valueNow(const Operand& op, int statement, const char* what);
  std::optional<std::int32_t> value(const Operand& op, int statement);
  bool encode(int statement, Bytes& bytes);
  void checkOverlaps();
  void write(std::int32_t address, std::uint8_t byte);

  // Results
  std::string listing() const;

  void error(const Statement& s, int column, std::string message) {
    errors_.add(s.order, {files_[static_cast<std::size_t>(s.file)]->shown, s.line, column,
                          std::move(message)});
  }
  std::span<const Operand> operandsOf(const Statement& s) const {
    return std::span<const Operand>(operands_).subspan(s.operandBegin, s.operandCount);
  }
  std::string where(int statement) const {
    const Statement& s = statements_[static_cast<std::size_t>(statement)];
    return files_[static_cast<std::size_t>(s.file)]->shown + ":" + std::to_string(s.line);
  }

  std::vector<std::unique_ptr<SourceFile>> files_;
  std::vector<Statement> statements_;
  std::vector<Operand> operands_;
  std::vector<Item> items_;
  std::vector<SymbolEntry> symbols_;
  std::unordered_map<std::string, int> symbolIndex_;
  std::vector<ListingLine> listingLines_;
  ErrorList errors_;

  std::vector<Token> tokens_;
  std::vector<int> includeStack_;  // files being read, outermost first
  std::vector<fs::path> includeCanonical_;
  bool stop_ = false;  // END, or a limit reached
  std::size_t lineCount_ = 0, byteCount_ = 0;
  std::uint32_t order_ = 0;
  std::function<int(std::string_view, std::string&)> symbolForExpr_;

  std::size_t placedUpTo_ = 0;  // statements that pass one has given an address
  std::vector<std::int32_t> stack_;
  std::vector<int> resolving_;
  std::vector<std::uint8_t> memory_;
  std::int32_t imageSize_ = 0;
};

// ---------------------------------------------------------------------------------------
// Reading

int Assembly::symbolIndex(std::string_view name) {
  std::string key = upperCase(name);
  const auto [it, added] =
      symbolIndex_.try_emplace(std::move(key), static_cast<int>(symbols_.size()));
  if (added) symbols_.push_back({std::string(name)});
  return it->second;
}

void Assembly::readFile(int file) {
  const std::string& text = files_[static_cast<std::size_t>(file)]->text;
  std::size_t pos = 0;
  int line = 0;
  while (pos < text.size() && !stop_) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view lineText(text.data() + pos, end - pos);
    if (!lineText.empty() && lineText.back() == '\r') lineText.remove_suffix(1);
    ++line;
    if (++lineCount_ > kMaxLines) {
      errors_.add(order_, {files_[static_cast<std::size_t>(file)]->shown, line, 1,
                           "more than " + std::to_string(kMaxLines) +
                               " lines in all (INCLUDEs counted): the program is too large"});
      stop_ = true;
      return;
    }
    parseLine(file, line, lineText);
    pos = end + 1;
  }
}

// `s` is the statement being read, which is to get the index `statement`.
bool Assembly::defineLabel(const Token& name, const Statement& s, int statement, bool equ) {
  const std::string upper = upperCase(name.text);
  const std::string_view reg = registerWord(upper);
  if (!reg.empty() || isKeyword(upper)) {
    const char* what = !reg.empty()
                           ? (isCondition(upper) && upper != "C" ? "a condition" : "a register")
                       : directive(upper) ? "a directive"
                                          : "an instruction";
    error(s, name.column, echo(name.text) + " cannot be a label: it is the name of " + what);
    return false;
  }
  const int index = symbolIndex(name.text);
  SymbolEntry& sym = symbols_[static_cast<std::size_t>(index)];
  if (sym.state != SymbolState::Undefined) {
    error(s, name.column,
          "label " + echo(name.text) + " is already defined at " + where(sym.statement));
    return false;
  }
  sym.name = std::string(name.text);
  sym.state = equ ? SymbolState::Equ : SymbolState::Label;
  sym.statement = statement;
  return true;
}

bool Assembly::splitOperands(std::span<const Token> tokens, Statement& s,
                             std::vector<std::span<const Token>>& parts) {
  parts.clear();
  if (tokens.empty()) return true;
  std::vector<int> open;
  std::size_t start = 0;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (t.kind == TokenKind::LeftParen) {
      open.push_back(t.column);
    } else if (t.kind == TokenKind::RightParen) {
      if (open.empty()) {
        error(s, t.column, "unbalanced parentheses: this ) has no matching (");
        return false;
      }
      open.pop_back();
    } else if (t.kind == TokenKind::Comma && open.empty()) {
      if (i == start) {
        error(s, t.column, i == 0 ? "missing operand before ," : "missing operand between commas");
        return false;
      }
      parts.push_back(tokens.subspan(start, i - start));
      start = i + 1;
    }
  }
  if (!open.empty()) {
    error(s, open.back(), "unbalanced parentheses: this ( has no matching )");
    return false;
  }
  if (start == tokens.size()) {
    error(s, tokens.back().column + 1, "missing operand after ,");
    return false;
  }
  parts.push_back(tokens.subspan(start));
  return true;
}

bool Assembly::parseExpr(std::span<const Token> tokens, int endColumn, const Statement& s,
                         Expr& expr) {
  ExprError e;
  if (parseExpression(tokens, endColumn, items_, expr, symbolForExpr_, e)) return true;
  error(s, e.column, e.message);
  return false;
}

int endColumnOf(std::span<const Token> tokens) {
  return tokens.back().column + static_cast<int>(tokens.back().text.size());
}

std::string_view spanText(std::span<const Token> tokens) {
  const Token& first = tokens.front();
  const Token& last = tokens.back();
  return std::string_view(
      first.text.data(),
      static_cast<std::size_t>(last.text.data() + last.text.size() - first.text.data()));
}

bool Assembly::parseOperand(std::span<const Token> t, const Statement& s, Operand& out) {
  out = Operand{};
  out.column = t.front().column;
  out.text = spanText(t);
  const auto registerAt = [&t](std::size_t i) {
    return t.size() > i && t[i].kind == TokenKind::Name ? registerWord(upperCase(t[i].text))
                                                        : std::string_view();
  };
  const auto refuseHalf = [&](std::string_view reg, int column) {
    error(s, column,
          std::string(reg) + " is a half of " + std::string(reg.substr(0, 2)) +
              ": an undocumented register that Korvel does not run");
    return false;
  };

  if (t.size() == 1) {
    if (const std::string_view reg = registerAt(0); !reg.empty()) {
      if (isIndexHalf(reg)) return refuseHalf(reg, t[0].column);
      out.kind = OperandKind::Register;
      out.name = reg;
      return true;
    }
  }
  // (...) around the whole operand addresses memory or a port; (2+3)*4 is a value.
  std::size_t close = 0;
  if (t.front().kind == TokenKind::LeftParen) {
    int depth = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
      depth += t[i].kind == TokenKind::LeftParen ? 1 : t[i].kind == TokenKind::RightParen ? -1 : 0;
      if (depth == 0) {
        close = i;
        break;
      }
    }
  }
  if (close + 1 != t.size() || close == 0) {
    out.hasValue = true;
    return parseExpr(t, endColumnOf(t), s, out.value);
  }
  const std::span<const Token> inner = t.subspan(1, t.size() - 2);
  if (inner.empty()) {
    error(s, t[0].column, "missing value inside ( )");
    return false;
  }
  const std::string_view reg = registerAt(1);
  if (reg.empty()) {
    out.kind = OperandKind::Indirect;
    out.hasValue = true;
    return parseExpr(inner, endColumnOf(inner), s, out.value);
  }
  if (isIndexHalf(reg)) return refuseHalf(reg, t[1].column);
  if (inner.size() == 1) {
    out.kind = OperandKind::IndirectRegister;
    out.name = reg;
    return true;
  }
  const Token& after = inner[1];
  if (!isIndexRegister(reg)) {
    error(s, after.column,
          reg == "HL" || reg == "BC" || reg == "DE" || reg == "SP" || reg == "C"
              ? "(" + std::string(reg) + ") takes no displacement; only (IX+d) and (IY+d) do"
              : std::string(reg) + " is a register: it cannot be part of a value");
    return false;
  }
  if (after.kind != TokenKind::Plus && after.kind != TokenKind::Minus) {
    error(s, after.column,
          "after " + std::string(reg) + " comes + or - and a displacement: (" + std::string(reg) +
              "+5), (" + std::string(reg) + "-2)");
    return false;
  }
  if (inner.size() == 2) {
    error(s, after.column + 1, "missing displacement after " + std::string(after.text));
    return false;
  }
  // The sign belongs to the displacement: (IX-1+3) is IX+2.
  out.kind = OperandKind::IndexCell;
  out.name = reg;
  out.hasValue = true;
  return parseExpr(inner.subspan(1), endColumnOf(inner), s, out.value);
}

bool accepts(const OperandPattern& p, const Operand& o) {
  switch (p.kind) {
    case Pattern::Fixed:
      if (o.kind == OperandKind::Register) return p.text == o.name;
      return o.kind == OperandKind::IndirectRegister && p.text.size() == o.name.size() + 2 &&
             p.text.front() == '(' && std::string_view(p.text).substr(1, o.name.size()) == o.name;
    case Pattern::Byte:
    case Pattern::Word:
    case Pattern::Relative:
    case Pattern::Number: return o.kind == OperandKind::Immediate;
    case Pattern::IndirectByte:
    case Pattern::IndirectWord: return o.kind == OperandKind::Indirect;
    case Pattern::IndexCell:
      return (o.kind == OperandKind::IndexCell || o.kind == OperandKind::IndirectRegister) &&
             p.text == o.name;
  }
  return false;
}

const Form* findForm(std::span<const Form> forms, std::span<const Operand> ops) {
  for (const Form& f : forms) {
    if (f.operands.size() != ops.size()) continue;
    bool all = true;
    for (std::size_t i = 0; i < ops.size() && all; ++i) all = accepts(f.operands[i], ops[i]);
    if (all) return &f;
  }
  return nullptr;
}

bool isAlu(std::string_view m) {
  return std::any_of(std::begin(dc::kAluNames), std::end(dc::kAluNames), [m](const char* name) {
    const std::string_view n(name);
    return n.substr(0, n.find_first_of(" ,")) == m;
  });
}

// Lists forms the way a Z80 manual groups them: a slot that runs through all of B C D E H L A
// becomes r, all eight conditions (or the four of JR) cc, all of BC DE HL SP rr.
std::string condensedForms(std::span<const Form* const> forms) {
  static const std::vector<std::pair<const char*, std::vector<std::string>>> kClasses = [] {
    std::vector<std::string> r(std::begin(dc::kRegisterNames), std::end(dc::kRegisterNames));
    r.erase(r.begin() + dc::kCodeHLCell);
    const std::vector<std::string> cc(std::begin(dc::kConditionNames),
                                      std::end(dc::kConditionNames));
    return std::vector<std::pair<const char*, std::vector<std::string>>>{
        {"r", r},
        {"cc", cc},
        {"cc", {cc.begin(), cc.begin() + 4}},  // JR tests only NZ, Z, NC and C
        {"rr", {std::begin(dc::kPairNames), std::end(dc::kPairNames)}},
    };
  }();
  if (forms.empty()) return {};
  const std::string mnemonic = forms.front()->mnemonic;
  std::vector<std::vector<std::string>> items;
  for (const Form* f : forms) {
    std::vector<std::string> ops;
    std::string t = f->text();
    const std::size_t blank = t.find(' ');
    for (std::size_t p = blank; p != std::string::npos;) {
      const std::size_t comma = t.find(',', p + 1);
      ops.push_back(t.substr(p + 1, comma == std::string::npos ? comma : comma - p - 1));
      p = comma;
    }
    if (std::find(items.begin(), items.end(), ops) == items.end()) items.push_back(ops);
  }
  for (std::size_t slot = 0; slot < 2; ++slot) {
    for (const auto& [name, members] : kClasses) {
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].size() <= slot ||
            std::find(members.begin(), members.end(), items[i][slot]) == members.end()) {
          continue;
        }
        // The items equal to items[i] but in this slot, and whether they cover the class.
        std::vector<std::size_t> same;
        for (std::size_t j = 0; j < items.size(); ++j) {
          bool equal = items[j].size() == items[i].size();
          for (std::size_t k = 0; equal && k < items[i].size(); ++k) {
            equal = k == slot || items[i][k] == items[j][k];
          }
          if (equal) same.push_back(j);
        }
        const bool covers = std::all_of(members.begin(), members.end(), [&](const std::string& m) {
          return std::any_of(same.begin(), same.end(),
                             [&](std::size_t j) { return items[j][slot] == m; });
        });
        if (!covers) continue;
        std::vector<std::string> merged = items[i];
        merged[slot] = name;
        std::vector<std::vector<std::string>> rest;
        for (std::size_t j = 0; j < items.size(); ++j) {
          const bool member =
              std::find(same.begin(), same.end(), j) != same.end() &&
              std::find(members.begin(), members.end(), items[j][slot]) != members.end();
          if (j == i) {
            rest.push_back(merged);
          } else if (!member) {
            rest.push_back(items[j]);
          }
        }
        items = std::move(rest);
      }
    }
  }
  constexpr std::size_t kMostListed = 8;
  if (items.size() > kMostListed) return {};
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " or " : ", ";
    text += mnemonic;
    for (std::size_t k = 0; k < items[i].size(); ++k) text += (k == 0 ? " " : ",") + items[i][k];
  }
  return text;
}

std::string patternText(const OperandPattern& p) {
  Form f;
  f.operands.push_back(p);
  const std::string t = f.text();
  return t.substr(1);
}

std::string Assembly::noSuchForm(const Statement& s, std::string_view mnemonic,
                                 std::span<const Operand> ops) {
  const std::span<const Form> forms = InstructionTable::instance().forms(mnemonic);
  const std::string m(mnemonic);
  const std::string head = echo(s.source) + ": no such instruction";
  if (!ops.empty()) {
    std::vector<const Form*> same;
    for (const Form& f : forms) {
      if (f.operands.size() == ops.size() && accepts(f.operands[0], ops[0])) same.push_back(&f);
    }
    if (same.size() == 1 && ops.size() == 2) {
      const Form& f = *same[0];
      return head + "; " + m + " " + patternText(f.operands[0]) + " takes only " +
             patternText(f.operands[1]) + ": " + f.text();
    }
    if (!same.empty()) {
      const std::string list = condensedForms(same);
      if (!list.empty())
        return head + "; with " + patternText(same[0]->operands[0]) + " first: " + list;
    }
  }
  std::vector<const Form*> all;
  bool countFits = false;
  for (const Form& f : forms) {
    all.push_back(&f);
    countFits = countFits || f.operands.size() == ops.size();
  }
  const std::string list = condensedForms(all);
  if (!countFits && forms.size() == 1 && forms[0].operands.empty()) {
    return echo(s.source) + ": " + m + " takes no operands";
  }
  if (!countFits && ops.empty()) {
    const bool one = std::all_of(forms.begin(), forms.end(),
                                 [](const Form& f) { return f.operands.size() == 1; });
    return m + (one ? " needs an operand" : " needs operands") + (list.empty() ? "" : ": " + list);
  }
  return head + (list.empty() ? "" : "; " + m + " takes: " + list);
}

void Assembly::unknownMnemonic(const Statement& s, const Token& word, const Token* next) {
  if (!errors_.shows(s.order, word.column)) return error(s, word.column, {});  // counted only
  const std::string upper = upperCase(word.text);
  std::string message;
  if (isUndocumentedShift(upper)) {
    message = std::string(word.text) +
              " is an undocumented instruction that Korvel does not "
              "run; SLA shifts left with a 0 into bit 0";
  } else {
    message = "unknown instruction " + echo(word.text);
    const std::string nextUpper =
        next != nullptr && next->kind == TokenKind::Name ? upperCase(next->text) : std::string();
    if (!nextUpper.empty() && isKeyword(nextUpper)) {
      message += "; if " + echo(word.text) +
                 " is a label, end it with a colon or start it in the first column";
    } else {
      std::vector<std::string> names = InstructionTable::instance().mnemonics();
      for (const auto& d : kDirectives) names.emplace_back(d.first);
      // A swapped or mistyped letter first (LDRI: LDIR), then one too many or too few.
      const auto close = [&](bool sameLength) {
        return std::find_if(names.begin(), names.end(), [&](const std::string& name) {
          return (name.size() == upper.size()) == sameLength && oneEditApart(upper, name);
        });
      };
      auto suggestion = close(true);
      if (suggestion == names.end()) suggestion = close(false);
      if (upper.size() > 1 && suggestion != names.end()) {
        message += "; did you mean " + *suggestion + "?";
      }
    }
  }
  error(s, word.column, message);
}

// The undocumented forms that learners meet in other tables, each with its own message.
std::optional<std::string> undocumentedForm(std::string_view m, std::span<const Operand> ops) {
  const std::string korvel = ": an undocumented instruction that Korvel does not run";
  const auto isRegister = [&ops](std::size_t i, std::string_view name = {}) {
    return ops.size() > i && ops[i].kind == OperandKind::Register &&
           (name.empty() || ops[i].name == name);
  };
  const auto isPortC = [&ops](std::size_t i) {
    return ops.size() > i && ops[i].kind == OperandKind::IndirectRegister && ops[i].name == "C";
  };
  if (m == "IN" &&
      ((ops.size() == 2 && isRegister(0, "F") && isPortC(1)) || (ops.size() == 1 && isPortC(0)))) {
    return "IN F,(C)" + korvel + "; IN r,(C) reads into B, C, D, E, H, L or A";
  }
  if (m == "OUT" && ops.size() == 2 && isPortC(0) && ops[1].kind == OperandKind::Immediate) {
    return "OUT (C),0" + korvel + "; OUT (C),r writes B, C, D, E, H, L or A";
  }
  const bool bitOp = std::any_of(std::begin(dc::kBitOpNames), std::end(dc::kBitOpNames),
                                 [m](const char* b) { return b != nullptr && m == b; });
  const bool rotate = std::any_of(std::begin(dc::kRotateNames), std::end(dc::kRotateNames),
                                  [m](const char* r) { return r != nullptr && m == r; });
  const std::size_t cell = bitOp ? 1 : 0;
  if ((bitOp || rotate) && ops.size() == cell + 2 && ops[cell].kind == OperandKind::IndexCell &&
      isRegister(cell + 1)) {
    return std::string(m) + (bitOp ? " b," : " ") + "(" + std::string(ops[cell].name) +
           "+d),r copies the result into a register" + korvel + "; write " + std::string(m) +
           (bitOp ? " b," : " ") + "(" + std::string(ops[cell].name) + "+d), then LD r,(" +
           std::string(ops[cell].name) + "+d)";
  }
  return std::nullopt;
}

void Assembly::parseInstruction(Statement& s, std::string_view mnemonic,
                                const std::vector<std::span<const Token>>& parts) {
  std::vector<Operand> ops(parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!parseOperand(parts[i], s, ops[i])) {
      s.bad = true;
      return;
    }
  }
  const std::span<const Form> forms = InstructionTable::instance().forms(mnemonic);
  const Form* form = findForm(forms, ops);
  // ADD B for ADD A,B and SUB A,B for SUB B, and the same for the other six.
  if (form == nullptr && isAlu(mnemonic)) {
    std::vector<Operand> other = ops;
    if (ops.size() == 1) {
      Operand a;
      a.kind = OperandKind::Register;
      a.name = registerWord("A");
      a.column = ops[0].column;
      other.insert(other.begin(), a);
    } else if (ops.size() == 2 && ops[0].kind == OperandKind::Register && ops[0].name == "A") {
      other.erase(other.begin());
    }
    if ((form = findForm(forms, other)) != nullptr) ops = std::move(other);
  }
  if (form == nullptr) {
    if (!errors_.shows(s.order, s.column)) {
      error(s, s.column, {});  // counted only
    } else {
      const std::optional<std::string> undocumented = undocumentedForm(mnemonic, ops);
      error(s, s.column, undocumented ? *undocumented : noSuchForm(s, mnemonic, ops));
    }
    s.bad = true;
    return;
  }
  s.form = form;
  s.operandBegin = static_cast<std::uint32_t>(operands_.size());
  s.operandCount = static_cast<std::uint32_t>(ops.size());
  operands_.insert(operands_.end(), ops.begin(), ops.end());
}

void Assembly::parseDirective(Statement& s, const std::vector<std::span<const Token>>& parts) {
  std::vector<Operand> ops;
  const std::string name = upperCase(s.source.substr(0, s.source.find_first_of(" \t")));
  const auto expressions = [&](std::size_t from) {
    for (std::size_t i = from; i < parts.size(); ++i) {
      Operand o;
      o.column = parts[i].front().column;
      o.text = spanText(parts[i]);
      o.hasValue = true;
      if (!parseExpr(parts[i], endColumnOf(parts[i]), s, o.value)) return false;
      ops.push_back(o);
    }
    return true;
  };
  const auto refuse = [&](std::string message) {
    error(s, parts.empty() ? s.column : parts.front().front().column, std::move(message));
    s.bad = true;
  };
  switch (s.kind) {
    case Kind::Org:
      if (parts.size() != 1) return refuse("ORG takes one address: ORG 8000H");
      break;
    case Kind::Equ:
      if (s.label < 0) {
        if (s.label == -1) error(s, s.column, "EQU needs a name before it: NAME EQU value");
        s.bad = true;
        return;
      }
      if (parts.size() != 1) return refuse("EQU takes one value: " + name + " 10");
      break;
    case Kind::Dw:
      if (parts.empty())
        return refuse(name + " needs at least one value: " + name + " 1234H,label");
      break;
    case Kind::Ds:
      if (parts.empty() || parts.size() > 2) {
        return refuse(name + " takes a count and an optional fill byte: " + name + " 10 or " +
                      name + " 10,0FFH");
      }
      break;
    case Kind::End:
      if (!parts.empty()) {
        return refuse("END takes no operand (a program always starts at 0000H)");
      }
      stop_ = true;
      return;
    case Kind::Include:
      if (parts.size() != 1 || parts[0].size() != 1 || parts[0][0].kind != TokenKind::String) {
        return refuse("INCLUDE takes a file name in double quotes: INCLUDE \"file.asm\"");
      }
      return;
    default:  // DB and its other names: numbers and strings
      if (parts.empty()) return refuse(name + " needs at least one value: " + name + " 1,\"text\"");
      for (const std::span<const Token>& part : parts) {
        if (part.size() == 1 && part[0].kind == TokenKind::String) {
          Operand o;
          o.kind = OperandKind::String;
          o.column = part[0].column;
          o.text = part[0].text;
          o.name = part[0].text.substr(1, part[0].text.size() - 2);
          ops.push_back(o);
        } else {
          Operand o;
          o.column = part.front().column;
          o.text = spanText(part);
          o.hasValue = true;
          if (!parseExpr(part, endColumnOf(part), s, o.value)) {
            s.bad = true;
            return;
          }
          ops.push_back(o);
        }
      }
      break;
  }
  if (ops.empty() && !expressions(0)) {
    s.bad = true;
    return;
  }
  s.operandBegin = static_cast<std::uint32_t>(operands_.size());
  s.operandCount = static_cast<std::uint32_t>(ops.size());
  operands_.insert(operands_.end(), ops.begin(), ops.end());
}

void Assembly::include(int statement, const Token& nameToken) {
  const Statement& s = statements_[static_cast<std::size_t>(statement)];
  const SourceFile& from = *files_[static_cast<std::size_t>(s.file)];
  const std::string_view name = nameToken.text.substr(1, nameToken.text.size() - 2);
  if (name.empty()) {
    error(s, nameToken.column, "INCLUDE needs a file name: INCLUDE \"file.asm\"");
    return;
  }
  const fs::path relative(name);
  const fs::path path = from.path.parent_path() / relative;
  const std::string shown =
      pathText((fs::path(from.shown).parent_path() / relative).lexically_normal());
  if (includeStack_.size() >= kMaxIncludeDepth) {
    error(s, nameToken.column,
          "INCLUDE nested more than " + std::to_string(kMaxIncludeDepth) + " files deep");
    return;
  }
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(path, ec);
  if (ec) canonical = path.lexically_normal();
  const auto cycle = std::find(includeCanonical_.begin(), includeCanonical_.end(), canonical);
  if (cycle != includeCanonical_.end()) {
    std::string chain;
    for (auto f = includeStack_.begin() + (cycle - includeCanonical_.begin());
         f != includeStack_.end(); ++f) {
      chain += files_[static_cast<std::size_t>(*f)]->shown + " -> ";
    }
    error(s, nameToken.column, "INCLUDE cycle: " + chain + shown);
    return;
  }
  auto file = std::make_unique<SourceFile>();
  file->path = path;
  file->shown = shown;
  std::string reason;
  if (!readSource(path, file->text, reason)) {
    error(s, nameToken.column, "cannot read " + shown + ": " + reason);
    return;
  }
  byteCount_ += file->text.size();
  if (byteCount_ > kMaxTotalBytes) {
    error(s, nameToken.column,
          "the sources hold more than " + std::to_string(kMaxTotalBytes >> 20) +
              " MB in all (INCLUDEs counted): the program is too large");
    stop_ = true;
    return;
  }
  const int index = static_cast<int>(files_.size());
  files_.push_back(std::move(file));
  includeStack_.push_back(index);
  includeCanonical_.push_back(canonical);
  readFile(index);
  includeStack_.pop_back();
  includeCanonical_.pop_back();
}

void Assembly::parseLine(int file, int line, std::string_view text) {
  const std::uint32_t order = order_++;
  listingLines_.push_back({file, line, -1, text});
  LexError lexError;
  const bool lexed = tokenize(text, tokens_, lexError);
  if (!lexed) {
    errors_.add(order, {files_[static_cast<std::size_t>(file)]->shown, line, lexError.column,
                        lexError.message});
  }
  const std::vector<Token>& t = tokens_;
  if (t.empty()) return;

  Statement s;
  s.file = file;
  s.line = line;
  s.order = order;
  s.column = t[0].column;
  const int index = static_cast<int>(statements_.size());

  // A label: a name with a colon, a name in the first column that is no keyword, or the
  // name before EQU.
  std::size_t i = 0;
  const Token* label = nullptr;
  if (t[0].kind == TokenKind::Name) {
    const bool colon = t.size() > 1 && t[1].kind == TokenKind::Colon;
    const bool beforeEqu =
        t.size() > 1 && t[1].kind == TokenKind::Name && upperCase(t[1].text) == "EQU";
    if (colon || beforeEqu || (t[0].column == 1 && !isKeyword(upperCase(t[0].text)))) {
      label = &t[0];
      i = colon ? 2 : 1;
    }
  } else if (lexed) {
    error(s, t[0].column,
          "a line holds a label, an instruction or a directive, and a comment; " + echo(t[0].text) +
              " cannot start one");
    return;
  }
  if (i < t.size()) s.column = t[i].column;
  // After a character that cannot be read only the label counts, so that one mistake
  // gives one message.
  if (!lexed) {
    s.bad = true;
    if (label != nullptr) {
      const bool equ = i < t.size() && upperCase(t[i].text) == "EQU";
      if (defineLabel(*label, s, index, equ)) {
        s.label = symbolIndex(label->text);
        if (equ) symbols_[static_cast<std::size_t>(s.label)].state = SymbolState::Failed;
      }
    }
    listingLines_.back().statement = index;
    statements_.push_back(s);
    return;
  }
  if (i < t.size() && t[i].kind == TokenKind::Name) {
    s.source = spanText(std::span<const Token>(t).subspan(i));
    const std::string upper = upperCase(t[i].text);
    if (const std::optional<Kind> kind = directive(upper)) {
      s.kind = *kind;
    } else if (InstructionTable::instance().isMnemonic(upper)) {
      s.kind = Kind::Instruction;
    } else {
      unknownMnemonic(s, t[i], i + 1 < t.size() ? &t[i + 1] : nullptr);
      s.bad = true;
    }
  } else if (i < t.size()) {
    error(s, t[i].column,
          "an instruction or a directive was expected here, not " + echo(t[i].text));
    s.bad = true;
  }
  // A refused label (-2) leaves its EQU without a name and silent.
  if (label != nullptr) {
    s.label = defineLabel(*label, s, index, s.kind == Kind::Equ) ? symbolIndex(label->text) : -2;
  }

  std::vector<std::span<const Token>> parts;
  if (!s.bad && i < t.size() && splitOperands(std::span<const Token>(t).subspan(i + 1), s, parts)) {
    if (s.kind == Kind::Instruction) {
      parseInstruction(s, upperCase(t[i].text), parts);
    } else {
      parseDirective(s, parts);
    }
  } else if (i < t.size()) {
    s.bad = true;
  }
  if (s.kind == Kind::Equ && s.bad && s.label >= 0) {
    symbols_[static_cast<std::size_t>(s.label)].state = SymbolState::Failed;
  }
  listingLines_.back().statement = index;
  statements_.push_back(s);
  if (s.kind == Kind::Include && !s.bad) {
    const Token name = t[i + 1];
    include(index, name);
  }
}

// ---------------------------------------------------------------------------------------
// Values

Value Assembly::evaluateOnce(const Expr& e, int statement) {
  const Statement& s = statements_[static_cast<std::size_t>(statement)];
  stack_.clear();
  for (std::uint32_t k = e.begin; k < e.end; ++k) {
    const Item& item = items_[k];
    switch (item.op) {
      case Op::Number: stack_.push_back(item.value); break;
      case Op::Dollar:
        if (static_cast<std::size_t>(statement) >= placedUpTo_) return {Status::Unknown};
        stack_.push_back(s.address);
        break;
      case Op::Symbol: {
        SymbolEntry& y = symbols_[static_cast<std::size_t>(item.value)];
        switch (y.state) {
          case SymbolState::Undefined: {
            std::string message = "undefined label " + echo(y.name);
            const std::string upper = upperCase(y.name);
            if (upper.size() > 1 && upper.back() == 'H' &&
                upper.find_first_not_of("0123456789ABCDEF") == upper.size() - 1) {
              message += "; a hexadecimal number that starts with a letter needs a 0 in front: 0" +
                         echo(y.name);
            }
            error(s, item.column, message);
            return {Status::Failed};
          }
          case SymbolState::Label:
            if (!y.placed) return {Status::Unknown, 0, item.value};
            stack_.push_back(y.value);
            break;
          case SymbolState::Resolved: stack_.push_back(y.value); break;
          case SymbolState::Failed: return {Status::Failed};
          default: return {Status::Needs, 0, item.value, item.column};
        }
        break;
      }
      default:
        if (isUnary(item.op)) {
          stack_.back() = applyUnary(item.op, stack_.back());
        } else {
          const std::int32_t b = stack_.back();
          stack_.pop_back();
          std::string message;
          if (!applyBinary(item.op, stack_.back(), b, stack_.back(), message)) {
            error(s, item.column, message);
            return {Status::Failed};
          }
        }
        break;
    }
  }
  return {Status::Ok, stack_.back()};
}

// Gives an EQU its value, resolving the EQUs it needs first, deepest first, on an explicit
// stack. A value that needs a label not yet placed is Unknown for now (pass one).
Value Assembly::resolve(int symbol) {
  resolving_.assign(1, symbol);
  symbols_[static_cast<std::size_t>(symbol)].state = SymbolState::Resolving;
  const auto failAll = [this] {
    for (int r : resolving_) symbols_[static_cast<std::size_t>(r)].state = SymbolState::Failed;
    return Value{Status::Failed};
  };
  while (!resolving_.empty()) {
    SymbolEntry& y = symbols_[static_cast<std::size_t>(resolving_.back())];
    const Statement& s = statements_[static_cast<std::size_t>(y.statement)];
    const Value v = evaluateOnce(operands_[s.operandBegin].value, y.statement);
    switch (v.status) {
      case Status::Ok:
        y.value = v.value;
        y.state = SymbolState::Resolved;
        resolving_.pop_back();
        break;
      case Status::Needs: {
        SymbolEntry& needed = symbols_[static_cast<std::size_t>(v.symbol)];
        if (needed.state == SymbolState::Resolving) {
          const auto start = std::find(resolving_.begin(), resolving_.end(), v.symbol);
          std::string chain;
          constexpr std::ptrdiff_t kMostNamed = 8;
          if (resolving_.end() - start > kMostNamed) {
            chain = echo(needed.name) + " -> ... -> " + echo(y.name);
          } else {
            for (auto r = start; r != resolving_.end(); ++r) {
              chain += echo(symbols_[static_cast<std::size_t>(*r)].name) + " -> ";
            }
            chain.resize(chain.size() - 4);
          }
          error(s, v.column,
                "circular EQU: " + chain + " -> " + echo(needed.name) +
                    " (each needs the next to have a value)");
          return failAll();
        }
        needed.state = SymbolState::Resolving;
        resolving_.push_back(v.symbol);
        break;
      }
      case Status::Unknown:
        for (int r : resolving_) symbols_[static_cast<std::size_t>(r)].state = SymbolState::Equ;
        return {Status::Unknown, 0, symbol};
      default: return failAll();
    }
  }
  return {Status::Ok, symbols_[static_cast<std::size_t>(symbol)].value};
}

Value Assembly::evaluate(const Expr& e, int statement) {
  for (;;) {
    const Value v = evaluateOnce(e, statement);
    if (v.status != Status::Needs) return v;
    const Value r = resolve(v.symbol);
    if (r.status != Status::Ok) return r;
  }
}

// A value that pass one needs (ORG, a DS count): it must not depend on what lies further
// down.
std::optional<std::int32_t> Assembly::valueNow(const Operand& op, int statement, const char* what) {
  const Value v = evaluate(op.value, statement);
  if (v.status == Status::Ok) return v.value;
  if (v.status == Status::Unknown) {
    const std::string name =
        v.symbol >= 0 ? echo(symbols_[static_cast<std::size_t>(v.symbol)].name) : std::string("$");
    error(statements_[static_cast<std::size_t>(statement)], op.column,
          std::string(what) + " needs a value known where it stands, but " + name +
              " depends on an address further down");
  }
  return std::nullopt;
}

std::optional<std::int32_t> Assembly::value(const Operand& op, int statement) {
  const Value v = evaluate(op.value, statement);
  if (v.status == Status::Ok) return v.value;
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Passes

void Assembly::passOne() {
  std::int64_t address = 0;
  bool beyond = false;  // past FFFFH already reported since the last ORG
  for (std::size_t k = 0; k < statements_.size(); ++k) {
    Statement& s = statements_[k];
    const int index = static_cast<int>(k);
    s.address = static_cast<std::int32_t>(std::min<std::int64_t>(address, kMemoryEnd));
    placedUpTo_ = k + 1;
    const std::span<const Operand> ops = operandsOf(s);
    if (!s.bad) {
      switch (s.kind) {
        case Kind::Org:
          if (const std::optional<std::int32_t> v = valueNow(ops[0], index, "ORG")) {
            if (*v < 0 || *v >= kMemoryEnd) {
              error(s, ops[0].column,
                    "ORG " + numberText(*v) + " lies outside memory (0000H to FFFFH)");
            } else {
              address = *v;
              s.address = *v;
              beyond = false;
            }
          }
          break;
        case Kind::Ds:
          if (const std::optional<std::int32_t> v = valueNow(ops[0], index, "DS")) {
            if (*v < 0 || *v > kMemoryEnd) {
              error(s, ops[0].column,
                    "DS count " + std::to_string(*v) + " is out of range: 0 to 65536 bytes");
            } else {
              s.size = *v;
            }
          }
          break;
        case Kind::Db:
          for (const Operand& o : ops) {
            s.size += o.kind == OperandKind::String ? static_cast<std::int32_t>(o.name.size()) : 1;
          }
          break;
        case Kind::Dw: s.size = 2 * static_cast<std::int32_t>(ops.size()); break;
        case Kind::Instruction: s.size = s.form->length; break;
        default: break;
      }
    }
    if (s.label >= 0 && s.kind != Kind::Equ) {
      SymbolEntry& y = symbols_[static_cast<std::size_t>(s.label)];
      y.placed = true;
      y.value = s.address;
    }
    if (s.size > 0 && address + s.size > kMemoryEnd) {
      if (!beyond) {
        error(s, s.column,
              "past the end of memory: this statement would fill up to " +
                  hexValue(static_cast<std::int32_t>(address + s.size - 1)) +
                  ", but the last address is FFFFH");
      }
      beyond = true;
    }
    address += s.size;
  }
  placedUpTo_ = statements_.size();
}

// Every address may be filled once. The statements' ranges, sorted by address, are swept
// with the range that reaches furthest so far; a range that starts inside it overlaps, and
// the later of the two in the source is the one at fault.
void Assembly::checkOverlaps() {
  struct Range {
    std::int32_t begin, end;
    int statement;
  };
  std::vector<Range> ranges;
  for (std::size_t k = 0; k < statements_.size(); ++k) {
    const Statement& s = statements_[k];
    if (!s.bad && s.size > 0 && s.kind != Kind::Equ && s.address < kMemoryEnd) {
      ranges.push_back({s.address, std::min(s.address + s.size, kMemoryEnd), static_cast<int>(k)});
    }
  }
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.statement < b.statement;
  });
  std::vector<bool> reported(statements_.size());
  const Range* reach = nullptr;
  for (const Range& r : ranges) {
    if (reach != nullptr && r.begin < reach->end) {
      const int later = std::max(r.statement, reach->statement);
      const int earlier = std::min(r.statement, reach->statement);
      const Statement& s = statements_[static_cast<std::size_t>(later)];
      const Statement& first = statements_[static_cast<std::size_t>(earlier)];
      if (!reported[static_cast<std::size_t>(later)]) {
        reported[static_cast<std::size_t>(later)] = true;
        error(s, s.column,
              "this overwrites " + hexValue(r.begin) + ", already written by " +
                  (first.file == s.file ? "line " + std::to_string(first.line) : where(earlier)) +
                  ": an ORG that goes back may only fill addresses still free");
      }
    }
    if (reach == nullptr || r.end > reach->end) reach = &r;
    imageSize_ = std::max(imageSize_, r.end);
  }
}

void Assembly::write(std::int32_t address, std::uint8_t byte) {
  if (address < kMemoryEnd) memory_[static_cast<std::size_t>(address)] = byte;
}

bool Assembly::encode(int statement, Bytes& bytes) {
  const Statement& s = statements_[static_cast<std::size_t>(statement)];
  const Form& form = *s.form;
  const std::span<const Operand> ops = operandsOf(s);
  const Form::Encoding* encoding = &form.encodings.front();
  for (std::size_t k = 0; k < ops.size(); ++k) {
    if (form.operands[k].kind != Pattern::Number) continue;
    const std::optional<std::int32_t> v = value(ops[k], statement);
    if (!v) return false;
    const auto found = std::find_if(form.encodings.begin(), form.encodings.end(),
                                    [&v](const Form::Encoding& e) { return e.number == *v; });
    if (found == form.encodings.end()) {
      std::string message;
      if (form.mnemonic == "IM") {
        message = "IM " + std::string(ops[k].text) +
                  " does not exist: the interrupt modes are "
                  "0, 1 and 2";
      } else if (form.mnemonic == "RST") {
        message = "RST " + std::string(ops[k].text) +
                  " does not exist: RST takes 00H, 08H, "
                  "10H, 18H, 20H, 28H, 30H or 38H";
      } else {
        message = "bit number " + std::to_string(*v) +
                  " is out of range: the bits of a byte "
                  "are 0 to 7";
      }
      error(s, ops[k].column, message);
      return false;
    }
    encoding = &*found;
  }
  bytes = encoding->bytes;
  bool ok = true;
  for (std::size_t k = 0; k < ops.size(); ++k) {
    const OperandPattern& p = form.operands[k];
    if (p.kind == Pattern::Fixed || p.kind == Pattern::Number) continue;
    std::int32_t v = 0;
    if (ops[k].hasValue) {
      const std::optional<std::int32_t> got = value(ops[k], statement);
      if (!got) {
        ok = false;
        continue;
      }
      v = *got;
    }
    const auto at = static_cast<std::size_t>(p.offset);
    std::string problem;
    switch (p.kind) {
      case Pattern::Word:
      case Pattern::IndirectWord:
        if (v < -32768 || v > 65535) {
          problem = numberText(v) + " is out of range for a word: -32768 to 65535";
        }
        bytes[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        break;
      case Pattern::IndexCell:
        if (v < -128 || v > 127) {
          problem = "displacement " + std::to_string(v) + " is out of range: (" + p.text +
                    "+d) takes -128 to 127";
        }
        break;
      case Pattern::Relative: {
        const std::int64_t distance = std::int64_t{v} - (s.address + form.length);
        if (distance < -128 || distance > 127) {
          const std::int64_t over = distance > 127 ? distance - 127 : -128 - distance;
          problem = form.mnemonic + " cannot reach " + hexValue(v) + ": it is " +
                    std::to_string(over) + (over == 1 ? " byte" : " bytes") + " too far " +
                    (distance > 0 ? "forward" : "back") + " (" + form.mnemonic +
                    " reaches from 128 bytes back to 127 forward, counted from the next "
                    "instruction)";
        }
        v = static_cast<std::int32_t>(distance);
        break;
      }
      default:  // a byte or a port
        if (v < -128 || v > 255) {
          problem = numberText(v) + " is out of range for a byte: -128 to 255";
        }
        break;
    }
    if (!problem.empty()) {
      error(s, ops[k].column, problem);
      ok = false;
    }
    bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
  }
  return ok;
}

void Assembly::passTwo() {
  memory_.assign(kMemoryEnd, 0);
  for (std::size_t k = 0; k < statements_.size(); ++k) {
    const Statement& s = statements_[k];
    const int index = static_cast<int>(k);
    if (s.bad) continue;
    const std::span<const Operand> ops = operandsOf(s);
    std::int32_t address = s.address;
    const auto put = [&](std::uint8_t byte) { write(address++, byte); };
    switch (s.kind) {
      case Kind::Equ:
        if (symbols_[static_cast<std::size_t>(s.label)].state == SymbolState::Equ) {
          resolve(s.label);
        }
        break;
      case Kind::Instruction: {
        Bytes bytes{};
        encode(index, bytes);
        for (int b = 0; b < s.size; ++b) put(bytes[static_cast<std::size_t>(b)]);
        break;
      }
      case Kind::Db:
        for (const Operand& o : ops) {
          if (o.kind == OperandKind::String) {
            for (char c : o.name) put(static_cast<std::uint8_t>(c));
            continue;
          }
          const std::optional<std::int32_t> v = value(o, index);
          if (v && (*v < -128 || *v > 255)) {
            error(s, o.column, numberText(*v) + " is out of range for a byte: -128 to 255");
          }
          put(static_cast<std::uint8_t>(v.value_or(0) & 0xFF));
        }
        break;
      case Kind::Dw:
        for (const Operand& o : ops) {
          const std::optional<std::int32_t> v = value(o, index);
          if (v && (*v < -32768 || *v > 65535)) {
            error(s, o.column, numberText(*v) + " is out of range for a word: -32768 to 65535");
          }
          put(static_cast<std::uint8_t>(v.value_or(0) & 0xFF));
          put(static_cast<std::uint8_t>((v.value_or(0) >> 8) & 0xFF));
        }
        break;
      case Kind::Ds: {
        std::int32_t fill = 0;
        if (ops.size() > 1) {
          const std::optional<std::int32_t> v = value(ops[1], index);
          if (v && (*v < -128 || *v > 255)) {
            error(s, ops[1].column,
                  "fill " + numberText(*v) + " is out of range for a byte: -128 to 255");
          }
          fill = v.value_or(0);
        }
        for (std::int32_t b = 0; b < s.size; ++b) put(static_cast<std::uint8_t>(fill & 0xFF));
        break;
      }
      default: break;
    }
  }
}

// ---------------------------------------------------------------------------------------
// Results

std::string Assembly::listing() const {
  std::string out;
  int file = 0;
  char prefix[64];
  const auto row = [&](const char* address, std::string_view bytes, int line,
                       std::string_view source) {
    std::snprintf(prefix, sizeof prefix, "%-4s  %-11.*s  ", address, static_cast<int>(bytes.size()),
                  bytes.data());
    out += prefix;
    if (line > 0) {
      std::snprintf(prefix, sizeof prefix, "%5d  ", line);
      out += prefix;
      out += source;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += '\n';
  };
  const auto byteText = [this](std::int32_t from, std::int32_t count) {
    std::string text;
    for (std::int32_t a = from; a < from + count; ++a) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", memory_[static_cast<std::size_t>(a)]);
      if (a != from) text += ' ';
      text += hex;
    }
    return text;
  };
  for (const ListingLine& l : listingLines_) {
    const SourceFile& f = *files_[static_cast<std::size_t>(l.file)];
    if (l.file != file) {
      out += "                   [" + f.shown + "]\n";
      file = l.file;
    }
    char address[8] = "";
    std::string bytes;
    std::int32_t count = 0, at = 0;
    if (l.statement >= 0) {
      const Statement& s = statements_[static_cast<std::size_t>(l.statement)];
      at = s.address;
      count = std::min(s.size, kMemoryEnd - s.address);
      std::snprintf(address, sizeof address, "%04X", static_cast<unsigned>(s.address));
      if (s.kind == Kind::Equ) {
        address[0] = '\0';
        bytes = "= " + hexValue(symbols_[static_cast<std::size_t>(s.label)].value);
      } else {
        bytes = byteText(at, std::min(count, 4));
      }
      // DB and DW show all their bytes, four to a row; DS only its first row.
      if (s.kind == Kind::Ds) count = std::min(count, 4);
    }
    row(address, bytes, l.line, l.text);
    for (std::int32_t k = 4; k < count; k += 4) {
      std::snprintf(address, sizeof address, "%04X", static_cast<unsigned>(at + k));
      row(address, byteText(at + k, std::min(4, count - k)), 0, {});
    }
  }
  return out;
}

Result Assembly::run(const fs::path& path, std::string shown,
                     std::optional<std::string_view> text) {
  symbolForExpr_ = [this](std::string_view name, std::string& message) {
    const std::string_view reg = registerWord(upperCase(name));
    if (reg.empty()) return symbolIndex(name);
    message = isIndexHalf(reg)
                  ? std::string(reg) + " is a half of " + std::string(reg.substr(0, 2)) +
                        ": an undocumented register that Korvel does not run"
                  : std::string(name) + " is a register: it cannot be part of a value";
    return -1;
  };
  auto root = std::make_unique<SourceFile>();
  root->path = path;
  root->shown = std::move(shown);
  std::string reason;
  const bool read = text ? (root->text = std::string(*text), checkSourceText(root->text, reason))
                         : readSource(path, root->text, reason);
  Result result;
  if (!read) {
    result.errors.push_back(
        {root->shown, 0, 0, (text ? "cannot assemble: " : "cannot read the file: ") + reason});
    return result;
  }
  byteCount_ = root->text.size();
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(path, ec);
  files_.push_back(std::move(root));
  includeStack_.push_back(0);
  includeCanonical_.push_back(ec ? path.lexically_normal() : canonical);
  readFile(0);

  passOne();
  checkOverlaps();
  passTwo();
  if (!errors_.empty()) {
    result.errors = errors_.take();
    return result;
  }
  result.image.assign(memory_.begin(), memory_.begin() + imageSize_);
  for (const Statement& s : statements_) {
    if (s.size > 0 && s.kind != Kind::Equ) {
      result.lines.push_back(
          {s.address, s.size, files_[static_cast<std::size_t>(s.file)]->shown, s.line});
    }
  }
  std::stable_sort(
      result.lines.begin(), result.lines.end(),
      [](const LineAddress& a, const LineAddress& b) { return a.address < b.address; });
  for (const SymbolEntry& y : symbols_) {
    if (y.state == SymbolState::Label || y.state == SymbolState::Resolved) {
      const Statement& s = statements_[static_cast<std::size_t>(y.statement)];
      result.symbols.push_back({y.name, y.value, files_[static_cast<std::size_t>(s.file)]->shown,
                                s.line, y.state == SymbolState::Resolved});
    }
  }
  std::sort(result.symbols.begin(), result.symbols.end(),
            [](const Symbol& a, const Symbol& b) { return upperCase(a.name) < upperCase(b.name); });
  result.listing = listing();
  return result;
}

}  // namespace

std::vector<Word> classifyLine(std::string_view line) {
  std::vector<Word> words;
  std::vector<Token> tokens;
  std::size_t from = 0;  // where the part of the line being read starts
  while (from < line.size()) {
    LexError error;
    const bool lexed = tokenize(line.substr(from), tokens, error);
    const int offset = static_cast<int>(from);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      const Token& t = tokens[i];
      std::optional<WordKind> kind;
      switch (t.kind) {
        case TokenKind::Name: {
          const std::string upper = upperCase(t.text);
          // The label rule of parseLine: a name with a colon, before EQU, or in column 1.
          const bool first = i == 0 && from == 0;
          const bool colon = i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::Colon;
          const bool beforeEqu = i + 1 < tokens.size() && tokens[i + 1].kind == TokenKind::Name &&
                                 upperCase(tokens[i + 1].text) == "EQU";
          if (first && (colon || beforeEqu || (t.column == 1 && !isKeyword(upper)))) {
            kind = WordKind::Label;
          } else if (directive(upper)) {
            kind = WordKind::Directive;
          } else if (isKeyword(upper)) {
            kind = WordKind::Mnemonic;
          } else if (!registerWord(upper).empty()) {
            kind = WordKind::Register;
          }
          break;
        }
        case TokenKind::Number:
        case TokenKind::Character:
        case TokenKind::Dollar: kind = WordKind::Number; break;
        case TokenKind::String: kind = WordKind::String; break;
        default: break;
      }
      if (kind) words.push_back({offset + t.column, static_cast<int>(t.text.size()), *kind});
    }
    const std::size_t end =
        tokens.empty()
            ? from
            : from + static_cast<std::size_t>(tokens.back().column - 1) + tokens.back().text.size();
    if (lexed) {
      const std::size_t comment = line.find(';', end);
      if (comment != std::string_view::npos) {
        words.push_back({static_cast<int>(comment) + 1, static_cast<int>(line.size() - comment),
                         WordKind::Comment});
      }
      break;
    }
    // What cannot be read: an open string runs to the end of the line; anything else up to
    // the next blank, comma, parenthesis or comment, and the reading goes on after it.
    const std::size_t bad = from + static_cast<std::size_t>(error.column - 1);
    std::size_t stop = line.size();
    if (line[bad] != '"') {
      stop = line.find_first_of(" \t,();", bad + 1);
      if (stop == std::string_view::npos) stop = line.size();
    }
    words.push_back({static_cast<int>(bad) + 1, static_cast<int>(stop - bad), WordKind::Error});
    from = stop;
  }
  return words;
}

Result assembleFile(const fs::path& source) {
  return Assembly().run(source, pathText(source), std::nullopt);
}

Result assembleText(std::string_view text, const fs::path& name) {
  return Assembly().run(name, pathText(name), text);
}

}  // namespace korvel::assembler
