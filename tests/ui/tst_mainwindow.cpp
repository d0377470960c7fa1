// The main window driven as the user drives it: menus, rates, Step and Stop, the loader, the
// port boxes and closing. Expected texts and values are the ones the user sees.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <initializer_list>

#include "ui/mainwindow.h"

namespace {

// A window in its own application directory whose message and input boxes are scripted.
struct Fixture {
  QTemporaryDir dir;
  MainWindow w{std::filesystem::path(dir.path().toStdString())};
  QStringList messages;
  QStringList prompts;
  QStringList answers;  // taken in order; a missing answer is a test failure
  int quits = 0;

  Fixture() {
    w.setMessageFunction([this](const QString& text) { messages << text; });
    w.setPromptFunction([this](const QString& prompt) {
      prompts << prompt;
      return answers.isEmpty() ? QStringLiteral("unexpected prompt") : answers.takeFirst();
    });
    w.setQuitFunction([this] { ++quits; });
  }
  void load(std::initializer_list<int> bytes) {
    int address = 0;
    for (int b : bytes) w.state().memory[static_cast<std::size_t>(address++)] = b;
  }
  QString label(const char* name) { return w.findChild<QLabel*>(name)->text(); }
  QAction* action(const char* name) { return w.findChild<QAction*>(name); }
  void chooseRate(int n) { action(qPrintable(QStringLiteral("menuspeed%1").arg(n)))->trigger(); }
  QString outLog() {
    QFile f(dir.filePath(QStringLiteral("out.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
  }
  // The enabled states in the order of the phase table.
  QString menuState() {
    QStringList parts;
    auto add = [&parts](const char* name, bool on) {
      parts << QStringLiteral("%1 %2").arg(QLatin1String(name), on ? "on" : "off");
    };
    auto menu = [this](const char* name) { return w.findChild<QMenu*>(name)->isEnabled(); };
    add("menu1", menu("menu1"));
    add("start", action("menustart")->isEnabled());
    add("step", action("menustep")->isEnabled());
    add("stop", action("menustop")->isEnabled());
    add("menu2", menu("menu2"));
    add("loader", action("menuloader")->isEnabled());
    add("viewer", action("menuviewer")->isEnabled());
    add("menu3", menu("menu3"));
    add("menu4", menu("menu4"));
    return parts.join(QStringLiteral(", "));
  }
};

const QString kStopped = QStringLiteral(
    "menu1 on, start on, step off, stop off, menu2 on, loader on, viewer on, menu3 on, menu4 on");
const QString kRunningRate1 = QStringLiteral(
    "menu1 on, start off, step on, stop on, menu2 on, loader off, viewer on, menu3 off, menu4 on");
const QString kRunningTimer = QStringLiteral(
    "menu1 on, start off, step off, stop on, menu2 on, loader off, viewer on, menu3 off, menu4 on");
const QString kRunningRate5 = QStringLiteral(
    "menu1 off, start on, step off, stop off, menu2 off, loader on, viewer on, menu3 off, menu4 "
    "off");

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void startUpShowsResetMachineAndMenus();
  void menuItemsHaveTheirCaptionsAndKeys_data();
  void menuItemsHaveTheirCaptionsAndKeys();
  void menusFollowThePhase_data();
  void menusFollowThePhase();
  void startThenStepsRunOneInstructionEach();
  void eachRateSetsItsInterval_data();
  void eachRateSetsItsInterval();
  void extremelyFastStopsBeforeHalt();
  void extremelyFastEndsAfterOneMillionInstructions();
  void shortcutsReachNothingDuringExtremelyFastRun();
  void loaderReportsThroughMessageBox();
  void portInputAsksAgainUntilTwoHexDigits();
  void noInstructionStartsWhileInputBoxIsOpen();
  void failedPortOutputStopsTheRunAndSaysWhy();
  void portOutputAppendsOneLinePerOut();
  void closingDuringExtremelyFastRunEndsCleanly();
  void closingWithInputBoxOpenAbandonsTheInstruction();
};

void TestMainWindow::startUpShowsResetMachineAndMenus() {
  Fixture f;
  QCOMPARE(f.w.windowTitle(), QStringLiteral("Korvel"));
  for (const char* name : {"qix", "qiy", "qsp", "qpc"})
    QCOMPARE(f.label(name), QStringLiteral("0000"));
  for (const char* name :
       {"qa", "qb", "qc", "qd", "qe", "qh", "ql", "qqa", "qqb", "qqc", "qqd", "qqe", "qqh", "qql"})
    QCOMPARE(f.label(name), QStringLiteral("00"));
  for (const char* name : {"qca", "qze", "qsi", "qpa", "qqca", "qqze", "qqsi", "qqpa"})
    QCOMPARE(f.label(name), QStringLiteral("0"));
  QCOMPARE(f.label("instrukcija"), QString());
  QVERIFY(f.w.findChild<QLabel*>("instrukcija")->font().bold());

  QStringList captions;
  for (QLabel* l : f.w.findChildren<QLabel*>())
    if (l->objectName().isEmpty()) captions << l->text();
  for (const char* c : {"Current instruction:", "A", "L", "Carry", "Parity", "A'", "B'", "L'",
                        "Carry'", "Zero'", "Sign'", "Parity'", "IX", "IY", "SP", "PC"})
    QVERIFY2(captions.contains(QLatin1String(c)), c);

  QVERIFY(f.action("menuspeed4")->isChecked());
  for (const char* other : {"menuspeed1", "menuspeed2", "menuspeed3", "menuspeed5"})
    QVERIFY(!f.action(other)->isChecked());
  QCOMPARE(f.w.rate(), 4);
  QCOMPARE(f.w.clockInterval(), 0);
  QCOMPARE(f.menuState(), kStopped);
  QTest::qWait(20);  // nothing runs until Start
  QCOMPARE(f.w.state().PC, 0);
}

void TestMainWindow::menuItemsHaveTheirCaptionsAndKeys_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("key");
  const char* rows[][3] = {
      {"menustart", "Start", "F1"},
      {"menustep", "Step", "F2"},
      {"menustop", "Stop", "F3"},
      {"menuloader", "&Program Loader", "Ctrl+P"},
      {"menuviewer", "&Memory Viewer", "Ctrl+M"},
      {"menuspeed1", "&1 Step by Step", "Ctrl+F1"},
      {"menuspeed2", "&2 Slow", "Ctrl+F2"},
      {"menuspeed3", "&3 Normal", "Ctrl+F3"},
      {"menuspeed4", "&4 Fast", "Ctrl+F4"},
      {"menuspeed5", "&5 Extremely Fast", "Ctrl+F5"},
      {"menuhelp", "&Basic Help Topics", "Ctrl+B"},
      {"menuabout", "&About Korvel", "Ctrl+A"},
      {"menu1", "&Simulation", ""},
      {"menu2", "&Tools", ""},
      {"menu3", "&Rate", ""},
      {"menu4", "&Help", ""},
  };
  for (const auto& r : rows)
    QTest::newRow(r[0]) << QString::fromLatin1(r[0]) << QString::fromLatin1(r[1])
                        << QString::fromLatin1(r[2]);
}

void TestMainWindow::menuItemsHaveTheirCaptionsAndKeys() {
  QFETCH(QString, name);
  QFETCH(QString, caption);
  QFETCH(QString, key);
  Fixture f;
  if (auto* menu = f.w.findChild<QMenu*>(name)) {
    QCOMPARE(menu->title(), caption);
    return;
  }
  QAction* a = f.action(qPrintable(name));
  QVERIFY(a);
  QCOMPARE(a->text(), caption);
  QCOMPARE(a->shortcut().toString(QKeySequence::PortableText), key);
}

void TestMainWindow::menusFollowThePhase_data() {
  QTest::addColumn<QString>("phase");
  QTest::addColumn<QString>("expected");
  QTest::newRow("after start-up") << QStringLiteral("startup") << kStopped;
  QTest::newRow("running at rate 1") << QStringLiteral("rate1") << kRunningRate1;
  QTest::newRow("running at rate 2") << QStringLiteral("rate2") << kRunningTimer;
  QTest::newRow("running at rate 3") << QStringLiteral("rate3") << kRunningTimer;
  QTest::newRow("running at rate 4") << QStringLiteral("rate4") << kRunningTimer;
  QTest::newRow("running at rate 5") << QStringLiteral("rate5") << kRunningRate5;
  QTest::newRow("after Stop") << QStringLiteral("stop") << kStopped;
  QTest::newRow("after HALT") << QStringLiteral("halt") << kStopped;
  QTest::newRow("after a rate-5 run") << QStringLiteral("rate5end") << kStopped;
}

void TestMainWindow::menusFollowThePhase() {
  QFETCH(QString, phase);
  QFETCH(QString, expected);
  Fixture f;
  QString seen;
  if (phase == "startup") {
    seen = f.menuState();
  } else if (phase.startsWith("rate") && phase.size() == 5 && phase != "rate5") {
    f.chooseRate(phase.back().digitValue());
    f.action("menustart")->trigger();
    seen = f.menuState();
    f.w.menustop_Click();
  } else if (phase == "rate5" || phase == "rate5end") {
    f.load({0x18, 0xFE});
    f.chooseRate(5);
    f.w.setPumpInterval(std::chrono::milliseconds(0));
    QString inside;
    QTimer::singleShot(0, &f.w, [&] { inside = f.menuState(); });
    f.action("menustart")->trigger();
    QCOMPARE(f.w.lastFastRun()->instructions, 1'000'000);  // the pump did not end the run
    seen = phase == "rate5" ? inside : f.menuState();
  } else if (phase == "stop") {
    f.chooseRate(3);
    f.action("menustart")->trigger();
    f.action("menustop")->trigger();
    seen = f.menuState();
  } else if (phase == "halt") {
    f.load({0x00, 0x76});
    f.action("menustart")->trigger();  // Fast
    QTRY_COMPARE(f.label("instrukcija"), QStringLiteral("HALT"));
    QCOMPARE(f.w.state().PC, 1);
    seen = f.menuState();
  }
  QCOMPARE(seen, expected);
}

void TestMainWindow::startThenStepsRunOneInstructionEach() {
  Fixture f;
  f.load({0x01, 0x34, 0x12, 0x3E, 0x0A, 0x00});  // LD BC,1234H; LD A,0AH; NOP
  f.w.state().A = 0x77;                          // Start resets the registers first
  f.chooseRate(1);
  f.action("menustart")->trigger();
  QCOMPARE(f.label("qa"), QStringLiteral("00"));
  QTest::qWait(20);
  QCOMPARE(f.label("qpc"), QStringLiteral("0000"));  // Start itself executes nothing

  f.action("menustep")->trigger();
  QCOMPARE(f.label("instrukcija"), QStringLiteral("LD BC,1234H"));
  QCOMPARE(f.label("qb"), QStringLiteral("12"));
  QCOMPARE(f.label("qc"), QStringLiteral("34"));
  QCOMPARE(f.label("qpc"), QStringLiteral("0003"));
  f.action("menustep")->trigger();
  QCOMPARE(f.label("instrukcija"), QStringLiteral("LD A,0AH"));
  QCOMPARE(f.label("qa"), QStringLiteral("0A"));
  f.action("menustep")->trigger();
  QCOMPARE(f.label("instrukcija"), QStringLiteral("NOP"));
  QCOMPARE(f.label("qpc"), QStringLiteral("0006"));
}

void TestMainWindow::eachRateSetsItsInterval_data() {
  QTest::addColumn<int>("rate");
  QTest::addColumn<int>("interval");
  QTest::newRow("step by step") << 1 << 0;
  QTest::newRow("slow") << 2 << 1500;
  QTest::newRow("normal") << 3 << 250;
  QTest::newRow("fast") << 4 << 1;
}

void TestMainWindow::eachRateSetsItsInterval() {
  QFETCH(int, rate);
  QFETCH(int, interval);
  Fixture f;
  f.chooseRate(rate);
  QCOMPARE(f.w.rate(), rate);
  f.action("menustart")->trigger();
  QCOMPARE(f.w.clockInterval(), interval);
  f.action("menustop")->trigger();
  QCOMPARE(f.w.clockInterval(), 0);
}

void TestMainWindow::extremelyFastStopsBeforeHalt() {
  Fixture f;
  f.load({0x76});
  f.chooseRate(5);
  f.action("menustart")->trigger();
  QCOMPARE(f.label("instrukcija"), QStringLiteral("HALT"));
  QCOMPARE(f.label("qpc"), QStringLiteral("0000"));
  QCOMPARE(f.w.lastFastRun()->instructions, 0);
  QCOMPARE(f.menuState(), kStopped);
}

void TestMainWindow::extremelyFastEndsAfterOneMillionInstructions() {
  Fixture f;
  f.load({0x18, 0xFE});  // JR FEH: a jump to itself
  f.chooseRate(5);
  f.action("menustart")->trigger();
  QCOMPARE(f.w.lastFastRun()->instructions, 1'000'000);
  QCOMPARE(f.label("instrukcija"), QStringLiteral("JR FEH"));
  QCOMPARE(f.label("qpc"), QStringLiteral("0000"));
  QCOMPARE(f.menuState(), kStopped);
  QVERIFY(f.messages.isEmpty());
}

void TestMainWindow::shortcutsReachNothingDuringExtremelyFastRun() {
  // Start, Loader and Viewer stay enabled inside their disabled menus; their keys must
  // still do nothing while the loop runs.
  Fixture f;
  f.load({0x18, 0xFE});
  f.w.show();
  QVERIFY(QTest::qWaitForWindowActive(&f.w));
  f.chooseRate(5);
  f.w.setPumpInterval(std::chrono::milliseconds(0));
  QTimer::singleShot(0, &f.w, [&] {
    QTest::keyClick(&f.w, Qt::Key_F1);
    QTest::keyClick(&f.w, Qt::Key_P, Qt::ControlModifier);
    QTest::keyClick(&f.w, Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(&f.w, Qt::Key_F1, Qt::ControlModifier);
  });
  f.action("menustart")->trigger();
  QCOMPARE(f.w.lastFastRun()->instructions, 1'000'000);
  QCOMPARE(f.w.rate(), 5);
  QVERIFY(f.messages.isEmpty());
  QCOMPARE(f.w.state().memory[0], 0x18);
  QVERIFY(!f.w.memoryViewer());

  // Once the run is over the same keys work again.
  QTest::keyClick(&f.w, Qt::Key_M, Qt::ControlModifier);
  QVERIFY(f.w.memoryViewer());
}

void TestMainWindow::loaderReportsThroughMessageBox() {
  Fixture f;
  f.w.state().memory[0x1234] = 0x99;
  f.action("menuloader")->trigger();
  QCOMPARE(f.messages.size(), 1);
  QVERIFY(
      f.messages[0].startsWith(QStringLiteral("Can't find file PROGRAM.BIN in the directory ")));
  QVERIFY(f.messages[0].contains(f.dir.path().toUpper()));
  QCOMPARE(f.w.state().memory[0x1234], 0);

  QFile bin(f.dir.filePath(QStringLiteral("program.bin")));
  QVERIFY(bin.open(QIODevice::WriteOnly));
  bin.write(QByteArray("\x3E\x05\x76", 3));
  bin.close();
  f.w.state().A = 0x55;
  f.action("menuloader")->trigger();
  QCOMPARE(f.messages.size(), 2);
  QCOMPARE(f.messages[1], QStringLiteral("Operation completed!"));
  QCOMPARE(f.w.state().memory[0], 0x3E);
  QCOMPARE(f.w.state().memory[1], 0x05);
  QCOMPARE(f.w.state().memory[2], 0x76);
  QCOMPARE(f.w.state().memory[3], 0);
  QCOMPARE(f.label("qa"), QStringLiteral("00"));
}

void TestMainWindow::portInputAsksAgainUntilTwoHexDigits() {
  Fixture f;
  f.load({0x00, 0xDB, 0x05});                                          // NOP; IN A,(05H)
  f.answers = {QStringLiteral("5"), QString(), QStringLiteral("0a")};  // the empty one is Cancel
  f.chooseRate(1);
  f.action("menustart")->trigger();
  f.action("menustep")->trigger();
  f.action("menustep")->trigger();
  const QString first = QStringLiteral("0001H: Enter data received on port 05H [00-FF]!");
  QCOMPARE(f.prompts,
           QStringList({first, "WRONG ENTRY !!!\r\n" + first, "WRONG ENTRY !!!\r\n" + first}));
  QCOMPARE(f.label("instrukcija"), QStringLiteral("IN A,(05H)"));
  QCOMPARE(f.label("qa"), QStringLiteral("0A"));
  QCOMPARE(f.label("qpc"), QStringLiteral("0003"));
}

void TestMainWindow::noInstructionStartsWhileInputBoxIsOpen() {
  // Fast rate: the 1 ms ticks that fall due while the box is open must start nothing.
  Fixture f;
  f.load({0xDB, 0x07});  // IN A,(07H), then NOPs
  int pcWhileOpen = -1;
  f.w.setPromptFunction([&](const QString& prompt) {
    f.prompts << prompt;
    QTest::qWait(60);
    pcWhileOpen = f.w.state().PC;
    f.w.menustop_Click();
    return QStringLiteral("C3");
  });
  f.action("menustart")->trigger();
  QTRY_COMPARE(f.prompts.size(), 1);
  QTest::qWait(20);
  QCOMPARE(f.prompts.size(), 1);
  QCOMPARE(pcWhileOpen, 0);
  QCOMPARE(f.w.state().A, 0xC3);
  QCOMPARE(f.w.state().PC, 2);  // the stop during the box ended the run after the IN

  // Step by Step: a Step pressed while the box is open is refused, visibly.
  Fixture g;
  g.load({0xDB, 0x07});
  g.w.setPromptFunction([&](const QString& prompt) {
    g.prompts << prompt;
    g.action("menustep")->trigger();
    return QStringLiteral("01");
  });
  g.chooseRate(1);
  g.action("menustart")->trigger();
  g.action("menustep")->trigger();
  QCOMPARE(g.prompts.size(), 1);
  QCOMPARE(g.w.state().PC, 2);
  QCOMPARE(g.w.statusBar()->currentMessage(),
           QStringLiteral("Step ignored: an instruction is still running"));
}

void TestMainWindow::failedPortOutputStopsTheRunAndSaysWhy() {
  Fixture f;
  QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("out.log")));  // cannot be written as a file
  f.load({0x00, 0xD3, 0x05});                                    // NOP; OUT (05H),A
  f.action("menustart")->trigger();                              // Fast
  QTRY_COMPARE(f.messages.size(), 1);
  QVERIFY2(f.messages[0].contains(QStringLiteral("out.log")), qPrintable(f.messages[0]));
  QCOMPARE(f.menuState(), kStopped);
  QCOMPARE(f.w.clockInterval(), 0);
  QCOMPARE(f.label("qpc"), QStringLiteral("0001"));  // on the OUT that could not be recorded
}

void TestMainWindow::portOutputAppendsOneLinePerOut() {
  Fixture f;
  f.load({0x3E, 0x41, 0xD3, 0x05, 0xAF, 0xD3, 0x00, 0x76});  // A=41H, OUT (05H); A=0, OUT (00H)
  f.action("menustart")->trigger();
  QTRY_COMPARE(f.label("instrukcija"), QStringLiteral("HALT"));
  QCOMPARE(f.outLog(),
           QStringLiteral("Data 41H sent to port 05H\r\nData 00H sent to port 00H\r\n"));
}

void TestMainWindow::closingDuringExtremelyFastRunEndsCleanly() {
  Fixture f;
  f.load({0x3E, 0x41, 0xD3, 0x05, 0x18, 0xFE});  // one OUT, then a jump to itself
  f.w.show();
  f.w.menuviewer_Click();
  QPointer<QWidget> viewer = f.w.memoryViewer();
  f.chooseRate(5);
  f.w.setPumpInterval(std::chrono::milliseconds(0));
  int quitsInsideRun = -1;
  QTimer::singleShot(0, &f.w, [&] {
    f.w.close();
    quitsInsideRun = f.quits;
  });
  f.action("menustart")->trigger();
  QCOMPARE(quitsInsideRun, 0);  // the program ends only once the run has unwound
  QCOMPARE(f.quits, 1);
  QCOMPARE(f.w.lastFastRun()->end, korvel::RunEnd::StopRequested);
  QVERIFY(f.w.lastFastRun()->instructions < 1'000'000);
  QVERIFY(!f.w.isVisible());
  QTRY_VERIFY(!viewer);
  QCOMPARE(f.outLog(), QStringLiteral("Data 41H sent to port 05H\r\n"));
  QVERIFY(f.messages.isEmpty());
}

void TestMainWindow::closingWithInputBoxOpenAbandonsTheInstruction() {
  Fixture f;
  f.load({0xDB, 0x05});
  f.w.show();
  f.w.setPromptFunction([&](const QString& prompt) {
    f.prompts << prompt;
    f.w.close();
    return QStringLiteral("12");
  });
  f.chooseRate(1);
  f.action("menustart")->trigger();
  f.action("menustep")->trigger();
  QCOMPARE(f.prompts.size(), 1);
  QCOMPARE(f.quits, 1);
  QCOMPARE(f.w.state().A, 0);  // the IN was abandoned, nothing changed
  QCOMPARE(f.w.state().PC, 0);
  QVERIFY(!f.w.isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
