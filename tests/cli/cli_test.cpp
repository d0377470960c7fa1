// korvel-cli run as a separate process on small programs written by the tests.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "temp_dir.h"

namespace korvel {
namespace {

using namespace testing;

using CliRun = std::tuple<int, std::string, std::string>;  // exit status, output, errors

CliRun runCli(const TempDir& workDir, const std::vector<std::string>& args,
              const std::string& input = "") {
  writeBytes(workDir / ".in", std::vector<unsigned char>(input.begin(), input.end()));
  std::string command = "cd '" + workDir.path().string() + "' && '" KORVEL_CLI_PATH "'";
  for (const std::string& a : args) command += " '" + a + "'";
  const int status = std::system((command + " <.in >.out 2>.err").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(workDir / ".out"),
          readText(workDir / ".err")};
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

// The closing state line: every register and flag 0 but for `changes` ("PC=0004 A=05").
std::string state(const std::string& changes = "") {
  std::string line =
      " PC=0000 SP=0000 IX=0000 IY=0000 A=00 B=00 C=00 D=00 E=00 H=00 L=00 Carry=0 Zero=0 "
      "Sign=0 Parity=0 A'=00 B'=00 C'=00 D'=00 E'=00 H'=00 L'=00 Carry'=0 Zero'=0 Sign'=0 "
      "Parity'=0\n";
  for (const std::string& field : words(changes))
    line.replace(line.find(" " + field.substr(0, field.find('=') + 1)) + 1, field.size(), field);
  return line.substr(1);
}

const std::string kHaltAtZero = "halted at 0000H after 0 instructions\ninstruction: HALT\n";
const std::string kZeros = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ";
const std::string kPrompt = "0003H: Enter data received on port 03H [00-FF]!\n";

struct Case {
  std::string args;
  const char* program;  // bytes in hexadecimal, written to p.bin
  int status;
  std::string out;       // all of standard output
  std::string err = "";  // found in standard error; empty when nothing may be written there
  const char* input = "";
};

TEST(Cli, RunsEndWithTheirClosingLinesAndExitStatus) {
  const char* readsTwoPorts = "DB 02 47 DB 03 76";  // IN A,(02H); LD B,A; IN A,(03H); HALT
  const Case cases[] = {
      {"p.bin", "3E 05 D3 01 76", 0,  // LD A,05H; OUT (01H),A; HALT
       "halted at 0004H after 2 instructions\ninstruction: HALT\n" + state("PC=0004 A=05")},
      {"--steps 10 p.bin", "18 FE", 1,
       "stopped after 10 instructions\ninstruction: JR FEH\n" + state()},
      {"--steps=300 p.bin", "", 1,
       "stopped after 300 instructions\ninstruction: NOP\n" + state("PC=012C")},
      {"--steps 0 p.bin", "", 1, "stopped after 0 instructions\ninstruction: \n" + state()},
      {"--in 7f,A0 p.bin", readsTwoPorts, 0,
       "halted at 0005H after 3 instructions\ninstruction: HALT\n" + state("PC=0005 A=A0 B=7F")},
      // The list runs out after one byte: the terminal is asked, a wrong entry asks again.
      {"--in 7f p.bin", readsTwoPorts, 0,
       "halted at 0005H after 3 instructions\ninstruction: HALT\n" + state("PC=0005 A=3C B=7F"),
       kPrompt + "WRONG ENTRY !!!\r\n" + kPrompt, "zz\n3c\n"},
      {"p.bin", "00 DB 02 76", 2,
       "stopped after 1 instructions\ninstruction: IN A,(02H)\n" + state("PC=0001"),
       "korvel-cli: input ended while the instruction at 0001H was waiting for data on port 02H\n",
       "5\n"},
      {"--out-log logs p.bin", "D3 01 76", 2,
       "stopped after 0 instructions\ninstruction: OUT (01H),A\n" + state(),
       "korvel-cli: Cannot write to logs: Is a directory\n"},
      {"--trace p.bin", "DD 21 34 12 37 D3 07 08 76", 0,
       "0000\tLD IX,1234H\t" + state("PC=0004 IX=1234") + "0004\tSCF\t" +
           state("PC=0005 IX=1234 Carry=1") + "0005\tOUT (07H),A\t" +
           state("PC=0007 IX=1234 Carry=1") + "0007\tEX AF,AF'\t" +
           state("PC=0008 IX=1234 Carry'=1") +
           "halted at 0008H after 4 instructions\ninstruction: HALT\n" +
           state("PC=0008 IX=1234 Carry'=1")},
      {"--dump 0001:12 p.bin", "76 AB", 0,
       "0001: AB " + kZeros.substr(3) + "\n0011: 00 00 \n" + kHaltAtZero + state()},
      {"--dump fff0:10 p.bin", "76", 0, "FFF0: " + kZeros + "\n" + kHaltAtZero + state()},
      {"--in 41 --out-log - " KORVEL_EXAMPLES_DIR "/hello.bin", "", 0,
       "Data 48H sent to port 01H\r\nData 45H sent to port 01H\r\nData 4CH sent to port 01H\r\n"
       "Data 4CH sent to port 01H\r\nData 4FH sent to port 01H\r\nData 42H sent to port 03H\r\n"
       "halted at 0014H after 36 instructions\ninstruction: HALT\n" +
           state("PC=0014 SP=F000 A=42 L=1D")},
      // A breakpoint stops the run before its instruction, a HALT's included; one at 0000H
      // stops it before anything runs.
      {"--break 0002 --break 3 p.bin", "00 00 00 76", 3,
       "stopped at breakpoint 0002H after 2 instructions\ninstruction: NOP\n" + state("PC=0002")},
      {"--break=3 p.bin", "00 00 00 76", 3,
       "stopped at breakpoint 0003H after 3 instructions\ninstruction: NOP\n" + state("PC=0003")},
      {"--break 0 p.bin", "00 76", 3,
       "stopped at breakpoint 0000H after 0 instructions\ninstruction: \n" + state()},
      // LD B,02H 7, DJNZ taken 13 and not 8; the HALT is not executed.
      {"--tstates p.bin", "06 02 10 FE 76", 0,
       "halted at 0004H after 3 instructions\ninstruction: HALT\nT-states: 28\n" +
           state("PC=0004")},
      {"--break 10000 p.bin", "", 2, "", "--break: \"10000\" is not an address"},
      {"--break 0x10 p.bin", "", 2, "", "--break: \"0x10\" is not an address"},
      {"nothing.bin", "", 2, "", "korvel-cli: Can't find file nothing.bin in the directory /"},
      {"good.IHX", "", 0,
       "halted at 0002H after 1 instructions\ninstruction: HALT\n" + state("PC=0002 A=05")},
      {"bad.hex", "", 2, "", "/: line 1: bad checksum: expected 6EH, found 6FH\n"},
      {"big.bin", "", 2, "", ": it holds 65537 bytes, but the memory takes at most 65536 bytes\n"},
      {"--fast p.bin", "", 2, "", "korvel-cli: unknown option --fast\n"},
      {"p.bin --steps", "", 2, "", "korvel-cli: option --steps needs a value\n"},
      {"--steps -5 p.bin", "", 2, "", "--steps: \"-5\" is not a step count"},
      {"--steps 12x p.bin", "", 2, "", "--steps: \"12x\" is not a step count"},
      {"--steps 99999999999999999999 p.bin", "", 2, "", "is not a step count"},
      {"--in 05,7 p.bin", "", 2, "", "--in: \"7\" is not a port byte"},
      {"--in 05,,06 p.bin", "", 2, "", "--in: \"\" is not a port byte"},
      {"--in 0x5 p.bin", "", 2, "", "--in: \"0x5\" is not a port byte"},
      {"--dump FFF0:11 p.bin", "", 2, "", "--dump: FFF0:11 reaches past the last address FFFFH"},
      {"--dump 10000:0 p.bin", "", 2, "", "reaches past the last address FFFFH"},
      {"--dump 0100 p.bin", "", 2, "", "--dump: \"0100\" is not START:LEN"},
      {"--dump 01G0:10 p.bin", "", 2, "", "--dump: \"01G0:10\" is not START:LEN"},
      {"", "", 2, "", "korvel-cli: no program file given\n"},
      {"p.bin other.bin", "", 2, "", "only one program file"},
      // Every instruction page (block copy, a table walk with IX, bit tests through IX and IY,
      // CB rotates), traced against the hand-checked listing in examples/pages.asm.
      {"--trace --dump 8000:18 " KORVEL_EXAMPLES_DIR "/pages.bin", "", 0,
       readText(KORVEL_GOLDEN_DIR "/pages.trace")},
  };
  TempDir dir;
  std::filesystem::create_directory(dir / "logs");
  writeBytes(dir / "big.bin", std::vector<unsigned char>(65537, 0x76));
  for (const auto& [name, text] : {std::pair("good.IHX", ":030000003E057644\r\n:00000001FF\r\n"),
                                   std::pair("bad.hex", ":050000003E05D301766F\n")}) {
    writeBytes(dir / name, std::vector<unsigned char>(text, text + std::strlen(text)));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::vector<unsigned char> program;
    for (const std::string& byte : words(c.program))
      program.push_back(static_cast<unsigned char>(std::stoi(byte, nullptr, 16)));
    writeBytes(dir / "p.bin", program);
    const auto [status, out, err] = runCli(dir, words(c.args), c.input);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(out, c.out);
    EXPECT_TRUE(c.err.empty() ? err.empty() : err.find(c.err) != std::string::npos) << err;
  }
  // The two runs that wrote to out.log appended to it, each keeping the earlier lines.
  EXPECT_EQ(readText(dir / "out.log"),
            "Data 05H sent to port 01H\r\nData 00H sent to port 07H\r\n");
  const auto [helpStatus, usage, helpErrors] = runCli(dir, {"--help"});
  EXPECT_TRUE(helpStatus == 0 &&
              usage.starts_with("Usage: korvel-cli [--steps N] [--trace] [--tstates] [--in LIST] "
                                "[--out-log FILE]\n                  [--dump START:LEN] "
                                "[--break ADDR]... PROGRAM\n\n"));
  const auto [versionStatus, version, versionErrors] = runCli(dir, {"--version"});
  EXPECT_TRUE(versionStatus == 0 && version.starts_with("korvel-cli (Korvel) 1.") &&
              versionErrors.empty())
      << version;
}

}  // namespace
}  // namespace korvel
