#include "mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "actions.h"
#include "loader.h"
#include "memoryviewer.h"
#include "portinputbox.h"
#include "ports.h"
#include "program_file.h"
#include "register_fields.h"
#include "textwindow.h"

using korvel::MachineState;
using korvel::RunEvent;
using korvel::RunMode;

namespace {

constexpr int kFrameMs = 16;
// A late timeout makes up at most this many ticks; a longer stall is not made up.
constexpr qint64 kMaxTicksPerTimeout = 4;
// The timer intervals of the rates Step by Step, Slow, Normal and Fast.
constexpr int kIntervals[] = {0, 1500, 250, 1};

QString formatValue(std::int32_t v, int digits) {
  char buf[4];
  switch (digits) {
    case 4: korvel::writeHex4(buf, v); break;
    case 2: korvel::writeHex2(buf, v); break;
    default: buf[0] = korvel::kHexDigits[v & 0xF]; break;
  }
  return QString::fromLatin1(buf, digits);
}

QString hex4(std::int32_t v) {
  return formatValue(v, 4) + QLatin1Char('H');
}

std::filesystem::path defaultApplicationDirectory() {
  return std::filesystem::path(
      QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
}

// Opens a secondary window, or brings it to the front when it is open already.
void bringForward(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace

std::filesystem::path MainWindow::localPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

std::filesystem::path MainWindow::dataFolder() {
  return localPath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

// Port output to out.log, remembering why the last write failed, and to the Output panel
// once the line is in the file.
class MainWindow::WindowOutput : public korvel::OutputSink {
 public:
  explicit WindowOutput(std::filesystem::path file) : log_(std::move(file)) {}
  bool write(std::int32_t port, std::int32_t data) override {
    if (!log_.portout(port, data)) return false;
    if (panel_) panel_->append(port, data);
    return true;
  }
  std::string error() const override { return log_.lastError(); }
  const std::filesystem::path& file() const { return log_.file(); }
  void setFile(std::filesystem::path file) { log_ = korvel::LogFilePortOutput(std::move(file)); }
  void setPanel(OutputPanel* panel) { panel_ = panel; }

 private:
  korvel::LogFilePortOutput log_;
  QPointer<OutputPanel> panel_;
};

MainWindow::MainWindow(std::filesystem::path applicationDirectory, QWidget* parent)
    : QMainWindow(parent),
      appDir_(applicationDirectory.empty() ? defaultApplicationDirectory()
                                           : std::move(applicationDirectory)),
      output_(std::make_unique<WindowOutput>(appDir_ / korvel::kOutLogFileName)),
      controller_(std::make_unique<korvel::Controller>(*output_)) {
  setWindowTitle(tr("Korvel"));
  createLabels();
  createActions();
  createMenus();
  debug_ = new DebugPanels(this, *controller_, valueLabels_);
  createDebugMenu();
  createSourceMenu();
  runStatus_ = new QLabel(this);
  runStatus_->setObjectName("runStatus");
  statusBar()->addWidget(runStatus_, 1);
  logLabel_ = new QLabel(this);
  logLabel_->setObjectName("logFile");
  statusBar()->addPermanentWidget(logLabel_);
  outputPanel_ = new OutputPanel(this);
  addDockWidget(Qt::RightDockWidgetArea, outputPanel_);
  output_->setPanel(outputPanel_);
  menuview_->addAction(outputPanel_->toggleViewAction());
  outputPanel_->toggleViewAction()->setObjectName("menuoutput");
  outputPanel_->toggleViewAction()->setText(tr("&Output Panel"));
  setAcceptDrops(true);

  clock_ = new QTimer(this);
  clock_->setObjectName("clock");
  clock_->setTimerType(Qt::PreciseTimer);
  connect(clock_, &QTimer::timeout, this, &MainWindow::clockTimeout);

  frameTimer_ = new QTimer(this);
  frameTimer_->setSingleShot(true);
  frameTimer_->setInterval(kFrameMs);
  connect(frameTimer_, &QTimer::timeout, this, [this] { paintRegisters(); });

  sliceTimer_ = new QTimer(this);
  sliceTimer_->setSingleShot(true);
  sliceTimer_->setInterval(0);
  connect(sliceTimer_, &QTimer::timeout, this, &MainWindow::runSlice);

  inputBox_ = new PortInputBox(this);
  connect(inputBox_, &PortInputBox::entered, this, &MainWindow::inputEntered);
  connect(inputBox_, &PortInputBox::stopRun, this, &MainWindow::stopRun);

  showMessage_ = [this](const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, tr("Korvel"), text, QMessageBox::Ok, this);
    box.exec();
  };
  quit_ = [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); };

  controller_->setHistoryEnabled(true);
  viewerPainted_.start();

  // Form_Load: reset, no Step or Stop until a run starts, the Fast rate.
  controller_->clean();
  ekran();
  enterPhase(Phase::StartUp);
  menuspeed4_Click();
  useLog(korvel::chooseLogFile(appDir_, dataFolder()));
  setRunStatus(
      tr("Open a program with File > Open Program (Ctrl+O) or by dropping it here, or load "
         "program.bin with Tools > Program Loader (Ctrl+P); then Simulation > Start (F1) "
         "runs it."));
  // The register frames never shrink below what shows every value whole.
  centralWidget()->setMinimumSize(centralWidget()->sizeHint());
  resize(std::max(width(), 800), height());  // room for the status bar's texts
}

MainWindow::~MainWindow() {
  // The secondary windows have no owner; they go with the program.
  delete viewer_.data();
  delete helpWindow_.data();
  delete aboutWindow_.data();
}

void MainWindow::createLabels() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("Current instruction:"), central));
  instrukcija_ = new QLabel(central);
  instrukcija_->setObjectName("instrukcija");
  QFont bold = instrukcija_->font();
  bold.setBold(true);
  instrukcija_->setFont(bold);
  instrukcija_->setMinimumWidth(
      instrukcija_->fontMetrics().horizontalAdvance(QStringLiteral("LD (IX+FFH),FFH ")));
  top->addWidget(instrukcija_);
  top->addStretch();
  layout->addLayout(top);

  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const int digitWidth = QFontMetrics(fixed).horizontalAdvance(QLatin1Char('0'));
  auto makeValue = [&](std::size_t i, QWidget* parent) {
    const korvel::RegisterField& v = korvel::kRegisterFields[i];
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(v.label));
    label->setFont(fixed);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAutoFillBackground(true);
    QPalette p = label->palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(p);
    // Register labels twice as wide as flag labels; the 16-bit ones fit four digits.
    const int flagWidth = 2 * digitWidth + 6;
    const int width =
        v.digits() == 1 ? flagWidth : (v.digits() == 2 ? 2 * flagWidth : 6 * digitWidth + 8);
    label->setFixedWidth(width);
    valueLabels_[i] = label;
    return label;
  };
  auto labelIndex = [](const std::string& name) {
    for (std::size_t i = 0; i < korvel::kRegisterFields.size(); ++i)
      if (korvel::kRegisterFields[i].label == name) return i;
    return korvel::kRegisterFields.size();
  };

  // One register set: A..L, a small gap, the four flags.
  auto makeSet = [&](const QString& title, const char* prefix, const QString& mark) {
    auto* box = new QGroupBox(title, central);
    auto* grid = new QGridLayout(box);
    const char* regs[] = {"a", "b", "c", "d", "e", "h", "l"};
    const char* flagNames[] = {"ca", "ze", "si", "pa"};
    const QString flagCaptions[] = {tr("Carry"), tr("Zero"), tr("Sign"), tr("Parity")};
    int row = 0;
    for (const char* r : regs) {
      grid->addWidget(new QLabel(QString::fromLatin1(r).toUpper() + mark, box), row, 0);
      grid->addWidget(makeValue(labelIndex(std::string(prefix) + r), box), row, 1, Qt::AlignLeft);
      ++row;
    }
    grid->setRowMinimumHeight(row++, 8);
    for (int f = 0; f < 4; ++f) {
      grid->addWidget(new QLabel(flagCaptions[f] + mark, box), row, 0);
      grid->addWidget(makeValue(labelIndex(std::string(prefix) + flagNames[f]), box), row, 1,
                      Qt::AlignLeft);
      ++row;
    }
    grid->setColumnStretch(2, 1);
    return box;
  };
  auto* sets = new QHBoxLayout;
  sets->addWidget(makeSet(tr("Main register set"), "q", QString()));
  sets->addWidget(makeSet(tr("Alternate registers"), "qq", QStringLiteral("'")));
  layout->addLayout(sets);

  auto* wide = new QGroupBox(tr("16-bit register group"), central);
  auto* grid = new QGridLayout(wide);
  const struct {
    const char* caption;
    const char* name;
    int row, column;
  } pairs[] = {{"IX", "qix", 0, 0}, {"SP", "qsp", 0, 2}, {"IY", "qiy", 1, 0}, {"PC", "qpc", 1, 2}};
  for (const auto& p : pairs) {
    grid->addWidget(new QLabel(QLatin1String(p.caption), wide), p.row, p.column);
    grid->addWidget(makeValue(labelIndex(p.name), wide), p.row, p.column + 1, Qt::AlignLeft);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  layout->addWidget(wide);

  // What the run has cost so far: instructions and a real Z80's T-states since Start.
  counts_ = new QLabel(central);
  counts_->setObjectName("counts");
  layout->addWidget(counts_);
  layout->addStretch();

  setCentralWidget(central);
}

void MainWindow::createActions() {
  auto make = [this](const QString& caption, const char* name, const QKeySequence& key) {
    return makeAction(this, caption, name, key);
  };
  menustart_ = make(tr("Start"), "menustart", QKeySequence(Qt::Key_F1));
  menustep_ = make(tr("Step"), "menustep", QKeySequence(Qt::Key_F2));
  menustop_ = make(tr("Stop"), "menustop", QKeySequence(Qt::Key_F3));
  menuloader_ = make(tr("&Program Loader"), "menuloader", QKeySequence(Qt::CTRL | Qt::Key_P));
  menuviewer_ = make(tr("&Memory Viewer"), "menuviewer", QKeySequence(Qt::CTRL | Qt::Key_M));
  menuspeed_[0] = make(tr("&1 Step by Step"), "menuspeed1", QKeySequence(Qt::CTRL | Qt::Key_F1));
  menuspeed_[1] = make(tr("&2 Slow"), "menuspeed2", QKeySequence(Qt::CTRL | Qt::Key_F2));
  menuspeed_[2] = make(tr("&3 Normal"), "menuspeed3", QKeySequence(Qt::CTRL | Qt::Key_F3));
  menuspeed_[3] = make(tr("&4 Fast"), "menuspeed4", QKeySequence(Qt::CTRL | Qt::Key_F4));
  menuspeed_[4] = make(tr("&5 Extremely Fast"), "menuspeed5", QKeySequence(Qt::CTRL | Qt::Key_F5));
  menuhelp_ = make(tr("&Basic Help Topics"), "menuhelp", QKeySequence(Qt::CTRL | Qt::Key_B));
  menuabout_ = make(tr("&About Korvel"), "menuabout", QKeySequence(Qt::CTRL | Qt::Key_A));

  rateGroup_ = new QActionGroup(this);
  rateGroup_->setExclusive(true);
  for (QAction* a : menuspeed_) {
    a->setCheckable(true);
    rateGroup_->addAction(a);
  }

  // Items inside a disabled menu keep their own enabled states; Qt lets neither the menu
  // nor the shortcut keys reach them.
  connect(menustart_, &QAction::triggered, this, &MainWindow::menustart_Click);
  connect(menustep_, &QAction::triggered, this, &MainWindow::menustep_Click);
  connect(menustop_, &QAction::triggered, this, &MainWindow::menustop_Click);
  connect(menuloader_, &QAction::triggered, this, &MainWindow::menuloader_Click);
  connect(menuviewer_, &QAction::triggered, this, &MainWindow::menuviewer_Click);
  connect(menuspeed_[0], &QAction::triggered, this, &MainWindow::menuspeed1_Click);
  connect(menuspeed_[1], &QAction::triggered, this, &MainWindow::menuspeed2_Click);
  connect(menuspeed_[2], &QAction::triggered, this, &MainWindow::menuspeed3_Click);
  connect(menuspeed_[3], &QAction::triggered, this, &MainWindow::menuspeed4_Click);
  connect(menuspeed_[4], &QAction::triggered, this, &MainWindow::menuspeed5_Click);
  connect(menuhelp_, &QAction::triggered, this, &MainWindow::menuhelp_Click);
  connect(menuabout_, &QAction::triggered, this, &MainWindow::menuabout_Click);
}

void MainWindow::createMenus() {
  auto make = [this](const QString& caption, const char* name) {
    QMenu* menu = menuBar()->addMenu(caption);
    menu->setObjectName(QLatin1String(name));
    return menu;
  };
  fileMenu_ = new FileMenu(this);
  menuBar()->addMenu(fileMenu_);
  connect(fileMenu_, &FileMenu::openRequested, this, &MainWindow::openProgram);
  connect(fileMenu_, &FileMenu::quitRequested, this, &QWidget::close);
  connect(fileMenu_, &FileMenu::recentMissing, this, [this](const QString& path) {
    message(tr("Can't find file %1; it is removed from Recent Programs.")
                .arg(QDir::toNativeSeparators(path)));
  });
  menu1_ = make(tr("&Simulation"), "menu1");
  menu1_->addActions({menustart_, menustep_, menustop_});
  menu2_ = make(tr("&Tools"), "menu2");
  menu2_->addActions({menuloader_, menuviewer_});
  menu3_ = make(tr("&Rate"), "menu3");
  for (QAction* a : menuspeed_) menu3_->addAction(a);
  menuview_ = make(tr("&View"), "menuview");
  menu4_ = make(tr("&Help"), "menu4");
  menu4_->addActions({menuhelp_, menuabout_});
}

// What is enabled in each phase. In an Extremely Fast run the menus are off and their
// items keep the states they had when it started. `open` stands for Open, Reload and Recent
// in the File menu. The Debug menu and its toolbar: `debug`; Continue, Step Into, Step Over,
// Step Out and Run to Cursor: `run`; Step Back, which needs a history besides: `back`;
// Toggle Breakpoint and Go to Address: `marks`. The Source menu: `source`; its Assemble and
// Load: `assemble`.
namespace {
struct PhaseRow {
  bool file, open, menu1, start, step, stop, menu2, loader, viewer, menu3, view, menu4;
  bool debug, run, back, marks, source, assemble;
};
// clang-format off
constexpr bool on = true, off = false;
constexpr PhaseRow kPhaseRows[] = {
    //                         file open menu1 start step stop menu2 loader viewer menu3 view menu4
    //                         debug run back marks source assemble
    /* StartUp              */ {on,  on,  on,  on,  off, off, on,  on,  on,  on,  on,  on,
                                on,  off, off, on,  on,  on},
    /* Stopped              */ {on,  on,  on,  on,  off, off, on,  on,  on,  on,  on,  on,
                                on,  on,  on,  on,  on,  on},
    /* RunningStepByStep    */ {on,  off, on,  off, on,  on,  on,  off, on,  off, on,  on,
                                on,  off, off, on,  on,  off},
    /* RunningTimed         */ {on,  off, on,  off, off, on,  on,  off, on,  off, on,  on,
                                on,  off, off, on,  on,  off},
    /* RunningExtremelyFast */ {off, on,  off, on,  off, off, off, on,  on,  off, off, off,
                                off, off, off, off, off, on},
};
// clang-format on
}  // namespace

void MainWindow::enterPhase(Phase phase) {
  phase_ = phase;
  const PhaseRow& r = kPhaseRows[static_cast<int>(phase)];
  fileMenu_->setEnabled(r.file);
  fileMenu_->setLoadingEnabled(r.open);
  menu1_->setEnabled(r.menu1);
  menustart_->setEnabled(r.start);
  menustep_->setEnabled(r.step);
  menustop_->setEnabled(r.stop);
  menu2_->setEnabled(r.menu2);
  menuloader_->setEnabled(r.loader);
  menuviewer_->setEnabled(r.viewer);
  menu3_->setEnabled(r.menu3);
  menuview_->setEnabled(r.view);
  menu4_->setEnabled(r.menu4);
  menuDebug_->setEnabled(r.debug);
  debugBar_->setEnabled(r.debug);
  for (QAction* a :
       {debugContinue_, debugStepInto_, debugStepOver_, debugStepOut_, debugRunToCursor_})
    a->setEnabled(r.run);
  debugToggleBreakpoint_->setEnabled(r.marks);
  debugGoToAddress_->setEnabled(r.marks);
  menuSource_->setEnabled(r.source);
  sourceAssemble_->setEnabled(r.assemble);
  updateStepBack();
}

// Step Back needs its phase and an instruction to undo; disabled, it says why.
void MainWindow::updateStepBack() {
  const bool phase = kPhaseRows[static_cast<int>(phase_)].back;
  const std::size_t n = controller_->historySize();
  debugStepBack_->setEnabled(phase && n > 0);
  const QString why =
      !phase ? tr("Step Back works while the program is stopped")
      : n == 0
          ? tr("Nothing to step back over: no instruction has run since Start, the load or the "
               "last edit")
          : tr("Undo the last instruction (%L1 can be undone)").arg(static_cast<qulonglong>(n));
  debugStepBack_->setToolTip(why);
  debugStepBack_->setStatusTip(why);
}

void MainWindow::selectRate(int n) {
  menuspeed_[static_cast<std::size_t>(n - 1)]->setChecked(true);
  rate_ = n;
}

int MainWindow::clockInterval() const {
  return clock_->isActive() ? clock_->interval() : 0;
}

// Interval 0 means no ticks at all.
void MainWindow::setClockInterval(int ms) {
  if (ms == 0) {
    clock_->stop();
  } else {
    ticksDone_ = 0;
    runClock_.start();
    clock_->start(ms);
  }
}

// The system may wake the program later than the interval (at 1 ms it often does), and a
// timeout then stands for every tick that fell due meanwhile: they run here back to back,
// so that the rate holds on average. Ticks due while an IN waits for its byte are dropped.
void MainWindow::clockTimeout() {
  const qint64 due = runClock_.elapsed() / std::max(1, clock_->interval());
  const qint64 n = std::clamp(due - ticksDone_, qint64{1}, kMaxTicksPerTimeout);
  for (qint64 i = 0; i < n && clock_->isActive() && !instructionInProgress(); ++i) {
    ++ticksDone_;
    clock_Timer();
  }
  if (due - ticksDone_ > kMaxTicksPerTimeout || instructionInProgress()) ticksDone_ = due;
}

void MainWindow::clock_Timer() {
  if (closing_ || controller_->mode() != RunMode::Ticked || instructionInProgress()) return;
  handle(controller_->tick());
}

void MainWindow::menustart_Click() {
  if (closing_ || !menustart_->isEnabled() || controller_->running()) return;
  if (rate_ == 5) lastFastRun_.reset();
  const RunEvent event = controller_->start(rate_ < 5 ? RunMode::Ticked : RunMode::Fast);
  debug_->resetMarks();
  beginRun(event, rate_ < 5 ? tr("Running from 0000H") : tr("Running at the Extremely Fast rate"));
}

// Rates 1 to 4: the timer or the Step command drives the run. Extremely Fast: up to 1,000,000
// instructions with the whole menu bar disabled, in slices that return to the event loop so
// that the window repaints and stays usable.
void MainWindow::beginRun(RunEvent event, const QString& status) {
  ekran();
  if (rate_ < 5) {
    enterPhase(rate_ == 1 ? Phase::RunningStepByStep : Phase::RunningTimed);
    setRunStatus(status);
    setClockInterval(kIntervals[rate_ - 1]);
    if (event != RunEvent::Executed) handle(event);
    return;
  }
  enterPhase(Phase::RunningExtremelyFast);
  setRunStatus(status);
  if (event != RunEvent::Executed) {
    handle(event);
    return;
  }
  sliceTimer_->start();
}

// A slice of an Extremely Fast run, or of Step Over, Step Out or Run to Cursor.
void MainWindow::runSlice() {
  const RunMode mode = controller_->mode();
  if (closing_ || (mode != RunMode::Fast && mode != RunMode::Target)) return;
  handle(controller_->runSlice(std::chrono::steady_clock::now() + pumpInterval_));
}

void MainWindow::menustep_Click() {
  if (instructionInProgress()) {
    statusBar()->showMessage(tr("Step ignored: an instruction is still running"), 3000);
    return;
  }
  if (menustep_->isEnabled()) clock_Timer();
}

void MainWindow::menustop_Click() {
  controller_->stop();
  inputBox_->hide();
  setClockInterval(0);
  sliceTimer_->stop();
  ekran();
  enterPhase(Phase::Stopped);
  setRunStatus(tr("Stopped at %1; Continue (F5) goes on from here, Start runs the program again "
                  "from 0000H")
                   .arg(hex4(controller_->state().PC)));
}

void MainWindow::endRun(const QString& status) {
  if (phase_ == Phase::RunningExtremelyFast)
    lastFastRun_ = FastRun{RunEvent::Executed, controller_->fastRunCount()};
  menustop_Click();
  setRunStatus(status);
}

void MainWindow::handle(RunEvent event) {
  const QString pc = hex4(controller_->state().PC);
  const QString again = tr("Start runs the program again from 0000H");
  switch (event) {
    case RunEvent::Executed:
      if (controller_->mode() == RunMode::Fast || controller_->mode() == RunMode::Target) {
        sliceTimer_->start();
      } else if (!controller_->running()) {
        // Step Into (or a step of Step Over) is done, after its IN got its byte.
        if (phase_ != Phase::Stopped) enterPhase(Phase::Stopped);
        setRunStatus(tr("Stepped to %1").arg(pc));
      }
      ekran();
      return;
    case RunEvent::SliceDone:
      paintRegisters(DebugPanels::Refresh::Live);
      sliceTimer_->start();
      return;
    case RunEvent::NeedsInput:
      paintRegisters();  // the IN instruction is shown while its byte is asked for
      askForInput(false);
      return;
    case RunEvent::Halted:
      endRun(tr("HALT at %1: the program has stopped. %2").arg(pc, again));
      break;
    case RunEvent::Breakpoint:
      endRun(tr("Stopped at the breakpoint at %1; Continue (F5) goes on from there").arg(pc));
      break;
    case RunEvent::TargetReached: endRun(tr("Stopped at %1").arg(pc)); break;
    case RunEvent::LimitReached:
      endRun(tr("Stopped after 1,000,000 instructions without reaching HALT; %1").arg(again));
      break;
    case RunEvent::OutputFailed: {
      const QString why = QString::fromStdString(output_->error());
      endRun(tr("Stopped at %1: the OUT there could not be written. %2").arg(pc, why));
      message(why);
      break;
    }
  }
  if (lastFastRun_) lastFastRun_->end = event;
}

void MainWindow::askForInput(bool repeated) {
  const korvel::InputRequest request = *controller_->pendingInput();
  inputRepeated_ = repeated;
  QString prompt =
      QString::fromStdString(korvel::portPrompt(request.address, request.port, repeated));
  if (!prompt_) {
    inputBox_->ask(prompt);
    return;
  }
  // The scripted prompt answers at once.
  for (;;) {
    const std::optional<QString> answer = prompt_(prompt);
    if (closing_ || !instructionInProgress()) return;
    if (!answer) {
      stopRun();
      return;
    }
    if (const auto byte = korvel::parsePortEntry(answer->toStdString())) {
      handle(controller_->supplyInput(*byte));
      return;
    }
    prompt = QString::fromStdString(korvel::portPrompt(request.address, request.port, true));
  }
}

void MainWindow::inputEntered(const QString& text) {
  if (closing_ || !instructionInProgress()) return;
  if (const auto byte = korvel::parsePortEntry(text.toStdString())) {
    handle(controller_->supplyInput(*byte));
    return;
  }
  askForInput(true);  // a wrong entry, or Cancel, asks again
}

void MainWindow::stopRun() {
  if (!instructionInProgress()) return;
  const QString pc = hex4(controller_->state().PC);
  endRun(tr("Stopped at %1: the IN there was not given its byte (Stop run)").arg(pc));
  if (lastFastRun_) lastFastRun_->end = RunEvent::NeedsInput;
}

void MainWindow::menuloader_Click() {
  if (closing_ || !menuloader_->isEnabled() || controller_->running()) return;
  const korvel::LoadOutcome outcome = korvel::menuloader(controller_->machine(), appDir_);
  controller_->clean();
  fileMenu_->forgetCurrent();
  forgetSource();
  useLog(korvel::chooseLogFile(appDir_, dataFolder()));
  debug_->resetMarks();
  enterPhase(outcome.loaded ? Phase::Stopped : Phase::StartUp);
  paintRegisters();
  setRunStatus(outcome.loaded ? tr("Loaded program.bin; Start (F1) runs it from 0000H")
                              : QString::fromStdString(outcome.message));
  message(QString::fromStdString(outcome.message));
}

bool MainWindow::openProgram(const QString& path) {
  if (closing_ || controller_->running() || path.isEmpty()) return false;
  const QFileInfo file(path);
  if (korvel::programFileType(localPath(file.absoluteFilePath())) ==
      korvel::ProgramFileType::AssemblySource)
    return openSource(path);
  // Every other kind of program file is read here, by its extension.
  const korvel::ProgramRead read = korvel::readProgramFile(localPath(file.absoluteFilePath()));
  if (!read.image) {
    message(QString::fromStdString(read.message));
    return false;
  }
  controller_->loadImage(read.image->bytes);
  forgetSource();
  debug_->resetMarks();
  enterPhase(Phase::Stopped);
  useLog(korvel::chooseLogFile(localPath(file.absolutePath()), dataFolder()));
  fileMenu_->opened(file.absoluteFilePath());
  paintRegisters();
  setRunStatus(
      tr("Loaded %1; Start (F1) runs it from 0000H").arg(QString::fromStdString(read.description)));
  return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (fileMenu_->isEnabled() && fileMenu_->loadingEnabled() &&
      !droppedFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList files = droppedFiles(event->mimeData());
  if (files.isEmpty() || !fileMenu_->isEnabled() || !fileMenu_->loadingEnabled()) return;
  event->acceptProposedAction();
  if (files.size() > 1) {
    message(tr("Drop one program file at a time; %1 files were dropped.").arg(files.size()));
    return;
  }
  openProgram(files.first());
}

void MainWindow::useLog(const korvel::LogLocation& log) {
  output_->setFile(log.file);
  const QString path = QDir::toNativeSeparators(QFile::decodeName(log.file.c_str()));
  showLogFile(logLabel_, path, log.writable);
  if (outputPanel_) outputPanel_->setLogFile(path, log.writable);
}

const std::filesystem::path& MainWindow::logFile() const {
  return output_->file();
}

void MainWindow::menuviewer_Click() {
  if (!viewer_) {
    viewer_ = new MemoryViewer(controller_->state(), viewerPage_);
  }
  bringForward(viewer_);
}

void MainWindow::menuhelp_Click() {
  if (!helpWindow_) {
    helpWindow_ = new TextWindow(QStringLiteral("Form4"), tr("Basic Help Topics"), helpText());
  }
  bringForward(helpWindow_);
}

void MainWindow::menuabout_Click() {
  if (!aboutWindow_) {
    aboutWindow_ = new TextWindow(QStringLiteral("Form3"), tr("About Korvel"), aboutText());
  }
  bringForward(aboutWindow_);
}

void MainWindow::ekran() {
  if (clock_->isActive()) {
    // The timer drives the run: one paint per frame is enough for the eye.
    if (!frameTimer_->isActive()) frameTimer_->start();
    return;
  }
  paintRegisters();
}

void MainWindow::paintRegisters(DebugPanels::Refresh kind) {
  frameTimer_->stop();
  const MachineState& s = controller_->state();
  for (std::size_t i = 0; i < korvel::kRegisterFields.size(); ++i) {
    const korvel::RegisterField& f = korvel::kRegisterFields[i];
    valueLabels_[i]->setText(formatValue(s.*f.member, f.digits()));
  }
  char text[korvel::Machine::kMaxTextLength];
  const int length = controller_->machine().writeInstructionText(text);
  instrukcija_->setText(QString::fromLatin1(text, length));
  counts_->setText(tr("Instructions: %L1    T-states: %L2")
                       .arg(controller_->instructionCount())
                       .arg(controller_->tstates()));
  debug_->refresh(kind);
  if (kind != DebugPanels::Refresh::Live) {
    updateStepBack();
    sourcePanel_->showPc(s.PC);
  }
  // The memory viewer follows the run too, at most once a frame.
  if (viewer_ && (kind != DebugPanels::Refresh::Live || viewerPainted_.elapsed() >= kFrameMs)) {
    viewer_->refresh();
    viewerPainted_.start();
  }
}

void MainWindow::setRunStatus(const QString& text) {
  runStatus_->setText(text);
  emit runStatusChanged(text);
}

QString MainWindow::runStatus() const {
  return runStatus_->text();
}

void MainWindow::message(const QString& text) {
  if (closing_) return;
  showMessage_(text);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!closing_ && !saveOrDiscard(tr("closing Korvel"))) {
    event->ignore();
    return;
  }
  if (!closing_) {
    // Whatever runs or waits ends here: an IN waiting for its byte stays unexecuted, and
    // every line already in out.log stays.
    closing_ = true;
    setClockInterval(0);
    sliceTimer_->stop();
    controller_->stop();
    inputBox_->hide();
    for (QWidget* w :
         {static_cast<QWidget*>(viewer_.data()), static_cast<QWidget*>(helpWindow_.data()),
          static_cast<QWidget*>(aboutWindow_.data())}) {
      if (w) w->close();
    }
    if (!quitRequested_) {
      quitRequested_ = true;
      if (quit_) quit_();
    }
  }
  event->accept();
}
