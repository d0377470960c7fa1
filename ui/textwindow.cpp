#include "textwindow.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>

QString helpText() {
  // One entry per line; every line, the last empty one included, ends with a line break.
  static const char* const kLines[] = {
      R"t(1. When you start Korvel the whole memory)t",
      R"t((64K address range 0000H-FFFFH) is filled with NOPs)t",
      R"t((opcode 00H).)t",
      R"t()t",
      R"t(2. You can load a program into memory by selecting)t",
      R"t(\Tools\Program Loader from the menu or by pressing)t",
      R"t(Ctrl+P on the keyboard. The program must be a binary)t",
      R"t(image starting from address 0000H and must be)t",
      R"t(contained in the file PROGRAM.BIN in the application)t",
      R"t(directory.)t",
      R"t()t",
      R"t(3. The simulation rate can be selected from the menu.)t",
      R"t(Menu item \Rate contains five choices:)t",
      R"t(- Step by Step (Interval = at your will))t",
      R"t(- Slow (Interval = 1500 ms))t",
      R"t(- Normal (Interval = 250 ms))t",
      R"t(- Fast (Interval = 1 ms))t",
      R"t(- Extremely Fast (Interval = Extremely Short))t",
      R"t()t",
      R"t(4. HEX memory viewer is available by selecting)t",
      R"t(\Tools\Memory Viewer from the menu or by pressing)t",
      R"t(Ctrl+M. It has a scroll bar that is very easy to use.)t",
      R"t()t",
      R"t(5. The simulation starts by pressing F1 on the keyboard)t",
      R"t(or by selecting \Simulation\Start from the menu.)t",
      R"t(The simulation will automatically stop when it reaches)t",
      R"t(a HALT (opcode 76H) instruction, or when user presses)t",
      R"t(F3 which is equivalent to \Simulation\Stop from)t",
      R"t(the menu. When Extremely Fast rate is selected)t",
      R"t(the whole menu is not enabled and simulation will stop)t",
      R"t(when HALT is encountered or after 1,000,000)t",
      R"t(instructions. When Step by Step)t",
      R"t(rate is selected, next instruction is executed on every)t",
      R"t(click on F2.)t",
      R"t()t",
      R"t(6. Only official Z80 instructions are simulated in)t",
      R"t(this version. Among them, the following instructions are)t",
      R"t(not simulated:  DAA; LD A,I; LD A,R; LD I,A; LD R,A;)t",
      R"t(DI; EI; IM 0; IM 1; IM 2; RETI; RETN.)t",
      R"t(These instructions are also recognized (the simulator)t",
      R"t(will not crash) but nothing is executed.)t",
      R"t()t",
      R"t(7. IN instructions prompt user to manually enter every)t",
      R"t(incoming byte on all ports. OUT instructions are logged)t",
      R"t(in OUT.LOG file in the application directory. Every OUT)t",
      R"t(instruction append a new line in the OUT.LOG file.)t",
      R"t()t",
      R"t(8. The box that asks for an IN byte has three buttons.)t",
      R"t(OK takes the entry, Cancel asks again, and Stop run)t",
      R"t(stops the run without the byte: the IN is not executed)t",
      R"t(and PC stays on it. While the box is open, Stop (F3))t",
      R"t(and closing the main window work as usual.)t",
      R"t(The status bar says how each run ended: at which HALT,)t",
      R"t(by Stop, after 1,000,000 instructions, or why an)t",
      R"t(instruction could not be completed.)t",
      R"t()t",
      R"t(9. Programs can be opened from any folder with)t",
      R"t(\File\Open Program (Ctrl+O), by dropping one file on the)t",
      R"t(main window, or by naming it when Korvel starts:)t",
      R"t(korvel prog.hex. \File\Reload (Ctrl+R) reads the same)t",
      R"t(file again and \File\Recent Programs lists the last)t",
      R"t(eight. Files ending in .hex or .ihx are Intel HEX;)t",
      R"t(.asm, .z80 and .s are assembly source, which Korvel's)t",
      R"t(assembler assembles; any other file is a binary image)t",
      R"t(of at most 64K. Loading resets the registers, fills)t",
      R"t(the memory with 00H and places the program from)t",
      R"t(0000H; the status bar says what was loaded. A file)t",
      R"t(that cannot be loaded is refused with the reason and)t",
      R"t(nothing changes. The OUT lines of a program opened)t",
      R"t(from a file go to out.log in the program's folder, or)t",
      R"t(to out.log in your data folder when that folder can't)t",
      R"t(be written; for Ctrl+P the application directory takes)t",
      R"t(the program's folder's place. The status bar shows)t",
      R"t(which file is the log. The Output panel lists every)t",
      R"t(OUT line as it is written, under the log's name;)t",
      R"t(Clear empties the panel, never the file. Close it and)t",
      R"t(open it again with \View\Output Panel.)t",
      R"t()t",
      R"t(10. The Debug menu helps you follow a program.)t",
      R"t(Continue (F5) goes on from where the program stopped,)t",
      R"t(at the chosen rate, without resetting the registers.)t",
      R"t(Step Into (F11) runs one instruction at any rate.)t",
      R"t(Step Over (F10) runs a CALL, an RST or a repeating)t",
      R"t(instruction such as LDIR to its end. Step Out)t",
      R"t((Shift+F11) runs until the current routine returns.)t",
      R"t(Run to Cursor (Ctrl+F10) runs to the line selected in)t",
      R"t(the Disassembly panel. Stop (F3) ends these runs.)t",
      R"t(Toggle Breakpoint (F9), or a double click on a line of)t",
      R"t(the Disassembly panel, sets or clears a breakpoint: a)t",
      R"t(run at any rate stops before the instruction there.)t",
      R"t(The Breakpoints panel adds them by address or label)t",
      R"t(and turns them on and off. Go to Address (Ctrl+G))t",
      R"t(shows any address in the Disassembly panel.)t",
      R"t(Step Back (Shift+F2) undoes the last instruction, again)t",
      R"t(and again, up to 1,000,000 instructions. A line that an)t",
      R"t(undone OUT wrote stays in OUT.LOG.)t",
      R"t(The Disassembly panel highlights the line at PC, the)t",
      R"t(next instruction to run. After every step or stop the)t",
      R"t(registers, flags and memory cells that changed are)t",
      R"t(shown in bold on orange, in the register display and)t",
      R"t(in the Memory and Stack panels.)t",
      R"t(While the program is stopped, double-click a register)t",
      R"t(to change it (two or four hexadecimal digits), click a)t",
      R"t(flag to toggle it, or type two digits into a cell of)t",
      R"t(the Memory panel. The View menu shows or hides the)t",
      R"t(panels.)t",
      R"t(Below the registers: the instructions and the T-states)t",
      R"t((a real Z80's clock cycles) since Start.)t",
      R"t()t",
      R"t(11. The Source menu lets you write programs in)t",
      R"t(Korvel. New Source (Ctrl+N) opens an empty source in)t",
      R"t(the Source panel; Save (Ctrl+S) and Save As write it)t",
      R"t(to a file. Assemble and Load (Ctrl+F9) assembles the)t",
      R"t(text, saved or not, and loads the program as)t",
      R"t(\File\Open Program does. Errors are listed in the)t",
      R"t(Errors panel with their line and column, and nothing)t",
      R"t(is loaded; double-click an error to go to its place.)t",
      R"t(Opening a .asm, .z80 or .s file puts it in the)t",
      R"t(editor and assembles it. Before changes that are not)t",
      R"t(saved would be lost, Korvel asks whether to save them.)t",
      R"t(The editor numbers the lines and colours mnemonics,)t",
      R"t(registers, numbers, strings, comments, labels and)t",
      R"t(directives. While the program is stopped or runs)t",
      R"t(step by step, the line of the instruction at PC is)t",
      R"t(highlighted. Click beside a line's number to set or)t",
      R"t(clear a breakpoint there (a red dot). With the cursor)t",
      R"t(in the editor, Toggle Breakpoint (F9) and Run to)t",
      R"t(Cursor (Ctrl+F10) work on the cursor's line. Once the)t",
      R"t(text changes, assemble it again to follow PC in it.)t",
      R"t()t",
  };
  QString text;
  for (const char* line : kLines) text += QLatin1String(line) + QLatin1Char('\n');
  return text;
}

QString aboutText() {
  return QStringLiteral(
      "Korvel\n"
      "A Z80 simulator for learning\n"
      "Version " KORVEL_VERSION
      "\n"
      "\n"
      "Korvel runs small Z80 programs one instruction at a time and shows\n"
      "the registers, the flags and the instruction just executed.\n"
      "\n"
      "This program is meant for study and experiment. It is provided as is,\n"
      "without any warranty: it models the documented Z80 instructions with\n"
      "the Carry, Zero, Sign and Parity flags only, and its results may\n"
      "differ from those of a real processor.\n");
}

TextWindow::TextWindow(const QString& objectName, const QString& title, const QString& text,
                       QWidget* parent)
    : QWidget(parent) {
  setObjectName(objectName);
  setWindowTitle(title);
  setAttribute(Qt::WA_DeleteOnClose);

  text1_ = new QPlainTextEdit(this);
  text1_->setObjectName("Text1");
  text1_->setReadOnly(true);
  text1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QPalette p = text1_->palette();
  p.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
  p.setColor(QPalette::Text, Qt::black);
  text1_->setPalette(p);
  text1_->setPlainText(text);

  const QFontMetrics fm(text1_->font());
  int widest = 0;
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (const QString& line : lines) widest = std::max(widest, fm.horizontalAdvance(line));
  resize(widest + 48, std::min(static_cast<int>(lines.size()), 30) * fm.lineSpacing() + 24);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(text1_);
}
