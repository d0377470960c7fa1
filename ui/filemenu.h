// The File menu: Open Program..., Reload, Recent Programs and Quit. It keeps the last folder
// of the file dialog and the last eight programs (QSettings) and asks the window to open a
// file; what opening does is the window's.
#pragma once

#include <QMenu>
#include <QString>
#include <QStringList>
#include <functional>

QT_BEGIN_NAMESPACE
class QAction;
class QMimeData;
QT_END_NAMESPACE

// The local files dropped on the window; empty when anything else (a web address, text)
// is among the data.
QStringList droppedFiles(const QMimeData* data);

class FileMenu : public QMenu {
  Q_OBJECT

 public:
  static constexpr int kRecentCount = 8;
  // Asks for a program file, starting in `folder`; the empty text when the user cancels.
  using DialogFunction = std::function<QString(const QString& folder)>;

  explicit FileMenu(QWidget* parent);

  void setDialogFunction(DialogFunction f) { dialog_ = std::move(f); }
  // What Reload reads again: the program opened last, unless the Program Loader has
  // replaced it since. Absolute.
  const QString& currentProgram() const { return current_; }
  QStringList recentPrograms() const;
  // The folder the Open Program dialog starts in: that of the last program opened.
  QString lastFolder() const;
  // `path` (absolute) was loaded: it becomes the current program and the first recent one,
  // and its folder the dialog's.
  void opened(const QString& path);
  // Memory no longer holds the current program.
  void forgetCurrent();
  // Whether Open, Reload and Recent may be used; Reload also needs a current program and
  // Recent a list.
  void setLoadingEnabled(bool on);
  bool loadingEnabled() const { return loadingEnabled_; }

 signals:
  void openRequested(const QString& path);
  // A recent program that no longer exists was chosen; it is off the list now.
  void recentMissing(const QString& path);
  void quitRequested();

 private:
  void chooseFile();
  void openRecent(const QString& path);
  void setRecentPrograms(const QStringList& paths);  // saves and shows them
  void showRecentPrograms(const QStringList& paths);
  void updateItems();

  QAction* open_ = nullptr;
  QAction* reload_ = nullptr;
  QMenu* recent_ = nullptr;
  QAction* quit_ = nullptr;
  DialogFunction dialog_;
  QString current_;
  bool loadingEnabled_ = true;
};
