#include "ui/mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

#include "core/register_fields.h"
#include "peripherals/loader.h"
#include "peripherals/ports.h"
#include "ui/memoryviewer.h"
#include "ui/textwindow.h"

using korvel::MachineState;

namespace {

constexpr int kFastRunLimit = 1'000'000;
constexpr int kFrameMs = 16;
// A late timeout makes up at most this many ticks; a longer stall is not made up.
constexpr qint64 kMaxTicksPerTimeout = 4;
// The Extremely Fast loop looks at the wall clock only every this many instructions.
constexpr unsigned kPumpCheckMask = 0xFF;

QString formatValue(std::int32_t v, int digits) {
  char buf[4];
  switch (digits) {
    case 4: korvel::writeHex4(buf, v); break;
    case 2: korvel::writeHex2(buf, v); break;
    default: buf[0] = korvel::kHexDigits[v & 0xF]; break;
  }
  return QString::fromLatin1(buf, digits);
}

std::filesystem::path defaultApplicationDirectory() {
  return std::filesystem::path(
      QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
}

}  // namespace

// Port input through the window's input box.
class MainWindow::WindowPrompter : public korvel::Prompter {
 public:
  explicit WindowPrompter(MainWindow& window) : window_(window) {}
  std::optional<std::string> ask(const std::string& prompt) override {
    return window_.askPort(prompt);
  }

 private:
  MainWindow& window_;
};

// Port output to out.log, remembering whether the last write failed so that the window can
// stop the run and say why.
class MainWindow::LogOutput : public korvel::PortOutput {
 public:
  explicit LogOutput(std::filesystem::path file) : log_(std::move(file)) {}
  bool portout(std::int32_t portnum, std::int32_t portdata) override {
    failed_ = !log_.portout(portnum, portdata);
    return !failed_;
  }
  bool failed() const { return failed_; }
  void clearFailure() { failed_ = false; }
  const std::string& lastError() const { return log_.lastError(); }

 private:
  korvel::LogFilePortOutput log_;
  bool failed_ = false;
};

MainWindow::MainWindow(std::filesystem::path applicationDirectory, QWidget* parent)
    : QMainWindow(parent),
      appDir_(applicationDirectory.empty() ? defaultApplicationDirectory()
                                           : std::move(applicationDirectory)),
      state_(std::make_unique<MachineState>()),
      prompter_(std::make_unique<WindowPrompter>(*this)),
      input_(std::make_unique<korvel::PromptedPortInput>(*prompter_)),
      output_(std::make_unique<LogOutput>(appDir_ / korvel::kOutLogFileName)) {
  machine_ = std::make_unique<korvel::Machine>(
      *state_, korvel::MachineHooks{this, input_.get(), output_.get(), this});

  setWindowTitle(tr("Korvel"));
  createLabels();
  createActions();
  createMenus();
  statusBar();

  clock_ = new QTimer(this);
  clock_->setObjectName("clock");
  clock_->setTimerType(Qt::PreciseTimer);
  connect(clock_, &QTimer::timeout, this, &MainWindow::clockTimeout);

  frameTimer_ = new QTimer(this);
  frameTimer_->setSingleShot(true);
  frameTimer_->setInterval(kFrameMs);
  connect(frameTimer_, &QTimer::timeout, this, &MainWindow::paintRegisters);

  showMessage_ = [this](const QString& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("Korvel"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    openBox_ = box;
    box->exec();
  };
  prompt_ = [this](const QString& prompt) {
    QPointer<QInputDialog> dialog = new QInputDialog(this);
    dialog->setWindowTitle(tr("Korvel"));
    dialog->setLabelText(QString(prompt).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    dialog->setTextValue(QString());
    openBox_ = dialog.data();
    const int result = dialog->exec();
    if (!dialog) return QString();
    const QString text = result == QDialog::Accepted ? dialog->textValue() : QString();
    delete dialog.data();
    return text;
  };
  quit_ = [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); };

  // Form_Load: reset, no Step or Stop until a run starts, the Fast rate.
  machine_->clean();
  menustep_->setEnabled(false);
  menustop_->setEnabled(false);
  menuspeed4_Click();
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
  auto makeValue = [&](const korvel::RegisterField& v, QWidget* parent) {
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
    return label;
  };
  auto labelIndex = [](const char* name) {
    for (std::size_t i = 0; i < korvel::kRegisterFields.size(); ++i)
      if (std::string_view(korvel::kRegisterFields[i].label) == name) return i;
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
      const std::string name = std::string(prefix) + r;
      const std::size_t i = labelIndex(name.c_str());
      grid->addWidget(new QLabel(QString::fromLatin1(r).toUpper() + mark, box), row, 0);
      valueLabels_[i] = makeValue(korvel::kRegisterFields[i], box);
      grid->addWidget(valueLabels_[i], row, 1, Qt::AlignLeft);
      ++row;
    }
    grid->setRowMinimumHeight(row++, 8);
    for (int f = 0; f < 4; ++f) {
      const std::string name = std::string(prefix) + flagNames[f];
      const std::size_t i = labelIndex(name.c_str());
      grid->addWidget(new QLabel(flagCaptions[f] + mark, box), row, 0);
      valueLabels_[i] = makeValue(korvel::kRegisterFields[i], box);
      grid->addWidget(valueLabels_[i], row, 1, Qt::AlignLeft);
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
    const std::size_t i = labelIndex(p.name);
    grid->addWidget(new QLabel(QLatin1String(p.caption), wide), p.row, p.column);
    valueLabels_[i] = makeValue(korvel::kRegisterFields[i], wide);
    grid->addWidget(valueLabels_[i], p.row, p.column + 1, Qt::AlignLeft);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  layout->addWidget(wide);
  layout->addStretch();

  setCentralWidget(central);
}

void MainWindow::createActions() {
  auto make = [this](const QString& caption, const char* name, const QKeySequence& key) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(key);
    return action;
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
  menu1_ = make(tr("&Simulation"), "menu1");
  menu1_->addActions({menustart_, menustep_, menustop_});
  menu2_ = make(tr("&Tools"), "menu2");
  menu2_->addActions({menuloader_, menuviewer_});
  menu3_ = make(tr("&Rate"), "menu3");
  for (QAction* a : menuspeed_) menu3_->addAction(a);
  menu4_ = make(tr("&Help"), "menu4");
  menu4_->addActions({menuhelp_, menuabout_});
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
// so that the rate holds on average. Ticks due while an instruction is still executing
// (the port input box is open) are dropped.
void MainWindow::clockTimeout() {
  if (inInstruction_) return;
  const qint64 due = runClock_.elapsed() / std::max(1, clock_->interval());
  const qint64 n = std::clamp(due - ticksDone_, qint64{1}, kMaxTicksPerTimeout);
  for (qint64 i = 0; i < n && clock_->isActive() && !closing_; ++i) {
    ++ticksDone_;
    tick();
  }
  if (due - ticksDone_ > kMaxTicksPerTimeout) ticksDone_ = due;
}

void MainWindow::setMenuBarEnabled(bool on) {
  for (QMenu* m : {menu1_, menu2_, menu3_, menu4_}) m->setEnabled(on);
}

void MainWindow::menustart_Click() {
  if (inInstruction_ || closing_ || !menustart_->isEnabled()) return;
  machine_->clean();
  if (rate_ < 5) {
    menu3_->setEnabled(false);
    menuloader_->setEnabled(false);
    menustart_->setEnabled(false);
    menustop_->setEnabled(true);
    if (rate_ == 1) menustep_->setEnabled(true);
    static constexpr int kIntervals[] = {0, 1500, 250, 1};
    setClockInterval(kIntervals[rate_ - 1]);
    return;
  }

  // Extremely Fast: the loop runs inside this command with the whole menu bar disabled;
  // ekran repaints and handles pending events every pump interval.
  setMenuBarEnabled(false);
  inInstruction_ = true;
  inFastRun_ = true;
  output_->clearFailure();
  ekranCalls_ = 0;
  pumpClock_.start();
  lastFastRun_ = korvel::runExtremelyFast(*machine_, kFastRunLimit);
  inFastRun_ = false;
  inInstruction_ = false;
  setMenuBarEnabled(true);
  ekran();
  if (closing_) {
    finishClosing();
    return;
  }
  if (lastFastRun_->end == korvel::RunEnd::Abandoned) reportAbandonedTick();
}

void MainWindow::menustep_Click() {
  if (inInstruction_) {
    statusBar()->showMessage(tr("Step ignored: an instruction is still running"), 3000);
    return;
  }
  if (menustep_->isEnabled()) tick();
}

void MainWindow::menustop_Click() {
  setClockInterval(0);
  ekran();
  menu3_->setEnabled(true);
  menuloader_->setEnabled(true);
  menustart_->setEnabled(true);
  menustop_->setEnabled(false);
  menustep_->setEnabled(false);
}

void MainWindow::tick() {
  if (inInstruction_ || closing_) return;  // never two instructions at once
  inInstruction_ = true;
  output_->clearFailure();
  machine_->clock_Timer();
  inInstruction_ = false;
  if (closing_) {
    finishClosing();
    return;
  }
  if (machine_->tickAbandoned()) reportAbandonedTick();
}

// An instruction was abandoned: out.log could not be written. The run stops there, with PC
// still on the OUT instruction, and the user is told why.
void MainWindow::reportAbandonedTick() {
  if (!output_->failed()) return;
  if (clock_->isActive() || menustop_->isEnabled()) menustop_Click();
  message(QString::fromStdString(output_->lastError()));
}

void MainWindow::menuloader_Click() {
  if (inInstruction_ || closing_ || !menuloader_->isEnabled()) return;
  const korvel::LoadOutcome outcome = korvel::menuloader(*machine_, appDir_);
  paintRegisters();
  message(QString::fromStdString(outcome.message));
}

namespace {
// Opens a secondary window, or brings it to the front when it is open already.
void bringForward(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}
}  // namespace

void MainWindow::menuviewer_Click() {
  if (!viewer_) {
    viewer_ = new MemoryViewer(*state_, viewerPage_);
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
  if (inFastRun_) {
    // Called after every one of up to a million instructions: look at the clock only now
    // and then, and paint and handle events only once per pump interval.
    if ((++ekranCalls_ & kPumpCheckMask) != 0) return;
    if (pumpClock_.elapsed() < pumpInterval_.count()) return;
    pumpClock_.restart();
    paintRegisters();
    QCoreApplication::processEvents();
    return;
  }
  if (clock_->isActive()) {
    // The timer drives the run: one paint per frame is enough for the eye.
    if (!frameTimer_->isActive()) frameTimer_->start();
    return;
  }
  paintRegisters();
}

void MainWindow::paintRegisters() {
  frameTimer_->stop();
  const MachineState& s = *state_;
  for (std::size_t i = 0; i < korvel::kRegisterFields.size(); ++i) {
    const korvel::RegisterField& f = korvel::kRegisterFields[i];
    valueLabels_[i]->setText(formatValue(s.*f.member, f.digits()));
  }
  char text[korvel::Machine::kMaxTextLength];
  const int length = machine_->writeInstructionText(text);
  instrukcija_->setText(QString::fromLatin1(text, length));
}

void MainWindow::message(const QString& text) {
  if (closing_) return;
  showMessage_(text);
}

std::optional<std::string> MainWindow::askPort(const std::string& prompt) {
  if (closing_) return std::nullopt;
  paintRegisters();  // show the IN instruction while its byte is asked for
  const QString answer = prompt_(QString::fromStdString(prompt));
  if (closing_) return std::nullopt;
  return answer.toStdString();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    closing_ = true;
    setClockInterval(0);
    machine_->requestStop();
    if (openBox_) openBox_->reject();
    for (QWidget* w :
         {static_cast<QWidget*>(viewer_.data()), static_cast<QWidget*>(helpWindow_.data()),
          static_cast<QWidget*>(aboutWindow_.data())}) {
      if (w) w->close();
    }
    // Inside an instruction the program ends once it has unwound (see tick and
    // menustart_Click); otherwise at once.
    if (!inInstruction_) finishClosing();
  }
  event->accept();
}

void MainWindow::finishClosing() {
  if (quitRequested_) return;
  quitRequested_ = true;
  if (quit_) quit_();
}
