// The secondary windows: the memory viewer's page dump and scrolling, and the help and
// About windows. Expected rows and texts are written out as the user reads them.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/mainwindow.h"

namespace {

struct Fixture {
  QTemporaryDir dir;
  MainWindow w{std::filesystem::path(dir.path().toStdString())};

  MemoryViewer* openViewer() {
    w.menuviewer_Click();
    return w.memoryViewer();
  }
  static QString text(QWidget* form, const char* name) {
    if (auto* line = form->findChild<QLineEdit*>(name)) return line->text();
    return form->findChild<QPlainTextEdit*>(name)->toPlainText();
  }
  static QStringList rows(QWidget* viewer) {
    return text(viewer, "tabla").split(QLatin1Char('\n'));
  }
};

const QString kZeroBytes = QStringLiteral("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");

}  // namespace

class TestWindows : public QObject {
  Q_OBJECT

 private slots:
  void viewerShowsSixteenRowsOfAPage();
  void viewerScrollsByPageAndKeepsItsPage();
  void draggingTheThumbChangesOnlyThePrefix();
  void viewerIsASnapshotAndKeepsTheFocusOnTheScrollBar();
  void helpWindowHoldsTheHelpTextLineByLine();
  void helpAndAboutOpenOnceEach();
};

void TestWindows::viewerShowsSixteenRowsOfAPage() {
  Fixture f;
  f.w.state().memory[0x0000] = 0x3E;
  f.w.state().memory[0x0001] = 0x05;
  f.w.state().memory[0x00FF] = 0xAB;
  MemoryViewer* v = f.openViewer();
  QCOMPARE(v->windowTitle(), QStringLiteral("Memory Viewer"));
  QVERIFY(!v->parentWidget());
  QCOMPARE(Fixture::text(v, "Text1"),
           QStringLiteral(" 0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F"));
  QCOMPARE(Fixture::text(v, "prefiks"), QStringLiteral("00"));
  const QStringList rows = Fixture::rows(v);
  QCOMPARE(rows.size(), 16);
  for (const QString& row : rows) QCOMPARE(row.size(), 54);
  QCOMPARE(rows[0], QStringLiteral("0000: 3E 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "));
  QCOMPARE(rows[1], "0010: " + kZeroBytes);
  QCOMPARE(rows[15], QStringLiteral("00F0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB "));
}

void TestWindows::viewerScrollsByPageAndKeepsItsPage() {
  Fixture f;
  f.w.state().memory[0xFFFF] = 0x01;
  MemoryViewer* v = f.openViewer();
  auto* bar = v->findChild<QScrollBar*>("skrolbar");
  QCOMPARE(bar->orientation(), Qt::Vertical);
  QCOMPARE(bar->minimum(), 0);
  QCOMPARE(bar->maximum(), 255);
  QCOMPARE(bar->singleStep(), 1);
  QCOMPARE(bar->pageStep(), 16);

  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  QCOMPARE(Fixture::text(v, "prefiks"), QStringLiteral("10"));
  QCOMPARE(Fixture::rows(v)[0], "1000: " + kZeroBytes);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  QCOMPARE(Fixture::text(v, "prefiks"), QStringLiteral("FF"));
  QStringList rows = Fixture::rows(v);
  QCOMPARE(rows[0], "FF00: " + kZeroBytes);
  QCOMPARE(rows[15], QStringLiteral("FFF0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 "));

  // The page belongs to the program: closing and reopening shows it again.
  v->close();
  QTRY_VERIFY(!f.w.memoryViewer());
  v = f.openViewer();
  QCOMPARE(v->findChild<QScrollBar*>("skrolbar")->value(), 255);
  QCOMPARE(Fixture::text(v, "prefiks"), QStringLiteral("FF"));
  QCOMPARE(Fixture::rows(v)[0], "FF00: " + kZeroBytes);
}

void TestWindows::draggingTheThumbChangesOnlyThePrefix() {
  Fixture f;
  MemoryViewer* v = f.openViewer();
  auto* bar = v->findChild<QScrollBar*>("skrolbar");
  bar->setSliderDown(true);
  bar->setSliderPosition(0x12);
  QCOMPARE(Fixture::text(v, "prefiks"), QStringLiteral("12"));
  QCOMPARE(Fixture::rows(v)[0], "0000: " + kZeroBytes);
  bar->setSliderDown(false);  // release
  QCOMPARE(Fixture::rows(v)[0], "1200: " + kZeroBytes);
  QCOMPARE(Fixture::text(v, "prefiks"), QStringLiteral("12"));
}

void TestWindows::viewerIsASnapshotAndKeepsTheFocusOnTheScrollBar() {
  Fixture f;
  MemoryViewer* v = f.openViewer();
  QVERIFY(QTest::qWaitForWindowActive(v));
  auto* bar = v->findChild<QScrollBar*>("skrolbar");
  auto* tabla = v->findChild<QPlainTextEdit*>("tabla");

  QTest::mouseClick(tabla->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  QTRY_COMPARE(QApplication::focusWidget(), bar);
  QTest::keyClicks(tabla, QStringLiteral("12"));
  QCOMPARE(Fixture::rows(v)[0], "0000: " + kZeroBytes);
  QTest::keyClick(bar, Qt::Key_Down);  // arrow keys move one page
  QCOMPARE(Fixture::text(v, "prefiks"), QStringLiteral("01"));

  // Memory changed behind the window shows only at the next rendering; choosing the item
  // again only raises the same window.
  f.w.state().memory[0x0100] = 0xEE;
  QCOMPARE(Fixture::rows(v)[0], "0100: " + kZeroBytes);
  QCOMPARE(f.openViewer(), v);
  QCOMPARE(Fixture::rows(v)[0], "0100: " + kZeroBytes);
  QTest::keyClick(bar, Qt::Key_Up);
  QTest::keyClick(bar, Qt::Key_Down);
  QCOMPARE(Fixture::rows(v)[0],
           QStringLiteral("0100: EE 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "));
}

void TestWindows::helpWindowHoldsTheHelpTextLineByLine() {
  const QStringList expected = {
      "1. When you start Korvel the whole memory",
      "(64K address range 0000H-FFFFH) is filled with NOPs",
      "(opcode 00H).",
      "",
      "2. You can load a program into memory by selecting",
      "\\Tools\\Program Loader from the menu or by pressing",
      "Ctrl+P on the keyboard. The program must be a binary",
      "image starting from address 0000H and must be",
      "contained in the file PROGRAM.BIN in the application",
      "directory.",
      "",
      "3. The simulation rate can be selected from the menu.",
      "Menu item \\Rate contains five choices:",
      "- Step by Step (Interval = at your will)",
      "- Slow (Interval = 1500 ms)",
      "- Normal (Interval = 250 ms)",
      "- Fast (Interval = around 50 ms)",
      "- Extremely Fast (Interval = Extremely Short)",
      "",
      "4. HEX memory viewer is available by selecting",
      "\\Tools\\Memory Viewer from the menu or by pressing",
      "Ctrl+M. It has a scroll bar that is very easy to use.",
      "",
      "5. The simulation starts by pressing F1 on the keyboard",
      "or by selecting \\Simulation\\Start from the menu.",
      "The simulation will automatically stop when it reaches",
      "a HALT (opcode 76H) instruction, or when user presses",
      "F3 which is equivalent to \\Simulation\\Stop from",
      "the menu. When Extremely Fast rate is selected",
      "the whole menu is not enabled and simulation will stop",
      "only when HALT is encountered. When Step by Step",
      "rate is selected, next instruction is executed on every",
      "click on F2.",
      "",
      "6. Only official Z80 instructions are simulated in",
      "this version. Among them, the following instructions are",
      "not simulated:  DAA; LD A,I; LD A,R; LD I,A; LD R,A;",
      "DI; EI; IM 0; IM 1; IM 2; RETI; RETN.",
      "These instructions are also recognized (the simulator",
      "will not crash) but nothing is executed.",
      "",
      "7. IN instructions prompt user to manually enter every",
      "incoming byte on all ports. OUT instructions are logged",
      "in OUT.LOG file in the application directory. Every OUT",
      "instruction append a new line in the OUT.LOG file.",
      "",
  };
  Fixture f;
  f.w.menuhelp_Click();
  QWidget* help = f.w.helpWindow();
  QCOMPARE(help->windowTitle(), QStringLiteral("Basic Help Topics"));
  QStringList lines = Fixture::text(help, "Text1").split(QLatin1Char('\n'));
  QCOMPARE(lines.takeLast(), QString());  // the text ends with a line break
  QCOMPARE(lines.size(), expected.size());
  for (qsizetype i = 0; i < lines.size(); ++i) QCOMPARE(lines[i], expected[i]);
}

void TestWindows::helpAndAboutOpenOnceEach() {
  Fixture f;
  f.w.menuhelp_Click();
  f.w.menuabout_Click();
  QWidget* help = f.w.helpWindow();
  QWidget* about = f.w.aboutWindow();
  f.w.menuhelp_Click();
  f.w.menuabout_Click();
  QCOMPARE(f.w.helpWindow(), help);
  QCOMPARE(f.w.aboutWindow(), about);
  int forms = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "Form3" || w->objectName() == "Form4") ++forms;
  QCOMPARE(forms, 2);
  QVERIFY(!about->parentWidget());
  QCOMPARE(about->windowTitle(), QStringLiteral("About Korvel"));
  const QString text = Fixture::text(about, "Text1");
  QVERIFY(text.startsWith(QStringLiteral("Korvel\n")));
  QVERIFY(text.contains(QStringLiteral("Version ")));
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
