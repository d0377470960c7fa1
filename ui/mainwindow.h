// The main window "Korvel": register display, simulation control and the menus that open
// the program loader, the memory viewer and the help and About windows.
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

#include "core/machine.h"
#include "core/machine_state.h"
#include "ui/memoryviewer.h"
#include "ui/textwindow.h"

QT_BEGIN_NAMESPACE
class QAction;
class QActionGroup;
class QDialog;
class QLabel;
class QMenu;
QT_END_NAMESPACE

namespace korvel {
class PromptedPortInput;
class LogFilePortOutput;
}  // namespace korvel

class MainWindow : public QMainWindow, private korvel::Display, private korvel::RunControl {
  Q_OBJECT

 public:
  // Shows a message to the user in a box titled "Korvel" with an OK button only.
  using MessageFunction = std::function<void(const QString& text)>;
  // Asks for one line of port input; the empty text stands for Cancel.
  using PromptFunction = std::function<QString(const QString& prompt)>;

  // `applicationDirectory` holds "program.bin" and "out.log"; by default the directory of
  // the executable.
  explicit MainWindow(std::filesystem::path applicationDirectory = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  korvel::MachineState& state() { return *state_; }
  korvel::Machine& machine() { return *machine_; }
  const std::filesystem::path& applicationDirectory() const { return appDir_; }
  int rate() const { return rate_; }
  // The interval of `clock` while it ticks, 0 while it is stopped.
  int clockInterval() const;
  // True while an instruction (or the whole Extremely Fast loop) is executing.
  bool instructionInProgress() const { return inInstruction_; }
  const std::optional<korvel::RunResult>& lastFastRun() const { return lastFastRun_; }

  // Seams for the modal boxes and for ending the program; the defaults use QMessageBox,
  // QInputDialog and a queued QCoreApplication::quit.
  void setMessageFunction(MessageFunction f) { showMessage_ = std::move(f); }
  void setPromptFunction(PromptFunction f) { prompt_ = std::move(f); }
  void setQuitFunction(std::function<void()> f) { quit_ = std::move(f); }
  // How often the Extremely Fast loop repaints and handles pending events.
  void setPumpInterval(std::chrono::milliseconds interval) { pumpInterval_ = interval; }

  MemoryViewer* memoryViewer() const { return viewer_; }
  TextWindow* helpWindow() const { return helpWindow_; }
  TextWindow* aboutWindow() const { return aboutWindow_; }

  // korvel::Display: the refresh that ends every tick. It only marks the labels stale; they
  // are painted at most once a frame while the timer drives a run, every pump interval
  // inside the Extremely Fast loop, and at once otherwise.
  void ekran() override;

 public slots:
  void menustart_Click();
  void menustep_Click();
  void menustop_Click() override;
  void menuloader_Click();
  void menuviewer_Click();
  void menuspeed1_Click() { selectRate(1); }
  void menuspeed2_Click() { selectRate(2); }
  void menuspeed3_Click() { selectRate(3); }
  void menuspeed4_Click() { selectRate(4); }
  void menuspeed5_Click() { selectRate(5); }
  void menuhelp_Click();
  void menuabout_Click();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class WindowPrompter;
  class LogOutput;

  void createLabels();
  void createActions();
  void createMenus();
  void selectRate(int n);
  void setClockInterval(int ms);
  void setMenuBarEnabled(bool on);
  // The timeout of `clock`: runs the ticks that have fallen due.
  void clockTimeout();
  // One instruction from the clock or a Step; dropped while another one is executing.
  void tick();
  void reportAbandonedTick();
  void paintRegisters();
  void message(const QString& text);
  std::optional<std::string> askPort(const std::string& prompt);
  void finishClosing();

  std::filesystem::path appDir_;
  std::unique_ptr<korvel::MachineState> state_;
  std::unique_ptr<WindowPrompter> prompter_;
  std::unique_ptr<korvel::PromptedPortInput> input_;
  std::unique_ptr<LogOutput> output_;
  std::unique_ptr<korvel::Machine> machine_;

  int rate_ = 4;
  int viewerPage_ = 0;  // the memory viewer's page; outlives the viewer window
  bool inInstruction_ = false;
  bool inFastRun_ = false;
  bool closing_ = false;
  bool quitRequested_ = false;
  std::optional<korvel::RunResult> lastFastRun_;

  QTimer* clock_ = nullptr;
  QElapsedTimer runClock_;  // since the timer started; ticks fall due every interval
  qint64 ticksDone_ = 0;
  QTimer* frameTimer_ = nullptr;
  QElapsedTimer pumpClock_;
  std::chrono::milliseconds pumpInterval_{10};
  unsigned ekranCalls_ = 0;

  MessageFunction showMessage_;
  PromptFunction prompt_;
  std::function<void()> quit_;
  QPointer<QDialog> openBox_;  // the message or input box currently shown, if any

  QLabel* instrukcija_ = nullptr;
  // In the order of kRegisterFields.
  std::array<QLabel*, 26> valueLabels_{};

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
  QActionGroup* rateGroup_ = nullptr;
  QAction* menuhelp_ = nullptr;
  QAction* menuabout_ = nullptr;

  QPointer<MemoryViewer> viewer_;
  QPointer<TextWindow> helpWindow_;
  QPointer<TextWindow> aboutWindow_;
};
