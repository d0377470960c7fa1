// Port input typed by the user, port output appended to a log, and the program loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "loader.h"
#include "ports.h"
#include "temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// Answers from a script, then nullopt (no answer can come); keeps the prompts it showed.
struct ScriptedPrompter : Prompter {
  std::vector<std::string> answers, prompts;
  std::optional<std::string> ask(const std::string& prompt) override {
    prompts.push_back(prompt);
    if (prompts.size() > answers.size()) return std::nullopt;
    return answers[prompts.size() - 1];
  }
};

// Each entry is answered, if wrong (Cancel gives ""), with "WRONG ENTRY !!!" and then "7e".
TEST(PortIn, TakesExactlyTwoHexDigitsAndAsksAgainOtherwise) {
  const std::string first = "0012H: Enter data received on port 05H [00-FF]!";
  const std::vector<std::string> once = {first}, twice = {first, "WRONG ENTRY !!!\r\n" + first};
  const std::pair<std::string, std::optional<std::int32_t>> cases[] = {
      {"ff", 0xFF}, {"FF", 0xFF}, {"00", 0},   {"0a", 0x0A},
      {"A0", 0xA0}, {"aF", 0xAF}, {"", {}},    {"5", {}},
      {" 0A", {}},  {"0A ", {}},  {"0AH", {}}, {"00A", {}},
      {"GG", {}},   {"0G", {}},   {"-1", {}},  {std::string(100000, 'A'), {}}};
  ScriptedPrompter prompter;
  PromptedPortInput input(prompter);
  for (const auto& [entry, value] : cases) {
    SCOPED_TRACE("entry \"" + entry.substr(0, 8) + "\"");
    prompter.answers = {entry, "7e"};
    prompter.prompts.clear();
    EXPECT_EQ(input.portin(0x05, 0x0012), value.value_or(0x7E));
    EXPECT_EQ(prompter.prompts, value ? once : twice);
  }
  prompter.answers = {"5"};
  prompter.prompts.clear();
  EXPECT_EQ(input.portin(0xFF, 0xFFFF), std::nullopt);
  EXPECT_EQ(prompter.prompts.back(),
            "WRONG ENTRY !!!\r\nFFFFH: Enter data received on port FFH [00-FF]!");
}

// Each run appends below the earlier lines; a log that cannot be written is reported.
TEST(PortOut, AppendsOneCrLfLinePerWriteOrSaysWhyNot) {
  testing::TempDir dir;
  ASSERT_TRUE(LogFilePortOutput(dir / "out.log").portout(0x05, 0x41));
  LogFilePortOutput laterRun(dir / "out.log");
  ASSERT_TRUE(laterRun.portout(0x00, 0x0A) && laterRun.portout(0xFF, 0x00));
  EXPECT_EQ(
      testing::readText(dir / "out.log"),
      "Data 41H sent to port 05H\r\nData 0AH sent to port 00H\r\nData 00H sent to port FFH\r\n");
  fs::create_directories(dir / "logs" / "out.log");
  for (const auto& [file, reason] : {std::pair(dir / "logs" / "out.log", "Is a directory"),
                                     {dir / "out.log" / "out.log", "Not a directory"},
                                     {"/dev/full", "No space left on device"}}) {
    LogFilePortOutput output(file);
    EXPECT_FALSE(output.portout(0x01, 0x02));
    EXPECT_EQ(output.lastError(), "Cannot write to " + file.string() + ": " + reason);
  }
}

// One machine loads in turn from a folder with blanks and non-ASCII characters, named relative
// to the current directory so that every message is known in full. Each load follows a longer
// one or a failure, so nothing of an earlier image may be left over.
TEST(Loader, LoadsImagesUpToTheWholeMemoryAndRefusesTheRest) {
  EXPECT_EQ(shownDirectory("/home/ana/korvel/") + shownDirectory("/"), "/HOME/ANA/KORVEL//");
  const fs::path folder = "my programs \xC3\xBC\xC3\xA9";  // "my programs üé"
  const std::string where = "PROGRAM.BIN in the directory MY PROGRAMS \xC3\xBC\xC3\xA9/";
  const std::string missing = "Can't find file " + where, done = "Operation completed!";
  const std::string big = "Can't load file " + where +
                          ": it holds 65537 bytes, but the memory takes at most 65536 bytes";
  const std::string isDir = "Can't read file " + where + ": it is a directory, not a file";
  // clang-format off
  const struct { const char* file; int size; std::string message; } cases[] = {  // -1: a directory
      {"", 0, missing}, {"program.bin", 65536, done}, {"program.bin", 1, done},
      {"program.bin", 0, done}, {"PROGRAM.BIN", 300, done}, {"Program.Bin", 2, done},
      {"program.bin.bak", 2, missing}, {"program.bin", 65537, big}, {"program.bin", -1, isDir}};
  // clang-format on
  testing::TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  auto state = std::make_unique<MachineState>();
  state->memory.fill(0xAA);
  Machine machine(*state, {});
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " of " + std::to_string(c.size) + " bytes");
    fs::remove_all(folder);
    fs::create_directory(folder);
    std::vector<unsigned char> image(static_cast<std::size_t>(std::max(c.size, 0)));
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7 + 3);
    if (c.size < 0) fs::create_directory(folder / c.file);
    if (c.size >= 0 && *c.file) testing::writeBytes(folder / c.file, image);
    state->A = 0x12;
    state->PC = 0x4321;
    const LoadOutcome outcome = menuloader(machine, folder);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.loaded, c.message == done);
    EXPECT_EQ(state->A + state->PC, 0) << "registers not reset";
    std::vector<std::int32_t> expected(kMemorySize, 0);
    if (outcome.loaded) std::copy(image.begin(), image.end(), expected.begin());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), state->memory.begin()));
  }
  // The lower-case name wins when both spellings are there.
  fs::remove_all(folder / "program.bin");
  testing::writeBytes(folder / "PROGRAM.BIN", {0x01});
  testing::writeBytes(folder / "program.bin", {0x02});
  EXPECT_EQ(findProgramFile(folder), folder / "program.bin");
  fs::current_path(previous);
}

}  // namespace
}  // namespace korvel
