// The windows driven as the user drives them, then a stress scenario of their control flow.
#include <QAbstractItemView>
#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "mainwindow.h"
#include "register_fields.h"
#include "registereditor.h"
#include "sourceeditor.h"

namespace {

// A window in its own application directory, with no recent programs, its message box, file
// dialog and quit scripted; rate-5 runs handle events at once.
struct Fixture {
  QTemporaryDir dir;
  bool settingsCleared = (QSettings("Korvel", "Korvel").clear(), true);
  MainWindow w{std::filesystem::path(dir.path().toStdString())};
  QStringList messages, dialogFolders;
  QString chosen;  // what the file dialog answers
  int quits = 0;
  // The answers to the unsaved-changes question, in turn (Cancel when none is left), the
  // questions asked, and what Save As's dialog answers.
  QList<MainWindow::SaveChoice> saveAnswers;
  QStringList questions;
  QString saveAs;

  Fixture() {
    w.setMessageFunction([this](const QString& text) { messages << text; });
    w.setSavePromptFunction([this](const QString& question) {
      questions << question;
      return saveAnswers.isEmpty() ? MainWindow::SaveChoice::Cancel : saveAnswers.takeFirst();
    });
    w.setSaveDialogFunction([this](const QString&) { return saveAs; });
    w.setQuitFunction([this] { ++quits; });
    w.setPumpInterval(std::chrono::milliseconds(0));
    w.setFileDialogFunction([this](const QString& folder) {
      dialogFolders << folder;
      return chosen;
    });
  }
  void load(const QByteArray& bytes) {
    for (int i = 0; i < bytes.size(); ++i) w.state().memory[i] = static_cast<quint8>(bytes[i]);
  }
  // Writes `bytes` to `name` below the directory (creating folders); returns the path.
  QString write(const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) qFatal("write");
    return path;
  }
  void open(const QString& path) {
    chosen = path;
    trigger("menuopen");
  }
  // The first bytes of memory, as hex digits.
  QString memory(int n = 4) {
    QString out;
    for (int i = 0; i < n; ++i) out += QString::asprintf("%02X", w.state().memory[i]);
    return out;
  }
  QMenu* recent() { return w.findChild<QMenu*>("menurecent"); }
  QStringList recentCaptions() {
    QStringList out;
    for (QAction* a : recent()->actions()) out << a->text();
    return out;
  }
  // The Output panel's lines, "~" in front of those marked undone.
  QStringList panelLines() {
    QStringList out;
    const OutputPanel* panel = w.outputPanel();
    for (int row = 0; row < panel->lineCount(); ++row)
      out << (panel->undone(row) ? "~" : "") + panel->line(row);
    return out;
  }
  // Drops `paths` on the window; whether the window took the drag.
  bool drop(const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QDragEnterEvent enter({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &dropped);
    return true;
  }
  void trigger(const char* name) { w.findChild<QAction*>(name)->trigger(); }
  void chooseRate(int n) { trigger(qPrintable(QStringLiteral("menuspeed%1").arg(n))); }
  QScrollBar* bar() { return w.memoryViewer()->findChild<QScrollBar*>("skrolbar"); }
  QString outLog(const QString& path = {}) {
    QFile log(path.isEmpty() ? dir.filePath("out.log") : path);
    return log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
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
  // The disabled menus and items; the File menu's items only when asked for.
  QString disabled(bool fileItems = false) {
    QStringList off, names{"menufile", "menu1",      "menustart",     "menustep", "menustop",
                           "menu2",    "menuloader", "menuviewer",    "menu3",    "menuview",
                           "menu4",    "menuSource", "sourceAssemble"};
    if (fileItems) names = QStringList{"menuopen", "menureload", "menurecent", "menuquit"} + names;
    for (const QString& name : names)
      if (!w.findChild<QObject*>(name)->property("enabled").toBool()) off << name;
    return off.join(' ');
  }
  QStringList rows() { return texts("tabla", w.memoryViewer()).split('\n'); }
  // Loads `bytes` as the user does, through program.bin and the Program Loader.
  void loadProgram(const QByteArray& bytes) {
    QFile bin(dir.filePath("program.bin"));
    if (bin.open(QIODevice::WriteOnly)) bin.write(bytes);
    bin.close();
    trigger("menuloader");
    messages.clear();
  }
  QString debugDisabled() {
    QStringList off;
    for (const char* name : {"menuDebug", "debugToolBar", "debugContinue", "debugStepInto",
                             "debugStepOver", "debugStepOut", "debugStepBack", "debugRunToCursor",
                             "debugToggleBreakpoint", "debugGoToAddress", "menustop"})
      if (!w.findChild<QObject*>(name)->property("enabled").toBool()) off << name;
    return off.join(' ');
  }
  QAbstractItemModel* panelModel(const char* view) {
    return w.findChild<QAbstractItemView*>(view)->model();
  }
  QString page() { return texts("prefiks", w.memoryViewer()) + ' ' + rows()[0]; }
  SourceEditor* editor() { return w.sourcePanel()->editor(); }
  // The editor's cursor as "line:column", both from 1.
  QString cursorAt() {
    const QTextCursor c = editor()->textCursor();
    return QString::asprintf("%d:%d", c.blockNumber() + 1, c.positionInBlock() + 1);
  }
  // (QTest's double click lacks the press before it, which the view waits for.)
  void doubleClickError(int row) {
    auto* list = w.errorsPanel()->findChild<QListWidget*>("errorsList");
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  }
  QString errors() {
    QStringList lines;
    for (int row = 0; row < w.errorsPanel()->count(); ++row) lines << w.errorsPanel()->line(row);
    return lines.join('\n');
  }
  // A click in the gutter beside `line`, and whether the gutter shows a breakpoint's red there.
  QWidget* gutter() { return editor()->findChild<QWidget*>("sourceGutter"); }
  int lineY(int line) {
    return editor()
        ->cursorRect(QTextCursor(editor()->document()->findBlockByNumber(line - 1)))
        .center()
        .y();
  }
  void clickGutter(int line) { QTest::mouseClick(gutter(), Qt::LeftButton, {}, {4, lineY(line)}); }
  bool gutterMarked(int line) {
    const QImage image = gutter()->grab().toImage();
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, lineY(line)) == QColor(200, 30, 30)) return true;
    return false;
  }
};

const QByteArray kLoop("\x18\xFE", 2);  // JR FEH
const QString kZeros = QStringLiteral("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ");

// Thousands of Steps and ticks over `loop: IN A,(01H); OUT (02H),A; INC B; LD A,B; OUT (03H),A;
// JR loop`. While the input box is open the script presses Step and lets ticks through: no
// second instruction may start, and every OUT executed reaches out.log exactly once.
struct Stress : Fixture {
  QStringList problems, runAnswers;  // the answers given since the last Start
  int answered = 0, depth = 0, logLinesSeen = 0;
  quintptr stackBase = 0, stackSpread = 0;

  Stress() {
    load(QByteArray("\xDB\x01\xD3\x02\x04\x78\xD3\x03\x18\xF6", 10));
    w.setPromptFunction([this](const QString& prompt) { return answer(prompt); });
  }
  QString answer(const QString& prompt) {
    // The frame address, not a local's: under AddressSanitizer locals may live elsewhere.
    const auto here = reinterpret_cast<quintptr>(__builtin_frame_address(0));
    if (stackBase == 0) stackBase = here;
    stackSpread = qMax(stackSpread, here > stackBase ? here - stackBase : stackBase - here);
    if (prompt != "0000H: Enter data received on port 01H [00-FF]!") problems << "asked " + prompt;
    if (!w.instructionInProgress()) problems << "input box outside an instruction";
    if (++depth > 1) problems << "a second instruction started while the input box was open";
    if (depth == 1 && answered % 5 == 0) {  // Step, and at Fast rate some ticks fall due
      trigger("menustep");
      QCoreApplication::processEvents();
      if (answered % 3 == 0) QTest::qWait(2);
    }
    --depth;
    return runAnswers.emplaceBack(QString::asprintf("%02X", answered++ & 0xFF));
  }
  // The lines the run added to out.log: for the i-th answer, the answer on port 02H, then i on
  // port 03H; the last pass ends where PC stands. Starts the next run's account.
  void checkRun() {
    const QStringList lines = outLog().split("\r\n", Qt::SkipEmptyParts);
    const QStringList added = lines.mid(qExchange(logLinesSeen, int(lines.size())));
    const int pc = w.state().PC, b = w.state().B, m = int(runAnswers.size());
    QStringList expected;
    for (int i = 1; i <= m && !(i == m && pc == 2); ++i) {
      expected << "Data " + runAnswers[i - 1] + "H sent to port 02H";
      if (i < m || pc < 4 || pc > 6)
        expected << QString::asprintf("Data %02XH sent to port 03H", i & 0xFF);
    }
    if (added != expected || b != (((pc == 2 || pc == 4) ? m - 1 : m) & 0xFF) || (!m && pc))
      problems << QString::asprintf("run of %d inputs ending at PC %d, B %d", m, pc, b);
    runAnswers.clear();
  }
};

}  // namespace

class TestWindows : public QObject {
  Q_OBJECT

  QTemporaryDir home_;  // the user's settings and data folder, for these tests only

 private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("XDG_CONFIG_HOME", home_.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", home_.filePath("data").toLocal8Bit());
  }

  void startUpShowsTheResetMachineAndTheMenus() {
    Fixture f;
    QCOMPARE(f.texts("qix qiy qsp qpc qa qb qc qd qe qh ql qqa qqb qqc qqd qqe qqh qql qca qze "
                     "qsi qpa qqca qqze qqsi qqpa instrukcija"),
             "0000 0000 0000 0000 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0 0 0 0 0 0 0 0 ");
    QStringList captions, menus;
    for (QLabel* l : f.w.findChildren<QLabel*>())
      if (l->objectName().isEmpty()) captions << l->text();
    QCOMPARE(
        f.w.windowTitle() + ' ' + captions.join(' '),
        "Korvel Current instruction: A B C D E H L Carry Zero Sign Parity A' B' C' D' E' H' L' "
        "Carry' Zero' Sign' Parity' IX SP IY PC");
    for (QAction* top : f.w.menuBar()->actions()) {
      menus << top->menu()->title();
      for (QAction* a : top->menu()->actions())
        if (!a->isSeparator())
          menus << a->text() + ' ' + a->shortcut().toString() + (a->isChecked() ? " *" : "");
    }
    QCOMPARE(
        menus,
        QString(
            "&File | &Open Program... Ctrl+O | &Reload Ctrl+R | Recent &Programs  | &Quit Ctrl+Q | "
            "S&ource | &New Source Ctrl+N | &Save Ctrl+S | Save &As... Ctrl+Shift+S | "
            "Assemble and &Load Ctrl+F9 | &Simulation | Start F1 | Step F2 | Stop F3 | &Tools | "
            "&Program Loader Ctrl+P | "
            "&Memory Viewer Ctrl+M | &Rate | &1 Step by Step Ctrl+F1 | &2 Slow Ctrl+F2 | "
            "&3 Normal Ctrl+F3 | &4 Fast Ctrl+F4 * | &5 Extremely Fast Ctrl+F5 | &View | "
            "Disassembly  | Breakpoints  | Stack  | Memory  | Source  | Errors  | &Output Panel  | "
            "&Debug | "
            "&Continue F5 | Step &Into F11 | Step &Over F10 | Step O&ut Shift+F11 | "
            "Step &Back Shift+F2 | &Run to Cursor Ctrl+F10 | &Toggle Breakpoint F9 | "
            "&Go to Address Ctrl+G | &Help | &Basic Help Topics Ctrl+B | &About Korvel Ctrl+A")
            .split(" | "));
    QVERIFY(f.w.runStatus().startsWith("Open a program with File > Open Program (Ctrl+O)"));
    QCOMPARE(f.texts("logFile"), "Log: " + f.dir.filePath("out.log"));
    f.w.show();
    QVERIFY(f.w.outputPanel()->isVisible() && f.w.outputPanel()->toggleViewAction()->isChecked());
    QCOMPARE(f.w.rate(), 4);
    QTest::qWait(20);  // nothing runs until Start
    QCOMPARE(f.texts("qpc"), "0000");
  }

  // Each row: the rate, what follows Start ("" nothing, "stop", "halt"; "inside" looks from
  // inside the rate-5 run, "-" leaves out Start, "none" also opens no program file), the
  // disabled items and the clock interval.
  void menusAndClockFollowThePhase() {
    const QString running = "menuopen menureload menurecent menustart";
    for (const QString& row : QStringList{
             "4 none: menureload menurecent menustep menustop / 0", "4 -: menustep menustop / 0",
             "1 : " + running + " menuloader menu3 sourceAssemble / 0",
             "2 : " + running + " menustep menuloader menu3 sourceAssemble / 1500",
             "3 : " + running + " menustep menuloader menu3 sourceAssemble / 250",
             "4 : " + running + " menustep menuloader menu3 sourceAssemble / 1",
             "5 inside: menufile menu1 menustep menustop menu2 menu3 menuview menu4 "
             "menuSource / 0",
             "3 stop: menustep menustop / 0", "4 halt: menustep menustop / 0",
             "5 : menustep menustop / 0"}) {
      Fixture f;
      const QString head = row.section(':', 0, 0), step = head.mid(2);
      const QByteArray program = step == "halt" ? QByteArray("\0\x76", 2) : kLoop;
      if (step == "none")
        f.load(program);
      else
        f.open(f.write("prog.bin", program));
      f.chooseRate(row[0].digitValue());
      if (step != "-" && step != "none") f.trigger("menustart");
      if (step == "stop") f.trigger("menustop");
      if (step == "halt") QTRY_COMPARE(f.texts("instrukcija qpc"), "HALT 0001");
      if (row[0] == '5' && step.isEmpty()) QTRY_VERIFY(f.w.lastFastRun());
      const QString off = f.disabled(true);  // "inside": the rate-5 run goes on between slices
      QCOMPARE(QStringLiteral("%1: %2 / %3").arg(head, off).arg(f.w.clockInterval()), row);
    }
  }

  // Every label shows its own field: each field gets a value no other field has.
  void everyValueLabelShowsItsOwnField() {
    Fixture f;
    QStringList expected;
    int n = 0;
    for (const korvel::RegisterField& field : korvel::kRegisterFields) {
      ++n;
      const int value = field.max == 1 ? n % 2 : (0x1235 * n) & field.max;
      f.w.state().*field.member = value;
      expected << QStringLiteral("%1").arg(value, field.digits(), 16, QLatin1Char('0')).toUpper();
    }
    f.w.ekran();
    QStringList shown;
    for (const korvel::RegisterField& field : korvel::kRegisterFields)
      shown << f.texts(field.label);
    QCOMPARE(shown, expected);
  }

  // The real input box at the Fast rate: Cancel and Escape ask again, Stop run ends the run
  // with the IN unexecuted, and closing the window while the box is open ends the program.
  void inputBoxCancelsStopsTheRunAndClosesWithTheWindow() {
    for (bool closeWindow : {false, true}) {
      Fixture f;
      f.load("\x3E\x41\xD3\x02\xDB\x01\x18\xFA");  // LD A,41H; OUT (02H),A; IN A,(01H); JR
      f.w.show();
      f.trigger("menustart");
      PortInputBox* box = f.w.portInputBox();
      QTRY_VERIFY(box->isVisible());
      const QString prompt = "0004H: Enter data received on port 01H [00-FF]!";
      QCOMPARE(f.texts("prompt", box), prompt);
      box->findChild<QLineEdit*>("entry")->setText("5");
      QTest::keyClick(box->findChild<QLineEdit*>("entry"), Qt::Key_Return);
      QTRY_COMPARE(f.texts("prompt", box), "WRONG ENTRY !!!\n" + prompt);
      QTest::keyClick(box, Qt::Key_Escape);
      QTRY_VERIFY(box->isVisible());
      QCOMPARE(f.texts("prompt", box), "WRONG ENTRY !!!\n" + prompt);
      QTest::qWait(20);  // ticks fall due meanwhile: none may run
      QCOMPARE(f.texts("qpc instrukcija"), "0004 IN A,(01H)");
      if (closeWindow) {
        f.w.close();
        QVERIFY(f.quits == 1 && !box->isVisible() && !f.w.controller().running());
      } else {
        box->findChild<QPushButton*>("stopRun")->click();
        QVERIFY(!box->isVisible());
        QCOMPARE(f.disabled() + ' ' + QString::number(f.w.clockInterval()), "menustep menustop 0");
        QCOMPARE(f.w.runStatus(),
                 "Stopped at 0004H: the IN there was not given its byte (Stop run)");
      }
      QCOMPARE(f.texts("qpc qa"), "0004 41");
      QCOMPARE(f.outLog(), "Data 41H sent to port 02H\r\n");
    }
  }

  void startThenStepsRunOneInstructionEach() {
    Fixture f;
    f.load("\x01\x34\x12\x3E\x0A");  // LD BC,1234H; LD A,0AH; NOP
    f.w.state().A = 0x77;            // Start resets the registers first
    f.chooseRate(1);
    f.trigger("menustart");
    QTest::qWait(20);
    QCOMPARE(f.texts("instrukcija qpc qa qb qc"), " 0000 00 00 00");
    for (const char* after :
         {"LD BC,1234H 0003 00 12 34", "LD A,0AH 0005 0A 12 34", "NOP 0006 0A 12 34"}) {
      f.trigger("menustep");
      QCOMPARE(f.texts("instrukcija qpc qa qb qc"), after);
    }
    QCOMPARE(f.texts("counts"), "Instructions: 3    T-states: 21");  // 10 + 7 + 4
  }

  // Ctrl+P, Ctrl+M and Ctrl+F1 do nothing during a rate-5 run; Ctrl+M works after it.
  void extremelyFastRunEndsAtHaltOrAfterAMillion() {
    for (const auto& [program, text, count, status] :
         {std::tuple(QByteArray("\x76"), "HALT 0000 menustep menustop", 0,
                     "HALT at 0000H: the program has stopped. Start runs the program again from "
                     "0000H"),
          {kLoop, "JR FEH 0000 menustep menustop", 1'000'000,
           "Stopped after 1,000,000 instructions without reaching HALT; Start runs the program "
           "again from 0000H"}}) {
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
      QTRY_VERIFY(f.w.lastFastRun());
      QCOMPARE(f.w.lastFastRun()->instructions, count);
      QCOMPARE(f.texts("instrukcija qpc") + ' ' + f.disabled(), text);
      QCOMPARE(f.w.runStatus(), status);
      QVERIFY(f.messages.isEmpty() && !f.w.memoryViewer() && f.w.rate() == 5);
      QTest::keyClick(&f.w, Qt::Key_M, Qt::ControlModifier);
      QVERIFY(f.w.memoryViewer());
    }
  }

  void loaderReportsThroughTheMessageBox() {
    Fixture f;
    f.trigger("menuloader");
    QFile bin(f.dir.filePath("program.bin"));
    QVERIFY(bin.open(QIODevice::WriteOnly) && bin.write("\x3E\x05\x76", 3) == 3 && bin.flush());
    f.w.state().A = 0x55;
    f.trigger("menuloader");
    QCOMPARE(f.messages, QStringList({"Can't find file PROGRAM.BIN in the directory " +
                                          f.dir.path().toUpper() + "/",
                                      "Operation completed!"}));
    QCOMPARE(f.w.state().memory[2], 0x76);
    QCOMPARE(f.texts("qa"), "00");
  }

  // Open through the dialog; a refusal that changes nothing; Reload of a changed file; the
  // recent list (newest first, eight at most, kept for the next window, a vanished file
  // removed); the Program Loader taking memory back from the file.
  void openReloadAndRecentPrograms() {
    Fixture f;
    const QString folder = f.dir.filePath("my progs");
    f.open(f.write("my progs/prog.bin", "\x3E\x05\x76"));
    QCOMPARE(f.memory() + ' ' + f.w.runStatus(),
             "3E057600 Loaded prog.bin: 3 bytes at 0000H-0002H; Start (F1) runs it from 0000H");
    QCOMPARE(f.texts("logFile") + ' ' + f.w.windowTitle(), "Log: " + folder + "/out.log Korvel");

    f.w.state().A = 0x12;
    f.open(f.write("my progs/bad.hex", ":0100000041BF\r\n:00000001FF\r\n"));
    QCOMPARE(f.messages, QStringList("Can't load file bad.hex in the directory " + folder +
                                     "/: line 1: bad checksum: expected BEH, found BFH"));
    QCOMPARE(f.memory() + ' ' + QString::number(f.w.state().A, 16), "3E057600 12");
    QCOMPARE(f.dialogFolders, QStringList({QDir::homePath(), folder}));

    f.write("my progs/prog.bin", "\x3E\x07");
    f.trigger("menureload");
    QCOMPARE(f.memory() + ' ' + QString::number(f.w.state().A, 16), "3E070000 0");

    for (char c = 'a'; c <= 'i'; ++c) f.open(f.write(QStringLiteral("%1.bin").arg(c), "\x76"));
    QStringList expected;
    for (char c = 'i'; c >= 'b'; --c)
      expected << QStringLiteral("&%1 %2")
                      .arg('i' - c + 1)
                      .arg(f.dir.filePath(QStringLiteral("%1.bin").arg(c)));
    QCOMPARE(f.recentCaptions(), expected);
    QCOMPARE(MainWindow(std::filesystem::path(f.dir.path().toStdString()))
                 .findChild<QMenu*>("menurecent")
                 ->actions()
                 .size(),
             8);

    f.messages.clear();
    f.load("\x3E");
    QVERIFY(QFile::remove(f.dir.filePath("h.bin")));
    f.recent()->actions()[1]->trigger();
    QCOMPARE(f.messages, QStringList("Can't find file " + f.dir.filePath("h.bin") +
                                     "; it is removed from Recent Programs."));
    expected.removeAt(1);
    for (int i = 1; i < expected.size(); ++i) expected[i].replace(1, 1, QString::number(i + 1));
    QCOMPARE(f.recentCaptions(), expected);
    QCOMPARE(f.memory(1), "3E");
    f.recent()->actions()[2]->trigger();  // f.bin comes first
    QCOMPARE(f.recentCaptions()[0], "&1 " + f.dir.filePath("f.bin"));
    QCOMPARE(f.memory(1), "76");

    f.trigger("menuloader");
    QCOMPARE(f.disabled(true), "menureload menustep menustop");
    QCOMPARE(f.texts("logFile"), "Log: " + f.dir.filePath("out.log"));
  }

  // PROGRAM from the command line, relative to the current directory, and one that is not
  // there; a dropped file, several files, and a drop while a run goes.
  void commandLinePathAndDroppedFiles() {
    Fixture f;
    f.write("work dir/ž prog.hex", ":030000003E417608\n:00000001FF\n");
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(f.dir.filePath("work dir"));
    const bool loaded = f.w.openProgram("ž prog.hex");
    const bool missing = f.w.openProgram("missing.bin");
    QDir::setCurrent(cwd);
    QVERIFY(loaded && !missing);
    QCOMPARE(f.memory() + ' ' + f.recentCaptions().join(' '),
             "3E417600 &1 " + f.dir.filePath("work dir/ž prog.hex"));
    QCOMPARE(f.messages, QStringList("Can't find file missing.bin in the directory " +
                                     f.dir.filePath("work dir") + "/"));

    QVERIFY(f.drop({f.write("d.bin", "\x76")}));
    QCOMPARE(f.memory(1), "76");
    QVERIFY(f.drop({f.dir.filePath("d.bin"), f.dir.filePath("work dir/ž prog.hex")}));
    QCOMPARE(f.messages.last(), "Drop one program file at a time; 2 files were dropped.");
    f.chooseRate(1);
    f.trigger("menustart");
    QVERIFY(!f.drop({f.write("e.bin", "\x3E")}));
    QCOMPARE(f.memory(1) + ' ' + QString::number(f.messages.size()), "76 2");
  }

  // Every OUT line in the panel as out.log has it, under the log's name; markUndone marks the
  // newest unmarked line; Clear empties the panel only. The program's folder takes no log
  // here, so the log is in the data folder, and the window says so.
  void outputPanelListsTheLinesOfTheLog() {
    Fixture f;
    const QString log =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/out.log";
    QFile::remove(log);
    QVERIFY(QDir(f.dir.path()).mkpath("ro/out.log"));
    f.open(f.write("ro/outs.bin", "\x3E\x41\xD3\x01\x3C\xD3\x02\x76"));
    QCOMPARE(f.texts("logFile") + " | " + f.texts("outputLogPath"),
             "Log: " + log + " | Log: " + log);
    const QString a = "Data 41H sent to port 01H", b = "Data 42H sent to port 02H";
    f.trigger("menustart");
    QTRY_COMPARE(f.panelLines(), QStringList({a, b}));
    f.w.outputPanel()->markUndone();
    QCOMPARE(f.panelLines(), QStringList({a, "~" + b}));
    f.chooseRate(5);
    f.trigger("menustart");
    QTRY_COMPARE(f.panelLines(), QStringList({a, "~" + b, a, b}));
    for (int i = 0; i < 4; ++i) f.w.outputPanel()->markUndone();
    QCOMPARE(f.panelLines(), QStringList({"~" + a, "~" + b, "~" + a, "~" + b}));
    f.w.outputPanel()->findChild<QPushButton*>("outputClear")->click();
    f.w.outputPanel()->markUndone();
    QCOMPARE(f.panelLines(), QStringList());
    f.trigger("menustart");
    QTRY_COMPARE(f.panelLines(), QStringList({a, b}));
    QCOMPARE(f.outLog(log), QString(a + "\r\n" + b + "\r\n").repeated(3));
    QVERIFY(QFileInfo(f.dir.filePath("ro/out.log")).isDir());
  }

  // A wrong entry or Cancel ("") asks again; a Step pressed while the box is open is refused,
  // visibly; closing the window from the box abandons the IN. (Ticks: see the stress test.)
  void stepByStepInputBoxAsksAgainAndRefusesStep() {
    const QString first = QStringLiteral("0000H: Enter data received on port 07H [00-FF]!");
    const QString again = "WRONG ENTRY !!!\r\n" + first;
    for (bool closing : {false, true}) {
      Fixture g;
      g.load("\xDB\x07");
      QStringList prompts, answers{"5", "", "0a"};
      g.w.setPromptFunction([&](const QString& prompt) {
        prompts << prompt;
        g.trigger("menustep");
        if (closing) g.w.close();
        return answers.takeFirst();
      });
      g.chooseRate(1);
      g.trigger("menustart");
      g.trigger("menustep");
      QCOMPARE(prompts.join(" | "), closing ? first : first + " | " + again + " | " + again);
      QCOMPARE(g.texts("instrukcija qa qpc"),
               closing ? "IN A,(07H) 00 0000" : "IN A,(07H) 0A 0002");
      QCOMPARE(g.quits, closing ? 1 : 0);
      QCOMPARE(g.w.statusBar()->currentMessage(), "Step ignored: an instruction is still running");
    }
  }

  void failedPortOutputStopsTheRunAndSaysWhy() {
    Fixture f;
    QVERIFY(QDir(f.dir.path()).mkdir("out.log"));
    f.load(QByteArray("\0\xD3\x05", 3));  // NOP; OUT (05H),A
    f.trigger("menustart");               // Fast
    QTRY_COMPARE(f.messages,
                 QStringList("Cannot write to " + f.dir.path() + "/out.log: Is a directory"));
    // Stopped, with PC on the OUT that could not be recorded.
    QCOMPARE(f.texts("qpc") + " " + f.disabled() + QString::number(f.w.clockInterval()),
             "0001 menustep menustop0");
  }

  void closingDuringExtremelyFastRunEndsCleanly() {
    Fixture f;
    f.load("\x3E\x41\xD3\x05\x18\xFE");  // one OUT, then a jump to itself
    f.w.show();
    f.w.menuviewer_Click();
    QPointer<QWidget> viewer = f.w.memoryViewer();
    f.chooseRate(5);
    f.trigger("menustart");
    QCoreApplication::processEvents();  // one slice: the OUT, then the loop goes on
    QVERIFY(f.outLog().size() > 0 && f.w.controller().running());
    f.w.close();
    QCOMPARE(f.quits, 1);
    QVERIFY(!f.w.controller().running() && !f.w.lastFastRun());
    QVERIFY(!f.w.isVisible() && f.messages.isEmpty());
    QTRY_VERIFY(!viewer);
    QCOMPARE(f.outLog(), "Data 41H sent to port 05H\r\n");
  }

  void viewerShowsAPageFollowsTheScrollBarAndRemembersIt() {
    Fixture f;
    f.load(QByteArray("\x3E").leftJustified(0xFF, '\0') + "\xAB");
    f.w.state().memory[0xFFFF] = 0x01;
    f.w.menuviewer_Click();
    MemoryViewer* v = f.w.memoryViewer();
    QVERIFY(QTest::qWaitForWindowActive(v));
    QCOMPARE(v->windowTitle() + '|' + f.texts("Text1 prefiks", v),
             "Memory Viewer| 0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F 00");
    const QStringList rows = f.rows();
    QCOMPARE(rows.size(), 16);
    for (const QString& row : rows) QCOMPARE(row.size(), 54);
    QCOMPARE(rows[0], "0000: 3E " + kZeros.mid(3));
    QCOMPARE(rows[15], "00F0: " + kZeros.left(45) + "AB ");
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
    for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down}) QTest::keyClick(f.bar(), key);
    QCOMPARE(f.rows()[0], "1300: EE " + kZeros.mid(3));
    // The page outlives the window: reopened, it shows the last page again.
    f.bar()->triggerAction(QAbstractSlider::SliderToMaximum);
    v->close();
    QTRY_VERIFY(!f.w.memoryViewer());
    f.w.menuviewer_Click();
    QCOMPARE(f.page(), "FF FF00: " + kZeros);
    QCOMPARE(f.rows()[15], "FFF0: " + kZeros.left(45) + "01 ");
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
- Fast (Interval = 1 ms)
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
when HALT is encountered or after 1,000,000
instructions. When Step by Step
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

8. The box that asks for an IN byte has three buttons.
OK takes the entry, Cancel asks again, and Stop run
stops the run without the byte: the IN is not executed
and PC stays on it. While the box is open, Stop (F3)
and closing the main window work as usual.
The status bar says how each run ended: at which HALT,
by Stop, after 1,000,000 instructions, or why an
instruction could not be completed.

)t");
    Fixture f;
    f.w.menuhelp_Click();
    f.w.menuabout_Click();
    QWidget *help = f.w.helpWindow(), *about = f.w.aboutWindow();
    QCOMPARE(help->windowTitle() + " | " + about->windowTitle(),
             "Basic Help Topics | About Korvel");
    // Topics 1 to 8 as they stand; topics 9 (the File menu), 10 (debugging) and 11 (the
    // Source menu) after them.
    const QString text = f.texts("Text1", help);
    QCOMPARE(text.left(expected.size()).split('\n'), expected.split('\n'));
    QVERIFY(text.mid(expected.size()).startsWith("9. ") && text.contains("\n\n10. The Debug") &&
            text.indexOf("\n\n11. The Source") > text.indexOf("\n\n10. ") && text.endsWith("\n\n"));
    QVERIFY(f.texts("Text1", about).startsWith("Korvel\n"));
    f.w.menuhelp_Click();
    f.w.menuabout_Click();
    QVERIFY(f.w.helpWindow() == help && f.w.aboutWindow() == about);
  }

  void stressStepsTicksStopStartViewerAndClose() {
    Stress f;
    const auto restart = [&](int rate) {
      f.trigger("menustop");
      f.checkRun();
      f.chooseRate(rate);
      f.trigger("menustart");
    };
    restart(1);  // 3000 Steps are 500 passes of the six-instruction loop
    for (int i = 0; i < 3000; ++i) f.trigger("menustep");
    QCOMPARE(f.runAnswers.size(), 500);
    restart(4);  // Fast: thousands of ticks with the viewer open and scrolled
    f.trigger("menuviewer");
    for (int chunk = 0; f.runAnswers.size() < 350 && chunk < 2000; ++chunk) {
      f.bar()->setValue(chunk * 37 % 256 + 1);
      QTest::qWait(5);
    }
    QVERIFY(f.runAnswers.size() >= 350);
    f.bar()->setValue(0);
    QCOMPARE(f.rows()[0], "0000: DB 01 D3 02 04 78 D3 03 18 F6 00 00 00 00 00 00 ");
    for (int i = 0; i < 300; ++i) {
      restart(4);
      if (i % 2 != 0) QTest::qWait(i % 4);
    }
    // Closing mid-run ends the program once and nothing runs after it.
    for (int chunk = 0; f.runAnswers.size() < 20 && chunk < 1000; ++chunk) QTest::qWait(5);
    f.w.close();
    QVERIFY(f.quits == 1 && f.w.clockInterval() == 0);
    const int answeredAtClose = f.answered;
    QTest::qWait(30);
    QCOMPARE(f.answered, answeredAtClose);
    f.checkRun();
    QVERIFY2((f.problems + f.messages).isEmpty(), qPrintable(f.problems.mid(0, 5).join('\n')));
    QVERIFY2(f.stackSpread < 64 * 1024, qPrintable(QString::number(f.stackSpread)));
  }

  // Each row: what was done ("-" nothing loaded; "load"; "step": load, Step Into; a rate:
  // load, Start at that rate, "5" looking from inside the run; "over": Step Over a CALL into a
  // loop), then the disabled Debug items and Stop.
  void debugMenuFollowsThePhase() {
    const QString run =
        "debugContinue debugStepInto debugStepOver debugStepOut debugStepBack "
        "debugRunToCursor";
    for (const QString& row : QStringList{"-: " + run + " menustop", "load: debugStepBack menustop",
                                          "step: menustop", "1: " + run, "3: " + run,
                                          "5: menuDebug debugToolBar " + run +
                                              " debugToggleBreakpoint debugGoToAddress menustop",
                                          "over: " + run}) {
      Fixture f;
      const QString done = row.section(':', 0, 0);
      if (done != "-") f.loadProgram(QByteArray("\xCD\x05\x00\x76\x00\x18\xFE", 7));
      if (done == "step") f.trigger("debugStepInto");
      if (done == "over") f.trigger("debugStepOver");  // CALL 0005H: the loop never returns
      if (done[0].isDigit()) {
        f.chooseRate(done.toInt());
        f.trigger("menustart");
      }
      QCOMPARE(done + ": " + f.debugDisabled(), row);
      if (done == "load")
        QVERIFY(
            f.w.findChild<QAction*>("debugStepBack")->toolTip().startsWith("Nothing to step back"));
      if (done == "over") {
        QCOMPARE(f.w.runStatus(), "Stepping over the instruction at 0000H");
        QTest::qWait(5);
        f.trigger("menustop");
        QCOMPARE(f.texts("qpc") + ' ' + f.debugDisabled(), "0005 menustop");
      }
    }
  }

  void breakpointsFromThePanelStopRunsAndContinueGoesOn() {
    Fixture f;
    f.loadProgram(QByteArray("\x06\x00\x04\x18\xFD", 5));  // LD B,00H; INC B; JR FDH (to INC B)
    auto* entry = f.w.findChild<QLineEdit*>("breakpointEntry");
    for (const char* typed : {"10000", "xyz", "12G4", "", "2"}) {
      entry->setText(typed);
      QTest::keyClick(entry, Qt::Key_Return);
    }
    QCOMPARE(f.messages,
             QStringList({"\"10000\" is past FFFFH, the last address of memory: give 0000 to FFFF.",
                          "There is no label \"xyz\": labels come with an assembled source. Give "
                          "an address in hexadecimal, 0000 to FFFF.",
                          "\"12G4\" is not an address: give hexadecimal digits, 0000 to FFFF, or "
                          "a label.",
                          "Type an address in hexadecimal, 0000 to FFFF, or a label."}));
    QCOMPARE(f.w.controller().breakpoints(), (std::map<std::int32_t, bool>{{2, true}}));
    QCOMPARE(f.panelModel("breakpointsView")->index(0, 2).data().toString(), "INC B");
    const QString atBreakpoint =
        "Stopped at the breakpoint at 0002H; Continue (F5) goes on from there";
    f.chooseRate(5);
    f.trigger("menustart");
    QTRY_VERIFY(f.w.lastFastRun());
    QCOMPARE(f.texts("qpc qb instrukcija") + ' ' + f.w.runStatus(),
             "0002 00 LD B,00H " + atBreakpoint);
    f.trigger("debugContinue");  // Extremely Fast, past the breakpoint and round the loop
    QTRY_VERIFY(f.w.lastFastRun());
    QCOMPARE(f.texts("qpc qb instrukcija") + ' ' + f.w.runStatus(),
             "0002 01 JR FDH " + atBreakpoint);
    f.chooseRate(4);
    f.trigger("debugContinue");  // the timer drives it, no `clean`
    QCOMPARE(f.w.runStatus(), "Running from 0002H");
    QTRY_COMPARE(f.w.runStatus(), atBreakpoint);
    QCOMPARE(f.texts("qpc qb") + ' ' + f.disabled(), "0002 02 menustep menustop");
    // Continue at a HALT says so and leaves everything as it is.
    QVERIFY(f.w.controller().setMemory(2, 0x76));
    f.trigger("debugContinue");
    QCOMPARE(f.messages.last(),
             "The program stands at the HALT at 0002H: Continue cannot go past "
             "it. Start (F1) runs the program again from 0000H.");
    QCOMPARE(f.texts("qpc qb instrukcija") + ' ' + f.disabled(), "0002 02 HALT menustep menustop");
  }

  void disassemblyShowsLinesTargetsAndBreakpoints() {
    Fixture f;
    // LD B,03H; LD A,(IX+FBH); LD (IY+12H),A; CALL 0010H; HALT; NOPs; 0010H: JR NZ,FBH
    f.loadProgram(QByteArray("\x06\x03\xDD\x7E\xFB\xFD\x77\x12\xCD\x10\x00\x76", 12)
                      .leftJustified(0x10, '\0') +
                  "\x20\xFB");
    f.w.setSymbols({{0x0010, "back"}});
    f.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.w));
    auto* view = f.w.findChild<QAbstractItemView*>("disassemblyView");
    QAbstractItemModel* m = view->model();
    const auto line = [m](int row) {
      QStringList cells;
      for (int c = 0; c < m->columnCount(); ++c) cells << m->index(row, c).data().toString();
      return cells.join('|');
    };
    QCOMPARE(
        QStringList({line(0), line(1), line(2), line(3), line(4), line(9)}),
        QStringList({" ▶|0000|06 03||LD B,03H|", " |0002|DD 7E FB||LD A,(IX+FBH)|; IX-5",
                     " |0005|FD 77 12||LD (IY+12H),A|; IY+18", " |0008|CD 10 00||CALL 0010H|; back",
                     " |000B|76||HALT|", " |0010|20 FB|back:|JR NZ,FBH|; 000DH"}));
    QVERIFY(m->index(0, 4).data(Qt::FontRole).value<QFont>().bold());
    // A double click sets a breakpoint on the line, F9 on the selected line clears it.
    // (QTest's double click lacks the press before it, which the view waits for.)
    const QPoint at = view->visualRect(m->index(3, 4)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(line(3).left(6) + ' ' + QString::number(f.w.controller().breakpoints().size()),
             "●|0008 1");
    f.trigger("debugToggleBreakpoint");
    QCOMPARE(line(3).left(6) + ' ' + QString::number(f.w.controller().breakpoints().size()),
             " |0008 0");
    // Go to an address inside an instruction: a line starts there.
    auto* goTo = f.w.findChild<QLineEdit*>("disassemblyGoTo");
    goTo->setText("3");
    QTest::keyClick(goTo, Qt::Key_Return);
    QCOMPARE(line(2) + " / " + line(3), " |0003|7E||LD A,(HL)| /  |0004|FB||EI|");
    // A step moves the highlight and the selection to PC.
    f.trigger("debugStepInto");
    QCOMPARE(line(1).left(7), " ▶|0002");
    QCOMPARE(view->selectionModel()->selectedRows().first().row(), 1);
  }

  void changedValuesAreMarked() {
    Fixture f;
    f.loadProgram("\x3E\x05\x77\x06\x00");  // LD A,05H; LD (HL),A (to 0000H); LD B,00H
    QAbstractItemModel* memory = f.panelModel("memoryView");
    const auto marked = [&] {
      QStringList names;
      for (const korvel::RegisterField& field : korvel::kRegisterFields) {
        auto* label = f.w.findChild<QLabel*>(field.label);
        if (label->property("changed").toBool() && label->font().bold()) names << field.name;
      }
      for (int a = 0; a < 16; ++a)
        if (memory->index(0, a).data(Qt::FontRole).value<QFont>().bold())
          names << QString::asprintf("(%04X)", a);
      return names.join(' ');
    };
    QCOMPARE(marked(), "");
    QStringList after;
    for (int i = 0; i < 3; ++i) {
      f.trigger("debugStepInto");
      after << marked();
    }
    QCOMPARE(after, QStringList({"PC A", "PC (0000)", "PC"}));  // B was 00 already
  }

  void registerEditsAreCheckedAndFlagsToggle() {
    Fixture f;
    f.loadProgram(QByteArray(1, '\0'));
    f.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.w));
    const auto edit = [&f](const char* name, const QString& text) {
      QTest::mouseDClick(f.w.findChild<QLabel*>(name), Qt::LeftButton);
      QLineEdit* editor = f.w.debugPanels()->registerEditor()->editor();
      if (!editor) return false;
      editor->setText(text);
      QTest::keyClick(editor, Qt::Key_Return);
      return true;
    };
    for (const char* typed : {"123", "G1", "", "5"}) QVERIFY(edit("qa", typed));
    QVERIFY(edit("qsp", "12345"));
    const QString a = "A takes two hexadecimal digits (00 to FF), such as 0A; %1. A stays 00.";
    QCOMPARE(f.messages, QStringList({a.arg("\"123\" is not"), a.arg("\"G1\" is not"),
                                      a.arg("nothing was typed"), a.arg("\"5\" is not"),
                                      "SP takes four hexadecimal digits (0000 to FFFF), such as "
                                      "F000; \"12345\" is not. SP stays 0000."}));
    QCOMPARE(f.texts("qa qsp") + ' ' + QString::number(f.w.state().A), "00 0000 0");
    QVERIFY(edit("qa", "0a") && edit("qqh", "FF") && edit("qsp", "F000"));
    QTest::mouseClick(f.w.findChild<QLabel*>("qqca"), Qt::LeftButton);
    QCOMPARE(f.texts("qa qqh qsp qqca"), "0A FF F000 1");
    QCOMPARE(f.w.state().altCarry + f.w.state().A + f.w.state().SP, 1 + 0x0A + 0xF000);
    // While a run goes on nothing opens, and the status bar says why.
    f.chooseRate(3);
    f.trigger("menustart");
    QVERIFY(!edit("qa", "11"));
    QCOMPARE(f.w.statusBar()->currentMessage(),
             "Registers and flags can be edited while the program is stopped: Stop (F3) first.");
  }

  void stepBackUndoesInstructionsThroughTheWindow() {
    Fixture f;
    f.loadProgram(
        QByteArray("\x3E\x05\xD3\x01\x3C\x32\x00\x01", 8));  // LD A,05H; OUT (01H),A; INC A;
    for (int i = 0; i < 4; ++i) f.trigger("debugStepInto");  // LD (0100H),A
    const char* shown = "qpc qa instrukcija counts";
    QStringList states{f.texts(shown)}, undone;
    for (int i = 0; i < 4; ++i) {
      f.trigger("debugStepBack");
      states << f.texts(shown) + QString::asprintf(" (0100)=%02X", f.w.state().memory[0x100]);
      if (i == 2) undone << f.w.statusBar()->currentMessage();
    }
    QCOMPARE(states, QStringList({"0008 06 LD (0100H),A Instructions: 4    T-states: 35",
                                  "0005 06 INC A Instructions: 3    T-states: 22 (0100)=00",
                                  "0004 05 OUT (01H),A Instructions: 2    T-states: 18 (0100)=00",
                                  "0002 05 LD A,05H Instructions: 1    T-states: 7 (0100)=00",
                                  "0000 00  Instructions: 0    T-states: 0 (0100)=00"}));
    QCOMPARE(undone, QStringList("The undone OUT's line stays in out.log; stepping forward "
                                 "writes it again"));
    QCOMPARE(f.outLog(), "Data 05H sent to port 01H\r\n");
    QVERIFY(!f.w.findChild<QAction*>("debugStepBack")->isEnabled());
    f.trigger("debugStepInto");
    QCOMPARE(f.texts(shown), "0002 05 LD A,05H Instructions: 1    T-states: 7");
  }

  // A source written in the window: Assemble and Load with an error lists it and leaves the
  // machine alone; a double click goes to it; fixed, the program is in memory with its labels,
  // and the highlighted line follows PC until the text changes.
  void newSourceAssembledFixedAndFollowed() {
    Fixture f;
    f.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.w));
    f.trigger("sourceNew");
    QTest::keyClicks(f.editor(), "start: ld a,5\r ld b,a\r lx a,3\r halt\r");
    f.editor()->insertPlainText(" db \"\u017E\",1");
    QCOMPARE(f.w.sourcePanel()->windowTitle(), "Source: untitled.asm *");
    f.load("\x76");
    f.trigger("sourceAssemble");
    QCOMPARE(f.errors(), "untitled.asm:3:2: error: unknown instruction lx; did you mean EX?");
    QCOMPARE(f.memory(1) + ' ' + f.w.runStatus(),
             "76 untitled.asm has 1 error, the first at line 3, column 2; nothing was loaded (see "
             "the Errors panel)");
    // The number after the two-byte letter is coloured where it stands, in characters.
    const QList<QTextLayout::FormatRange> formats =
        f.editor()->document()->findBlockByNumber(4).layout()->formats();
    QVERIFY(std::any_of(formats.begin(), formats.end(),
                        [](const auto& r) { return r.start == 8 && r.length == 1; }));
    f.doubleClickError(0);
    QCOMPARE(f.cursorAt(), "3:2");
    QTest::keyClick(f.editor(), Qt::Key_Right);
    QTest::keyClick(f.editor(), Qt::Key_Delete);
    QTest::keyClicks(f.editor(), "d");
    f.trigger("sourceAssemble");
    QCOMPARE(f.errors() + f.memory(9), "3E05473E0376C5BE01");
    QCOMPARE(f.w.runStatus(),
             "Loaded untitled.asm: assembled, 9 bytes at 0000H-0008H; Start (F1) runs it from "
             "0000H");
    QCOMPARE(f.panelModel("disassemblyView")->index(0, 3).data().toString(), "start:");
    QStringList followed;
    for (int i = 0; i < 3; ++i) {
      followed << QString::number(f.editor()->pcLine()) + ' ' + f.w.sourcePanel()->note();
      f.trigger("debugStepInto");
    }
    QCOMPARE(followed, QStringList({"1 PC 0000H is on line 1.", "2 PC 0002H is on line 2.",
                                    "3 PC 0003H is on line 3."}));
    QTest::keyClicks(f.editor(), " ");
    f.trigger("debugStepInto");
    QCOMPARE(f.editor()->pcLine(), 0);
    QVERIFY(f.w.sourcePanel()->note().startsWith("The source has changed since it was assembled"));
  }

  // Breakpoints from the gutter stop a run; Run to Cursor and F9 work on the editor's line
  // while it has focus; an error in an INCLUDEd file is named, not looked for in the editor.
  void gutterBreakpointsAndRunToCursorInTheEditor() {
    Fixture f;
    f.w.show();
    QVERIFY(QTest::qWaitForWindowActive(&f.w));
    f.write("src/lib.asm", " inc\n");
    f.open(f.write("src/prog.asm",
                   "; counts\n ld b,3\nloop: djnz loop\n include \"lib.asm\"\n"
                   " halt\n"));
    QCOMPARE(f.errors(),
             "lib.asm:1:2: error: INC needs an operand: INC rr, INC r, INC (HL), "
             "INC IX, INC (IX+d), INC IY or INC (IY+d)");
    f.doubleClickError(0);
    QCOMPARE(f.messages, QStringList("This error is in " + f.dir.filePath("src/lib.asm") +
                                     ", line 1, column 2: a file that the source INCLUDEs. Open "
                                     "that file to correct it."));
    f.write("src/lib.asm", " inc a\n");
    f.trigger("menureload");
    QCOMPARE(f.memory(6) + ' ' + f.texts("logFile"),
             "0603"
             "10FE"
             "3C76 Log: " +
                 f.dir.filePath("src/out.log"));
    f.clickGutter(1);
    QCOMPARE(f.w.statusBar()->currentMessage(),
             "Line 1 assembled to no bytes: choose a line with an instruction");
    f.clickGutter(4);
    QCOMPARE(f.w.statusBar()->currentMessage(),
             "Line 4 assembled to no bytes: choose a line with an instruction");
    f.clickGutter(3);
    QCOMPARE(f.w.controller().breakpoints(), (std::map<std::int32_t, bool>{{2, true}}));
    QVERIFY(f.gutterMarked(3) && !f.gutterMarked(2));
    f.chooseRate(5);
    f.trigger("menustart");
    QTRY_VERIFY(f.w.lastFastRun());
    QCOMPARE(f.texts("qpc") + ' ' + QString::number(f.editor()->pcLine()), "0002 3");
    f.editor()->goTo(3, 1);  // the editor has focus
    f.trigger("debugToggleBreakpoint");
    QVERIFY(f.w.controller().breakpoints().empty() && !f.gutterMarked(3));
    f.editor()->goTo(5, 1);
    f.trigger("debugRunToCursor");
    QTRY_COMPARE(f.texts("qpc qb") + ' ' + QString::number(f.editor()->pcLine()), "0005 00 5");
    QTest::keyClicks(f.editor(), "x");
    f.clickGutter(3);
    QVERIFY(f.w.controller().breakpoints().empty());
    QCOMPARE(f.w.statusBar()->currentMessage(),
             "The source has changed since it was assembled: Assemble and Load (Ctrl+F9) first");
  }

  // The question before unsaved changes would be lost (New Source, opening a source,
  // closing), Save As and Save, and line ends kept.
  void unsavedChangesAreAskedAboutAndSaved() {
    using Choice = MainWindow::SaveChoice;
    Fixture f;
    QTest::keyClicks(f.editor(), " nop");
    f.trigger("sourceNew");
    QCOMPARE(f.questions, QStringList("The source untitled.asm has changes that are not saved. "
                                      "Save them before starting a new source?"));
    f.saveAnswers = {Choice::Save};
    f.saveAs = f.dir.filePath("first");
    f.trigger("sourceNew");
    QCOMPARE(f.outLog(f.dir.filePath("first.asm")) + '|' + f.editor()->toPlainText(), " nop|");

    f.open(f.write("crlf.asm", " nop\r\n halt\r\n"));
    f.editor()->moveCursor(QTextCursor::End);
    QTest::keyClicks(f.editor(), " inc a");
    QCOMPARE(f.w.sourcePanel()->windowTitle(), "Source: crlf.asm *");
    f.trigger("sourceSave");
    QCOMPARE(f.outLog(f.dir.filePath("crlf.asm")), " nop\r\n halt\r\n inc a");
    QCOMPARE(f.w.sourcePanel()->windowTitle(), "Source: crlf.asm");

    QTest::keyClicks(f.editor(), "\r halt");
    f.messages.clear();
    f.open(f.write("image.asm", QByteArray("\x3E\x00\x76", 3)));
    QCOMPARE(f.messages, QStringList("Can't load file image.asm in the directory " + f.dir.path() +
                                     "/: it is not a text file (byte 00H at "
                                     "offset 1); give the assembly source, not a program image"));
    f.saveAnswers = {Choice::Cancel, Choice::Discard};
    f.questions.clear();
    f.w.close();
    QCOMPARE(f.quits, 0);
    f.w.close();
    QCOMPARE(f.quits, 1);
    QCOMPARE(f.questions.size(), 2);
    QVERIFY(f.questions[0].endsWith("Save them before closing Korvel?"));
    QCOMPARE(f.outLog(f.dir.filePath("crlf.asm")), " nop\r\n halt\r\n inc a");
  }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
