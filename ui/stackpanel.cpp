#include "stackpanel.h"

#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "register_fields.h"

namespace {

const QColor kChanged(255, 200, 120);

void mark(QTableWidgetItem* item, bool changed) {
  QFont font = item->font();
  font.setBold(changed);
  item->setFont(font);
  item->setBackground(changed ? QBrush(kChanged) : QBrush());
}

}  // namespace

StackPanel::StackPanel(const korvel::MachineState& state, const ChangeMarks& marks,
                       const SymbolTable& symbols, QWidget* parent)
    : QDockWidget(tr("Stack"), parent), state_(state), marks_(marks), symbols_(symbols) {
  setObjectName("stackPanel");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  sp_ = new QLabel(body);
  sp_->setObjectName("stackPointer");
  sp_->setFont(fixed);
  sp_->setAutoFillBackground(true);
  layout->addWidget(sp_);

  table_ = new QTableWidget(kWords, 3, body);
  table_->setObjectName("stackView");
  table_->setFont(fixed);
  table_->setHorizontalHeaderLabels({tr("Address"), tr("Word"), tr("Label")});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->horizontalHeader()->setStretchLastSection(true);
  for (int r = 0; r < kWords; ++r)
    for (int c = 0; c < 3; ++c) table_->setItem(r, c, new QTableWidgetItem);
  layout->addWidget(table_);
  setWidget(body);
  refresh();
}

void StackPanel::refresh() {
  const std::int32_t sp = state_.SP;
  sp_->setText(tr("SP = %1").arg(hexWord(sp)));
  static const std::size_t kSpField = [] {
    for (std::size_t i = 0; i < korvel::kRegisterFields.size(); ++i)
      if (korvel::kRegisterFields[i].member == &korvel::MachineState::SP) return i;
    return std::size_t{0};
  }();
  const bool moved = marks_.fieldChanged(kSpField);
  QFont font = sp_->font();
  font.setBold(moved);
  sp_->setFont(font);
  QPalette p = sp_->palette();
  p.setColor(QPalette::Window, moved ? kChanged : palette().color(QPalette::Window));
  sp_->setPalette(p);

  for (int r = 0; r < kWords; ++r) {
    const std::int32_t low = (sp + 2 * r) & 0xFFFF, high = (low + 1) & 0xFFFF;
    const std::int32_t word = state_.memory[static_cast<std::size_t>(high)] * 256 +
                              state_.memory[static_cast<std::size_t>(low)];
    const auto label = symbols_.find(word);
    table_->item(r, 0)->setText(r == 0 ? hexWord(low) + tr(" (SP)")
                                       : hexWord(low) + QStringLiteral(" (SP+%1)").arg(2 * r));
    table_->item(r, 1)->setText(hexWord(word));
    table_->item(r, 2)->setText(label == symbols_.end() ? QString()
                                                        : QString::fromStdString(label->second));
    mark(table_->item(r, 1), marks_.cellChanged(low) || marks_.cellChanged(high));
  }
}
