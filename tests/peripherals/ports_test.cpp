// Port input typed by the user and port output appended to a log, with their exact texts.
#include "peripherals/ports.h"

#include <gtest/gtest.h>

#include <deque>

#include "tests/peripherals/temp_dir.h"

namespace korvel {
namespace {

// Answers from a script, then nullopt (no answer can come); keeps the prompts it showed.
struct ScriptedPrompter : Prompter {
  std::deque<std::string> answers;
  std::vector<std::string> prompts;
  std::optional<std::string> ask(const std::string& prompt) override {
    prompts.push_back(prompt);
    if (answers.empty()) return std::nullopt;
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// One input answers every entry in turn: a wrong one (Cancel gives "") is asked again with
// "WRONG ENTRY !!!" and then answered "7e". Every IN starts with a clean prompt.
TEST(PortIn, TakesExactlyTwoHexDigitsAndAsksAgainOtherwise) {
  const std::string first = "0012H: Enter data received on port 05H [00-FF]!";
  const std::vector<std::string> once = {first}, twice = {first, "WRONG ENTRY !!!\r\n" + first};
  const struct {
    std::string entry;
    std::optional<std::int32_t> value;
  } cases[] = {{"ff", 0xFF}, {"FF", 0xFF}, {"00", 0},   {"0a", 0x0A},
               {"A0", 0xA0}, {"aF", 0xAF}, {"", {}},    {"5", {}},
               {" 0A", {}},  {"0A ", {}},  {"0AH", {}}, {"00A", {}},
               {"GG", {}},   {"0G", {}},   {"-1", {}},  {std::string(100000, 'A'), {}}};
  ScriptedPrompter prompter;
  PromptedPortInput input(prompter);
  for (const auto& c : cases) {
    SCOPED_TRACE("entry \"" + c.entry.substr(0, 8) + "\"");
    prompter.answers = {c.entry, "7e"};
    prompter.prompts.clear();
    EXPECT_EQ(input.portin(0x05, 0x0012), c.value.value_or(0x7E));
    EXPECT_EQ(prompter.prompts, c.value ? once : twice);
  }
  prompter.answers = {"5"};
  EXPECT_EQ(input.portin(0xFF, 0xFFFF), std::nullopt);
  EXPECT_EQ(prompter.prompts.back(),
            "WRONG ENTRY !!!\r\nFFFFH: Enter data received on port FFH [00-FF]!");
}

// Every run opens the log anew and appends below the earlier lines; a log that cannot be
// written (a directory in its place, a path below a regular file, a full disk) is reported.
TEST(PortOut, AppendsOneCrLfLinePerWriteOrSaysWhyNot) {
  testing::TempDir dir;
  ASSERT_TRUE(LogFilePortOutput(dir / "out.log").portout(0x05, 0x41));
  LogFilePortOutput laterRun(dir / "out.log");
  ASSERT_TRUE(laterRun.portout(0x00, 0x0A));
  ASSERT_TRUE(laterRun.portout(0xFF, 0x00));
  EXPECT_EQ(
      testing::readText(dir / "out.log"),
      "Data 41H sent to port 05H\r\nData 0AH sent to port 00H\r\nData 00H sent to port FFH\r\n");

  std::filesystem::create_directories(dir / "logs" / "out.log");
  const std::pair<std::filesystem::path, std::string> cases[] = {
      {dir / "logs" / "out.log", "Is a directory"},
      {dir / "out.log" / "out.log", "Not a directory"},
      {"/dev/full", "No space left on device"}};
  for (const auto& [file, reason] : cases) {
    LogFilePortOutput output(file);
    EXPECT_FALSE(output.portout(0x01, 0x02));
    EXPECT_EQ(output.lastError(), "Cannot write to " + file.string() + ": " + reason);
  }
}

}  // namespace
}  // namespace korvel
