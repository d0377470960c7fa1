// The main window "Korvel": register display, simulation control, the menus that open
// program files, the program loader, the memory viewer and the help and About windows, the
// Output panel, and the Source menu with its source editor and Errors panel. It is a view: the
// machine, the run and its bookkeeping live in the controller, which the window sends commands to
// and draws from.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controller.h"
#include "debugpanels.h"
#include "debugtext.h"
#include "errorspanel.h"
#include "filemenu.h"
#include "log_location.h"
#include "machine_state.h"
#include "memoryviewer.h"
#include "outputpanel.h"
#include "portinputbox.h"
#include "sourcepanel.h"
#include "textwindow.h"

QT_BEGIN_NAMESPACE
class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QToolBar;
QT_END_NAMESPACE

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Shows a message to the user in a box titled "Korvel" with an OK button only.
  using MessageFunction = std::function<void(const QString& text)>;
  // Asks for one line of port input: the empty text stands for Cancel, nullopt for "Stop run".
  using PromptFunction = std::function<std::optional<QString>(const QString& prompt)>;
  // Asks what to do with the source's unsaved changes before they would be lost.
  enum class SaveChoice { Save, Discard, Cancel };
  using SavePromptFunction = std::function<SaveChoice(const QString& question)>;
  // Asks where to save the source, starting at `suggested`; the empty text when cancelled.
  using SaveDialogFunction = std::function<QString(const QString& suggested)>;

  // `applicationDirectory` holds "program.bin" and "out.log"; by default the directory of
  // the executable.
  explicit MainWindow(std::filesystem::path applicationDirectory = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  korvel::Controller& controller() { return *controller_; }
  korvel::MachineState& state() { return controller_->state(); }
  const std::filesystem::path& applicationDirectory() const { return appDir_; }
  int rate() const { return rate_; }
  // The interval of `clock` while it ticks, 0 while it is stopped.
  int clockInterval() const;
  // True while an instruction waits for its port byte (the input box is open).
  bool instructionInProgress() const { return controller_->pendingInput().has_value(); }
  // How the last Extremely Fast run ended and how many instructions it ran.
  struct FastRun {
    korvel::RunEvent end;
    std::int64_t instructions;
  };
  const std::optional<FastRun>& lastFastRun() const { return lastFastRun_; }
  // What the status bar says about how the last run ended.
  QString runStatus() const;

  // Seams for the boxes and for ending the program; the defaults use QMessageBox, the port
  // input box and a queued QCoreApplication::quit. A prompt function answers at once.
  void setMessageFunction(MessageFunction f) { showMessage_ = std::move(f); }
  void setPromptFunction(PromptFunction f) { prompt_ = std::move(f); }
  void setQuitFunction(std::function<void()> f) { quit_ = std::move(f); }
  // The File menu's Open Program dialog; the default is QFileDialog.
  void setFileDialogFunction(FileMenu::DialogFunction f) {
    fileMenu_->setDialogFunction(std::move(f));
  }
  // The unsaved-changes question (Save, Discard, Cancel) and Save As's dialog.
  void setSavePromptFunction(SavePromptFunction f) { savePrompt_ = std::move(f); }
  void setSaveDialogFunction(SaveDialogFunction f) { saveDialog_ = std::move(f); }
  // How long one slice of an Extremely Fast run may take before the window repaints and
  // handles pending events.
  void setPumpInterval(std::chrono::milliseconds interval) { pumpInterval_ = interval; }

  MemoryViewer* memoryViewer() const { return viewer_; }
  TextWindow* helpWindow() const { return helpWindow_; }
  TextWindow* aboutWindow() const { return aboutWindow_; }
  PortInputBox* portInputBox() const { return inputBox_; }
  OutputPanel* outputPanel() const { return outputPanel_; }
  // The out.log that OUT lines are appended to.
  const std::filesystem::path& logFile() const;
  DebugPanels* debugPanels() const { return debug_; }
  SourcePanel* sourcePanel() const { return sourcePanel_; }
  ErrorsPanel* errorsPanel() const { return errorsPanel_; }

  // The labels of an assembled source, for the disassembly and the address fields.
  void setSymbols(SymbolTable symbols) { debug_->setSymbols(std::move(symbols)); }

  // The refresh after every command that ran instructions: the 26 value labels and the
  // current-instruction text. While the timer drives a run it paints at most once a frame.
  void ekran();

 public slots:
  void menustart_Click();
  void menustep_Click();
  void menustop_Click();
  void menuloader_Click();
  void menuviewer_Click();
  void menuspeed1_Click() { selectRate(1); }
  void menuspeed2_Click() { selectRate(2); }
  void menuspeed3_Click() { selectRate(3); }
  void menuspeed4_Click() { selectRate(4); }
  void menuspeed5_Click() { selectRate(5); }
  void menuhelp_Click();
  void menuabout_Click();
  // Open, Reload, Recent, a dropped file and the command line: reads `path` (relative to
  // the current directory) and loads it, or says why not and changes nothing. An assembly
  // source goes into the source editor and is assembled and loaded from there.
  bool openProgram(const QString& path);
  // One instruction of a run at rates 1 to 4 (a timer tick or a Step).
  void clock_Timer();

  // The Debug menu. Continue resumes at the chosen rate from where the machine stopped,
  // without `clean`; Step Into is one instruction at any rate; Step Over, Step Out and Run to
  // Cursor run in slices like an Extremely Fast run, with Stop at hand.
  void debugContinue();
  void debugStepInto();
  void debugStepOver();
  void debugStepOut();
  void debugStepBack();
  void debugRunToCursor();
  void debugToggleBreakpoint();
  void debugGoToAddress();

 signals:
  // The status bar's text about runs and loads has changed.
  void runStatusChanged(const QString& text);

 public slots:
  // The Source menu. Save and Save As return whether the buffer was written; Assemble and
  // Load whether it assembled without errors and is in memory.
  void sourceNew();
  bool sourceSave();
  bool sourceSaveAs();
  bool sourceAssemble();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class WindowOutput;
  // The phases whose menu states the one table in mainwindow.cpp gives. StartUp: stopped
  // with no program in memory yet (or after a load that failed).
  enum class Phase { StartUp, Stopped, RunningStepByStep, RunningTimed, RunningExtremelyFast };

  // A path as Qt names it, for the files of the standard library.
  static std::filesystem::path localPath(const QString& path);
  // Where out.log goes when the program's own folder does not take it.
  static std::filesystem::path dataFolder();

  void createLabels();
  void createActions();
  void createMenus();
  void createDebugMenu();
  void createSourceMenu();
  void selectRate(int n);
  void setClockInterval(int ms);
  void enterPhase(Phase phase);
  void updateStepBack();
  // Start and Continue: a run at the chosen rate that `event` began.
  void beginRun(korvel::RunEvent event, const QString& status);
  // Whether a Debug command may run now; says why not.
  bool debugReady(const QAction* command);
  // What Step Into, Step Over, Step Out and Run to Cursor returned.
  void debugStep(korvel::RunEvent event, const QString& status);
  void markOutputUndone();
  // Before the source's buffer is replaced or the window closes: asks about unsaved changes
  // ("Save them before `before`?"); false when the user cancels or saving fails.
  bool saveOrDiscard(const QString& before);
  std::optional<QString> readSourceFile(const QString& path);
  bool openSource(const QString& path);
  void goToError(const korvel::assembler::Diagnostic& error);
  // Toggle Breakpoint and Run to Cursor work on the source editor's line while it has focus.
  bool sourceHasFocus() const;
  // The address of `line` of the source; nullopt after saying why on the status bar.
  std::optional<std::int32_t> sourceLineAddress(int line);
  void toggleSourceBreakpoint(int line);
  // The timeout of `clock`: runs the ticks that have fallen due.
  void clockTimeout();
  // A slice of an Extremely Fast run, then back to the event loop.
  void runSlice();
  // What a command that ran instructions returned: ends the run, asks for input, says why.
  void handle(korvel::RunEvent event);
  void askForInput(bool repeated);
  void inputEntered(const QString& text);
  void stopRun();
  void endRun(const QString& status);
  void paintRegisters(DebugPanels::Refresh kind = DebugPanels::Refresh::Settled);
  void message(const QString& text);
  void setRunStatus(const QString& text);
  // Where OUT lines go from now on; the status bar and the Output panel name the file.
  void useLog(const korvel::LogLocation& log);
  // A program file that is no source was loaded: no labels, no lines of a source.
  void forgetSource();

  std::filesystem::path appDir_;
  std::unique_ptr<WindowOutput> output_;
  std::unique_ptr<korvel::Controller> controller_;

  int rate_ = 4;
  Phase phase_ = Phase::StartUp;
  int viewerPage_ = 0;  // the memory viewer's page; outlives the viewer window
  bool closing_ = false;
  bool quitRequested_ = false;
  std::optional<FastRun> lastFastRun_;

  QTimer* clock_ = nullptr;
  QElapsedTimer runClock_;  // since the timer started; ticks fall due every interval
  qint64 ticksDone_ = 0;
  QTimer* frameTimer_ = nullptr;
  QTimer* sliceTimer_ = nullptr;
  std::chrono::milliseconds pumpInterval_{10};

  MessageFunction showMessage_;
  PromptFunction prompt_;
  SavePromptFunction savePrompt_;
  SaveDialogFunction saveDialog_;
  std::function<void()> quit_;
  QPointer<PortInputBox> inputBox_;
  bool inputRepeated_ = false;

  QLabel* instrukcija_ = nullptr;
  QLabel* runStatus_ = nullptr;
  QLabel* counts_ = nullptr;
  QLabel* logLabel_ = nullptr;
  QPointer<OutputPanel> outputPanel_;
  // In the order of kRegisterFields.
  std::array<QLabel*, 26> valueLabels_{};

  FileMenu* fileMenu_ = nullptr;
  QMenu* menuview_ = nullptr;
  QMenu* menu1_ = nullptr;
  QMenu* menu2_ = nullptr;
  QMenu* menu3_ = nullptr;
  QMenu* menu4_ = nullptr;
  QAction* menustart_ = nullptr;
  QAction* menustep_ = nullptr;
  QAction* menustop_ = nullptr;
  QAction* menuloader_ = nullptr;
  QAction* menuviewer_ = nullptr;
  std::array<QAction*, 5> menuspeed_{};
  QMenu* menuDebug_ = nullptr;
  QToolBar* debugBar_ = nullptr;
  QAction* debugContinue_ = nullptr;
  QAction* debugStepInto_ = nullptr;
  QAction* debugStepOver_ = nullptr;
  QAction* debugStepOut_ = nullptr;
  QAction* debugStepBack_ = nullptr;
  QAction* debugRunToCursor_ = nullptr;
  QAction* debugToggleBreakpoint_ = nullptr;
  QAction* debugGoToAddress_ = nullptr;
  DebugPanels* debug_ = nullptr;
  QMenu* menuSource_ = nullptr;
  QAction* sourceNew_ = nullptr;
  QAction* sourceSave_ = nullptr;
  QAction* sourceSaveAs_ = nullptr;
  QAction* sourceAssemble_ = nullptr;
  SourcePanel* sourcePanel_ = nullptr;
  ErrorsPanel* errorsPanel_ = nullptr;
  QElapsedTimer viewerPainted_;
  QActionGroup* rateGroup_ = nullptr;
  QAction* menuhelp_ = nullptr;
  QAction* menuabout_ = nullptr;

  QPointer<MemoryViewer> viewer_;
  QPointer<TextWindow> helpWindow_;
  QPointer<TextWindow> aboutWindow_;
};
