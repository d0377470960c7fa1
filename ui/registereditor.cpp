#include "registereditor.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <algorithm>

#include "debugtext.h"

RegisterEditor::RegisterEditor(korvel::Controller& controller, const Labels& labels,
                               QObject* parent)
    : QObject(parent), controller_(controller), labels_(labels) {
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    const korvel::RegisterField& f = korvel::kRegisterFields[i];
    labels_[i]->installEventFilter(this);
    labels_[i]->setToolTip(
        f.max == 1
            ? tr("%1: click to toggle while the program is stopped").arg(QLatin1String(f.name))
            : tr("%1: double-click to edit while the program is stopped")
                  .arg(QLatin1String(f.name)));
  }
}

bool RegisterEditor::stopped() {
  if (!controller_.running() && !controller_.pendingInput()) return true;
  emit note(
      tr("Registers and flags can be edited while the program is stopped: Stop (F3) "
         "first."));
  return false;
}

bool RegisterEditor::eventFilter(QObject* watched, QEvent* event) {
  if (watched == editor_) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      close();
      return true;
    }
    if (event->type() == QEvent::FocusOut) close();
    return false;
  }
  const auto it = std::find(labels_.begin(), labels_.end(), watched);
  if (it == labels_.end()) return false;
  const auto field = static_cast<std::size_t>(it - labels_.begin());
  const korvel::RegisterField& f = korvel::kRegisterFields[field];
  const bool isFlag = f.max == 1;
  if (isFlag && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (stopped()) {
      const std::int32_t value = 1 - controller_.state().*f.member;
      if (controller_.setRegister(f.member, value)) emit edited(field, value);
    }
    return true;
  }
  if (!isFlag && event->type() == QEvent::MouseButtonDblClick) {
    if (stopped()) open(field);
    return true;
  }
  return false;
}

void RegisterEditor::open(std::size_t field) {
  close();
  field_ = field;
  QLabel* label = labels_[field];
  editor_ = new QLineEdit(label->parentWidget());
  editor_->setObjectName("registerEdit");
  editor_->setFont(label->font());
  editor_->setAlignment(Qt::AlignCenter);
  editor_->setMaxLength(8);
  editor_->setText(label->text());
  editor_->setGeometry(label->geometry());
  editor_->installEventFilter(this);
  connect(editor_, &QLineEdit::returnPressed, this, &RegisterEditor::commit);
  editor_->show();
  editor_->selectAll();
  editor_->setFocus(Qt::MouseFocusReason);
}

void RegisterEditor::commit() {
  if (!editor_) return;
  const QString text = editor_->text();
  close();
  const korvel::RegisterField& f = korvel::kRegisterFields[field_];
  const std::int32_t current = controller_.state().*f.member;
  QString error;
  const std::optional<std::int32_t> value =
      parseValue(text, f.digits(), QLatin1String(f.name), current, error);
  if (!value) {
    emit problem(error);
    return;
  }
  if (!stopped()) return;
  if (controller_.setRegister(f.member, *value)) emit edited(field_, *value);
}

void RegisterEditor::close() {
  if (!editor_) return;
  QLineEdit* e = editor_;
  editor_ = nullptr;
  e->removeEventFilter(this);
  e->hide();
  e->deleteLater();
}
