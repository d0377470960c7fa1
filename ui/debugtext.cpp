#include "debugtext.h"

#include <QCoreApplication>

namespace {

QString tr(const char* text) {
  return QCoreApplication::translate("DebugText", text);
}

bool isHex(QChar c) {
  return c.isDigit() || (c.toUpper() >= QLatin1Char('A') && c.toUpper() <= QLatin1Char('F'));
}

// A word as an assembler would take it for a name: a letter, '_' or '.' first, then letters,
// digits, '_' or '.'.
bool looksLikeLabel(const QString& text) {
  if (text.isEmpty() || text[0].isDigit()) return false;
  for (QChar c : text)
    if (!c.isLetterOrNumber() && c != QLatin1Char('_') && c != QLatin1Char('.')) return false;
  return true;
}

QString digitsOf(std::int32_t value, int digits) {
  return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

AddressEntry parseAddress(const QString& typed, const SymbolTable& symbols) {
  const QString text = typed.trimmed();
  if (text.isEmpty())
    return {std::nullopt, tr("Type an address in hexadecimal, 0000 to FFFF, or a label.")};
  for (const auto& [address, name] : symbols)
    if (QString::fromStdString(name) == text) return {address, {}};
  if (std::all_of(text.begin(), text.end(), isHex)) {
    bool ok = false;
    const qulonglong value = text.length() <= 8 ? text.toULongLong(&ok, 16) : 0;
    if (ok && value <= 0xFFFF) return {static_cast<std::int32_t>(value), {}};
    return {std::nullopt,
            tr("\"%1\" is past FFFFH, the last address of memory: give 0000 to FFFF.").arg(text)};
  }
  if (looksLikeLabel(text)) {
    if (symbols.empty())
      return {std::nullopt, tr("There is no label \"%1\": labels come with an assembled source. "
                               "Give an address in hexadecimal, 0000 to FFFF.")
                                .arg(text)};
    return {std::nullopt, tr("There is no label \"%1\" in the program. Give a label of the "
                             "program or an address in hexadecimal, 0000 to FFFF.")
                              .arg(text)};
  }
  return {
      std::nullopt,
      tr("\"%1\" is not an address: give hexadecimal digits, 0000 to FFFF, or a label.").arg(text)};
}

std::optional<std::int32_t> parseValue(const QString& typed, int digits, const QString& what,
                                       std::int32_t current, QString& error) {
  const QString text = typed.trimmed();
  if (text.length() == digits && std::all_of(text.begin(), text.end(), isHex))
    return static_cast<std::int32_t>(text.toInt(nullptr, 16));
  const QString range = digits == 2 ? tr("two hexadecimal digits (00 to FF), such as 0A")
                                    : tr("four hexadecimal digits (0000 to FFFF), such as F000");
  const QString given = text.isEmpty() ? tr("nothing was typed") : tr("\"%1\" is not").arg(text);
  error = tr("%1 takes %2; %3. %1 stays %4.").arg(what, range, given, digitsOf(current, digits));
  return std::nullopt;
}

QString hexWord(std::int32_t value) {
  return digitsOf(value & 0xFFFF, 4) + QLatin1Char('H');
}

QString addressWithLabel(std::int32_t address, const SymbolTable& symbols) {
  const auto it = symbols.find(address);
  return it == symbols.end()
             ? hexWord(address)
             : hexWord(address) + QLatin1Char(' ') + QString::fromStdString(it->second);
}
