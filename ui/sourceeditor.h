// The text editor of the Source panel: a plain text editor with a gutter of line numbers and
// breakpoint marks at its left (the shape of Qt's Code Editor example), the line at PC
// highlighted, and the assembler's colours.
#pragma once

#include <QPlainTextEdit>
#include <functional>

class SourceHighlighter;

// The index in `text` of the character that starts at byte `byteOffset` of its UTF-8 form:
// the assembler counts columns in bytes, the editor in characters. Past the end: text's size.
int charIndexOfByte(const QString& text, int byteOffset);

class SourceEditor : public QPlainTextEdit {
  Q_OBJECT

 public:
  // What the gutter shows beside a line.
  enum class Mark { None, Breakpoint, Disabled };
  // Asked for every line in sight when the gutter paints; lines count from 1.
  using MarkFunction = std::function<Mark(int line)>;

  explicit SourceEditor(QWidget* parent = nullptr);

  void setMarkFunction(MarkFunction f) { marks_ = std::move(f); }
  // The line at PC (from 1; 0 for none) gets a highlight, and is scrolled into sight when
  // it is out of it. The text cursor stays where the user put it.
  void setPcLine(int line);
  int pcLine() const { return pcLine_; }
  int cursorLine() const { return textCursor().blockNumber() + 1; }
  // Puts the cursor on `line` at byte `column` (both from 1, as diagnostics count them).
  void goTo(int line, int column);
  // The marks changed: paints the gutter again.
  void updateMarks();

 signals:
  void gutterClicked(int line);

 protected:
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Dropped files go to the window, which opens them; text is inserted as usual.
  bool canInsertFromMimeData(const QMimeData* source) const override;

 private:
  class Gutter;
  int gutterWidth() const;
  void paintGutter(QPaintEvent* event);
  void gutterPressed(int y);
  void updateGutterWidth();
  void updateGutter(const QRect& rect, int dy);

  Gutter* gutter_ = nullptr;
  SourceHighlighter* highlighter_ = nullptr;
  MarkFunction marks_;
  int pcLine_ = 0;
};
