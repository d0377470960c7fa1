// The box that asks for the byte of a port read: the prompt, an entry field and the buttons
// OK, Cancel and "Stop run". It is not modal: while it waits, the main window still takes
// Stop and a close request, and the simulation cannot go on without the byte anyway.
#pragma once

#include <QDialog>

QT_BEGIN_NAMESPACE
class QLabel;
class QLineEdit;
class QPushButton;
QT_END_NAMESPACE

class PortInputBox : public QDialog {
  Q_OBJECT

 public:
  explicit PortInputBox(QWidget* parent);

  // Shows the box with `prompt` and an empty entry field, focused.
  void ask(const QString& prompt);

 signals:
  void entered(const QString& text);  // OK, or Cancel with the empty text
  void stopRun();                     // "Stop run"

 private:
  QLabel* prompt_ = nullptr;
  QLineEdit* entry_ = nullptr;
};
