// The memory viewer "Memory Viewer": one 256-byte page of memory in hexadecimal, sixteen
// rows of sixteen bytes, chosen with a vertical scroll bar.
#pragma once

#include <QString>
#include <QWidget>

#include "machine_state.h"

QT_BEGIN_NAMESPACE
class QLineEdit;
class QPlainTextEdit;
class QScrollBar;
QT_END_NAMESPACE

// The column header over the sixteen byte columns.
inline constexpr const char* kMemoryHeader = " 0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F";

// The dump of page `page` (0..255): sixteen rows, each "AAAA: " and sixteen "XX " groups
// (54 characters, the last one a blank), separated by "\n" with none after the last row.
QString memoryDump(const korvel::MachineState& state, int page);

class MemoryViewer : public QWidget {
  Q_OBJECT

 public:
  // `page` is the caller's current page; it outlives this window. The view is rendered here,
  // on every change of the scroll position and on refresh().
  MemoryViewer(const korvel::MachineState& state, int& page, QWidget* parent = nullptr);

  // Renders the current page again when memory has changed, as a running program changes it;
  // the scroll bar and a thumb being dragged are left as they are. The window stays read-only.
  void refresh();

 public slots:
  void skrolbar_Change(int value);
  void skrolbar_Scroll(int position);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void render();

  const korvel::MachineState& state_;
  int& page_;
  QLineEdit* prefiks_ = nullptr;
  QLineEdit* text1_ = nullptr;
  QPlainTextEdit* tabla_ = nullptr;
  QScrollBar* skrolbar_ = nullptr;
};
