#include "instruction_table.h"

#include <algorithm>
#include <map>

#include "decoding.h"
#include "machine.h"

namespace korvel::assembler {

namespace {

namespace dc = decoding;

// Operand bytes that no fixed number of a text can be mistaken for (RST shows 00H..38H,
// IM and BIT one decimal digit): the first operand byte, the second, and the word they form.
constexpr std::int32_t kFirstSentinel = 0xA5;
constexpr std::int32_t kSecondSentinel = 0x5A;
constexpr std::int32_t kWordSentinel = kSecondSentinel * 256 + kFirstSentinel;

bool allOf(std::string_view text, bool (*test)(char)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), test);
}
bool isDecimal(char c) {
  return c >= '0' && c <= '9';
}
bool isHex(char c) {
  return isDecimal(c) || (c >= 'A' && c <= 'F');
}

// The value of a number as the core writes it ("A5H", "5AA5H", "38H", "3"); -1 if the
// text is no number.
std::int32_t numberIn(std::string_view text) {
  int base = 10;
  if (text.size() >= 2 && text.back() == 'H') {
    text.remove_suffix(1);
    base = 16;
  }
  if (!allOf(text, base == 16 ? isHex : isDecimal)) return -1;
  std::int32_t value = 0;
  for (char c : text) value = value * base + (isDecimal(c) ? c - '0' : c - 'A' + 10);
  return value;
}

int patternBytes(Pattern p) {
  switch (p) {
    case Pattern::Byte:
    case Pattern::Relative:
    case Pattern::IndirectByte:
    case Pattern::IndexCell: return 1;
    case Pattern::Word:
    case Pattern::IndirectWord: return 2;
    default: return 0;
  }
}

}  // namespace

std::string Form::text() const {
  std::string t = mnemonic;
  for (std::size_t i = 0; i < operands.size(); ++i) {
    t += i == 0 ? " " : ",";
    const OperandPattern& o = operands[i];
    switch (o.kind) {
      case Pattern::Fixed: t += o.text; break;
      case Pattern::Byte: t += "n"; break;
      case Pattern::Word: t += "nn"; break;
      case Pattern::Relative: t += "e"; break;
      case Pattern::IndirectByte: t += "(n)"; break;
      case Pattern::IndirectWord: t += "(nn)"; break;
      case Pattern::IndexCell: t += "(" + o.text + "+d)"; break;
      case Pattern::Number:
        if (encodings.size() <= 3) {
          for (std::size_t k = 0; k < encodings.size(); ++k) {
            if (k > 0) t += '/';
            t += std::to_string(encodings[k].number);
          }
        } else {
          t += mnemonic == "RST" ? "p" : "b";
        }
        break;
    }
  }
  return t;
}

const InstructionTable& InstructionTable::instance() {
  static const InstructionTable table;
  return table;
}

// Reads one instruction's text back into a form. `operandOffset` is where the first
// operand byte lies; `opcodeBytes` counts the prefixes and the opcode.
void InstructionTable::add(const Bytes& bytes, int operandOffset, int opcodeBytes) {
  const std::string text = disassemble(bytes);
  Form form;
  const std::size_t blank = text.find(' ');
  form.mnemonic = text.substr(0, blank);
  form.length = opcodeBytes;
  Bytes encoding = bytes;
  std::int32_t number = 0;
  const bool relative = form.mnemonic == "JR" || form.mnemonic == "DJNZ";

  std::string_view rest =
      blank == std::string::npos ? std::string_view() : std::string_view(text).substr(blank + 1);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view operand = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);

    OperandPattern p{Pattern::Fixed, std::string(operand)};
    const bool parenthesized = operand.front() == '(' && operand.back() == ')';
    std::string_view inner = parenthesized ? operand.substr(1, operand.size() - 2) : operand;
    bool indexed = false;
    for (const char* xy : dc::kIndexNames) {
      if (inner.starts_with(xy) && inner.size() > 2 && inner[2] == '+') {
        indexed = true;
        p.text = xy;
        inner.remove_prefix(3);
      }
    }
    const std::int32_t value = numberIn(inner);
    if (value == kFirstSentinel || value == kSecondSentinel || value == kWordSentinel) {
      p.offset = operandOffset + (value == kSecondSentinel ? 1 : 0);
      if (indexed) {
        p.kind = Pattern::IndexCell;
      } else if (value == kWordSentinel) {
        p.kind = parenthesized ? Pattern::IndirectWord : Pattern::Word;
      } else {
        p.kind = parenthesized ? Pattern::IndirectByte
                 : relative    ? Pattern::Relative
                               : Pattern::Byte;
      }
      const int size = patternBytes(p.kind);
      form.length += size;
      for (int k = 0; k < size; ++k) encoding[static_cast<std::size_t>(p.offset + k)] = 0;
    } else if (value >= 0 && !parenthesized) {
      p.kind = Pattern::Number;
      number = value;
    }
    if (p.kind != Pattern::Fixed && p.kind != Pattern::IndexCell) p.text.clear();
    form.operands.push_back(std::move(p));
  }
  for (std::size_t k = static_cast<std::size_t>(form.length); k < encoding.size(); ++k) {
    encoding[k] = 0;
  }

  // One form per shape; where two pages give the same text (LD HL,(nn) on the main page and
  // on the ED page), the shorter encoding wins, and the main page comes first.
  for (Form& existing : forms_) {
    if (existing.mnemonic != form.mnemonic || existing.operands.size() != form.operands.size() ||
        !std::equal(existing.operands.begin(), existing.operands.end(), form.operands.begin(),
                    [](const OperandPattern& a, const OperandPattern& b) {
                      return a.kind == b.kind && a.text == b.text;
                    })) {
      continue;
    }
    for (const Form::Encoding& e : existing.encodings) {
      if (e.number == number) return;
    }
    existing.encodings.push_back({number, encoding});
    return;
  }
  form.encodings.push_back({number, encoding});
  forms_.push_back(std::move(form));
}

InstructionTable::InstructionTable() {
  for (std::int32_t op = 0; op < 256; ++op) {
    if (op == dc::kPrefixCB || op == dc::kPrefixED || op == dc::kIndexPrefixes[0] ||
        op == dc::kIndexPrefixes[1]) {
      continue;
    }
    add({static_cast<std::uint8_t>(op), kFirstSentinel, kSecondSentinel, 0}, 1, 1);
  }
  for (std::int32_t op = 0; op < 256; ++op) {
    const auto byte = static_cast<std::uint8_t>(op);
    if (dc::cbKnows(op)) add({dc::kPrefixCB, byte, 0, 0}, 2, 2);
    if (dc::edKnows(op)) add({dc::kPrefixED, byte, kFirstSentinel, kSecondSentinel}, 2, 2);
  }
  for (std::int32_t prefix : dc::kIndexPrefixes) {
    const auto prefixByte = static_cast<std::uint8_t>(prefix);
    for (std::int32_t op = 0; op < 256; ++op) {
      const auto byte = static_cast<std::uint8_t>(op);
      if (op != dc::kPrefixCB && dc::indexKnows(op)) {
        add({prefixByte, byte, kFirstSentinel, kSecondSentinel}, 2, 2);
      }
      if (dc::indexBitKnows(op)) add({prefixByte, dc::kPrefixCB, kFirstSentinel, byte}, 2, 3);
    }
  }

  std::stable_sort(forms_.begin(), forms_.end(),
                   [](const Form& a, const Form& b) { return a.mnemonic < b.mnemonic; });
  for (std::size_t i = 0; i < forms_.size();) {
    std::size_t j = i;
    while (j < forms_.size() && forms_[j].mnemonic == forms_[i].mnemonic) ++j;
    byMnemonic_.push_back({forms_[i].mnemonic, i, j});
    mnemonics_.push_back(forms_[i].mnemonic);
    i = j;
  }
}

std::span<const Form> InstructionTable::forms(std::string_view mnemonic) const {
  const auto it = std::lower_bound(
      byMnemonic_.begin(), byMnemonic_.end(), mnemonic,
      [](const Range& r, std::string_view m) { return std::string_view(r.mnemonic) < m; });
  if (it == byMnemonic_.end() || it->mnemonic != mnemonic) return {};
  return std::span<const Form>(forms_).subspan(it->begin, it->end - it->begin);
}

}  // namespace korvel::assembler
