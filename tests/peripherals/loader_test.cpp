#include "peripherals/loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "tests/peripherals/temp_dir.h"

namespace korvel {
namespace {

using testing::TempDir;
using testing::writeBytes;

class CountingDisplay : public Display {
 public:
  void ekran() override { ++calls; }
  int calls = 0;
};

class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() : state(std::make_unique<MachineState>()), machine(*state, {&display}) {
    // Leftovers of an earlier program and run, which every load must wipe out.
    state->memory.fill(0xAA);
    state->A = 0x12;
    state->PC = 0x4321;
    state->altCarry = 1;
  }

  // Memory holds `image` from 0000H and zeros everywhere else.
  void expectMemory(const std::vector<unsigned char>& image) {
    for (int address = 0; address < kMemorySize; ++address) {
      const int expected =
          address < static_cast<int>(image.size()) ? image[static_cast<std::size_t>(address)] : 0;
      if (state->memory[static_cast<std::size_t>(address)] != expected) {
        ADD_FAILURE() << "memory[" << address << "] = " << state->memory[address] << ", expected "
                      << expected;
        return;
      }
    }
  }

  void expectReset() {
    EXPECT_EQ(state->A, 0);
    EXPECT_EQ(state->PC, 0);
    EXPECT_EQ(state->altCarry, 0);
    EXPECT_EQ(machine.instructionText(), "");
    EXPECT_GE(display.calls, 1);
  }

  TempDir dir;
  CountingDisplay display;
  std::unique_ptr<MachineState> state;
  Machine machine;
};

TEST(ShownDirectory, IsUpperCaseWithOneTrailingSeparator) {
  EXPECT_EQ(shownDirectory("/home/ana/korvel"), "/HOME/ANA/KORVEL/");
  EXPECT_EQ(shownDirectory("/home/ana/korvel/"), "/HOME/ANA/KORVEL/");
  EXPECT_EQ(shownDirectory("/"), "/");
}

TEST_F(LoaderTest, MissingFileLeavesMemoryZeroAndNamesTheDirectory) {
  const LoadOutcome outcome = menuloader(machine, dir.path());
  EXPECT_FALSE(outcome.loaded);
  EXPECT_EQ(outcome.message,
            "Can't find file PROGRAM.BIN in the directory " + shownDirectory(dir.path()));
  expectMemory({});
  expectReset();
}

TEST_F(LoaderTest, LoadsImagesOfEveryLengthUpToTheWholeMemory) {
  std::vector<unsigned char> full(kMemorySize);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<unsigned char>(i * 7 + 3);
  const std::vector<std::vector<unsigned char>> images = {{}, {0x76}, {0x3E, 0x05, 0x76}, full};
  for (const auto& image : images) {
    SCOPED_TRACE("image of " + std::to_string(image.size()) + " bytes");
    writeBytes(dir / "program.bin", image);
    const LoadOutcome outcome = menuloader(machine, dir.path());
    EXPECT_TRUE(outcome.loaded);
    EXPECT_EQ(outcome.message, "Operation completed!");
    expectMemory(image);
    expectReset();
    state->memory.fill(0xAA);
  }
}

TEST_F(LoaderTest, ShorterProgramAfterLongerLeavesNothingBehind) {
  writeBytes(dir / "program.bin", std::vector<unsigned char>(300, 0x11));
  ASSERT_TRUE(menuloader(machine, dir.path()).loaded);
  writeBytes(dir / "program.bin", {0x3E, 0x05, 0x76});
  ASSERT_TRUE(menuloader(machine, dir.path()).loaded);
  expectMemory({0x3E, 0x05, 0x76});
}

TEST_F(LoaderTest, RefusesAnOversizeImageAndLoadsNothing) {
  writeBytes(dir / "program.bin", std::vector<unsigned char>(kMemorySize + 1, 0x11));
  const LoadOutcome outcome = menuloader(machine, dir.path());
  EXPECT_FALSE(outcome.loaded);
  EXPECT_EQ(outcome.message,
            "Can't load file PROGRAM.BIN in the directory " + shownDirectory(dir.path()) +
                ": it holds 65537 bytes, but the memory takes at most 65536 bytes");
  expectMemory({});
  expectReset();
}

TEST_F(LoaderTest, ReportsAProgramFileThatCannotBeRead) {
  std::filesystem::create_directory(dir / "program.bin");
  const LoadOutcome outcome = menuloader(machine, dir.path());
  EXPECT_FALSE(outcome.loaded);
  EXPECT_EQ(outcome.message, "Can't read file PROGRAM.BIN in the directory " +
                                 shownDirectory(dir.path()) + ": it is a directory, not a file");
  expectMemory({});
}

TEST_F(LoaderTest, FindsTheFileWhateverTheCaseOfItsName) {
  for (const char* name : {"PROGRAM.BIN", "Program.Bin", "program.BIN"}) {
    SCOPED_TRACE(name);
    TempDir other;
    writeBytes(other / name, {0x01, 0x02});
    EXPECT_EQ(findProgramFile(other.path()), other / name);
    EXPECT_TRUE(menuloader(machine, other.path()).loaded);
    expectMemory({0x01, 0x02});
  }
  // The lower-case name wins when both spellings are there.
  writeBytes(dir / "PROGRAM.BIN", {0x01});
  writeBytes(dir / "program.bin", {0x02});
  ASSERT_TRUE(menuloader(machine, dir.path()).loaded);
  expectMemory({0x02});
  // Names that only resemble it are not taken.
  TempDir near;
  writeBytes(near / "program.bin.bak", {0x01});
  writeBytes(near / "program.bi", {0x01});
  EXPECT_TRUE(findProgramFile(near.path()).empty());
}

TEST_F(LoaderTest, WorksInADirectoryWithBlanksAndNonAsciiCharacters) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::filesystem::path folder = "my programs \xC3\xBC\xC3\xA9";  // "my programs üé"
  std::filesystem::create_directory(folder);

  const LoadOutcome missing = menuloader(machine, folder);
  EXPECT_EQ(missing.message,
            "Can't find file PROGRAM.BIN in the directory MY PROGRAMS \xC3\xBC\xC3\xA9/");

  writeBytes(folder / "program.bin", {0xC3, 0x00, 0x01});
  const LoadOutcome loaded = menuloader(machine, folder);
  std::filesystem::current_path(previous);
  EXPECT_TRUE(loaded.loaded);
  expectMemory({0xC3, 0x00, 0x01});
}

}  // namespace
}  // namespace korvel
