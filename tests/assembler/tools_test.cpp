// korvel-asm and korvel-cli run as processes on sources written by the tests: what each
// writes, what it leaves alone, its messages and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;
using namespace testing;

using Outcome = std::tuple<int, std::string, std::string>;  // exit status, output, errors

Outcome run(const TempDir& dir, const char* program, const std::string& args) {
  const std::string command =
      "cd '" + dir.path().string() + "' && '" + program + "' " + args + " </dev/null >.out 2>.err";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(dir / ".out"),
          readText(dir / ".err")};
}

void write(const fs::path& file, const std::string& text) {
  writeBytes(file, std::vector<unsigned char>(text.begin(), text.end()));
}

// The names in the folder, the tests' own .out and .err aside.
std::vector<std::string> files(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name != ".out" && name != ".err") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

const char* const kGood = "start: ld a,5\n jr start\n halt\n";  // 3E 05 18 FC 76
const char* const kBad = " ld a,300\n foo\n";

TEST(KorvelAsm, WritesItsOutputsOnlyWhenTheSourceHasNoError) {
  TempDir dir;
  write(dir / "p.asm", kGood);
  write(dir / "bad.asm", kBad);
  write(dir / "keep.bin", "keep");

  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "p.asm"), Outcome(0, "", ""));
  EXPECT_EQ(readText(dir / "p.bin"), "\x3E\x05\x18\xFC\x76");
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "--hex -l p.lst --symbols=p.sym p.asm"), Outcome(0, "", ""));
  EXPECT_EQ(readText(dir / "p.hex"), ":050000003E0518FC762E\n:00000001FF\n");
  EXPECT_TRUE(readText(dir / "p.lst").starts_with("0000  3E 05            1  start: ld a,5\n"));
  EXPECT_TRUE(readText(dir / "p.sym").starts_with("start  0000H"));

  // Errors: all of them, GNU style, nothing written, the existing file untouched.
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "-o keep.bin -l keep.lst bad.asm"),
            Outcome(2, "",
                    "bad.asm:1:7: error: 300 (012CH) is out of range for a byte: -128 to 255\n"
                    "bad.asm:2:2: error: unknown instruction foo\n"));
  EXPECT_EQ(readText(dir / "keep.bin"), "keep");
  // An output that cannot be written: nothing else is written either.
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "-okeep.bin -l no/p.lst p.asm"),
            Outcome(2, "", "korvel-asm: cannot write no/p.lst: No such file or directory\n"));
  EXPECT_EQ(readText(dir / "keep.bin"), "keep");
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "-o p.asm p.asm"),
            Outcome(2, "", "korvel-asm: p.asm would overwrite the source p.asm\n"));
  EXPECT_EQ(readText(dir / "p.asm"), kGood);
  EXPECT_EQ(files(dir), (std::vector<std::string>{"bad.asm", "keep.bin", "p.asm", "p.bin", "p.hex",
                                                  "p.lst", "p.sym"}));

  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "none.asm"),
            Outcome(2, "", "none.asm: error: cannot read the file: No such file or directory\n"));
  const std::string tryHelp = "\nTry 'korvel-asm --help' for more information.\n";
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "--fast p.asm"),
            Outcome(2, "", "korvel-asm: unknown option --fast" + tryHelp));
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "p.asm -o"),
            Outcome(2, "", "korvel-asm: option -o needs a file name" + tryHelp));
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, ""),
            Outcome(2, "", "korvel-asm: no source file given" + tryHelp));
  EXPECT_EQ(run(dir, KORVEL_ASM_PATH, "--version"),
            Outcome(0, "korvel-asm (Korvel) " KORVEL_VERSION "\n", ""));
  const auto [status, usage, errors] = run(dir, KORVEL_ASM_PATH, "--help");
  EXPECT_TRUE(status == 0 && errors.empty() &&
              usage.starts_with("Usage: korvel-asm [OPTION]... SOURCE\n"));
}

TEST(KorvelCli, AssemblesASourceAndRunsIt) {
  TempDir dir;
  write(dir / "p.Z80", kGood);
  write(dir / "bad.s", kBad);
  EXPECT_EQ(run(dir, KORVEL_CLI_PATH, "--steps 3 p.Z80"),
            Outcome(1,
                    "stopped after 3 instructions\ninstruction: LD A,05H\n"
                    "PC=0002 SP=0000 IX=0000 IY=0000 A=05 B=00 C=00 D=00 E=00 H=00 L=00 Carry=0 "
                    "Zero=0 Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 "
                    "Zero'=0 Sign'=0 Parity'=0\n",
                    ""));
  EXPECT_EQ(run(dir, KORVEL_CLI_PATH, "bad.s"),
            Outcome(2, "",
                    "bad.s:1:7: error: 300 (012CH) is out of range for a byte: -128 to 255\n"
                    "bad.s:2:2: error: unknown instruction foo\n"));
}

}  // namespace
}  // namespace korvel
