#include "sourcepanel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSaveFile>
#include <QTextBlock>
#include <QVBoxLayout>

#include "debugtext.h"
#include "sourceeditor.h"

namespace {

const char* const kUntitled = "untitled.asm";

}  // namespace

SourcePanel::SourcePanel(const korvel::Controller& controller, QWidget* parent)
    : QDockWidget(tr("Source"), parent), controller_(controller) {
  setObjectName("sourcePanel");
  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  editor_ = new SourceEditor(body);
  layout->addWidget(editor_);
  note_ = new QLabel(body);
  note_->setObjectName("sourceNote");
  note_->setWordWrap(true);
  layout->addWidget(note_);
  setWidget(body);

  editor_->setMarkFunction([this](int line) {
    QString why;
    const std::optional<std::int32_t> address =
        linesKnown() ? lineAddress(line, why) : std::nullopt;
    if (!address || !controller_.hasBreakpoint(*address)) return SourceEditor::Mark::None;
    return controller_.breakpointEnabled(*address) ? SourceEditor::Mark::Breakpoint
                                                   : SourceEditor::Mark::Disabled;
  });
  connect(editor_->document(), &QTextDocument::modificationChanged, this,
          &SourcePanel::updateTitle);
  connect(editor_->document(), &QTextDocument::contentsChange, this, &SourcePanel::contentsChange);
  connect(editor_, &SourceEditor::gutterClicked, this, &SourcePanel::gutterClicked);
  newSource();
}

QString SourcePanel::displayName() const {
  return path_.isEmpty() ? QString::fromLatin1(kUntitled) : QFileInfo(path_).fileName();
}

std::filesystem::path SourcePanel::assemblyPath() const {
  const QString path = path_.isEmpty() ? QDir::current().absoluteFilePath(kUntitled) : path_;
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

bool SourcePanel::isModified() const {
  return editor_->document()->isModified();
}

// The document separates its lines with U+2029.
QString SourcePanel::plainText() const {
  return editor_->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

std::string SourcePanel::text() const {
  return plainText().toStdString();
}

QString SourcePanel::note() const {
  return note_->text();
}

void SourcePanel::newSource() {
  replaceBuffer(QString(), QString());
}

void SourcePanel::setSource(const QString& path, const QString& text) {
  replaceBuffer(path, text);
}

void SourcePanel::replaceBuffer(const QString& path, const QString& text) {
  crlf_ = text.contains(QLatin1String("\r\n"));
  forgetProgram();
  editor_->setPlainText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
  path_ = path;
  updateTitle();
}

bool SourcePanel::save(const QString& path, QString& error) {
  QString text = plainText();
  if (crlf_) text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  const QByteArray bytes = text.toUtf8();
  // The file is replaced only once the whole text is written.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    error = file.errorString();
    return false;
  }
  path_ = QFileInfo(path).absoluteFilePath();
  editor_->document()->setModified(false);
  updateTitle();
  return true;
}

void SourcePanel::updateTitle() {
  setWindowTitle(tr("Source: %1%2").arg(displayName(), isModified() ? QStringLiteral(" *") : ""));
  toggleViewAction()->setText(tr("Source"));  // the View menu's item keeps its name
}

void SourcePanel::setNote(const QString& text) {
  if (text == note_->text()) return;
  note_->setText(text);
  emit noteChanged(text);
}

void SourcePanel::assembled(const korvel::assembler::Result& result) {
  program_ = result;
  program_->image.clear();
  program_->listing.clear();
  program_->symbols.clear();
  assembledName_ = assemblyPath().string();
  lineAddresses_.assign(static_cast<std::size_t>(editor_->blockCount()), -1);
  for (const korvel::assembler::LineAddress& line : result.lines) {
    const auto index = static_cast<std::size_t>(line.line - 1);
    if (line.file == assembledName_ && line.line >= 1 && index < lineAddresses_.size() &&
        lineAddresses_[index] < 0)
      lineAddresses_[index] = line.address;
  }
  assembledText_ = editor_->document()->toRawText();
  stale_ = false;
  editor_->updateMarks();
}

void SourcePanel::forgetProgram() {
  program_.reset();
  lineAddresses_.clear();
  assembledText_.clear();
  stale_ = false;
  editor_->setPcLine(0);
  editor_->updateMarks();
  setNote(tr("Assemble and Load (Ctrl+F9) assembles this source and puts it in memory."));
}

// Text typed, deleted or replaced, undone or redone makes the assembled lines stale; a
// change that leaves every character as it was (the colours of a line) does not.
void SourcePanel::contentsChange(int position, int removed, int added) {
  if (!program_ || stale_) return;
  bool same = removed == added;
  const QTextDocument* document = editor_->document();
  for (int i = position; same && i < position + added; ++i) {
    // The document's last character, the end of its last line, is not part of its text.
    same = i < assembledText_.size() ? document->characterAt(i) == assembledText_[i]
                                     : i == document->characterCount() - 1;
  }
  if (same) return;
  stale_ = true;
  editor_->setPcLine(0);
  editor_->updateMarks();
  setNote(
      tr("The source has changed since it was assembled: Assemble and Load (Ctrl+F9) to "
         "follow PC and set breakpoints in it again."));
}

void SourcePanel::showPc(std::int32_t pc) {
  if (!program_ || stale_) return;
  const korvel::assembler::LineAddress* at = korvel::assembler::lineAt(*program_, pc);
  if (at != nullptr && at->file == assembledName_) {
    editor_->setPcLine(at->line);
    setNote(tr("PC %1 is on line %2.").arg(hexWord(pc)).arg(at->line));
    return;
  }
  editor_->setPcLine(0);
  if (at != nullptr) {
    setNote(tr("PC %1 is on line %2 of %3, a file that this source INCLUDEs.")
                .arg(hexWord(pc))
                .arg(at->line)
                .arg(QDir::toNativeSeparators(QFile::decodeName(at->file.c_str()))));
  } else {
    setNote(tr("PC %1 is on no line of this source: none of its instructions was placed there.")
                .arg(hexWord(pc)));
  }
}

std::optional<std::int32_t> SourcePanel::lineAddress(int line, QString& why) const {
  if (!program_) {
    why =
        tr("Assemble and Load (Ctrl+F9) first: the lines of the source get their addresses "
           "when it is assembled");
  } else if (stale_) {
    why = tr("The source has changed since it was assembled: Assemble and Load (Ctrl+F9) first");
  } else if (line < 1 || static_cast<std::size_t>(line) > lineAddresses_.size() ||
             lineAddresses_[static_cast<std::size_t>(line - 1)] < 0) {
    why = tr("Line %1 assembled to no bytes: choose a line with an instruction").arg(line);
  } else {
    return lineAddresses_[static_cast<std::size_t>(line - 1)];
  }
  return std::nullopt;
}
