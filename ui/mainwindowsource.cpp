// The main window's Source menu, its source editor and Errors panel, and what their commands
// do: MainWindow's members for assembly sources, kept beside mainwindow.cpp.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStringDecoder>

#include "actions.h"
#include "disassemblypanel.h"
#include "mainwindow.h"
#include "memorypanel.h"
#include "program_file.h"
#include "sourceeditor.h"

namespace asmr = korvel::assembler;

void MainWindow::createSourceMenu() {
  auto make = [this](const QString& caption, const char* name, const QKeySequence& key) {
    return makeAction(this, caption, name, key);
  };
  sourceNew_ = make(tr("&New Source"), "sourceNew", QKeySequence(Qt::CTRL | Qt::Key_N));
  sourceSave_ = make(tr("&Save"), "sourceSave", QKeySequence(Qt::CTRL | Qt::Key_S));
  sourceSaveAs_ =
      make(tr("Save &As..."), "sourceSaveAs", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  sourceAssemble_ =
      make(tr("Assemble and &Load"), "sourceAssemble", QKeySequence(Qt::CTRL | Qt::Key_F9));
  connect(sourceNew_, &QAction::triggered, this, &MainWindow::sourceNew);
  connect(sourceSave_, &QAction::triggered, this, &MainWindow::sourceSave);
  connect(sourceSaveAs_, &QAction::triggered, this, &MainWindow::sourceSaveAs);
  connect(sourceAssemble_, &QAction::triggered, this, &MainWindow::sourceAssemble);

  menuSource_ = new QMenu(tr("S&ource"), this);
  menuSource_->setObjectName("menuSource");
  menuBar()->insertMenu(menu1_->menuAction(), menuSource_);
  menuSource_->addActions({sourceNew_, sourceSave_, sourceSaveAs_});
  menuSource_->addSeparator();
  menuSource_->addAction(sourceAssemble_);

  // The editor shares the place of the Disassembly, a tab away; the errors that of the Memory.
  sourcePanel_ = new SourcePanel(*controller_, this);
  addDockWidget(Qt::RightDockWidgetArea, sourcePanel_);
  tabifyDockWidget(debug_->disassembly(), sourcePanel_);
  debug_->disassembly()->raise();
  errorsPanel_ = new ErrorsPanel(this);
  addDockWidget(Qt::BottomDockWidgetArea, errorsPanel_);
  tabifyDockWidget(debug_->memory(), errorsPanel_);
  debug_->memory()->raise();
  menuview_->addActions({sourcePanel_->toggleViewAction(), errorsPanel_->toggleViewAction()});

  connect(sourcePanel_, &SourcePanel::gutterClicked, this, &MainWindow::toggleSourceBreakpoint);
  connect(errorsPanel_, &ErrorsPanel::activated, this, &MainWindow::goToError);
  connect(debug_, &DebugPanels::breakpointsEdited, sourcePanel_->editor(),
          &SourceEditor::updateMarks);

  savePrompt_ = [this](const QString& question) {
    QMessageBox box(QMessageBox::Warning, tr("Korvel"), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
      case QMessageBox::Save: return SaveChoice::Save;
      case QMessageBox::Discard: return SaveChoice::Discard;
      default: return SaveChoice::Cancel;
    }
  };
  saveDialog_ = [this](const QString& suggested) {
    QFileDialog dialog(this, tr("Save Source"), QString(),
                       tr("Assembly source (*.asm *.z80 *.s);;All files (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("asm"));  // asks before replacing prog.asm too
    dialog.selectFile(suggested);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
}

bool MainWindow::saveOrDiscard(const QString& before) {
  if (!sourcePanel_->isModified()) return true;
  const QString question = tr("The source %1 has changes that are not saved. Save them before %2?")
                               .arg(sourcePanel_->displayName(), before);
  switch (savePrompt_(question)) {
    case SaveChoice::Save: return sourceSave();
    case SaveChoice::Discard: return true;
    case SaveChoice::Cancel: break;
  }
  return false;
}

void MainWindow::sourceNew() {
  if (closing_ || !sourceNew_->isEnabled() || !saveOrDiscard(tr("starting a new source"))) return;
  sourcePanel_->newSource();
  errorsPanel_->clear();
  sourcePanel_->show();
  sourcePanel_->raise();
  sourcePanel_->editor()->setFocus();
  setRunStatus(
      tr("A new source: write the program, then Source > Assemble and Load (Ctrl+F9) "
         "puts it in memory"));
}

bool MainWindow::sourceSave() {
  if (sourcePanel_->filePath().isEmpty()) return sourceSaveAs();
  QString error;
  if (!sourcePanel_->save(sourcePanel_->filePath(), error)) {
    message(tr("Can't save %1: %2. The source keeps its changes.")
                .arg(QDir::toNativeSeparators(sourcePanel_->filePath()), error));
    return false;
  }
  statusBar()->showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(sourcePanel_->filePath())),
                           5000);
  return true;
}

// A name that is not a source's (.asm, .z80, .s) gets .asm, so that File > Open and Recent
// Programs read the file as a source again.
bool MainWindow::sourceSaveAs() {
  const QString current = sourcePanel_->filePath();
  QString path = saveDialog_(
      current.isEmpty() ? QDir(fileMenu_->lastFolder()).filePath(sourcePanel_->displayName())
                        : current);
  if (path.isEmpty()) return false;
  if (korvel::programFileType(localPath(path)) != korvel::ProgramFileType::AssemblySource) {
    path += QStringLiteral(".asm");
    // The dialog asked about replacing the name it was given, not this one.
    if (QFileInfo::exists(path)) {
      message(tr("%1 exists already and was not replaced: save the source under another name.")
                  .arg(QDir::toNativeSeparators(path)));
      return false;
    }
  }
  QString error;
  if (!sourcePanel_->save(path, error)) {
    message(tr("Can't save %1: %2. The source keeps its changes.")
                .arg(QDir::toNativeSeparators(path), error));
    return false;
  }
  statusBar()->showMessage(tr("Saved %1").arg(QDir::toNativeSeparators(path)), 5000);
  return true;
}

// The text of a source file for the editor; nullopt after saying why not.
std::optional<QString> MainWindow::readSourceFile(const QString& path) {
  const korvel::SourceRead read = korvel::readSourceText(localPath(path));
  if (!read.text) {
    message(QString::fromStdString(read.message));
    return std::nullopt;
  }
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString text = utf8(QByteArrayView(read.text->data(), read.text->size()));
  if (utf8.hasError()) {
    message(tr("Can't open %1 in the source editor: it is not UTF-8 text. Save it as UTF-8 "
               "and open it again.")
                .arg(QDir::toNativeSeparators(path)));
    return std::nullopt;
  }
  return text;
}

// File > Open, Recent, Reload, a dropped file and the command line, for a source: the file
// goes into the editor (once the unsaved changes of the one there are dealt with) and is
// assembled and loaded from there.
bool MainWindow::openSource(const QString& path) {
  const QString file = QFileInfo(path).absoluteFilePath();
  std::optional<QString> text = readSourceFile(file);
  if (!text || !saveOrDiscard(tr("opening %1").arg(QFileInfo(file).fileName()))) return false;
  // The changes may just have been saved into this very file.
  if (file == sourcePanel_->filePath() && !(text = readSourceFile(file))) return false;
  sourcePanel_->setSource(file, *text);
  errorsPanel_->clear();
  sourcePanel_->show();
  sourcePanel_->raise();
  fileMenu_->opened(file);
  return sourceAssemble();
}

// The buffer, saved or not, assembled; without errors its image is loaded as File > Open
// loads one, with its labels for the debugging panels. Errors leave the machine as it was.
bool MainWindow::sourceAssemble() {
  if (closing_ || !sourceAssemble_->isEnabled() || controller_->running()) return false;
  const std::filesystem::path name = sourcePanel_->assemblyPath();
  const asmr::Result result = asmr::assembleText(sourcePanel_->text(), name);
  const korvel::ProgramRead read = korvel::assembledProgram(result, name);
  const QString shown = sourcePanel_->displayName();
  const QFileInfo file(QFile::decodeName(name.c_str()));
  errorsPanel_->showErrors(result.errors, name.string(), shown, file.absoluteDir());
  if (!read.image) {
    errorsPanel_->show();
    errorsPanel_->raise();
    const int n = errorsPanel_->count();
    const asmr::Diagnostic& first = result.errors.front();
    const QString firstFile = QDir::toNativeSeparators(
        file.absoluteDir().relativeFilePath(QFile::decodeName(first.file.c_str())));
    const QString at =
        first.line == 0 ? firstFile
        : first.file == name.string()
            ? tr("line %1, column %2").arg(first.line).arg(first.column)
            : tr("%1, line %2, column %3").arg(firstFile).arg(first.line).arg(first.column);
    setRunStatus(tr("%1 has %2, the first at %3; nothing was loaded (see the Errors panel)")
                     .arg(shown, n == 1 ? tr("1 error") : tr("%1 errors").arg(n), at));
    return false;
  }
  controller_->loadImage(read.image->bytes);
  debug_->resetMarks();
  enterPhase(Phase::Stopped);
  const bool saved = !sourcePanel_->filePath().isEmpty();
  useLog(
      korvel::chooseLogFile(saved ? localPath(file.absolutePath()) : dataFolder(), dataFolder()));
  if (saved) {
    fileMenu_->opened(file.absoluteFilePath());
  } else {
    fileMenu_->forgetCurrent();
  }
  SymbolTable labels;
  for (const asmr::Symbol& symbol : result.symbols) {
    if (!symbol.equ && symbol.value >= 0 && symbol.value <= 0xFFFF)
      labels.emplace(symbol.value, symbol.name);
  }
  setSymbols(std::move(labels));
  sourcePanel_->assembled(result);
  paintRegisters();
  setRunStatus(
      tr("Loaded %1; Start (F1) runs it from 0000H").arg(QString::fromStdString(read.description)));
  return true;
}

void MainWindow::forgetSource() {
  setSymbols({});
  sourcePanel_->forgetProgram();
}

// An error in the edited source puts the cursor on it; one in a file that the source
// INCLUDEs is named, since the editor holds only the one source.
void MainWindow::goToError(const asmr::Diagnostic& error) {
  if (error.file != errorsPanel_->source()) {
    const QString where = QDir::toNativeSeparators(QFile::decodeName(error.file.c_str()));
    message(error.line == 0 ? tr("This error is about the file %1.").arg(where)
                            : tr("This error is in %1, line %2, column %3: a file that the "
                                 "source INCLUDEs. Open that file to correct it.")
                                  .arg(where)
                                  .arg(error.line)
                                  .arg(error.column));
    return;
  }
  sourcePanel_->show();
  sourcePanel_->raise();
  if (error.line > 0) sourcePanel_->editor()->goTo(error.line, error.column);
}

bool MainWindow::sourceHasFocus() const {
  return sourcePanel_->editor()->hasFocus();
}

std::optional<std::int32_t> MainWindow::sourceLineAddress(int line) {
  QString why;
  const std::optional<std::int32_t> address = sourcePanel_->lineAddress(line, why);
  if (!address) statusBar()->showMessage(why, 8000);
  return address;
}

void MainWindow::toggleSourceBreakpoint(int line) {
  if (closing_) return;
  if (const std::optional<std::int32_t> address = sourceLineAddress(line))
    debug_->toggleBreakpoint(*address);
}
