// The real main window under load: the Extremely Fast rate's million-instruction run of a
// jump to itself (18H FEH), the same rate writing 333,333 OUT lines with the Output panel and
// without it, the Fast rate's instructions per second at its 1 ms timer, the time from launch
// to the window's first paint, and peak resident memory. The window is
// driven through its own menu actions, as a user would. Run it with QT_QPA_PLATFORM=offscreen
// or under Xvfb (xvfb-run -a).
#include <sys/resource.h>
#include <time.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "mainwindow.h"

namespace {

using korvel::bench::ChildOutput;
using korvel::bench::ChildResult;
using korvel::bench::median;

constexpr const char* kStartupChild = "--startup-child";

long long monotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// CPU time of this process so far, in ms.
double cpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

long ownPeakKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Notes the end of the first paint of the watched widget, then ends the event loop.
class FirstPaint : public QObject {
 public:
  long long paintedNs = 0;
  long long cpuUs = 0;  // CPU time of the process up to then

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && paintedNs == 0) {
      // Queued: runs once the paint (and the flush that follows it) is done.
      QTimer::singleShot(0, this, [this] {
        if (paintedNs == 0) {
          paintedNs = monotonicNs();
          rusage usage{};
          getrusage(RUSAGE_SELF, &usage);
          cpuUs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                  usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
        }
        QCoreApplication::quit();
      });
    }
    return QObject::eventFilter(watched, event);
  }
};

// The child of the start-up measurement: starts the way the program does (QApplication,
// the main window with its default application directory, show) and prints, on
// CLOCK_MONOTONIC, when main was entered, when QApplication and the window were made, and
// when the window's first paint ended; then the CPU time it had used by then.
int startupChild(int argc, char** argv) {
  const long long mainNs = monotonicNs();
  QApplication app(argc, argv);
  const long long appNs = monotonicNs();
  MainWindow window;
  const long long windowNs = monotonicNs();
  FirstPaint watcher;
  window.installEventFilter(&watcher);
  window.show();
  QTimer::singleShot(20000, &app, &QCoreApplication::quit);  // never hang the benchmark
  QApplication::exec();
  if (watcher.paintedNs == 0) return 1;
  std::printf("main=%lld app=%lld window=%lld shown=%lld cpu=%lld\n", mainNs, appNs, windowNs,
              watcher.paintedNs, watcher.cpuUs);
  return 0;
}

QAction* action(MainWindow& window, const char* name) {
  QAction* a = window.findChild<QAction*>(QLatin1String(name));
  if (a == nullptr) {
    std::fprintf(stderr, "bench_window: the main window has no action \"%s\"\n", name);
    std::exit(1);
  }
  return a;
}

// Runs the event loop for `ms` milliseconds.
void runEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

struct Options {
  int runs = 5;
  int outputRuns = 5;
  int fastRuns = 3;
  int fastSeconds = 3;
  bool startup = true;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == kStartupChild) return startupChild(argc, argv);

  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::optional<std::int64_t> n;
    if (arg == "--runs" && i + 1 < argc && (n = korvel::bench::parseCount(argv[++i])) &&
        *n <= 100) {
      options.runs = static_cast<int>(*n);
    } else if (arg == "--fast-runs" && i + 1 < argc && (n = korvel::bench::parseCount(argv[++i])) &&
               *n <= 100) {
      options.fastRuns = static_cast<int>(*n);
    } else if (arg == "--fast-seconds" && i + 1 < argc &&
               (n = korvel::bench::parseCount(argv[++i])) && *n <= 60) {
      options.fastSeconds = static_cast<int>(*n);
    } else if (arg == "--output-runs" && i + 1 < argc &&
               (n = korvel::bench::parseCount(argv[++i])) && *n <= 100) {
      options.outputRuns = static_cast<int>(*n);
    } else if (arg == "--no-startup") {
      options.startup = false;
    } else {
      std::fputs(
          "Usage: bench_window [--runs N] [--fast-runs N] [--fast-seconds S] [--output-runs N]\n"
          "                    [--no-startup]\n"
          "Measures the main window: N (default 5) Extremely Fast runs of 18H FEH, N start-ups\n"
          "in a fresh process, --output-runs (default 5) Extremely Fast runs writing 333,333\n"
          "OUT lines with and without the Output panel, and --fast-runs (default 3) Fast-rate\n"
          "runs of S seconds (default 3). Needs a display: QT_QPA_PLATFORM=offscreen or\n"
          "xvfb-run -a.\n",
          stderr);
      return 2;
    }
  }
  bool good = true;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  std::printf("platform: %s\n", platform != nullptr ? platform : "(default)");

  // Start-up, each in a new process: launch to the end of the window's first paint. The
  // timed runs are not traced; one more run, traced to its exit, gives the peak memory.
  if (options.startup) {
    std::vector<double> shownMs, toMainMs, appMs, windowMs, paintMs, cpuMs;
    for (int i = 0; i <= options.runs; ++i) {
      const bool peakRun = i == options.runs;
      const long long launchNs = monotonicNs();
      const ChildResult child =
          korvel::bench::runChild({"/proc/self/exe", kStartupChild}, ChildOutput::Capture, peakRun);
      long long mainNs = 0, appNs = 0, windowNs = 0, paintedNs = 0, cpuUs = 0;
      if (!child.started || !child.exited || child.status != 0 ||
          std::sscanf(child.tail.c_str(), "main=%lld app=%lld window=%lld shown=%lld cpu=%lld",
                      &mainNs, &appNs, &windowNs, &paintedNs, &cpuUs) != 5) {
        std::fprintf(stderr, "bench_window: the start-up child failed (%s, status %d)\n",
                     child.error.c_str(), child.status);
        good = false;
        break;
      }
      if (peakRun) {
        std::printf("peak RSS of a start-up process: %ld KB (%.1f MB)\n", child.peakKb,
                    static_cast<double>(child.peakKb) / 1024.0);
        break;
      }
      const auto ms = [](long long from, long long to) {
        return static_cast<double>(to - from) / 1e6;
      };
      toMainMs.push_back(ms(launchNs, mainNs));
      appMs.push_back(ms(mainNs, appNs));
      windowMs.push_back(ms(appNs, windowNs));
      paintMs.push_back(ms(windowNs, paintedNs));
      shownMs.push_back(ms(launchNs, paintedNs));
      cpuMs.push_back(static_cast<double>(cpuUs) / 1e3);
      std::printf(
          "start-up %d: window painted %.1f ms after launch (exec and libraries %.1f, "
          "QApplication %.1f, MainWindow %.1f, show to first paint %.1f; CPU %.1f)\n",
          i + 1, shownMs.back(), toMainMs.back(), appMs.back(), windowMs.back(), paintMs.back(),
          cpuMs.back());
      std::fflush(stdout);
    }
    if (!shownMs.empty()) {
      std::printf(
          "median start-up: %.1f ms from launch to the window's first paint (medians: "
          "exec and libraries %.1f, QApplication %.1f, MainWindow %.1f, show to first "
          "paint %.1f)\n",
          median(shownMs), median(toMainMs), median(appMs), median(windowMs), median(paintMs));
      std::printf("median CPU time of the process up to the first paint: %.1f ms\n", median(cpuMs));
    }
  }

  QApplication app(argc, argv);
  QTemporaryDir dir;
  if (!dir.isValid()) {
    std::fprintf(stderr, "bench_window: cannot make a temporary directory\n");
    return 1;
  }
  {
    QFile program(dir.filePath(QStringLiteral("program.bin")));
    if (!program.open(QIODevice::WriteOnly) || program.write("\x18\xFE", 2) != 2) {
      std::fprintf(stderr, "bench_window: cannot write program.bin\n");
      return 1;
    }
  }
  MainWindow window(std::filesystem::path(dir.path().toStdString()));
  QString lastMessage;
  window.setMessageFunction([&lastMessage](const QString& text) { lastMessage = text; });
  window.show();
  QElapsedTimer wait;
  wait.start();
  while ((window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) &&
         wait.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  runEventsFor(100);

  // Extremely Fast: load 18H FEH with the Program Loader, select rate 5, Start.
  action(window, "menuloader")->trigger();
  if (lastMessage != QStringLiteral("Operation completed!")) {
    std::fprintf(stderr, "bench_window: the loader said \"%s\"\n", qPrintable(lastMessage));
    return 1;
  }
  action(window, "menuspeed5")->trigger();
  // One Extremely Fast run: Start, then the slices until the run has ended and is painted.
  const auto fastRun = [&]() -> double {
    QElapsedTimer timer;
    timer.start();
    action(window, "menustart")->trigger();
    while (window.controller().running()) QCoreApplication::processEvents();
    QCoreApplication::processEvents();  // the final display is painted too
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const auto& run = window.lastFastRun();
    if (!run || run->instructions != 1000000 || run->end != korvel::RunEvent::LimitReached ||
        window.state().PC != 0) {
      std::fprintf(stderr,
                   "bench_window: the Extremely Fast run did not run 1000000 "
                   "instructions of 18H FEH\n");
      good = false;
      return -1;
    }
    runEventsFor(50);
    return ms;
  };
  // The same runs without step-back history, with it, and with eight breakpoints that the
  // program never reaches.
  struct Variant {
    const char* name;
    bool history;
    int breakpoints;
  };
  const Variant variants[] = {{"without history", false, 0},
                              {"with history", true, 0},
                              {"with history and 8 breakpoints", true, 8}};
  std::vector<double> medians;
  for (const Variant& v : variants) {
    window.controller().setHistoryEnabled(v.history);
    for (int b = 0; b < 8; ++b) window.controller().removeBreakpoint(0x1000 + b);
    for (int b = 0; b < v.breakpoints; ++b) window.controller().setBreakpoint(0x1000 + b);
    std::vector<double> fastestMs;
    for (int i = 0; i < options.runs && good; ++i) {
      fastestMs.push_back(fastRun());
      std::printf("Extremely Fast run %d %s: 1000000 instructions in %.1f ms\n", i + 1, v.name,
                  fastestMs.back());
      std::fflush(stdout);
    }
    if (!good) break;
    medians.push_back(median(fastestMs));
    std::printf("median Extremely Fast run %s: %.1f ms (%.2f M instructions/s)\n", v.name,
                medians.back(), 1000.0 / medians.back());
    if (v.history) {
      const korvel::History* history = window.controller().history();
      std::printf("  history: %zu instructions kept in %.1f MB\n", history->size(),
                  static_cast<double>(history->memoryBytes()) / (1024.0 * 1024.0));
    }
  }
  if (medians.size() == 3) {
    std::printf(
        "history costs %.2f times the run without it; 8 breakpoints %.2f times the run "
        "without them\n",
        medians[1] / medians[0], medians[2] / medians[1]);
  }
  window.controller().setHistoryEnabled(true);
  for (int b = 0; b < 8; ++b) window.controller().removeBreakpoint(0x1000 + b);

  // The Output panel: NOP, then OUT (01H),A; INC A; JR back, opened from a file, runs at the
  // Extremely Fast rate and writes 333,333 lines to out.log. One window lists them in its
  // panel, the other has no panel; their runs alternate.
  if (options.outputRuns > 0 && good) {
    constexpr qint64 kLines = 333333;
    const QString program = dir.filePath(QStringLiteral("outs.bin"));
    {
      QFile file(program);
      if (!file.open(QIODevice::WriteOnly) || file.write("\x00\xD3\x01\x3C\x18\xFB", 6) != 6) {
        std::fprintf(stderr, "bench_window: cannot write outs.bin\n");
        return 1;
      }
    }
    MainWindow withPanel(std::filesystem::path(dir.path().toStdString()));
    MainWindow withoutPanel(std::filesystem::path(dir.path().toStdString()));
    delete withoutPanel.outputPanel();
    for (MainWindow* w : {&withPanel, &withoutPanel}) {
      w->setMessageFunction([&lastMessage](const QString& text) { lastMessage = text; });
      w->show();
      if (!w->openProgram(program)) {
        std::fprintf(stderr, "bench_window: outs.bin: %s\n", qPrintable(lastMessage));
        return 1;
      }
      action(*w, "menuspeed5")->trigger();
    }
    runEventsFor(100);
    // Wall and CPU time of one run, in ms.
    struct Times {
      double wall, cpu;
    };
    const auto outputRun = [&](MainWindow& w) -> Times {
      const QString log = QString::fromStdString(w.logFile().string());
      QFile::remove(log);
      if (w.outputPanel() != nullptr)
        w.outputPanel()->findChild<QPushButton*>(QStringLiteral("outputClear"))->click();
      QElapsedTimer timer;
      timer.start();
      const double cpuBefore = cpuMs();
      action(w, "menustart")->trigger();
      while (w.controller().running()) QCoreApplication::processEvents();
      QCoreApplication::processEvents();
      const Times times{static_cast<double>(timer.nsecsElapsed()) / 1e6, cpuMs() - cpuBefore};
      runEventsFor(50);  // the panel's last lines, outside the time
      const qint64 listed = w.outputPanel() == nullptr ? kLines : w.outputPanel()->lineCount();
      if (w.controller().fastRunCount() != 1000000 || QFileInfo(log).size() != kLines * 27 ||
          listed != kLines) {
        std::fprintf(stderr,
                     "bench_window: the OUT run did not write %lld lines to %s and the panel "
                     "(%lld listed)\n",
                     static_cast<long long>(kLines), qPrintable(log),
                     static_cast<long long>(listed));
        good = false;
      }
      return times;
    };
    std::vector<double> panelWall, panelCpu, bareWall, bareCpu;
    for (int i = 0; i < options.outputRuns && good; ++i) {
      const Times panel = outputRun(withPanel), bare = outputRun(withoutPanel);
      panelWall.push_back(panel.wall);
      panelCpu.push_back(panel.cpu);
      bareWall.push_back(bare.wall);
      bareCpu.push_back(bare.cpu);
      std::printf(
          "OUT run %d, 333333 lines: with the Output panel %.1f ms (CPU %.1f), without "
          "%.1f ms (CPU %.1f)\n",
          i + 1, panel.wall, panel.cpu, bare.wall, bare.cpu);
      std::fflush(stdout);
    }
    if (good) {
      std::printf(
          "median OUT run of 333333 lines: with the Output panel %.1f ms (CPU %.1f), without "
          "%.1f ms (CPU %.1f); the panel costs %.2f times the run without it (CPU %.2f)\n",
          median(panelWall), median(panelCpu), median(bareWall), median(bareCpu),
          median(panelWall) / median(bareWall), median(panelCpu) / median(bareCpu));
    }
  }

  // Fast: memory all NOPs, so after the run PC is the number of instructions executed.
  window.state().memory.fill(0);
  action(window, "menuspeed4")->trigger();
  std::vector<double> fastRates;
  for (int i = 0; i < options.fastRuns; ++i) {
    QElapsedTimer timer;
    timer.start();
    action(window, "menustart")->trigger();
    runEventsFor(options.fastSeconds * 1000);
    action(window, "menustop")->trigger();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const int instructions = window.state().PC;
    fastRates.push_back(instructions / seconds);
    std::printf("Fast run %d: %d instructions in %.3f s = %.0f instructions/s\n", i + 1,
                instructions, seconds, fastRates.back());
    std::fflush(stdout);
  }
  if (!fastRates.empty()) {
    std::printf("median Fast rate: %.0f instructions/s (the timer's ideal is 1000)\n",
                median(fastRates));
  }

  // The program itself with all four windows open (its --screenshot session), traced to its
  // exit for the peak.
  if (const std::string program = KORVEL_APP_PATH;
      !program.empty() && QFile::exists(QString::fromStdString(program))) {
    const QString prefix = dir.filePath(QStringLiteral("shot"));
    const ChildResult child = korvel::bench::runChild(
        {program, "--screenshot", prefix.toStdString()}, ChildOutput::DevNull, true);
    if (!child.started || !child.exited || child.status != 0 ||
        !QFile::exists(prefix + QStringLiteral("-main.png"))) {
      std::fprintf(stderr, "bench_window: %s --screenshot failed (%s, status %d)\n",
                   program.c_str(), child.error.c_str(), child.status);
      good = false;
    } else {
      std::printf(
          "peak RSS of korvel with the main window, memory viewer, help and About "
          "open: %ld KB (%.1f MB)\n",
          child.peakKb, static_cast<double>(child.peakKb) / 1024.0);
    }
  }

  const long peakKb = ownPeakKb();
  std::printf("peak RSS of this process after all runs: %ld KB (%.1f MB)\n", peakKb,
              static_cast<double>(peakKb) / 1024.0);
  return good ? 0 : 1;
}
