#include "errorspanel.h"

#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

ErrorsPanel::ErrorsPanel(QWidget* parent) : QDockWidget(tr("Errors"), parent) {
  setObjectName("errorsPanel");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  summary_ = new QLabel(body);
  summary_->setObjectName("errorsSummary");
  layout->addWidget(summary_);
  list_ = new QListWidget(body);
  list_->setObjectName("errorsList");
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(list_);
  setWidget(body);
  connect(list_, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { activate(list_->row(item)); });
  clear();
}

void ErrorsPanel::showErrors(const std::vector<korvel::assembler::Diagnostic>& errors,
                             const std::string& source, const QString& name, const QDir& folder) {
  errors_ = errors;
  source_ = source;
  list_->clear();
  for (korvel::assembler::Diagnostic shown : errors_) {
    const QString file = QFile::decodeName(shown.file.c_str());
    shown.file = QDir::toNativeSeparators(folder.relativeFilePath(file)).toStdString();
    list_->addItem(QString::fromStdString(korvel::assembler::formatDiagnostic(shown)));
  }
  const QString n = count() == 1 ? tr("1 error") : tr("%1 errors").arg(count());
  summary_->setText(errors_.empty()
                        ? tr("%1 assembled without errors.").arg(name)
                        : tr("%1: %2; double-click one to go to its line.").arg(name, n));
}

void ErrorsPanel::clear() {
  errors_.clear();
  source_.clear();
  list_->clear();
  summary_->setText(tr("Assemble and Load (Ctrl+F9) lists the errors of the source here."));
}

QString ErrorsPanel::line(int row) const {
  return list_->item(row)->text();
}

void ErrorsPanel::activate(int row) {
  if (row >= 0 && row < count()) emit activated(errors_[static_cast<std::size_t>(row)]);
}
