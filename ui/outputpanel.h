// The Output panel: every line that OUT writes, as out.log gets it, under the name of the log.
#pragma once

#include <QDockWidget>
#include <QString>
#include <cstdint>
#include <vector>

QT_BEGIN_NAMESPACE
class QLabel;
class QListView;
class QTimer;
QT_END_NAMESPACE

// Shows "Log: /home/ana/z80/out.log" in `label`, with a warning when the file cannot be
// written; a long path is shortened in the middle, and the whole of it is in the tooltip.
void showLogFile(QLabel* label, const QString& path, bool writable);

class OutputPanel : public QDockWidget {
  Q_OBJECT

 public:
  explicit OutputPanel(QWidget* parent = nullptr);

  // The file the lines go to, shown above them.
  void setLogFile(const QString& path, bool writable);
  // One line written by an OUT. Cheap enough for every OUT of an Extremely Fast run: the
  // list shows the new lines once the event loop runs, at most once a frame.
  void append(std::int32_t port, std::int32_t byte);
  // Marks the newest line not yet marked as undone (its OUT was undone by stepping back).
  // out.log keeps the line; nothing happens when every line is marked already.
  void markUndone();
  // Empties the panel; out.log is not touched.
  void clear();

 private:
  class Lines;
  void showNewLines();

  QLabel* logPath_ = nullptr;
  QListView* view_ = nullptr;
  Lines* lines_ = nullptr;
  QTimer* refresh_ = nullptr;
};
