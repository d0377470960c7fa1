#include "memorypanel.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const QColor kChanged(255, 200, 120);

QString digits(std::int32_t v, int n) {
  return QStringLiteral("%1").arg(v, n, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

MemoryModel::MemoryModel(korvel::Controller& controller, ChangeMarks& marks, QObject* parent)
    : QAbstractTableModel(parent),
      controller_(controller),
      marks_(marks),
      bold_(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {
  bold_.setBold(true);
}

int MemoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : korvel::kMemorySize / 16;
}

int MemoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kAsciiColumn + 1;
}

bool MemoryModel::editable() const {
  return !controller_.running() && !controller_.pendingInput();
}

QVariant MemoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::int32_t row = index.row() * 16;
  const auto& memory = controller_.state().memory;
  if (index.column() == kAsciiColumn) {
    if (role != Qt::DisplayRole) return {};
    QString text(16, QLatin1Char('.'));
    for (int i = 0; i < 16; ++i) {
      const std::int32_t v = memory[static_cast<std::size_t>(row + i)];
      if (v >= 0x20 && v < 0x7F) text[i] = QLatin1Char(static_cast<char>(v));
    }
    return text;
  }
  const std::int32_t address = row + index.column();
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return digits(memory[static_cast<std::size_t>(address)], 2);
    case Qt::BackgroundRole: return marks_.cellChanged(address) ? QVariant(kChanged) : QVariant();
    case Qt::FontRole: return marks_.cellChanged(address) ? QVariant(bold_) : QVariant();
    case Qt::ToolTipRole: return hexWord(address);
    default: return {};
  }
}

QVariant MemoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return digits(section * 16, 4);
  return section == kAsciiColumn ? tr("ASCII") : digits(section, 1);
}

Qt::ItemFlags MemoryModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.column() != kAsciiColumn && editable()) f |= Qt::ItemIsEditable;
  return f;
}

bool MemoryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.column() == kAsciiColumn) return false;
  const std::int32_t address = index.row() * 16 + index.column();
  const std::int32_t current = controller_.state().memory[static_cast<std::size_t>(address)];
  QString error;
  const std::optional<std::int32_t> v =
      parseValue(value.toString(), 2, tr("The cell at %1").arg(hexWord(address)), current, error);
  if (!v) {
    emit problem(error);
    return false;
  }
  if (!controller_.setMemory(address, *v)) {
    emit problem(tr("Memory can be edited while the program is stopped: Stop (F3) first."));
    return false;
  }
  marks_.acceptCell(address, *v);
  emit dataChanged(index, this->index(index.row(), kAsciiColumn));
  emit edited();
  return true;
}

void MemoryModel::refresh() {
  emit dataChanged(index(0, 0), index(rowCount() - 1, kAsciiColumn));
}

void MemoryModel::refreshCells(const std::vector<std::int32_t>& addresses) {
  for (const std::int32_t a : addresses) {
    emit dataChanged(index(a / 16, a % 16), index(a / 16, a % 16));
    emit dataChanged(index(a / 16, kAsciiColumn), index(a / 16, kAsciiColumn));
  }
}

MemoryPanel::MemoryPanel(korvel::Controller& controller, ChangeMarks& marks,
                         const SymbolTable& symbols, QWidget* parent)
    : QDockWidget(tr("Memory"), parent), symbols_(symbols) {
  setObjectName("memoryPanel");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  goTo_ = new QLineEdit(body);
  goTo_->setObjectName("memoryGoTo");
  goTo_->setPlaceholderText(tr("Go to address or label"));
  layout->addWidget(goTo_);

  model_ = new MemoryModel(controller, marks, this);
  view_ = new QTableView(body);
  view_->setObjectName("memoryView");
  view_->setModel(model_);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  view_->setFont(fixed);
  view_->horizontalHeader()->setFont(fixed);
  view_->verticalHeader()->setFont(fixed);
  view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setWordWrap(false);
  const QFontMetrics fm(fixed);
  const int digit = fm.horizontalAdvance(QLatin1Char('0'));
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(fm.height() + 2);
  view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->horizontalHeader()->setDefaultSectionSize(3 * digit + 6);
  view_->setColumnWidth(MemoryModel::kAsciiColumn, 17 * digit + 8);
  view_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(view_);
  setWidget(body);

  connect(model_, &MemoryModel::problem, this, &MemoryPanel::problem);
  connect(goTo_, &QLineEdit::returnPressed, this, [this] {
    const AddressEntry entry = parseAddress(goTo_->text(), symbols_);
    if (!entry.address) {
      emit problem(entry.error);
      return;
    }
    goTo(*entry.address);
    view_->setFocus();
  });
}

void MemoryPanel::goTo(std::int32_t address) {
  const QModelIndex index = model_->index(address / 16, address % 16);
  view_->setCurrentIndex(index);
  view_->scrollTo(index, QAbstractItemView::PositionAtTop);
}
