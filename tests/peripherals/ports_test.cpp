#include "peripherals/ports.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/peripherals/temp_dir.h"

namespace korvel {
namespace {

using testing::readText;
using testing::TempDir;

// Answers the prompts from a script and remembers every prompt it was shown.
class ScriptedPrompter : public Prompter {
 public:
  explicit ScriptedPrompter(std::vector<std::optional<std::string>> answers)
      : answers_(std::move(answers)) {}
  std::optional<std::string> ask(const std::string& prompt) override {
    prompts.push_back(prompt);
    if (next_ >= answers_.size()) return std::nullopt;
    return answers_[next_++];
  }
  std::vector<std::string> prompts;

 private:
  std::vector<std::optional<std::string>> answers_;
  std::size_t next_ = 0;
};

TEST(PortPrompt, ShowsAddressAndPortWithWrongEntryLineOnRepeats) {
  EXPECT_EQ(portPrompt(0x0012, 0x05, false), "0012H: Enter data received on port 05H [00-FF]!");
  EXPECT_EQ(portPrompt(0x0012, 0x05, true),
            "WRONG ENTRY !!!\r\n0012H: Enter data received on port 05H [00-FF]!");
  EXPECT_EQ(portPrompt(0xFFFF, 0xFF, false), "FFFFH: Enter data received on port FFH [00-FF]!");
  EXPECT_EQ(portPrompt(0x0000, 0x00, false), "0000H: Enter data received on port 00H [00-FF]!");
}

TEST(PortEntry, AcceptsExactlyTwoHexDigitsOfEitherCase) {
  const struct {
    const char* entry;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"ff", 255}, {"FF", 255}, {"00", 0},  {"0a", 10},  {"0A", 10},  {"A0", 160},
      {"aF", 175}, {"", {}},    {"5", {}},  {" 0A", {}}, {"0A ", {}}, {"0AH", {}},
      {"00A", {}}, {"GG", {}},  {"0G", {}}, {"-1", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parsePortEntry(c.entry), c.value) << "entry \"" << c.entry << "\"";
  }
}

TEST(PortIn, AsksAgainWithWrongEntryUntilTheEntryIsValid) {
  // "5" is one digit too short, "" is a cancelled box, "0AH" has a suffix.
  ScriptedPrompter prompter({"5", "", "0AH", "c3"});
  PromptedPortInput input(prompter);
  EXPECT_EQ(input.portin(0x05, 0x0012), 0xC3);
  const std::string first = "0012H: Enter data received on port 05H [00-FF]!";
  const std::string again = "WRONG ENTRY !!!\r\n" + first;
  EXPECT_EQ(prompter.prompts, (std::vector<std::string>{first, again, again, again}));

  // The next instruction starts with a clean prompt again.
  ScriptedPrompter second({"00"});
  PromptedPortInput input2(second);
  EXPECT_EQ(input2.portin(0x80, 0x1234), 0);
  EXPECT_EQ(second.prompts,
            std::vector<std::string>{"1234H: Enter data received on port 80H [00-FF]!"});
}

TEST(PortIn, GivesNoByteWhenNoAnswerCanCome) {
  ScriptedPrompter prompter({"zz", std::nullopt});
  PromptedPortInput input(prompter);
  EXPECT_EQ(input.portin(0x01, 0x0000), std::nullopt);
  EXPECT_EQ(prompter.prompts.size(), 2u);
}

TEST(PortLog, FormatsLineWithTwoDigitsEach) {
  EXPECT_EQ(portLogLine(0x05, 0x41), "Data 41H sent to port 05H");
  EXPECT_EQ(portLogLine(0, 10), "Data 0AH sent to port 00H");
  EXPECT_EQ(portLogLine(255, 255), "Data FFH sent to port FFH");
}

TEST(PortOut, AppendsOneCrLfLineForEveryWriteAndKeepsEarlierLines) {
  TempDir dir;
  const auto log = dir / "out.log";
  LogFilePortOutput output(log);
  ASSERT_TRUE(output.portout(0x05, 0x41));
  EXPECT_EQ(readText(log), "Data 41H sent to port 05H\r\n");  // created by the first write
  ASSERT_TRUE(output.portout(0x00, 0x0A));
  EXPECT_EQ(readText(log), "Data 41H sent to port 05H\r\nData 0AH sent to port 00H\r\n");

  // A later run (a new output on the same file) appends below the earlier lines.
  LogFilePortOutput laterRun(log);
  ASSERT_TRUE(laterRun.portout(0xFF, 0x00));
  EXPECT_EQ(readText(log),
            "Data 41H sent to port 05H\r\nData 0AH sent to port 00H\r\n"
            "Data 00H sent to port FFH\r\n");
  EXPECT_TRUE(laterRun.lastError().empty());
}

TEST(PortOut, ReportsALogThatCannotBeWritten) {
  TempDir dir;
  // A directory in the log's place, and a log path below a regular file: both refuse
  // writes even to root.
  std::filesystem::create_directory(dir / "out.log");
  testing::writeBytes(dir / "plain", {1});
  const struct {
    std::filesystem::path file;
    const char* reason;
  } cases[] = {{dir / "out.log", "Is a directory"}, {dir / "plain" / "out.log", "Not a directory"}};
  for (const auto& c : cases) {
    LogFilePortOutput output(c.file);
    EXPECT_FALSE(output.portout(0x01, 0x02));
    EXPECT_EQ(output.lastError(), "Cannot write to " + c.file.string() + ": " + c.reason);
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "out.log"));
}

TEST(PortOut, ReportsAFullDisk) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  LogFilePortOutput output("/dev/full");
  EXPECT_FALSE(output.portout(0x01, 0x02));
  EXPECT_EQ(output.lastError(), "Cannot write to /dev/full: No space left on device");
}

// The core hands portin the address of the IN instruction's first byte: the opcode for
// IN A,(n), the ED prefix for IN r,(C).
TEST(PortIn, PromptNamesTheAddressOfTheInInstruction) {
  ScriptedPrompter prompter({"12", "34"});
  PromptedPortInput input(prompter);
  auto state = std::make_unique<MachineState>();
  Machine machine(*state, MachineHooks{nullptr, &input, nullptr, nullptr});
  machine.clean();
  state->memory[0x0000] = 0xDB;  // IN A,(05H)
  state->memory[0x0001] = 0x05;
  state->memory[0x0002] = 0x0E;  // LD C,07H
  state->memory[0x0003] = 0x07;
  state->memory[0x0004] = 0xED;  // IN B,(C)
  state->memory[0x0005] = 0x40;
  for (int tick = 0; tick < 3; ++tick) machine.clock_Timer();
  EXPECT_EQ(prompter.prompts,
            (std::vector<std::string>{"0000H: Enter data received on port 05H [00-FF]!",
                                      "0004H: Enter data received on port 07H [00-FF]!"}));
  EXPECT_EQ(state->A, 0x12);
  EXPECT_EQ(state->B, 0x34);
  EXPECT_EQ(state->PC, 0x0006);
}

}  // namespace
}  // namespace korvel
