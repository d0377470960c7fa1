// The debugging views of the main window: the Disassembly, Breakpoints, Stack and Memory
// panels (dock widgets), editing in the register display, and the marks of what the last step
// or run changed. They read the controller and change it only where the user edits a value or
// a breakpoint; runs stay with the window.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <array>
#include <cstdint>
#include <optional>

#include "changemarks.h"
#include "controller.h"
#include "debugtext.h"

QT_BEGIN_NAMESPACE
class QAction;
class QLabel;
class QMainWindow;
QT_END_NAMESPACE

class BreakpointsPanel;
class DisassemblyPanel;
class MemoryPanel;
class RegisterEditor;
class StackPanel;

class DebugPanels : public QObject {
  Q_OBJECT

 public:
  using Labels = std::array<QLabel*, korvel::kRegisterFields.size()>;
  // Adds the panels to `window`; `labels` are the register display's value labels.
  DebugPanels(QMainWindow* window, korvel::Controller& controller, const Labels& labels);
  ~DebugPanels() override;

  void setSymbols(SymbolTable symbols);
  const SymbolTable& symbols() const { return symbols_; }

  // How the views follow the machine:
  enum class Refresh {
    Settled,  // a step or a run has ended, or a timer-driven run shows its next frame: what
              // changed since the last such point is marked and the disassembly moves to PC
    Live,     // a fast run between slices: the values, at most once a frame
    Quiet,    // the user edited something: the values, the marks kept
  };
  void refresh(Refresh kind);
  // Start and a load: nothing is marked, and the state now is the point of comparison.
  void resetMarks();

  // Toggle Breakpoint: on the disassembly's selected line, else at PC.
  void toggleBreakpoint();
  void toggleBreakpoint(std::int32_t address);
  // Run to Cursor's target: the disassembly's selected line.
  std::optional<std::int32_t> cursorAddress() const;
  void goToAddress();
  // Show and hide the panels.
  QList<QAction*> viewActions() const;

  DisassemblyPanel* disassembly() const { return disassembly_; }
  MemoryPanel* memory() const { return memory_; }
  RegisterEditor* registerEditor() const { return editor_; }

 signals:
  void problem(const QString& text);  // input refused: for a message box
  void note(const QString& text);     // for the status bar
  void edited();                      // the user changed a register, flag or cell
  void breakpointsEdited();           // a breakpoint was set, removed, turned on or off

 private:
  void markLabels();
  void breakpointsChanged();

  korvel::Controller& controller_;
  Labels labels_;
  SymbolTable symbols_;
  ChangeMarks marks_;
  std::array<bool, korvel::kRegisterFields.size()> marked_{};
  bool layout_ = true;     // the disassembly needs a new layout
  bool redrawAll_ = true;  // the next refresh redraws every view whole
  std::int32_t followedPc_ = 0;
  QElapsedTimer lastLive_;

  DisassemblyPanel* disassembly_ = nullptr;
  BreakpointsPanel* breakpoints_ = nullptr;
  StackPanel* stack_ = nullptr;
  MemoryPanel* memory_ = nullptr;
  RegisterEditor* editor_ = nullptr;
};
