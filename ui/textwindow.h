// The help window "Basic Help Topics" and the About window "About Korvel": one grey text
// box each, filled with fixed text.
#pragma once

#include <QString>
#include <QWidget>

QT_BEGIN_NAMESPACE
class QPlainTextEdit;
QT_END_NAMESPACE

QString helpText();
QString aboutText();

class TextWindow : public QWidget {
  Q_OBJECT

 public:
  TextWindow(const QString& objectName, const QString& title, const QString& text,
             QWidget* parent = nullptr);

 private:
  QPlainTextEdit* text1_ = nullptr;
};
