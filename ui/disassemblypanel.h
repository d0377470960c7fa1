// The Disassembly panel: the instructions of memory one a line (address, bytes, label, the
// text exactly as the core writes it, and where a relative jump goes or what an index
// displacement adds), the line at PC highlighted, breakpoints marked.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <QFont>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "controller.h"
#include "debugtext.h"

QT_BEGIN_NAMESPACE
class QLineEdit;
class QTableView;
QT_END_NAMESPACE

// The lines are laid out by reading instructions one after another from 0000H to FFFFH. A
// line never runs past an address that must start a line of its own (PC, breakpoints, labels,
// the last Go to Address): code that the sweep reads out of step falls back into step there.
class DisassemblyModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Mark, Address, Bytes, Label, Text, Note, ColumnCount };

  DisassemblyModel(const korvel::Controller& controller, const SymbolTable& symbols,
                   QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Lays the lines out again when `layout` says that memory, breakpoints or labels changed,
  // or when PC stands inside a line; otherwise repaints, all lines when `full`, else only
  // those of the old and the new PC.
  void refresh(bool layout, bool full = true);
  void setGoTo(std::int32_t address);
  // The line that holds `address`.
  int rowOf(std::int32_t address) const;
  std::int32_t addressAt(int row) const { return rows_[static_cast<std::size_t>(row)]; }

 private:
  std::array<std::uint8_t, 4> bytesAt(std::int32_t address) const;
  QString note(std::int32_t address, const std::array<std::uint8_t, 4>& bytes,
               const QString& text) const;

  const korvel::Controller& controller_;
  const SymbolTable& symbols_;
  std::vector<std::int32_t> rows_;  // the address each line starts at, ascending
  std::optional<std::int32_t> goTo_;
  std::int32_t paintedPc_ = 0;
  QFont bold_;  // the line at PC
};

class DisassemblyPanel : public QDockWidget {
  Q_OBJECT

 public:
  DisassemblyPanel(const korvel::Controller& controller, const SymbolTable& symbols,
                   QWidget* parent = nullptr);

  DisassemblyModel* model() const { return model_; }
  // Shows the state (see DisassemblyModel::refresh); `follow` moves the selection to the line
  // at PC and scrolls it into view.
  void refresh(bool layout, bool follow, bool full = true);
  // The selected line's address: what Toggle Breakpoint and Run to Cursor work on.
  std::optional<std::int32_t> cursorAddress() const;
  // Shows the panel with the cursor in its Go to Address field.
  void focusGoTo();
  // Selects the line of `address` and scrolls it into view.
  void goTo(std::int32_t address);

 signals:
  void toggleRequested(std::int32_t address);  // a double click on a line
  void problem(const QString& text);

 private:
  void select(int row, bool scroll);

  const korvel::Controller& controller_;
  const SymbolTable& symbols_;
  DisassemblyModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* goTo_ = nullptr;
};
