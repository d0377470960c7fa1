#include "ui/outputpanel.h"

#include <QAbstractListModel>
#include <QFont>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "peripherals/ports.h"

namespace {

constexpr int kFrameMs = 16;
// The longest path shown in full, in pixels: a longer one would widen the window.
constexpr int kLogPathWidth = 360;

}  // namespace

void showLogFile(QLabel* label, const QString& path, bool writable) {
  const QString shown = label->fontMetrics().elidedText(path, Qt::ElideMiddle, kLogPathWidth);
  label->setText(
      writable ? QObject::tr("Log: %1").arg(shown)
               : QObject::tr("Log: %1 (cannot be written: an OUT will stop the run)").arg(shown));
  label->setToolTip(path);
}

// The lines as port and data, four bytes each, so that a long run costs little memory; the
// text is made only for the rows on screen, by the function that makes out.log's lines.
// Rows are announced to the view in batches: `shown_` of them so far.
class OutputPanel::Lines : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  void append(std::int32_t port, std::int32_t data) {
    lines_.push_back(static_cast<std::uint32_t>((port & 0xFF) << 8 | (data & 0xFF)));
  }
  bool hasNewLines() const { return shown_ < lines_.size(); }
  void showNewLines() {
    if (!hasNewLines()) return;
    beginInsertRows({}, static_cast<int>(shown_), static_cast<int>(lines_.size() - 1));
    shown_ = lines_.size();
    endInsertRows();
  }
  void markUndone() {
    for (std::size_t i = lines_.size(); i-- > 0;) {
      if ((lines_[i] & kUndone) == 0) {
        lines_[i] |= kUndone;
        if (i < shown_) emit dataChanged(index(static_cast<int>(i)), index(static_cast<int>(i)));
        return;
      }
    }
  }
  void clear() {
    beginResetModel();
    lines_.clear();
    shown_ = 0;
    endResetModel();
  }

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(shown_);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount({})) return {};
    const std::uint32_t line = lines_[static_cast<std::size_t>(index.row())];
    const bool undone = (line & kUndone) != 0;
    switch (role) {
      case Qt::DisplayRole:
        return QString::fromStdString(korvel::portLogLine(line >> 8 & 0xFF, line & 0xFF));
      case Qt::FontRole: {
        if (!undone) return {};
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStrikeOut(true);
        return font;
      }
      case Qt::ForegroundRole:
        if (undone) return QPalette().color(QPalette::Disabled, QPalette::Text);
        return {};
      case Qt::ToolTipRole:
        if (undone) return tr("Undone by stepping back; out.log keeps the line");
        return {};
      default: return {};
    }
  }

 private:
  static constexpr std::uint32_t kUndone = 1u << 16;
  std::vector<std::uint32_t> lines_;
  std::size_t shown_ = 0;
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

  lines_ = new Lines(this);
  view_ = new QListView(body);
  view_->setObjectName("outputLines");
  view_->setModel(lines_);
  view_->setUniformItemSizes(true);  // a long list costs no more than its visible rows
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
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
  lines_->append(port, byte);
  if (!refresh_->isActive()) refresh_->start();
}

// The list follows the newest line unless the user has scrolled up to read.
void OutputPanel::showNewLines() {
  const QScrollBar* bar = view_->verticalScrollBar();
  const bool following = bar->value() == bar->maximum();
  lines_->showNewLines();
  if (following) view_->scrollToBottom();
}

void OutputPanel::markUndone() {
  lines_->markUndone();
}

void OutputPanel::clear() {
  refresh_->stop();
  lines_->clear();
}
