#include "outputpanel.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ports.h"

namespace {

constexpr int kFrameMs = 16;
// The longest path shown in full, in pixels: a longer one would widen the window.
constexpr int kLogPathWidth = 360;
constexpr std::uint32_t kUndone = 1u << 16;
constexpr int kMargin = 4;

}  // namespace

void showLogFile(QLabel* label, const QString& path, bool writable) {
  const QString shown = label->fontMetrics().elidedText(path, Qt::ElideMiddle, kLogPathWidth);
  label->setText(
      writable ? QObject::tr("Log: %1").arg(shown)
               : QObject::tr("Log: %1 (cannot be written: an OUT will stop the run)").arg(shown));
  label->setToolTip(path);
}

// The list of lines. A list view of Qt's lays out every row again whenever rows are added,
// which a run of hundreds of thousands of OUTs cannot afford; this one paints the rows on
// screen straight from the panel's lines, so adding lines costs the same however many
// there are.
class OutputPanel::LineView : public QAbstractScrollArea {
 public:
  explicit LineView(const OutputPanel& panel, QWidget* parent)
      : QAbstractScrollArea(parent), panel_(panel) {
    setObjectName("outputLines");
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
  }

  // After lines came or went: the scroll ranges, and the newest line in sight when the
  // list showed the newest before.
  void linesChanged() {
    QScrollBar* bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    updateRanges();
    if (following) bar->setValue(bar->maximum());
    viewport()->update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(viewport());
    const int height = fontMetrics().lineSpacing();
    const int first = verticalScrollBar()->value();
    const int x = kMargin - horizontalScrollBar()->value();
    const QColor undoneColor = palette().color(QPalette::Disabled, QPalette::Text);
    QFont struck = font();
    struck.setStrikeOut(true);
    for (int i = 0; i * height < viewport()->height() && first + i < panel_.lineCount(); ++i) {
      const bool undone = panel_.undone(first + i);
      painter.setPen(undone ? undoneColor : palette().color(QPalette::Text));
      painter.setFont(undone ? struck : font());
      painter.drawText(x, i * height + fontMetrics().ascent(), panel_.line(first + i));
    }
  }
  void resizeEvent(QResizeEvent*) override { updateRanges(); }
  void scrollContentsBy(int, int) override { viewport()->update(); }

 private:
  void updateRanges() {
    const int rows = std::max(1, viewport()->height() / fontMetrics().lineSpacing());
    verticalScrollBar()->setRange(0, std::max(0, panel_.lineCount() - rows));
    verticalScrollBar()->setPageStep(rows);
    const int width =
        fontMetrics().horizontalAdvance(QStringLiteral("Data 00H sent to port 00H")) + 2 * kMargin;
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
  }

  const OutputPanel& panel_;
};

OutputPanel::OutputPanel(QWidget* parent) : QDockWidget(tr("Output"), parent) {
  setObjectName("outputPanel");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 2, 4, 4);

  auto* top = new QHBoxLayout;
  logPath_ = new QLabel(body);
  logPath_->setObjectName("outputLogPath");
  logPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(logPath_, 1);
  auto* clearButton = new QPushButton(tr("Clear"), body);
  clearButton->setObjectName("outputClear");
  clearButton->setToolTip(tr("Empties this panel; out.log keeps every line"));
  connect(clearButton, &QPushButton::clicked, this, &OutputPanel::clear);
  top->addWidget(clearButton);
  layout->addLayout(top);

  view_ = new LineView(*this, body);
  layout->addWidget(view_);
  setWidget(body);

  refresh_ = new QTimer(this);
  refresh_->setSingleShot(true);
  refresh_->setInterval(kFrameMs);
  connect(refresh_, &QTimer::timeout, this, &OutputPanel::showNewLines);
}

void OutputPanel::setLogFile(const QString& path, bool writable) {
  showLogFile(logPath_, path, writable);
}

void OutputPanel::append(std::int32_t port, std::int32_t byte) {
  lines_.push_back(static_cast<std::uint32_t>((port & 0xFF) << 8 | (byte & 0xFF)));
  if (!refresh_->isActive()) refresh_->start();
}

void OutputPanel::showNewLines() {
  shown_ = lines_.size();
  view_->linesChanged();
}

QString OutputPanel::line(int row) const {
  const std::uint32_t l = lines_.at(static_cast<std::size_t>(row));
  return QString::fromStdString(korvel::portLogLine(l >> 8 & 0xFF, l & 0xFF));
}

bool OutputPanel::undone(int row) const {
  return (lines_.at(static_cast<std::size_t>(row)) & kUndone) != 0;
}

void OutputPanel::markUndone() {
  for (std::size_t i = lines_.size(); i-- > 0;) {
    if ((lines_[i] & kUndone) == 0) {
      lines_[i] |= kUndone;
      view_->viewport()->update();
      return;
    }
  }
}

void OutputPanel::clear() {
  refresh_->stop();
  lines_.clear();
  shown_ = 0;
  view_->linesChanged();
}
