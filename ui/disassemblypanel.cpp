#include "disassemblypanel.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "machine.h"

namespace {

const QColor kCurrentLine(255, 232, 128);
const QColor kBreakpointLine(248, 196, 196);

QString byteDigits(std::uint8_t v) {
  return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

DisassemblyModel::DisassemblyModel(const korvel::Controller& controller, const SymbolTable& symbols,
                                   QObject* parent)
    : QAbstractTableModel(parent),
      controller_(controller),
      symbols_(symbols),
      bold_(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {
  bold_.setBold(true);
  refresh(true);
}

int DisassemblyModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DisassemblyModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

std::array<std::uint8_t, 4> DisassemblyModel::bytesAt(std::int32_t address) const {
  const auto& memory = controller_.state().memory;
  std::array<std::uint8_t, 4> b{};
  for (int i = 0; i < 4; ++i)
    b[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(memory[static_cast<std::size_t>((address + i) & 0xFFFF)]);
  return b;
}

void DisassemblyModel::refresh(bool layout, bool full) {
  const std::int32_t pc = controller_.state().PC, before = paintedPc_;
  paintedPc_ = pc;
  if (!layout && !rows_.empty() && addressAt(rowOf(pc)) == pc) {
    if (full) {
      emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
      return;
    }
    // Cell by cell: the view then redraws only these.
    for (const int row : {rowOf(before), rowOf(pc)})
      for (int c = 0; c < ColumnCount; ++c) emit dataChanged(index(row, c), index(row, c));
    return;
  }
  // The addresses that must start a line, ascending.
  std::vector<std::int32_t> anchors{pc};
  if (goTo_) anchors.push_back(*goTo_);
  for (const auto& [address, enabled] : controller_.breakpoints()) anchors.push_back(address);
  for (const auto& [address, name] : symbols_) anchors.push_back(address & 0xFFFF);
  std::sort(anchors.begin(), anchors.end());

  std::vector<std::int32_t> rows;
  auto next = anchors.begin();
  for (std::int32_t a = 0; a < korvel::kMemorySize;) {
    rows.push_back(a);
    std::int32_t end = a + korvel::instructionLength(bytesAt(a));
    while (next != anchors.end() && *next <= a) ++next;
    if (next != anchors.end() && *next < end) end = *next;
    a = end;
  }
  if (rows == rows_) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    return;
  }
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void DisassemblyModel::setGoTo(std::int32_t address) {
  goTo_ = address;
  refresh(true);
}

int DisassemblyModel::rowOf(std::int32_t address) const {
  const auto it = std::upper_bound(rows_.begin(), rows_.end(), address & 0xFFFF);
  return static_cast<int>(it - rows_.begin()) - 1;
}

// Beside the text: where a relative jump lands, what an index displacement adds, and the
// label of an absolute jump's or call's target.
QString DisassemblyModel::note(std::int32_t address, const std::array<std::uint8_t, 4>& b,
                               const QString& text) const {
  if (text.startsWith(QLatin1String("JR ")) || text.startsWith(QLatin1String("DJNZ "))) {
    const int e = b[1] < 128 ? b[1] : b[1] - 256;
    return QStringLiteral("; ") + addressWithLabel((address + 2 + e) & 0xFFFF, symbols_);
  }
  for (const char* xy : {"(IX+", "(IY+"}) {
    if (!text.contains(QLatin1String(xy))) continue;
    // The displacement is the third byte in every indexed form, DD CB d op included.
    const int d = b[2] < 128 ? b[2] : b[2] - 256;
    return QStringLiteral("; %1%2%3")
        .arg(QLatin1String(xy).mid(1, 2), d < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(std::abs(d));
  }
  const bool absolute = (text.startsWith(QLatin1String("JP ")) && !text.contains('(')) ||
                        text.startsWith(QLatin1String("CALL "));
  if (absolute) {
    const auto label = symbols_.find(b[2] * 256 + b[1]);
    if (label != symbols_.end())
      return QStringLiteral("; ") + QString::fromStdString(label->second);
  }
  return {};
}

QVariant DisassemblyModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::int32_t address = addressAt(index.row());
  const bool current = address == controller_.state().PC;
  const bool breakpoint = controller_.hasBreakpoint(address);
  switch (role) {
    case Qt::DisplayRole: break;
    case Qt::BackgroundRole:
      if (current) return kCurrentLine;
      if (controller_.breakpointEnabled(address)) return kBreakpointLine;
      return {};
    case Qt::FontRole: return current ? QVariant(bold_) : QVariant();
    case Qt::ForegroundRole:
      if (index.column() == Mark && breakpoint) return QColor(Qt::red);
      return {};
    case Qt::ToolTipRole:
      if (index.column() != Mark) return {};
      if (breakpoint)
        return controller_.breakpointEnabled(address) ? tr("Breakpoint") : tr("Breakpoint (off)");
      return current ? tr("PC: the next instruction to run") : QVariant();
    default: return {};
  }
  const std::array<std::uint8_t, 4> b = bytesAt(address);
  switch (index.column()) {
    case Mark: {
      QString mark = breakpoint ? (controller_.breakpointEnabled(address) ? QStringLiteral("●")
                                                                          : QStringLiteral("○"))
                                : QStringLiteral(" ");
      return current ? mark + QStringLiteral("▶") : mark;
    }
    case Address: return hexWord(address).chopped(1);
    case Bytes: {
      QStringList bytes;
      for (int i = 0; i < korvel::instructionLength(b); ++i)
        bytes << byteDigits(b[static_cast<std::size_t>(i)]);
      return bytes.join(QLatin1Char(' '));
    }
    case Label: {
      const auto it = symbols_.find(address);
      return it == symbols_.end() ? QString() : QString::fromStdString(it->second) + ':';
    }
    case Text: return QString::fromStdString(korvel::disassemble(b));
    default: return note(address, b, QString::fromStdString(korvel::disassemble(b)));
  }
}

QVariant DisassemblyModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  switch (section) {
    case Address: return tr("Address");
    case Bytes: return tr("Bytes");
    case Label: return tr("Label");
    case Text: return tr("Instruction");
    case Note: return tr("Target");
    default: return QString();
  }
}

DisassemblyPanel::DisassemblyPanel(const korvel::Controller& controller, const SymbolTable& symbols,
                                   QWidget* parent)
    : QDockWidget(tr("Disassembly"), parent), controller_(controller), symbols_(symbols) {
  setObjectName("disassemblyPanel");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);

  goTo_ = new QLineEdit(body);
  goTo_->setObjectName("disassemblyGoTo");
  goTo_->setPlaceholderText(tr("Go to address or label (Ctrl+G)"));
  layout->addWidget(goTo_);

  model_ = new DisassemblyModel(controller, symbols, this);
  view_ = new QTableView(body);
  view_->setObjectName("disassemblyView");
  view_->setModel(model_);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  view_->setFont(fixed);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setShowGrid(false);
  view_->setWordWrap(false);
  view_->verticalHeader()->hide();
  const QFontMetrics fm(fixed);
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(fm.height() + 2);
  const int digit = fm.horizontalAdvance(QLatin1Char('0'));
  const int widths[] = {3, 7, 12, 9, 17, 14};
  int total = 0;
  for (int c = 0; c < DisassemblyModel::ColumnCount; ++c) {
    view_->setColumnWidth(c, widths[c] * digit + 8);
    total += widths[c] * digit + 8;
  }
  view_->setMinimumSize(total + view_->verticalScrollBar()->sizeHint().width() + 4,
                        12 * (fm.height() + 2));
  view_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(view_);
  setWidget(body);

  connect(goTo_, &QLineEdit::returnPressed, this, [this] {
    const AddressEntry entry = parseAddress(goTo_->text(), symbols_);
    if (!entry.address) {
      emit problem(entry.error);
      return;
    }
    goTo(*entry.address);
    view_->setFocus();
  });
  connect(view_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
    emit toggleRequested(model_->addressAt(index.row()));
  });
}

void DisassemblyPanel::refresh(bool layout, bool follow, bool full) {
  const std::optional<std::int32_t> cursor = cursorAddress();
  model_->refresh(layout, full);  // a new layout loses the selection
  if (follow) {
    select(model_->rowOf(controller_.state().PC), true);
  } else if (cursor && !view_->selectionModel()->hasSelection()) {
    select(model_->rowOf(*cursor), false);
  }
}

void DisassemblyPanel::select(int row, bool scroll) {
  const QModelIndex index = model_->index(row, DisassemblyModel::Text);
  view_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (!scroll) return;
  // A line out of sight comes to the middle; one in sight stays where it is.
  const QRect line = view_->visualRect(index);
  if (!view_->viewport()->rect().contains(line))
    view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

std::optional<std::int32_t> DisassemblyPanel::cursorAddress() const {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return model_->addressAt(rows.first().row());
}

void DisassemblyPanel::focusGoTo() {
  show();
  raise();
  goTo_->setFocus(Qt::ShortcutFocusReason);
  goTo_->selectAll();
}

void DisassemblyPanel::goTo(std::int32_t address) {
  model_->setGoTo(address);
  const QModelIndex index = model_->index(model_->rowOf(address), DisassemblyModel::Text);
  view_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}
