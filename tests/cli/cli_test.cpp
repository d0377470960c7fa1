// korvel-cli run as a separate process on small programs written by the tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/peripherals/temp_dir.h"

namespace korvel {
namespace {

using testing::readText;
using testing::TempDir;
using testing::writeBytes;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs korvel-cli in `workDir` with `args`, feeding `input` to its standard input.
CliRun runCli(const std::filesystem::path& workDir, const std::vector<std::string>& args,
              const std::string& input = "") {
  const auto inFile = workDir / ".stdin";
  const auto outFile = workDir / ".stdout";
  const auto errFile = workDir / ".stderr";
  writeBytes(inFile, std::vector<unsigned char>(input.begin(), input.end()));

  std::vector<std::string> argvText{KORVEL_CLI_PATH};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int in = open(inFile.c_str(), O_RDONLY);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(workDir.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  CliRun run;
  int wstatus = 0;
  if (child > 0 && waitpid(child, &wstatus, 0) == child && WIFEXITED(wstatus)) {
    run.status = WEXITSTATUS(wstatus);
  }
  run.out = readText(outFile);
  run.err = readText(errFile);
  return run;
}

class CliTest : public ::testing::Test {
 protected:
  CliRun runProgram(const std::vector<unsigned char>& program, std::vector<std::string> args,
                    const std::string& input = "") {
    writeBytes(dir / "prog.bin", program);
    args.push_back("prog.bin");
    return runCli(dir.path(), args, input);
  }
  TempDir dir;
};

constexpr const char* kResetState =
    "PC=0000 SP=0000 IX=0000 IY=0000 A=00 B=00 C=00 D=00 E=00 H=00 L=00 Carry=0 Zero=0 Sign=0 "
    "Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 Sign'=0 Parity'=0";

TEST_F(CliTest, RunsToHaltAndAppendsOutLinesToOutLog) {
  // LD A,05H / OUT (01H),A / HALT
  const std::vector<unsigned char> program = {0x3E, 0x05, 0xD3, 0x01, 0x76};
  const CliRun run = runProgram(program, {});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "halted at 0004H after 2 instructions\n"
            "instruction: HALT\n"
            "PC=0004 SP=0000 IX=0000 IY=0000 A=05 B=00 C=00 D=00 E=00 H=00 L=00 Carry=0 Zero=0 "
            "Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 Sign'=0 "
            "Parity'=0\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(readText(dir / "out.log"), "Data 05H sent to port 01H\r\n");

  // A second run appends; --out-log - sends the lines to standard output instead.
  EXPECT_EQ(runProgram(program, {}).status, 0);
  EXPECT_EQ(readText(dir / "out.log"),
            "Data 05H sent to port 01H\r\nData 05H sent to port 01H\r\n");
  const CliRun toStdout = runProgram(program, {"--out-log", "-"});
  EXPECT_EQ(toStdout.out.substr(0, 64),
            "Data 05H sent to port 01H\r\nhalted at 0004H after 2 instructions\n");
  EXPECT_EQ(readText(dir / "out.log").size(), 54u);
}

TEST_F(CliTest, HaltAtTheFirstByteRunsNothing) {
  const CliRun run = runProgram({0x76}, {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("halted at 0000H after 0 instructions\ninstruction: HALT\n") +
                         kResetState + "\n");
}

TEST_F(CliTest, StepLimitEndsAProgramThatNeverHalts) {
  const CliRun run = runProgram({0x18, 0xFE}, {"--steps", "10"});  // JR FEH: jumps to itself
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string("stopped after 10 instructions\ninstruction: JR FEH\n") +
                         kResetState + "\n");

  // Memory of zeros: NOPs until the limit.
  const CliRun nops = runProgram({}, {"--steps=300"});
  EXPECT_EQ(nops.status, 1);
  EXPECT_EQ(nops.out.substr(0, 55), "stopped after 300 instructions\ninstruction: NOP\nPC=012C");

  const CliRun none = runProgram({}, {"--steps", "0"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out,
            std::string("stopped after 0 instructions\ninstruction: \n") + kResetState + "\n");
}

TEST_F(CliTest, TraceShowsEveryInstructionWithTheStateAfterIt) {
  const std::vector<unsigned char> program = {
      0x31, 0xCD, 0xAB,        // 0000 LD SP,ABCDH
      0xDD, 0x21, 0x34, 0x12,  // 0003 LD IX,1234H
      0xFD, 0x21, 0x78, 0x56,  // 0007 LD IY,5678H
      0x3E, 0x05,              // 000B LD A,05H
      0x06, 0x10,              // 000D LD B,10H
      0x37,                    // 000F SCF
      0xD9,                    // 0010 EXX
      0x08,                    // 0011 EX AF,AF'
      0x76,                    // 0012 HALT
  };
  const CliRun run = runProgram(program, {"--trace"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      run.out,
      "0000\tLD SP,ABCDH\tPC=0003 SP=ABCD IX=0000 IY=0000 A=00 B=00 C=00 D=00 E=00 H=00 L=00 "
      "Carry=0 Zero=0 Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "0003\tLD IX,1234H\tPC=0007 SP=ABCD IX=1234 IY=0000 A=00 B=00 C=00 D=00 E=00 H=00 L=00 "
      "Carry=0 Zero=0 Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "0007\tLD IY,5678H\tPC=000B SP=ABCD IX=1234 IY=5678 A=00 B=00 C=00 D=00 E=00 H=00 L=00 "
      "Carry=0 Zero=0 Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "000B\tLD A,05H\tPC=000D SP=ABCD IX=1234 IY=5678 A=05 B=00 C=00 D=00 E=00 H=00 L=00 "
      "Carry=0 Zero=0 Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "000D\tLD B,10H\tPC=000F SP=ABCD IX=1234 IY=5678 A=05 B=10 C=00 D=00 E=00 H=00 L=00 "
      "Carry=0 Zero=0 Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "000F\tSCF\tPC=0010 SP=ABCD IX=1234 IY=5678 A=05 B=10 C=00 D=00 E=00 H=00 L=00 "
      "Carry=1 Zero=0 Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "0010\tEXX\tPC=0011 SP=ABCD IX=1234 IY=5678 A=05 B=00 C=00 D=00 E=00 H=00 L=00 "
      "Carry=1 Zero=0 Sign=0 Parity=0 A'=00 B'=10 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "0011\tEX AF,AF'\tPC=0012 SP=ABCD IX=1234 IY=5678 A=00 B=00 C=00 D=00 E=00 H=00 L=00 "
      "Carry=0 Zero=0 Sign=0 Parity=0 A'=05 B'=10 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=1 Zero'=0 "
      "Sign'=0 Parity'=0\n"
      "halted at 0012H after 8 instructions\n"
      "instruction: HALT\n"
      "PC=0012 SP=ABCD IX=1234 IY=5678 A=00 B=00 C=00 D=00 E=00 H=00 L=00 "
      "Carry=0 Zero=0 Sign=0 Parity=0 A'=05 B'=10 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=1 Zero'=0 "
      "Sign'=0 Parity'=0\n");
}

TEST_F(CliTest, DumpPrintsRowsOfSixteenBytesBeforeTheClosingLines) {
  std::vector<unsigned char> program(0x20);
  for (std::size_t i = 0; i < program.size(); ++i)
    program[i] = static_cast<unsigned char>(0xE0 + i);
  program[0] = 0x76;
  const CliRun run = runProgram(program, {"--dump", "0008:13"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find("halted")),
            "0008: E8 E9 EA EB EC ED EE EF F0 F1 F2 F3 F4 F5 F6 F7 \n"
            "0018: F8 F9 FA \n");

  const CliRun top = runProgram({0x76}, {"--dump", "fff0:10"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.out.substr(0, top.out.find("halted")),
            "FFF0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \n");
}

TEST_F(CliTest, PortReadsUseTheInListThenAskOnTheTerminal) {
  // IN A,(02H) / LD B,A / IN A,(03H) / HALT
  const std::vector<unsigned char> program = {0xDB, 0x02, 0x47, 0xDB, 0x03, 0x76};
  const CliRun listed = runProgram(program, {"--in", "7f,A0"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("A=A0 B=7F"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.err, "");

  // The list runs out after one byte: the second read asks, a wrong entry asks again.
  const CliRun asked = runProgram(program, {"--in", "7f"}, "zz\n3c\n");
  EXPECT_EQ(asked.status, 0) << asked.err;
  EXPECT_NE(asked.out.find("A=3C B=7F"), std::string::npos) << asked.out;
  EXPECT_EQ(asked.err,
            "0003H: Enter data received on port 03H [00-FF]!\n"
            "WRONG ENTRY !!!\r\n0003H: Enter data received on port 03H [00-FF]!\n");
}

TEST_F(CliTest, EndOfInputStopsTheRunAtTheInInstruction) {
  const CliRun run = runProgram({0x00, 0xDB, 0x02, 0x76}, {}, "5\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("input ended while the instruction at 0001H was waiting for data on "
                         "port 02H"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("stopped after 1 instructions\ninstruction: IN A,(02H)\nPC=0001 "),
            std::string::npos)
      << run.out;
}

TEST_F(CliTest, UnwritableLogStopsTheRunAndNamesTheFile) {
  std::filesystem::create_directory(dir / "logs");
  const CliRun run = runProgram({0xD3, 0x01, 0x76}, {"--out-log", "logs"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Cannot write to logs: Is a directory"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("stopped after 0 instructions"), std::string::npos) << run.out;
}

TEST_F(CliTest, ProgramFilesThatCannotBeLoadedAreReported) {
  const CliRun missing = runCli(dir.path(), {"nothing.bin"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err.rfind("korvel-cli: Can't find file NOTHING.BIN in the directory /", 0), 0u)
      << missing.err;
  EXPECT_EQ(missing.out, "");

  writeBytes(dir / "big.bin", std::vector<unsigned char>(65537, 0x76));
  const CliRun big = runCli(dir.path(), {"big.bin"});
  EXPECT_EQ(big.status, 2);
  EXPECT_NE(big.err.find("it holds 65537 bytes, but the memory takes at most 65536 bytes"),
            std::string::npos)
      << big.err;
  EXPECT_EQ(big.out, "");
}

TEST_F(CliTest, BadCommandLinesAreUsageErrors) {
  writeBytes(dir / "prog.bin", {0x76});
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--fast", "prog.bin"}, "unknown option --fast"},
      {{"prog.bin", "--steps"}, "option --steps needs a value"},
      {{"--steps", "-5", "prog.bin"}, "--steps: \"-5\" is not a step count"},
      {{"--steps", "12x", "prog.bin"}, "--steps: \"12x\" is not a step count"},
      {{"--steps", "99999999999999999999", "prog.bin"}, "is not a step count"},
      {{"--in", "05,7", "prog.bin"}, "--in: \"7\" is not a port byte"},
      {{"--in", "05,,06", "prog.bin"}, "--in: \"\" is not a port byte"},
      {{"--in", "0x5", "prog.bin"}, "--in: \"0x5\" is not a port byte"},
      {{"--dump", "FFF0:11", "prog.bin"}, "--dump: FFF0:11 reaches past the last address FFFFH"},
      {{"--dump", "10000:0", "prog.bin"}, "reaches past the last address FFFFH"},
      {{"--dump", "0100", "prog.bin"}, "is not START:LEN"},
      {{"--dump", "01G0:10", "prog.bin"}, "is not START:LEN"},
      {{}, "no program file given"},
      {{"prog.bin", "other.bin"}, "only one program file"},
  };
  for (const auto& c : cases) {
    const CliRun run = runCli(dir.path(), c.args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << c.message;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out.log"));
}

TEST_F(CliTest, HelpPrintsUsage) {
  const CliRun run = runCli(dir.path(), {"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: korvel-cli [--steps N] [--trace] [--in LIST] [--out-log FILE] "
                          "[--dump START:LEN] PROGRAM\n",
                          0),
            0u);
}

TEST_F(CliTest, BundledExampleSaysHelloAndAddsOneToItsInput) {
  const CliRun run = runCli(dir.path(), {"--in", "41", "--out-log", "-",
                                         std::string(KORVEL_EXAMPLES_DIR) + "/hello.bin"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Data 48H sent to port 01H\r\n"
            "Data 45H sent to port 01H\r\n"
            "Data 4CH sent to port 01H\r\n"
            "Data 4CH sent to port 01H\r\n"
            "Data 4FH sent to port 01H\r\n"
            "Data 42H sent to port 03H\r\n"
            "halted at 0014H after 36 instructions\n"
            "instruction: HALT\n"
            "PC=0014 SP=F000 IX=0000 IY=0000 A=42 B=00 C=00 D=00 E=00 H=00 L=1D Carry=0 Zero=0 "
            "Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 Sign'=0 "
            "Parity'=0\n");
}

}  // namespace
}  // namespace korvel
