#include "debugpanels.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>

#include "breakpointspanel.h"
#include "disassemblypanel.h"
#include "memorypanel.h"
#include "registereditor.h"
#include "stackpanel.h"

namespace {

constexpr qint64 kFrameMs = 16;
const QColor kChanged(255, 200, 120);

}  // namespace

DebugPanels::DebugPanels(QMainWindow* window, korvel::Controller& controller, const Labels& labels)
    : QObject(window), controller_(controller), labels_(labels) {
  disassembly_ = new DisassemblyPanel(controller, symbols_, window);
  breakpoints_ = new BreakpointsPanel(controller, symbols_, window);
  stack_ = new StackPanel(controller.state(), marks_, symbols_, window);
  memory_ = new MemoryPanel(controller, marks_, symbols_, window);
  window->addDockWidget(Qt::RightDockWidgetArea, disassembly_);
  window->addDockWidget(Qt::RightDockWidgetArea, breakpoints_);
  window->addDockWidget(Qt::RightDockWidgetArea, stack_);
  window->tabifyDockWidget(breakpoints_, stack_);
  window->addDockWidget(Qt::BottomDockWidgetArea, memory_);
  breakpoints_->raise();
  window->resizeDocks({disassembly_, breakpoints_}, {3, 1}, Qt::Vertical);

  editor_ = new RegisterEditor(controller, labels_, this);
  marks_.reset(controller.state());
  lastLive_.start();

  connect(disassembly_, &DisassemblyPanel::problem, this, &DebugPanels::problem);
  connect(breakpoints_, &BreakpointsPanel::problem, this, &DebugPanels::problem);
  connect(memory_, &MemoryPanel::problem, this, &DebugPanels::problem);
  connect(editor_, &RegisterEditor::problem, this, &DebugPanels::problem);
  connect(editor_, &RegisterEditor::note, this, &DebugPanels::note);
  connect(editor_, &RegisterEditor::edited, this, [this](std::size_t field, std::int32_t value) {
    marks_.acceptField(field, value);
    emit edited();
  });
  connect(memory_->model(), &MemoryModel::edited, this, [this] {
    layout_ = true;
    emit edited();
  });
  connect(disassembly_, &DisassemblyPanel::toggleRequested, this,
          qOverload<std::int32_t>(&DebugPanels::toggleBreakpoint));
  connect(breakpoints_, &BreakpointsPanel::changed, this, &DebugPanels::breakpointsChanged);
}

DebugPanels::~DebugPanels() = default;

void DebugPanels::setSymbols(SymbolTable symbols) {
  symbols_ = std::move(symbols);
  layout_ = true;
  refresh(Refresh::Quiet);
}

// A step or a stop redraws only what changed: the views' repainting, not the reading, is what
// costs. What a live refresh showed may since have changed back, so after one all is redrawn.
void DebugPanels::refresh(Refresh kind) {
  if (kind == Refresh::Live && lastLive_.elapsed() < kFrameMs) return;
  lastLive_.start();
  const bool settled = kind == Refresh::Settled;
  if (settled && marks_.update(controller_.state())) layout_ = true;
  const bool full = kind != Refresh::Settled || redrawAll_;
  markLabels();
  // The disassembly moves to PC after a step, and after an edit that moved PC.
  const std::int32_t pc = controller_.state().PC;
  disassembly_->refresh(layout_, settled || (kind == Refresh::Quiet && pc != followedPc_), full);
  if (full) {
    memory_->refresh();
  } else {
    memory_->refreshCells(marks_.previousCells());
    memory_->refreshCells(marks_.changedCells());
  }
  stack_->refresh();
  if (full || layout_) breakpoints_->refresh();  // their instructions may have changed
  if (kind != Refresh::Live) followedPc_ = pc;
  if (kind != Refresh::Live) layout_ = false;
  redrawAll_ = kind == Refresh::Live;
}

void DebugPanels::resetMarks() {
  if (marks_.reset(controller_.state())) layout_ = true;
  redrawAll_ = true;  // the marks that were shown go
}

// Changed values in bold on an orange ground; the others as the display draws them.
void DebugPanels::markLabels() {
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    const bool changed = marks_.fieldChanged(i);
    if (changed == marked_[i]) continue;
    marked_[i] = changed;
    QLabel* label = labels_[i];
    QFont font = label->font();
    font.setBold(changed);
    label->setFont(font);
    QPalette p = label->palette();
    p.setColor(QPalette::Window, changed ? kChanged : QColor(Qt::white));
    label->setPalette(p);
    label->setProperty("changed", changed);
  }
}

void DebugPanels::toggleBreakpoint() {
  toggleBreakpoint(cursorAddress().value_or(controller_.state().PC));
}

void DebugPanels::toggleBreakpoint(std::int32_t address) {
  if (controller_.hasBreakpoint(address)) {
    controller_.removeBreakpoint(address);
    emit note(tr("Breakpoint at %1 removed").arg(hexWord(address)));
  } else {
    controller_.setBreakpoint(address);
    emit note(
        tr("Breakpoint at %1: a run stops before the instruction there").arg(hexWord(address)));
  }
  breakpointsChanged();
}

void DebugPanels::breakpointsChanged() {
  layout_ = true;
  disassembly_->refresh(true, false);
  breakpoints_->refresh();
  emit breakpointsEdited();
}

std::optional<std::int32_t> DebugPanels::cursorAddress() const {
  return disassembly_->cursorAddress();
}

void DebugPanels::goToAddress() {
  disassembly_->focusGoTo();
}

QList<QAction*> DebugPanels::viewActions() const {
  return {disassembly_->toggleViewAction(), breakpoints_->toggleViewAction(),
          stack_->toggleViewAction(), memory_->toggleViewAction()};
}
