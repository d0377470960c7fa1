// Editing in the register display while the program is stopped: a double click on a register
// opens a field over it for two or four hexadecimal digits (Enter takes them, Escape or a
// click elsewhere leaves the value); a click on a flag toggles it. Every change goes through
// the controller.
#pragma once

#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <array>
#include <cstddef>

#include "controller.h"
#include "register_fields.h"

QT_BEGIN_NAMESPACE
class QLabel;
QT_END_NAMESPACE

class RegisterEditor : public QObject {
  Q_OBJECT

 public:
  using Labels = std::array<QLabel*, korvel::kRegisterFields.size()>;
  RegisterEditor(korvel::Controller& controller, const Labels& labels, QObject* parent = nullptr);

  // The field being edited, open over its label; null when none is.
  QLineEdit* editor() const { return editor_; }

 signals:
  // A field took a new value (`field` indexes kRegisterFields).
  void edited(std::size_t field, std::int32_t value);
  void problem(const QString& text);  // input that was refused
  void note(const QString& text);     // why nothing happened

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool stopped();
  void open(std::size_t field);
  void commit();
  void close();

  korvel::Controller& controller_;
  Labels labels_;
  QPointer<QLineEdit> editor_;
  std::size_t field_ = 0;
};
