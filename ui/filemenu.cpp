#include "filemenu.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMimeData>
#include <QSettings>
#include <QUrl>

#include "actions.h"

namespace {

const char* const kRecentKey = "recentPrograms";
const char* const kFolderKey = "lastFolder";

QSettings settings() {
  return QSettings(QStringLiteral("Korvel"), QStringLiteral("Korvel"));
}

}  // namespace

QStringList droppedFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    files << url.toLocalFile();
  }
  return files;
}

FileMenu::FileMenu(QWidget* parent) : QMenu(tr("&File"), parent) {
  setObjectName("menufile");
  const auto make = [this](const QString& caption, const char* name, const QKeySequence& key) {
    return makeAction(this, caption, name, key);
  };
  open_ = make(tr("&Open Program..."), "menuopen", QKeySequence(Qt::CTRL | Qt::Key_O));
  reload_ = make(tr("&Reload"), "menureload", QKeySequence(Qt::CTRL | Qt::Key_R));
  quit_ = make(tr("&Quit"), "menuquit", QKeySequence(Qt::CTRL | Qt::Key_Q));
  recent_ = new QMenu(tr("Recent &Programs"), this);
  recent_->setObjectName("menurecent");
  addAction(open_);
  addAction(reload_);
  addMenu(recent_);
  addSeparator();
  addAction(quit_);

  connect(open_, &QAction::triggered, this, &FileMenu::chooseFile);
  connect(reload_, &QAction::triggered, this, [this] {
    if (!current_.isEmpty()) emit openRequested(current_);
  });
  connect(quit_, &QAction::triggered, this, &FileMenu::quitRequested);

  dialog_ = [this](const QString& folder) {
    return QFileDialog::getOpenFileName(
        parentWidget(), tr("Open Program"), folder,
        tr("Programs (*.bin *.com *.hex *.ihx *.asm *.z80 *.s);;Raw images (*.bin *.com);;"
           "Intel HEX (*.hex *.ihx);;Assembly source (*.asm *.z80 *.s);;"
           "All files, raw images unless named above (*)"));
  };
  showRecentPrograms(recentPrograms());
}

QString FileMenu::lastFolder() const {
  return settings().value(kFolderKey, QDir::homePath()).toString();
}

void FileMenu::chooseFile() {
  const QString path = dialog_(lastFolder());
  if (!path.isEmpty()) emit openRequested(path);
}

void FileMenu::openRecent(const QString& path) {
  if (QFileInfo::exists(path)) {
    emit openRequested(path);
    return;
  }
  QStringList paths = recentPrograms();
  paths.removeAll(path);
  setRecentPrograms(paths);
  emit recentMissing(path);
}

QStringList FileMenu::recentPrograms() const {
  return settings().value(kRecentKey).toStringList();
}

void FileMenu::opened(const QString& path) {
  current_ = path;
  QStringList paths = recentPrograms();
  paths.removeAll(path);
  paths.prepend(path);
  setRecentPrograms(paths.mid(0, kRecentCount));
  settings().setValue(kFolderKey, QFileInfo(path).absolutePath());
}

void FileMenu::forgetCurrent() {
  current_.clear();
  updateItems();
}

void FileMenu::setLoadingEnabled(bool on) {
  loadingEnabled_ = on;
  updateItems();
}

void FileMenu::setRecentPrograms(const QStringList& paths) {
  settings().setValue(kRecentKey, paths);
  showRecentPrograms(paths);
}

// "&1 /home/ana/z80/prog.hex", newest first.
void FileMenu::showRecentPrograms(const QStringList& paths) {
  recent_->clear();
  for (int i = 0; i < paths.size(); ++i) {
    const QString path = paths[i];
    QString caption = QDir::toNativeSeparators(path);
    caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QAction* action = recent_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(caption));
    connect(action, &QAction::triggered, this, [this, path] { openRecent(path); });
  }
  updateItems();
}

void FileMenu::updateItems() {
  open_->setEnabled(loadingEnabled_);
  reload_->setEnabled(loadingEnabled_ && !current_.isEmpty());
  recent_->setEnabled(loadingEnabled_ && !recent_->isEmpty());
}
