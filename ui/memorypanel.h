// The Memory panel: all of memory sixteen cells a row in hexadecimal with an ASCII column,
// the cells that the last step or run changed highlighted; cells can be edited while the
// program is stopped.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <QFont>
#include <cstdint>
#include <vector>

#include "changemarks.h"
#include "controller.h"
#include "debugtext.h"

QT_BEGIN_NAMESPACE
class QLineEdit;
class QTableView;
QT_END_NAMESPACE

class MemoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kAsciiColumn = 16;

  MemoryModel(korvel::Controller& controller, ChangeMarks& marks, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Two hexadecimal digits into the cell, through the controller; anything else is refused
  // with a message and the cell keeps its value.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  void refresh();
  // Redraws only these cells (and their rows' ASCII text).
  void refreshCells(const std::vector<std::int32_t>& addresses);

 signals:
  void problem(const QString& text);
  void edited();

 private:
  bool editable() const;

  korvel::Controller& controller_;
  ChangeMarks& marks_;
  QFont bold_;  // changed cells
};

class MemoryPanel : public QDockWidget {
  Q_OBJECT

 public:
  MemoryPanel(korvel::Controller& controller, ChangeMarks& marks, const SymbolTable& symbols,
              QWidget* parent = nullptr);

  MemoryModel* model() const { return model_; }
  void refresh() { model_->refresh(); }
  void refreshCells(const std::vector<std::int32_t>& addresses) { model_->refreshCells(addresses); }
  // Scrolls to the row of `address` and selects its cell.
  void goTo(std::int32_t address);

 signals:
  void problem(const QString& text);

 private:
  const SymbolTable& symbols_;
  MemoryModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* goTo_ = nullptr;
};
