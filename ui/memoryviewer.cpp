#include "memoryviewer.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtMath>

#include "register_fields.h"

namespace {

constexpr int kRowLength = korvel::kMaxDumpRowLength;  // "AAAA: " and sixteen "XX "
constexpr int kRows = 16;

QString twoDigits(int v) {
  char buf[2];
  korvel::writeHex2(buf, v);
  return QString::fromLatin1(buf, 2);
}

void setBackground(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base, colour);
  p.setColor(QPalette::Text, Qt::black);
  w->setPalette(p);
}

}  // namespace

QString memoryDump(const korvel::MachineState& state, int page) {
  QByteArray dump(kRows * (kRowLength + 1), '\n');
  for (int row = 0; row < kRows; ++row)
    korvel::writeDumpRow(dump.data() + row * (kRowLength + 1), state, page * 256 + row * 16, 16);
  dump.chop(1);  // the last row ends with the blank after its sixteenth byte
  return QString::fromLatin1(dump);
}

MemoryViewer::MemoryViewer(const korvel::MachineState& state, int& page, QWidget* parent)
    : QWidget(parent), state_(state), page_(page) {
  setObjectName("Form2");
  setWindowTitle(tr("Memory Viewer"));
  setAttribute(Qt::WA_DeleteOnClose);

  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const QFontMetricsF fm(fixed);
  const qreal charWidth = fm.horizontalAdvance(QLatin1Char('0'));
  auto chars = [charWidth](int n) { return qCeil(n * charWidth); };
  // QLineEdit keeps 2 pixels between its edge and the text; the dump gets the same margin,
  // so that with the prefix box five characters wide the header's digits stand over the
  // byte columns ("AAAA: " is six characters, each header digit one after its blanks).
  constexpr int kTextMargin = 2;
  const QColor grey(0xC0, 0xC0, 0xC0);

  auto makeLine = [&](const char* name) {
    auto* line = new QLineEdit(this);
    line->setObjectName(QLatin1String(name));
    line->setFont(fixed);
    line->setFrame(false);
    line->setReadOnly(true);
    line->setTextMargins(0, 0, 0, 0);
    setBackground(line, grey);
    line->installEventFilter(this);
    return line;
  };
  prefiks_ = makeLine("prefiks");
  prefiks_->setFixedWidth(qRound(5 * charWidth));
  text1_ = makeLine("Text1");
  text1_->setText(QLatin1String(kMemoryHeader));
  text1_->setFixedWidth(chars(49) + 2 * kTextMargin);

  tabla_ = new QPlainTextEdit(this);
  tabla_->setObjectName("tabla");
  tabla_->setFont(fixed);
  tabla_->setReadOnly(true);
  tabla_->setFrameShape(QFrame::NoFrame);
  tabla_->setLineWrapMode(QPlainTextEdit::NoWrap);
  tabla_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  tabla_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  tabla_->document()->setDocumentMargin(kTextMargin);
  setBackground(tabla_, Qt::white);
  tabla_->installEventFilter(this);
  tabla_->viewport()->installEventFilter(this);
  tabla_->setFixedSize(chars(kRowLength + 1) + 2 * kTextMargin,
                       qCeil(kRows * fm.lineSpacing()) + 2 * kTextMargin + 4);

  skrolbar_ = new QScrollBar(Qt::Vertical, this);
  skrolbar_->setObjectName("skrolbar");
  skrolbar_->setRange(0, 255);
  skrolbar_->setSingleStep(1);
  skrolbar_->setPageStep(16);
  skrolbar_->setFocusPolicy(Qt::StrongFocus);
  // Without tracking the value changes only on a click, a key or the end of a drag; while
  // the thumb is dragged only sliderMoved reports its position.
  skrolbar_->setTracking(false);
  skrolbar_->setFixedHeight(tabla_->height());

  auto* grid = new QGridLayout(this);
  grid->setSpacing(0);
  grid->setVerticalSpacing(2);
  auto* headerRow = new QHBoxLayout;
  headerRow->setSpacing(0);
  headerRow->addWidget(prefiks_);
  headerRow->addWidget(text1_);
  headerRow->addStretch();
  grid->addLayout(headerRow, 0, 0);
  grid->addWidget(tabla_, 1, 0);
  grid->addWidget(skrolbar_, 1, 1);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  // Form_Load: the scroll bar to the current page, then the rendering.
  skrolbar_->setValue(page_);
  render();
  connect(skrolbar_, &QScrollBar::valueChanged, this, &MemoryViewer::skrolbar_Change);
  connect(skrolbar_, &QScrollBar::sliderMoved, this, &MemoryViewer::skrolbar_Scroll);
  skrolbar_->setFocus();
}

void MemoryViewer::skrolbar_Change(int value) {
  page_ = value;
  render();
}

void MemoryViewer::skrolbar_Scroll(int position) {
  prefiks_->setText(twoDigits(position));
}

void MemoryViewer::refresh() {
  const QString dump = memoryDump(state_, page_);
  if (dump != tabla_->toPlainText()) tabla_->setPlainText(dump);
}

void MemoryViewer::render() {
  tabla_->setPlainText(memoryDump(state_, page_));
  prefiks_->setText(twoDigits(skrolbar_->value()));
}

// The text boxes never keep the focus: the keyboard always drives the scroll bar.
bool MemoryViewer::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    skrolbar_->setFocus(Qt::OtherFocusReason);
  }
  return QWidget::eventFilter(watched, event);
}
