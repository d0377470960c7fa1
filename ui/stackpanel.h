// The Stack panel: SP and the eight words from SP upwards, the top of the stack first, with
// what the last step or run changed highlighted.
#pragma once

#include <QDockWidget>

#include "changemarks.h"
#include "debugtext.h"
#include "machine_state.h"

QT_BEGIN_NAMESPACE
class QLabel;
class QTableWidget;
QT_END_NAMESPACE

class StackPanel : public QDockWidget {
  Q_OBJECT

 public:
  static constexpr int kWords = 8;

  StackPanel(const korvel::MachineState& state, const ChangeMarks& marks,
             const SymbolTable& symbols, QWidget* parent = nullptr);
  void refresh();

 private:
  const korvel::MachineState& state_;
  const ChangeMarks& marks_;
  const SymbolTable& symbols_;
  QLabel* sp_ = nullptr;
  QTableWidget* table_ = nullptr;
};
