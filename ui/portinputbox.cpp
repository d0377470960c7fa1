#include "portinputbox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PortInputBox::PortInputBox(QWidget* parent) : QDialog(parent) {
  setObjectName("portInputBox");
  setWindowTitle(tr("Korvel"));
  setModal(false);

  prompt_ = new QLabel(this);
  prompt_->setObjectName("prompt");
  entry_ = new QLineEdit(this);
  entry_->setObjectName("entry");

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* stop = buttons->addButton(tr("&Stop run"), QDialogButtonBox::DestructiveRole);
  stop->setObjectName("stopRun");
  // Escape and Cancel give the empty entry, a wrong one that asks again; Stop run ends the
  // run without the byte.
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    hide();
    emit entered(entry_->text());
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(this, &QDialog::rejected, this, [this] { emit entered(QString()); });
  connect(stop, &QPushButton::clicked, this, [this] {
    hide();
    emit stopRun();
  });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt_);
  layout->addWidget(entry_);
  layout->addWidget(buttons);
}

void PortInputBox::ask(const QString& prompt) {
  prompt_->setText(QString(prompt).replace(QLatin1String("\r\n"), QLatin1String("\n")));
  entry_->clear();
  show();
  raise();
  activateWindow();
  entry_->setFocus();
}
