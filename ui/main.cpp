// Korvel: a desktop simulator of the Z80 for running small programs one instruction at a time.
//
//   korvel [OPTION]... [PROGRAM]
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "commandline.h"
#include "mainwindow.h"

namespace {

std::vector<std::string> arguments(int argc, char* argv[]) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace

int main(int argc, char* argv[]) {
  // --help and --version are answered before Qt starts, so they need no display.
  const korvel::ui::CommandLine early = korvel::ui::parseCommandLine(arguments(argc, argv));
  if (early.help || early.version) {
    std::fputs(early.help ? korvel::ui::kUsage : korvel::ui::kVersion, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }

  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setApplicationName(QStringLiteral("Korvel"));
  QApplication::setApplicationVersion(QStringLiteral(KORVEL_VERSION));
  const korvel::ui::CommandLine line = korvel::ui::parseCommandLine(arguments(argc, argv));
  if (!line.error.empty()) {
    std::fprintf(stderr, "korvel: %s\nTry 'korvel --help' for more information.\n",
                 line.error.c_str());
    return 2;
  }

  if (line.quitAfterRun && !line.program) {
    std::fputs(
        "korvel: --quit-after-run needs a PROGRAM\nTry 'korvel --help' for more information.\n",
        stderr);
    return 2;
  }

  QFile statusLog;  // outlives the window, which writes to it
  MainWindow window;
  if (line.statusLog) {
    // The test hook: what the status bar and the source editor's note say, as they say it.
    statusLog.setFileName(QFile::decodeName(QByteArray::fromStdString(*line.statusLog)));
    if (!statusLog.open(QIODevice::Append | QIODevice::Text)) {
      std::fprintf(stderr, "korvel: cannot write %s: %s\n", line.statusLog->c_str(),
                   qPrintable(statusLog.errorString()));
      return 1;
    }
    const auto log = [&statusLog](const char* what, const QString& text) {
      statusLog.write(what + text.toUtf8() + '\n');
      statusLog.flush();
    };
    QObject::connect(&window, &MainWindow::runStatusChanged, &window,
                     [log](const QString& text) { log("status: ", text); });
    QObject::connect(window.sourcePanel(), &SourcePanel::noteChanged, &window,
                     [log](const QString& text) { log("source: ", text); });
  }
  window.show();
  if (line.program) {
    // Once the window is up, so that a refusal's message box stands in front of it.
    const QString program = QFile::decodeName(QByteArray::fromStdString(*line.program));
    const bool quitAfterRun = line.quitAfterRun;
    QTimer::singleShot(0, &window, [&window, program, quitAfterRun] {
      if (!quitAfterRun) {
        window.openProgram(program);
        return;
      }
      // The test hook: an Extremely Fast run, then the program ends, saying how the run did.
      window.setMessageFunction(
          [](const QString& text) { std::fprintf(stderr, "korvel: %s\n", qPrintable(text)); });
      if (!window.openProgram(program)) {
        // A source's errors are in the Errors panel.
        for (int i = 0; i < window.errorsPanel()->count(); ++i)
          std::fprintf(stderr, "%s\n", qPrintable(window.errorsPanel()->line(i)));
        QCoreApplication::exit(2);
        return;
      }
      window.menuspeed5_Click();
      window.menustart_Click();
      auto* poll = new QTimer(&window);
      QObject::connect(poll, &QTimer::timeout, &window, [&window] {
        const bool waiting = window.instructionInProgress();
        if (window.controller().running() && !waiting) return;
        std::printf("%s\n", qPrintable(waiting ? QStringLiteral("An IN waits for its byte")
                                               : window.runStatus()));
        std::fflush(stdout);
        const auto& run = window.lastFastRun();
        QCoreApplication::exit(!waiting && run && run->end == korvel::RunEvent::Halted ? 0 : 1);
      });
      poll->start(10);
    });
  }

  if (line.screenshot) {
    // A debugging aid: pictures of the windows, then the program ends.
    const QString prefix = QFile::decodeName(QByteArray::fromStdString(*line.screenshot));
    window.menuviewer_Click();
    window.menuhelp_Click();
    window.menuabout_Click();
    QTimer::singleShot(500, &app, [&window, prefix] {
      window.grab().save(prefix + QStringLiteral("-main.png"));
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != &window && w->isVisible() && !w->objectName().isEmpty())
          w->grab().save(prefix + QLatin1Char('-') + w->objectName() + QStringLiteral(".png"));
      }
      window.close();
    });
  }
  return app.exec();
}
