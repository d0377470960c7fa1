// The windows driven as the user drives them: menus, rates, Step and Stop, the loader, the port
// boxes, closing, the memory viewer and the help and About windows. Expected texts and values
// are the ones the user sees.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "ui/mainwindow.h"

namespace {

// A window in its own application directory whose message and input boxes are scripted.
struct Fixture {
  QTemporaryDir dir;
  MainWindow w{std::filesystem::path(dir.path().toStdString())};
  QStringList messages, prompts, answers;  // answers are taken in order
  int quits = 0;

  Fixture() {
    w.setMessageFunction([this](const QString& text) { messages << text; });
    w.setPromptFunction([this](const QString& prompt) {
      prompts << prompt;
      return answers.isEmpty() ? QStringLiteral("unexpected prompt") : answers.takeFirst();
    });
    w.setQuitFunction([this] { ++quits; });
    w.setPumpInterval(std::chrono::milliseconds(0));  // events reach a rate-5 run at once
  }
  void load(const QByteArray& bytes) {
    for (int i = 0; i < bytes.size(); ++i) w.state().memory[i] = static_cast<quint8>(bytes[i]);
  }
  // The texts of the named children of `parent` (by default the window), joined by blanks.
  QString texts(const char* names, QObject* parent = nullptr) {
    QStringList out;
    for (const QString& name : QString::fromLatin1(names).split(' ')) {
      QObject* o = (parent ? parent : &w)->findChild<QObject*>(name);
      out << o->property(o->inherits("QPlainTextEdit") ? "plainText" : "text").toString();
    }
    return out.join(' ');
  }
  void trigger(const char* name) { w.findChild<QAction*>(name)->trigger(); }
  void chooseRate(int n) { trigger(qPrintable(QStringLiteral("menuspeed%1").arg(n))); }
  // The menus and items that are disabled, in menu order.
  QString disabled() {
    QStringList off;
    for (const char* name : {"menu1", "menustart", "menustep", "menustop", "menu2", "menuloader",
                             "menuviewer", "menu3", "menu4"})
      if (!w.findChild<QObject*>(name)->property("enabled").toBool()) off << name;
    return off.join(' ');
  }
  QStringList rows() { return texts("tabla", w.memoryViewer()).split('\n'); }
  QString page() { return texts("prefiks", w.memoryViewer()) + ' ' + rows()[0]; }
  QScrollBar* bar() { return w.memoryViewer()->findChild<QScrollBar*>("skrolbar"); }
};

const QByteArray kLoop("\x18\xFE", 2);  // JR FEH: a jump to itself
const QString kStopped = QStringLiteral("menustep menustop");
const QString kZeros = QStringLiteral("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");

}  // namespace

class TestWindows : public QObject {
  Q_OBJECT

 private slots:
  void startUpShowsTheResetMachineAndTheMenus() {
    Fixture f;
    QCOMPARE(f.w.windowTitle(), "Korvel");
    QCOMPARE(f.texts("qix qiy qsp qpc qa qb qc qd qe qh ql qqa qqb qqc qqd qqe qqh qql qca qze "
                     "qsi qpa qqca qqze qqsi qqpa instrukcija"),
             "0000 0000 0000 0000 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0 0 0 0 0 0 0 0 ");
    QStringList captions;
    for (QLabel* l : f.w.findChildren<QLabel*>())
      if (l->objectName().isEmpty()) captions << l->text();
    QCOMPARE(captions.join(' '),
             "Current instruction: A B C D E H L Carry Zero Sign Parity A' B' C' D' E' H' L' "
             "Carry' Zero' Sign' Parity' IX SP IY PC");
    // Every menu with its items, their keys and the check mark on the rate.
    QStringList menus;
    for (QAction* top : f.w.menuBar()->actions()) {
      menus << top->menu()->title();
      for (QAction* a : top->menu()->actions())
        menus << a->text() + ' ' + a->shortcut().toString() + (a->isChecked() ? " *" : "");
    }
    QCOMPARE(menus.join(" | "),
             "&Simulation | Start F1 | Step F2 | Stop F3 | &Tools | &Program Loader Ctrl+P | "
             "&Memory Viewer Ctrl+M | &Rate | &1 Step by Step Ctrl+F1 | &2 Slow Ctrl+F2 | "
             "&3 Normal Ctrl+F3 | &4 Fast Ctrl+F4 * | &5 Extremely Fast Ctrl+F5 | &Help | "
             "&Basic Help Topics Ctrl+B | &About Korvel Ctrl+A");
    QCOMPARE(f.w.rate(), 4);
    QTest::qWait(20);  // nothing runs until Start
    QCOMPARE(f.texts("qpc"), "0000");
  }

  // "then" follows Start: nothing (""), "stop" or "halt"; or "inside" looks from inside the
  // rate-5 run, and "no Start" leaves out Start.
  void menusAndClockFollowThePhase_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("then");
    QTest::addColumn<QString>("disabled");
    QTest::addColumn<int>("interval");
    const QString timer = QStringLiteral("menustart menustep menuloader menu3");
    QTest::newRow("after start-up") << 4 << "no Start" << kStopped << 0;
    QTest::newRow("running at rate 1") << 1 << ""
                                       << "menustart menuloader menu3" << 0;
    QTest::newRow("running at rate 2") << 2 << "" << timer << 1500;
    QTest::newRow("running at rate 3") << 3 << "" << timer << 250;
    QTest::newRow("running at rate 4") << 4 << "" << timer << 1;
    QTest::newRow("inside a rate-5 run") << 5 << "inside"
                                         << "menu1 menustep menustop menu2 menu3 menu4" << 0;
    QTest::newRow("after Stop") << 3 << "stop" << kStopped << 0;
    QTest::newRow("after HALT") << 4 << "halt" << kStopped << 0;
    QTest::newRow("after a rate-5 run") << 5 << "" << kStopped << 0;
  }
  void menusAndClockFollowThePhase() {
    QFETCH(int, rate);
    QFETCH(QString, then);
    QFETCH(QString, disabled);
    QFETCH(int, interval);
    Fixture f;
    f.load(then == "halt" ? QByteArray("\0\x76", 2) : kLoop);
    f.chooseRate(rate);
    QString inside;
    QTimer::singleShot(0, &f.w, [&] { inside = f.disabled(); });
    if (then != "no Start") f.trigger("menustart");
    if (then == "stop") f.trigger("menustop");
    if (then == "halt") QTRY_COMPARE(f.texts("instrukcija qpc"), "HALT 0001");
    QCOMPARE(then == "inside" ? inside : f.disabled(), disabled);
    QCOMPARE(f.w.clockInterval(), interval);
  }

  void startThenStepsRunOneInstructionEach() {
    Fixture f;
    f.load("\x01\x34\x12\x3E\x0A");  // LD BC,1234H; LD A,0AH; NOP
    f.w.state().A = 0x77;            // Start resets the registers first
    f.chooseRate(1);
    f.trigger("menustart");
    QTest::qWait(20);
    QCOMPARE(f.texts("instrukcija qpc qa qb qc"), " 0000 00 00 00");  // Start runs nothing
    for (const char* after :
         {"LD BC,1234H 0003 00 12 34", "LD A,0AH 0005 0A 12 34", "NOP 0006 0A 12 34"}) {
      f.trigger("menustep");
      QCOMPARE(f.texts("instrukcija qpc qa qb qc"), after);
    }
  }

  // The keys of Loader, the viewer and the rates do nothing during a rate-5 run, though the
  // items stay enabled inside their disabled menus, and work again after it.
  void extremelyFastRunEndsAtHaltOrAfterAMillion() {
    for (const auto& [program, text, count] :
         {std::tuple(QByteArray("\x76"), "HALT 0000", 0), {kLoop, "JR FEH 0000", 1'000'000}}) {
      Fixture f;
      f.load(program);
      f.w.show();
      QVERIFY(QTest::qWaitForWindowActive(&f.w));
      f.chooseRate(5);
      QTimer::singleShot(0, &f.w, [&] {
        for (Qt::Key key : {Qt::Key_P, Qt::Key_M, Qt::Key_F1})
          QTest::keyClick(&f.w, key, Qt::ControlModifier);
      });
      f.trigger("menustart");
      QCOMPARE(f.w.lastFastRun()->instructions, count);
      QCOMPARE(f.texts("instrukcija qpc"), text);
      QCOMPARE(f.w.rate(), 5);
      QVERIFY(f.messages.isEmpty() && !f.w.memoryViewer());
      QTest::keyClick(&f.w, Qt::Key_M, Qt::ControlModifier);
      QVERIFY(f.w.memoryViewer());
    }
  }

  void loaderReportsThroughTheMessageBox() {
    Fixture f;
    f.trigger("menuloader");
    QCOMPARE(f.messages, QStringList("Can't find file PROGRAM.BIN in the directory " +
                                     f.dir.path().toUpper() + "/"));
    QFile bin(f.dir.filePath("program.bin"));
    QVERIFY(bin.open(QIODevice::WriteOnly) && bin.write("\x3E\x05\x76", 3) == 3);
    bin.close();
    f.w.state().A = 0x55;
    f.trigger("menuloader");
    QCOMPARE(f.messages.value(1), "Operation completed!");
    QCOMPARE(f.w.state().memory[2], 0x76);
    QCOMPARE(f.texts("qa"), "00");
  }

  void noInstructionStartsWhileTheInputBoxIsOpen() {
    // Fast rate: the 1 ms ticks that fall due while the box is open start nothing.
    Fixture f;
    f.load("\xDB\x07");  // IN A,(07H), then NOPs
    int pcWhileOpen = -1;
    f.w.setPromptFunction([&](const QString& prompt) {
      f.prompts << prompt;
      QTest::qWait(60);
      pcWhileOpen = f.w.state().PC;
      f.w.menustop_Click();
      return QStringLiteral("C3");
    });
    f.trigger("menustart");
    QTRY_COMPARE(f.prompts.size(), 1);
    QTest::qWait(20);
    QCOMPARE(f.prompts.size(), 1);
    QCOMPARE(pcWhileOpen, 0);
    QCOMPARE(f.texts("qa qpc"), "C3 0002");  // the Stop during the box ended the run there

    // Step by Step: a wrong entry or Cancel ("") asks again; a Step pressed while the box is
    // open is refused, visibly; closing the window from the box abandons the IN.
    const QString first = QStringLiteral("0000H: Enter data received on port 07H [00-FF]!");
    const QString again = "WRONG ENTRY !!!\r\n" + first;
    for (bool closing : {false, true}) {
      Fixture g;
      g.load("\xDB\x07");
      g.answers = QStringList{"5", "", "0a"};
      g.w.setPromptFunction([&](const QString& prompt) {
        g.prompts << prompt;
        g.trigger("menustep");
        if (closing) g.w.close();
        return g.answers.takeFirst();
      });
      g.chooseRate(1);
      g.trigger("menustart");
      g.trigger("menustep");
      QCOMPARE(g.prompts.join(" | "), closing ? first : first + " | " + again + " | " + again);
      QCOMPARE(g.texts("instrukcija qa qpc"),
               closing ? "IN A,(07H) 00 0000" : "IN A,(07H) 0A 0002");
      QCOMPARE(g.quits, closing ? 1 : 0);
      QCOMPARE(g.w.statusBar()->currentMessage(), "Step ignored: an instruction is still running");
    }
  }

  void failedPortOutputStopsTheRunAndSaysWhy() {
    Fixture f;
    QVERIFY(QDir(f.dir.path()).mkdir("out.log"));  // cannot be written as a file
    f.load(QByteArray("\0\xD3\x05", 3));           // NOP; OUT (05H),A
    f.trigger("menustart");                        // Fast
    QTRY_COMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0], "Cannot write to " + f.dir.path() + "/out.log: Is a directory");
    QCOMPARE(f.disabled(), kStopped);
    QCOMPARE(f.w.clockInterval(), 0);
    QCOMPARE(f.texts("qpc"), "0001");  // on the OUT that could not be recorded
  }

  void closingDuringExtremelyFastRunEndsCleanly() {
    Fixture f;
    f.load("\x3E\x41\xD3\x05\x18\xFE");  // one OUT, then a jump to itself
    f.w.show();
    f.w.menuviewer_Click();
    QPointer<QWidget> viewer = f.w.memoryViewer();
    f.chooseRate(5);
    int quitsInsideRun = -1;
    QTimer::singleShot(0, &f.w, [&] {
      f.w.close();
      quitsInsideRun = f.quits;
    });
    f.trigger("menustart");
    QCOMPARE(quitsInsideRun, 0);  // the program ends only once the run has unwound
    QCOMPARE(f.quits, 1);
    QCOMPARE(f.w.lastFastRun()->end, korvel::RunEnd::StopRequested);
    QVERIFY(!f.w.isVisible() && f.messages.isEmpty());
    QTRY_VERIFY(!viewer);
    QFile log(f.dir.filePath("out.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), "Data 41H sent to port 05H\r\n");
  }

  void viewerShowsAPageFollowsTheScrollBarAndRemembersIt() {
    Fixture f;
    f.w.state().memory[0x0000] = 0x3E;
    f.w.state().memory[0x00FF] = 0xAB;
    f.w.state().memory[0xFFFF] = 0x01;
    f.w.menuviewer_Click();
    MemoryViewer* v = f.w.memoryViewer();
    QVERIFY(QTest::qWaitForWindowActive(v));
    QCOMPARE(v->windowTitle(), "Memory Viewer");
    QCOMPARE(f.texts("Text1 prefiks", v), " 0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F 00");
    const QStringList rows = f.rows();
    QCOMPARE(rows.size(), 16);
    for (const QString& row : rows) QCOMPARE(row.size(), 54);
    QCOMPARE(rows[0], "0000: 3E 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");
    QCOMPARE(rows[15], "00F0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB ");
    f.bar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(f.page(), "10 1000: " + kZeros);
    // Dragging the thumb changes only the prefix; the rows follow on release.
    f.bar()->setSliderDown(true);
    f.bar()->setSliderPosition(0x12);
    QCOMPARE(f.page(), "12 1000: " + kZeros);
    f.bar()->setSliderDown(false);
    QCOMPARE(f.page(), "12 1200: " + kZeros);

    // A click into the rows leaves the keys with the scroll bar; an arrow moves one page.
    QTest::mouseClick(v->findChild<QPlainTextEdit*>("tabla")->viewport(), Qt::LeftButton);
    QTRY_COMPARE(QApplication::focusWidget(), f.bar());
    QTest::keyClick(f.bar(), Qt::Key_Down);
    // Memory changed behind the window shows at the next rendering only; choosing the item
    // again raises the same window.
    f.w.state().memory[0x1300] = 0xEE;
    f.w.menuviewer_Click();
    QCOMPARE(f.w.memoryViewer(), v);
    QCOMPARE(f.page(), "13 1300: " + kZeros);
    QTest::keyClick(f.bar(), Qt::Key_Up);
    QTest::keyClick(f.bar(), Qt::Key_Down);
    QCOMPARE(f.rows()[0], "1300: EE 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");

    // The page outlives the window: reopened, it shows the last page again.
    f.bar()->triggerAction(QAbstractSlider::SliderToMaximum);
    v->close();
    QTRY_VERIFY(!f.w.memoryViewer());
    f.w.menuviewer_Click();
    QCOMPARE(f.page(), "FF FF00: " + kZeros);
    QCOMPARE(f.rows()[15], "FFF0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 ");
  }

  void helpAndAboutHoldTheirTextsAndOpenOnce() {
    const QString expected = QStringLiteral(R"t(1. When you start Korvel the whole memory
(64K address range 0000H-FFFFH) is filled with NOPs
(opcode 00H).

2. You can load a program into memory by selecting
\Tools\Program Loader from the menu or by pressing
Ctrl+P on the keyboard. The program must be a binary
image starting from address 0000H and must be
contained in the file PROGRAM.BIN in the application
directory.

3. The simulation rate can be selected from the menu.
Menu item \Rate contains five choices:
- Step by Step (Interval = at your will)
- Slow (Interval = 1500 ms)
- Normal (Interval = 250 ms)
- Fast (Interval = around 50 ms)
- Extremely Fast (Interval = Extremely Short)

4. HEX memory viewer is available by selecting
\Tools\Memory Viewer from the menu or by pressing
Ctrl+M. It has a scroll bar that is very easy to use.

5. The simulation starts by pressing F1 on the keyboard
or by selecting \Simulation\Start from the menu.
The simulation will automatically stop when it reaches
a HALT (opcode 76H) instruction, or when user presses
F3 which is equivalent to \Simulation\Stop from
the menu. When Extremely Fast rate is selected
the whole menu is not enabled and simulation will stop
only when HALT is encountered. When Step by Step
rate is selected, next instruction is executed on every
click on F2.

6. Only official Z80 instructions are simulated in
this version. Among them, the following instructions are
not simulated:  DAA; LD A,I; LD A,R; LD I,A; LD R,A;
DI; EI; IM 0; IM 1; IM 2; RETI; RETN.
These instructions are also recognized (the simulator
will not crash) but nothing is executed.

7. IN instructions prompt user to manually enter every
incoming byte on all ports. OUT instructions are logged
in OUT.LOG file in the application directory. Every OUT
instruction append a new line in the OUT.LOG file.

)t");
    Fixture f;
    f.w.menuhelp_Click();
    f.w.menuabout_Click();
    QWidget* help = f.w.helpWindow();
    QWidget* about = f.w.aboutWindow();
    QCOMPARE(help->windowTitle() + " | " + about->windowTitle(),
             "Basic Help Topics | About Korvel");
    const QStringList lines = f.texts("Text1", help).split('\n');
    const QStringList want = expected.split('\n');
    QCOMPARE(lines.size(), want.size());
    for (qsizetype i = 0; i < lines.size(); ++i) QCOMPARE(lines[i], want[i]);
    QVERIFY(f.texts("Text1", about).startsWith("Korvel\n"));
    f.w.menuhelp_Click();
    f.w.menuabout_Click();
    QCOMPARE(f.w.helpWindow(), help);
    QCOMPARE(f.w.aboutWindow(), about);
  }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
