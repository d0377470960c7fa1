// The Source panel: the editor of one assembly source (a file, or a new one not saved yet),
// its unsaved-change mark, and what the last Assemble and Load of it placed where: which line
// holds the instruction at PC, and the address of a line for breakpoints and Run to Cursor.
#pragma once

#include <QDockWidget>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "assembler.h"
#include "controller.h"

QT_BEGIN_NAMESPACE
class QLabel;
QT_END_NAMESPACE

class SourceEditor;

class SourcePanel : public QDockWidget {
  Q_OBJECT

 public:
  // The gutter marks the breakpoints of `controller` on the lines they stand on.
  explicit SourcePanel(const korvel::Controller& controller, QWidget* parent = nullptr);

  SourceEditor* editor() const { return editor_; }
  // The buffer's file, absolute; empty for a new source.
  const QString& filePath() const { return path_; }
  // "prog.asm", or "untitled.asm" for a new source.
  QString displayName() const;
  // The name the assembler is given: the file, or untitled.asm in the current folder, which
  // INCLUDEs of a new source are read from.
  std::filesystem::path assemblyPath() const;
  bool isModified() const;
  // The buffer as the assembler reads it: UTF-8, lines ended by LF.
  std::string text() const;
  // What the status line under the editor says.
  QString note() const;

  // An empty buffer without a file.
  void newSource();
  // `text` of the file at `path` (absolute); its line ends are kept when it is saved.
  void setSource(const QString& path, const QString& text);
  // Writes the buffer to `path`, which becomes its file; on failure `error` says why and the
  // buffer keeps its file and its changes.
  bool save(const QString& path, QString& error);

  // The buffer was assembled without errors and placed in memory as `result` says.
  void assembled(const korvel::assembler::Result& result);
  // Memory holds something else now.
  void forgetProgram();
  // Highlights the line of the instruction at `pc`, when memory holds this buffer as it
  // was assembled; otherwise the note under the editor says why not.
  void showPc(std::int32_t pc);
  // Whether the gutter can mark breakpoints: the buffer is assembled, unchanged since.
  bool linesKnown() const { return program_ && !stale_; }
  // Where the bytes of `line` (from 1) start; nullopt with the reason for the status bar.
  std::optional<std::int32_t> lineAddress(int line, QString& why) const;

 signals:
  void gutterClicked(int line);
  void noteChanged(const QString& text);

 private:
  void replaceBuffer(const QString& path, const QString& text);
  // The buffer with LF line ends.
  QString plainText() const;
  void updateTitle();
  void contentsChange(int position, int removed, int added);
  void setNote(const QString& text);

  const korvel::Controller& controller_;
  SourceEditor* editor_ = nullptr;
  QLabel* note_ = nullptr;
  QString path_;
  bool crlf_ = false;  // the file's lines ended in CR LF
  // The last assembly placed in memory, while memory holds it: its lines (the rest emptied),
  // the address of each line of this buffer (-1: no bytes), the name it was assembled under
  // and the text it was made from, character for character as the document holds it.
  std::optional<korvel::assembler::Result> program_;
  std::vector<std::int32_t> lineAddresses_;
  std::string assembledName_;
  QString assembledText_;
  bool stale_ = false;  // the buffer has changed since
};
