#include "sourceeditor.h"

#include <QFontDatabase>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

#include "sourcehighlighter.h"

namespace {

const QColor kPcLine(255, 236, 140);
const QColor kBreakpoint(200, 30, 30);
constexpr int kGutterPadding = 6;

}  // namespace

int charIndexOfByte(const QString& text, int byteOffset) {
  int bytes = 0;
  qsizetype i = 0;
  while (i < text.size() && bytes < byteOffset) {
    const char16_t c = text[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      bytes += 4;
      i += 2;
    } else {
      bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
      ++i;
    }
  }
  return static_cast<int>(i);
}

class SourceEditor::Gutter : public QWidget {
 public:
  explicit Gutter(SourceEditor* editor) : QWidget(editor), editor_(editor) {
    setObjectName("sourceGutter");
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Click beside a line to set or clear a breakpoint on it"));
  }
  QSize sizeHint() const override { return {editor_->gutterWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { editor_->paintGutter(event); }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) editor_->gutterPressed(event->position().toPoint().y());
  }

 private:
  SourceEditor* editor_;
};

SourceEditor::SourceEditor(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName("sourceEditor");
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setTabStopDistance(8 * fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  gutter_ = new Gutter(this);
  highlighter_ = new SourceHighlighter(document());
  connect(this, &QPlainTextEdit::blockCountChanged, this, &SourceEditor::updateGutterWidth);
  connect(this, &QPlainTextEdit::updateRequest, this, &SourceEditor::updateGutter);
  updateGutterWidth();
}

int SourceEditor::gutterWidth() const {
  int digits = 3;
  for (int n = blockCount(); n >= 1000; n /= 10) ++digits;
  return fontMetrics().lineSpacing() + digits * fontMetrics().horizontalAdvance(QLatin1Char('9')) +
         kGutterPadding;
}

void SourceEditor::updateGutterWidth() {
  setViewportMargins(gutterWidth(), 0, 0, 0);
}

void SourceEditor::updateGutter(const QRect& rect, int dy) {
  if (dy != 0) {
    gutter_->scroll(0, dy);
  } else {
    gutter_->update(0, rect.y(), gutter_->width(), rect.height());
  }
}

void SourceEditor::updateMarks() {
  gutter_->update();
}

void SourceEditor::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  const QRect r = contentsRect();
  gutter_->setGeometry(r.left(), r.top(), gutterWidth(), r.height());
}

// The line numbers, right-aligned; a breakpoint's dot (a ring when it is off) before them;
// the number of the line at PC in bold.
void SourceEditor::paintGutter(QPaintEvent* event) {
  QPainter painter(gutter_);
  painter.fillRect(event->rect(), palette().color(QPalette::Window));
  painter.setRenderHint(QPainter::Antialiasing);
  const int markSize = fontMetrics().lineSpacing();
  const int numberWidth = gutter_->width() - markSize - kGutterPadding / 2;
  QFont bold = font();
  bold.setBold(true);
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  while (block.isValid() && top <= event->rect().bottom()) {
    const int height = qRound(blockBoundingRect(block).height());
    const int line = block.blockNumber() + 1;
    if (block.isVisible() && top + height >= event->rect().top()) {
      const Mark mark = marks_ ? marks_(line) : Mark::None;
      if (mark != Mark::None) {
        const int d = markSize * 6 / 10;
        const QRectF dot((markSize - d) / 2.0, top + (height - d) / 2.0, d, d);
        painter.setPen(QPen(kBreakpoint, 1.5));
        painter.setBrush(mark == Mark::Breakpoint ? QBrush(kBreakpoint) : Qt::NoBrush);
        painter.drawEllipse(dot);
      }
      painter.setFont(line == pcLine_ ? bold : font());
      painter.setPen(
          palette().color(line == pcLine_ ? QPalette::Active : QPalette::Disabled, QPalette::Text));
      painter.drawText(markSize, top, numberWidth, height, Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(line));
    }
    block = block.next();
    top += height;
  }
}

void SourceEditor::gutterPressed(int y) {
  for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
    const QRectF r = blockBoundingGeometry(block).translated(contentOffset());
    if (r.top() > y) return;
    if (y < r.bottom()) {
      emit gutterClicked(block.blockNumber() + 1);
      return;
    }
  }
}

void SourceEditor::setPcLine(int line) {
  const QTextBlock block = document()->findBlockByNumber(line - 1);
  if (line <= 0 || !block.isValid()) line = 0;
  if (line == pcLine_) return;
  pcLine_ = line;
  QList<QTextEdit::ExtraSelection> selections;
  if (line != 0) {
    QTextEdit::ExtraSelection pc;
    pc.format.setBackground(kPcLine);
    pc.format.setProperty(QTextFormat::FullWidthSelection, true);
    pc.cursor = QTextCursor(block);
    selections << pc;
    // Out of sight, it comes to the middle; in sight, nothing moves.
    QScrollBar* bar = verticalScrollBar();
    const int rows = std::max(1, viewport()->height() / fontMetrics().lineSpacing());
    const int first = firstVisibleBlock().blockNumber();
    if (line - 1 < first || line - 1 >= first + rows - 1) bar->setValue(line - 1 - rows / 2);
  }
  setExtraSelections(selections);
  gutter_->update();
}

void SourceEditor::goTo(int line, int column) {
  const int last = std::max(1, blockCount());
  const QTextBlock block = document()->findBlockByNumber(std::clamp(line, 1, last) - 1);
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + charIndexOfByte(block.text(), std::max(column, 1) - 1));
  setTextCursor(cursor);
  centerCursor();
  setFocus(Qt::OtherFocusReason);
}

// Ctrl+A stays the window's About Korvel, as everywhere else in the window; Select All is in
// the editor's context menu.
bool SourceEditor::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::SelectAll)) {
    event->ignore();
    return true;
  }
  return QPlainTextEdit::event(event);
}

// Shift+Enter would break the line without starting a new one in the document, so that the
// editor's lines and the assembler's would differ: it starts a new line like Enter.
void SourceEditor::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & Qt::ShiftModifier)) {
    QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                    event->text(), event->isAutoRepeat(), static_cast<quint16>(event->count()));
    QPlainTextEdit::keyPressEvent(&plain);
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

bool SourceEditor::canInsertFromMimeData(const QMimeData* source) const {
  return !source->hasUrls() && QPlainTextEdit::canInsertFromMimeData(source);
}
