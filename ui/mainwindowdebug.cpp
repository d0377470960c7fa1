// The main window's Debug menu and toolbar and what their commands do: MainWindow's members
// for debugging, kept beside mainwindow.cpp. The panels they work with are DebugPanels'.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

#include "actions.h"
#include "debugtext.h"
#include "mainwindow.h"
#include "sourceeditor.h"

using korvel::RunEvent;
using korvel::RunMode;

void MainWindow::createDebugMenu() {
  auto make = [this](const QString& caption, const char* name, const QKeySequence& key,
                     void (MainWindow::*slot)()) {
    QAction* action = makeAction(this, caption, name, key);
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  debugContinue_ =
      make(tr("&Continue"), "debugContinue", QKeySequence(Qt::Key_F5), &MainWindow::debugContinue);
  debugStepInto_ = make(tr("Step &Into"), "debugStepInto", QKeySequence(Qt::Key_F11),
                        &MainWindow::debugStepInto);
  debugStepOver_ = make(tr("Step &Over"), "debugStepOver", QKeySequence(Qt::Key_F10),
                        &MainWindow::debugStepOver);
  debugStepOut_ = make(tr("Step O&ut"), "debugStepOut", QKeySequence(Qt::SHIFT | Qt::Key_F11),
                       &MainWindow::debugStepOut);
  debugStepBack_ = make(tr("Step &Back"), "debugStepBack", QKeySequence(Qt::SHIFT | Qt::Key_F2),
                        &MainWindow::debugStepBack);
  debugRunToCursor_ = make(tr("&Run to Cursor"), "debugRunToCursor",
                           QKeySequence(Qt::CTRL | Qt::Key_F10), &MainWindow::debugRunToCursor);
  debugToggleBreakpoint_ = make(tr("&Toggle Breakpoint"), "debugToggleBreakpoint",
                                QKeySequence(Qt::Key_F9), &MainWindow::debugToggleBreakpoint);
  debugGoToAddress_ = make(tr("&Go to Address"), "debugGoToAddress",
                           QKeySequence(Qt::CTRL | Qt::Key_G), &MainWindow::debugGoToAddress);

  menuDebug_ = new QMenu(tr("&Debug"), this);
  menuDebug_->setObjectName("menuDebug");
  menuBar()->insertMenu(menu4_->menuAction(), menuDebug_);
  menuDebug_->addActions({debugContinue_, debugStepInto_, debugStepOver_, debugStepOut_,
                          debugStepBack_, debugRunToCursor_});
  menuDebug_->addSeparator();
  menuDebug_->addActions({debugToggleBreakpoint_, debugGoToAddress_});
  // The panels are shown and hidden from the View menu, beside the Output panel.
  menuview_->addActions(debug_->viewActions());

  debugBar_ = addToolBar(tr("Debug"));
  debugBar_->setObjectName("debugToolBar");
  debugBar_->addActions(
      {debugContinue_, debugStepInto_, debugStepOver_, debugStepOut_, debugStepBack_});

  connect(debug_, &DebugPanels::problem, this, &MainWindow::message);
  connect(debug_, &DebugPanels::note, this,
          [this](const QString& text) { statusBar()->showMessage(text, 5000); });
  connect(debug_, &DebugPanels::edited, this, [this] {
    if (phase_ == Phase::StartUp) enterPhase(Phase::Stopped);
    paintRegisters(DebugPanels::Refresh::Quiet);
  });
}

bool MainWindow::debugReady(const QAction* command) {
  if (closing_ || !command->isEnabled() || controller_->running()) return false;
  if (instructionInProgress()) {
    statusBar()->showMessage(
        tr("%1 ignored: an instruction is still running").arg(command->text().remove('&')), 3000);
    return false;
  }
  return true;
}

void MainWindow::debugContinue() {
  if (!debugReady(debugContinue_)) return;
  const QString pc = hexWord(controller_->state().PC);
  if (rate_ == 5) lastFastRun_.reset();
  const RunEvent event = controller_->resume(rate_ < 5 ? RunMode::Ticked : RunMode::Fast);
  if (event == RunEvent::Halted) {
    paintRegisters();
    const QString text = tr("The program stands at the HALT at %1: Continue cannot go past it. "
                            "Start (F1) runs the program again from 0000H.")
                             .arg(pc);
    setRunStatus(text);
    message(text);
    return;
  }
  beginRun(event, rate_ < 5 ? tr("Running from %1").arg(pc)
                            : tr("Running at the Extremely Fast rate from %1").arg(pc));
}

void MainWindow::debugStepInto() {
  if (debugReady(debugStepInto_)) debugStep(controller_->tick(), QString());
}

void MainWindow::debugStepOver() {
  if (!debugReady(debugStepOver_)) return;
  const QString pc = hexWord(controller_->state().PC);
  debugStep(controller_->stepOver(), tr("Stepping over the instruction at %1").arg(pc));
}

void MainWindow::debugStepOut() {
  if (debugReady(debugStepOut_))
    debugStep(controller_->stepOut(), tr("Running until the routine returns"));
}

void MainWindow::debugRunToCursor() {
  if (!debugReady(debugRunToCursor_)) return;
  std::optional<std::int32_t> cursor;
  if (sourceHasFocus()) {
    cursor = sourceLineAddress(sourcePanel_->editor()->cursorLine());
    if (!cursor) return;
  } else {
    cursor = debug_->cursorAddress();
    if (!cursor) {
      statusBar()->showMessage(
          tr("Select a line in the Disassembly panel, or put the cursor on a line of the "
             "assembled source, to run to"),
          5000);
      return;
    }
  }
  debugStep(controller_->runTo(*cursor), tr("Running to %1").arg(hexWord(*cursor)));
}

// One instruction has run, or a run towards a target has begun (it goes on in slices, with
// Stop at hand), or an IN waits for its byte.
void MainWindow::debugStep(RunEvent event, const QString& status) {
  if (controller_->mode() == RunMode::Target) {
    enterPhase(Phase::RunningTimed);
    setRunStatus(status);
  } else if (event == RunEvent::NeedsInput) {
    enterPhase(Phase::RunningTimed);
  }
  handle(event);
}

void MainWindow::debugStepBack() {
  if (!debugReady(debugStepBack_)) return;
  const std::optional<korvel::Controller::SteppedBack> back = controller_->stepBack();
  if (!back) return;
  paintRegisters();
  setRunStatus(tr("Stepped back to %1; %L2 more instructions can be undone")
                   .arg(hexWord(controller_->state().PC))
                   .arg(static_cast<qulonglong>(controller_->historySize())));
  if (back->output) markOutputUndone();
}

// The undone instruction had written an output line. out.log is never rewritten, so the line
// stays; stepping forward again writes a new one. The Output panel marks it as undone.
void MainWindow::markOutputUndone() {
  if (outputPanel_) outputPanel_->markUndone();
  statusBar()->showMessage(
      tr("The undone OUT's line stays in out.log; stepping forward writes it again"), 8000);
}

void MainWindow::debugToggleBreakpoint() {
  if (closing_ || !debugToggleBreakpoint_->isEnabled()) return;
  if (sourceHasFocus()) {
    toggleSourceBreakpoint(sourcePanel_->editor()->cursorLine());
  } else {
    debug_->toggleBreakpoint();
  }
}

void MainWindow::debugGoToAddress() {
  if (!closing_ && debugGoToAddress_->isEnabled()) debug_->goToAddress();
}
