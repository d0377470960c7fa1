#include "sourcehighlighter.h"

#include <vector>

#include "assembler.h"
#include "sourceeditor.h"

using korvel::assembler::WordKind;

SourceHighlighter::SourceHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
  const auto format = [this](WordKind kind, QColor colour, bool bold = false) {
    QTextCharFormat& f = formats_[static_cast<std::size_t>(kind)];
    f.setForeground(colour);
    if (bold) f.setFontWeight(QFont::Bold);
    return &f;
  };
  format(WordKind::Label, QColor(150, 60, 0), true);
  format(WordKind::Mnemonic, QColor(0, 0, 170), true);
  format(WordKind::Register, QColor(130, 0, 130));
  format(WordKind::Directive, QColor(0, 110, 150), true);
  format(WordKind::Number, QColor(0, 120, 90));
  format(WordKind::String, QColor(170, 70, 0));
  format(WordKind::Comment, QColor(110, 110, 110))->setFontItalic(true);
  QTextCharFormat* error = format(WordKind::Error, QColor(200, 0, 0));
  error->setUnderlineStyle(QTextCharFormat::WaveUnderline);
  error->setUnderlineColor(QColor(200, 0, 0));
}

// The assembler counts in the bytes of UTF-8, the editor in characters; lines are mostly
// ASCII, where the two agree.
void SourceHighlighter::highlightBlock(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  const bool ascii = utf8.size() == text.size();
  for (const korvel::assembler::Word& w :
       korvel::assembler::classifyLine(std::string_view(utf8.constData(), utf8.size()))) {
    const int begin = ascii ? w.column - 1 : charIndexOfByte(text, w.column - 1);
    const int end = ascii ? begin + w.length : charIndexOfByte(text, w.column - 1 + w.length);
    setFormat(begin, end - begin, formats_[static_cast<std::size_t>(w.kind)]);
  }
}
