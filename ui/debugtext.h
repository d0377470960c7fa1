// What the debugging panels read from the user (addresses, labels, register and cell values)
// and the labels they show, with messages that say what would be valid.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

// The labels of an assembled source: address -> name.
using SymbolTable = std::map<std::int32_t, std::string>;

// An address typed by the user: hexadecimal digits (0000 to FFFF), or a label of `symbols`.
// On failure `address` is empty and `error` says why in the user's words.
struct AddressEntry {
  std::optional<std::int32_t> address;
  QString error;
};
AddressEntry parseAddress(const QString& text, const SymbolTable& symbols);

// A new value for `what` ("A", "SP", "the cell at 0100H"): exactly `digits` hexadecimal digits
// (2 or 4), either case. On failure, nullopt and `error` names what is valid and that
// `what` keeps `current`.
std::optional<std::int32_t> parseValue(const QString& text, int digits, const QString& what,
                                       std::int32_t current, QString& error);

// "0100H"; with a label at the address, "0100H loop".
QString hexWord(std::int32_t value);
QString addressWithLabel(std::int32_t address, const SymbolTable& symbols);
