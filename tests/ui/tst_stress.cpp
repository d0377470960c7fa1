// The windows' control flow under load: thousands of Steps and timer ticks over a program that
// reads and writes ports, Stop and Start in quick succession, the memory viewer scrolled during
// a run and the window closed mid-run. The port input box is answered by a script that, while
// the box is open, presses Step and lets timer ticks through: no second instruction may start
// while one is executing, and every OUT executed must reach out.log exactly once.
#include <QAction>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstdint>

#include "ui/mainwindow.h"

namespace {

// loop: IN A,(01H)   DB 01
//       OUT (02H),A  D3 02
//       INC B        04
//       LD A,B       78
//       OUT (03H),A  D3 03
//       JR loop      18 F6
const QByteArray kProgram("\xDB\x01\xD3\x02\x04\x78\xD3\x03\x18\xF6", 10);

QString hex2(int v) {
  return QStringLiteral("%1").arg(v & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

struct Fixture {
  QTemporaryDir dir;
  MainWindow w{std::filesystem::path(dir.path().toStdString())};
  QStringList problems;
  QStringList runAnswers;  // the answers given since the last Start
  int answered = 0, depth = 0, quits = 0, logLinesSeen = 0;
  std::uintptr_t stackBase = 0, stackSpread = 0;

  Fixture() {
    for (int i = 0; i < kProgram.size(); ++i)
      w.state().memory[i] = static_cast<quint8>(kProgram[i]);
    w.setMessageFunction([this](const QString& text) { problems << "message: " + text; });
    w.setPromptFunction([this](const QString& prompt) { return answer(prompt); });
    w.setQuitFunction([this] { ++quits; });
  }
  void trigger(const char* name) { w.findChild<QAction*>(name)->trigger(); }
  void start() {
    runAnswers.clear();
    trigger("menustart");
  }
  void stop() {
    trigger("menustop");
    checkRun();
  }

  QString answer(const QString& prompt) {
    char marker = 0;
    const auto here = reinterpret_cast<std::uintptr_t>(&marker);
    if (stackBase == 0) stackBase = here;
    stackSpread = std::max(stackSpread, here > stackBase ? here - stackBase : stackBase - here);
    if (prompt != "0000H: Enter data received on port 01H [00-FF]!") problems << "asked " + prompt;
    if (!w.instructionInProgress()) problems << "input box outside an instruction";
    if (++depth > 1) problems << "a second instruction started while the input box was open";
    if (depth == 1 && answered % 5 == 0) {
      // The user presses Step and the clock keeps ticking while the box is open.
      const std::int32_t pc = w.state().PC, b = w.state().B;
      trigger("menustep");
      QCoreApplication::processEvents();
      if (answered % 3 == 0) QTest::qWait(2);
      if (w.state().PC != pc || w.state().B != b) problems << "registers changed under the box";
    }
    --depth;
    runAnswers << hex2(answered++);
    return runAnswers.last();
  }

  // The lines the run added to out.log are the OUTs it executed: for the i-th answer, the
  // answer on port 02H, then i on port 03H; the last pass ends where PC stands.
  void checkRun() {
    QFile file(dir.filePath(QStringLiteral("out.log")));
    QStringList lines;
    if (file.open(QIODevice::ReadOnly)) lines = QString::fromLatin1(file.readAll()).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    const QStringList added = lines.mid(logLinesSeen);
    logLinesSeen = static_cast<int>(lines.size());
    const std::int32_t pc = w.state().PC, b = w.state().B;
    const int m = static_cast<int>(runAnswers.size());
    QStringList expected;
    for (int i = 1; i <= m; ++i) {
      if (i == m && pc == 2) break;
      expected << "Data " + runAnswers[i - 1] + "H sent to port 02H";
      if (i == m && (pc == 4 || pc == 5 || pc == 6)) break;
      expected << "Data " + hex2(i) + "H sent to port 03H";
    }
    const int increments = (pc == 2 || pc == 4) ? m - 1 : m;
    if (added != expected || b != (increments & 0xFF) || (m == 0 && pc != 0))
      problems << QString::asprintf("run of %d inputs ending at PC %d, B %d: %d lines, %d expected",
                                    m, pc, b, int(added.size()), int(expected.size()));
  }
};

}  // namespace

class TestStress : public QObject {
  Q_OBJECT

 private slots:
  void stepsTicksStopStartViewerAndClose() {
    Fixture f;

    // Step by Step: 3000 Steps are 500 passes of the six-instruction loop.
    f.trigger("menuspeed1");
    f.start();
    for (int i = 0; i < 3000; ++i) f.trigger("menustep");
    QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.mid(0, 5).join('\n')));
    QCOMPARE(f.w.clockInterval(), 0);
    QCOMPARE(f.runAnswers.size(), 500);
    f.stop();

    // Fast: thousands of ticks with the memory viewer open and scrolled.
    f.trigger("menuspeed4");
    f.start();
    QCOMPARE(f.w.clockInterval(), 1);
    f.trigger("menuviewer");
    auto* bar = f.w.memoryViewer()->findChild<QScrollBar*>("skrolbar");
    for (int chunk = 0; f.runAnswers.size() < 350 && chunk < 2000; ++chunk) {
      bar->setValue(chunk * 37 % 256 + 1);
      QTest::qWait(5);
    }
    QVERIFY(f.runAnswers.size() >= 350);
    bar->setValue(0);
    QCOMPARE(f.w.memoryViewer()->findChild<QPlainTextEdit*>("tabla")->toPlainText().left(54),
             "0000: DB 01 D3 02 04 78 D3 03 18 F6 00 00 00 00 00 00 ");
    f.stop();

    // Stop and Start in quick alternation.
    for (int i = 0; i < 300; ++i) {
      f.start();
      if (i % 2 != 0) QTest::qWait(i % 4);
      f.stop();
    }

    // Closing mid-run ends the program once and nothing runs after it.
    f.start();
    for (int chunk = 0; f.runAnswers.size() < 20 && chunk < 1000; ++chunk) QTest::qWait(5);
    QCOMPARE(f.w.clockInterval(), 1);
    f.w.close();
    QCOMPARE(f.quits, 1);
    QCOMPARE(f.w.clockInterval(), 0);
    QVERIFY(!f.w.memoryViewer() || !f.w.memoryViewer()->isVisible());
    const int answeredAtClose = f.answered;
    QTest::qWait(30);
    QCOMPARE(f.answered, answeredAtClose);
    f.checkRun();

    QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.mid(0, 5).join('\n')));
    QVERIFY2(f.stackSpread < 64 * 1024, qPrintable(QString::number(f.stackSpread)));
  }
};

QTEST_MAIN(TestStress)
#include "tst_stress.moc"
