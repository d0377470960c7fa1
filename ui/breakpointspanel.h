// The Breakpoints panel: every breakpoint with its label and instruction, a check box that
// turns it on and off, and fields to add one by address or label and to remove one.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <cstdint>
#include <vector>

#include "controller.h"
#include "debugtext.h"

QT_BEGIN_NAMESPACE
class QLineEdit;
class QTableView;
QT_END_NAMESPACE

class BreakpointsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Address, Label, Text, ColumnCount };

  BreakpointsModel(korvel::Controller& controller, const SymbolTable& symbols,
                   QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The check box of the Address column turns the breakpoint on or off.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Reads the controller's breakpoints again.
  void refresh();
  std::int32_t addressAt(int row) const { return addresses_[static_cast<std::size_t>(row)]; }
  int rowOf(std::int32_t address) const;

 signals:
  void changed();

 private:
  korvel::Controller& controller_;
  const SymbolTable& symbols_;
  std::vector<std::int32_t> addresses_;
};

class BreakpointsPanel : public QDockWidget {
  Q_OBJECT

 public:
  BreakpointsPanel(korvel::Controller& controller, const SymbolTable& symbols,
                   QWidget* parent = nullptr);

  BreakpointsModel* model() const { return model_; }
  void refresh();

 signals:
  void changed();
  void problem(const QString& text);

 private:
  void add();
  void remove();

  korvel::Controller& controller_;
  const SymbolTable& symbols_;
  BreakpointsModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* entry_ = nullptr;
};
