// Korvel: a desktop simulator of the Z80 for running small programs one instruction at a time.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "ui/mainwindow.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Korvel"));
  QApplication::setApplicationVersion(QStringLiteral(KORVEL_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Korvel, a Z80 simulator"));
  parser.addHelpOption();
  parser.addVersionOption();
  // A debugging aid: writes pictures of the windows and ends.
  const QCommandLineOption screenshot(
      QStringLiteral("screenshot"),
      QStringLiteral("Save pictures of the windows as <prefix>-*.png "
                     "and quit."),
      QStringLiteral("prefix"));
  parser.addOption(screenshot);
  parser.process(app);

  MainWindow window;
  window.show();

  if (parser.isSet(screenshot)) {
    const QString prefix = parser.value(screenshot);
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
