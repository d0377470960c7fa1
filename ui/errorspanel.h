// The Errors panel: every error of the last Assemble and Load, one a line as
// "FILE:LINE:COLUMN: error: ..."; a double click on one asks to go to its place.
#pragma once

#include <QDir>
#include <QDockWidget>
#include <string>
#include <vector>

#include "assembler.h"

QT_BEGIN_NAMESPACE
class QLabel;
class QListWidget;
QT_END_NAMESPACE

class ErrorsPanel : public QDockWidget {
  Q_OBJECT

 public:
  explicit ErrorsPanel(QWidget* parent = nullptr);

  // The errors of assembling `source` (as the assembler was given it), which the user knows
  // as `name`; files are named relative to `folder`, where the source is.
  void showErrors(const std::vector<korvel::assembler::Diagnostic>& errors,
                  const std::string& source, const QString& name, const QDir& folder);
  // The source the errors are of; empty after clear().
  const std::string& source() const { return source_; }
  void clear();
  int count() const { return static_cast<int>(errors_.size()); }
  QString line(int row) const;

 signals:
  void activated(const korvel::assembler::Diagnostic& error);

 private:
  void activate(int row);

  QLabel* summary_ = nullptr;
  QListWidget* list_ = nullptr;
  std::vector<korvel::assembler::Diagnostic> errors_;
  std::string source_;
};
