// The colours of assembly source: each piece of a line coloured as the assembler reads it
// (its mnemonics, registers, directives and the label rule; numbers, strings, comments), and
// what it cannot read underlined in red.
#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <array>

class SourceHighlighter : public QSyntaxHighlighter {
  Q_OBJECT

 public:
  explicit SourceHighlighter(QTextDocument* document);

 protected:
  void highlightBlock(const QString& text) override;

 private:
  std::array<QTextCharFormat, 8> formats_;  // by korvel::assembler::WordKind
};
