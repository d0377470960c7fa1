#include "breakpointspanel.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "machine.h"

BreakpointsModel::BreakpointsModel(korvel::Controller& controller, const SymbolTable& symbols,
                                   QObject* parent)
    : QAbstractTableModel(parent), controller_(controller), symbols_(symbols) {
  refresh();
}

int BreakpointsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(addresses_.size());
}

int BreakpointsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant BreakpointsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const std::int32_t address = addressAt(index.row());
  if (role == Qt::CheckStateRole && index.column() == Address)
    return controller_.breakpointEnabled(address) ? Qt::Checked : Qt::Unchecked;
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case Address: return hexWord(address);
    case Label: {
      const auto it = symbols_.find(address);
      return it == symbols_.end() ? QString() : QString::fromStdString(it->second);
    }
    default: {
      std::array<std::uint8_t, 4> b{};
      for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(
            controller_.state().memory[(static_cast<std::size_t>(address) + i) & 0xFFFF]);
      return QString::fromStdString(korvel::disassemble(b));
    }
  }
}

QVariant BreakpointsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  const char* const kTitles[] = {"Address", "Label", "Instruction"};
  return tr(kTitles[section]);
}

Qt::ItemFlags BreakpointsModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.column() == Address) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool BreakpointsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != Address || role != Qt::CheckStateRole) return false;
  controller_.setBreakpoint(addressAt(index.row()), value.value<Qt::CheckState>() == Qt::Checked);
  emit dataChanged(index, index);
  emit changed();
  return true;
}

void BreakpointsModel::refresh() {
  std::vector<std::int32_t> addresses;
  for (const auto& [address, enabled] : controller_.breakpoints()) addresses.push_back(address);
  if (addresses != addresses_) {
    beginResetModel();
    addresses_ = std::move(addresses);
    endResetModel();
  } else if (!addresses_.empty()) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
  }
}

int BreakpointsModel::rowOf(std::int32_t address) const {
  const auto it = std::find(addresses_.begin(), addresses_.end(), address);
  return it == addresses_.end() ? -1 : static_cast<int>(it - addresses_.begin());
}

BreakpointsPanel::BreakpointsPanel(korvel::Controller& controller, const SymbolTable& symbols,
                                   QWidget* parent)
    : QDockWidget(tr("Breakpoints"), parent), controller_(controller), symbols_(symbols) {
  setObjectName("breakpointsPanel");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);

  auto* row = new QHBoxLayout;
  entry_ = new QLineEdit(body);
  entry_->setObjectName("breakpointEntry");
  entry_->setPlaceholderText(tr("Address or label"));
  auto* addButton = new QPushButton(tr("Add"), body);
  addButton->setObjectName("breakpointAdd");
  auto* removeButton = new QPushButton(tr("Remove"), body);
  removeButton->setObjectName("breakpointRemove");
  row->addWidget(entry_, 1);
  row->addWidget(addButton);
  row->addWidget(removeButton);
  layout->addLayout(row);

  model_ = new BreakpointsModel(controller, symbols, this);
  view_ = new QTableView(body);
  view_->setObjectName("breakpointsView");
  view_->setModel(model_);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->verticalHeader()->hide();
  view_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(view_);
  setWidget(body);

  connect(model_, &BreakpointsModel::changed, this, &BreakpointsPanel::changed);
  connect(entry_, &QLineEdit::returnPressed, this, &BreakpointsPanel::add);
  connect(addButton, &QPushButton::clicked, this, &BreakpointsPanel::add);
  connect(removeButton, &QPushButton::clicked, this, &BreakpointsPanel::remove);
}

void BreakpointsPanel::refresh() {
  model_->refresh();
}

void BreakpointsPanel::add() {
  const AddressEntry entry = parseAddress(entry_->text(), symbols_);
  if (!entry.address) {
    emit problem(entry.error);
    return;
  }
  controller_.setBreakpoint(*entry.address);
  entry_->clear();
  emit changed();
  view_->selectRow(model_->rowOf(*entry.address));
}

// The selected breakpoint goes; with none selected, the one whose address is typed.
void BreakpointsPanel::remove() {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  std::int32_t address = 0;
  if (!rows.isEmpty()) {
    address = model_->addressAt(rows.first().row());
  } else {
    const AddressEntry entry = parseAddress(entry_->text(), symbols_);
    if (!entry.address || !controller_.hasBreakpoint(*entry.address)) {
      emit problem(entry.address ? tr("There is no breakpoint at %1.").arg(hexWord(*entry.address))
                                 : tr("Select the breakpoint to remove, or type its address."));
      return;
    }
    address = *entry.address;
  }
  controller_.removeBreakpoint(address);
  emit changed();
}
