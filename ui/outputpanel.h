// The Output panel: every line that OUT writes, as out.log gets it, under the name of the log.
#pragma once

#include <QDockWidget>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

QT_BEGIN_NAMESPACE
class QLabel;
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

  // The lines the list shows, oldest first, as out.log has them, and whether each is marked
  // as undone.
  int lineCount() const { return static_cast<int>(shown_); }
  QString line(int row) const;
  bool undone(int row) const;

 private:
  class LineView;
  void showNewLines();

  // Port and data of each line, four bytes a line so that long runs cost little memory;
  // the text is made only for the lines on screen, by the function that writes out.log's.
  std::vector<std::uint32_t> lines_;
  std::size_t shown_ = 0;  // the lines the list shows; the newer ones wait for the refresh
  QLabel* logPath_ = nullptr;
  LineView* view_ = nullptr;
  QTimer* refresh_ = nullptr;
};
