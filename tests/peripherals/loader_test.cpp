// The program loader on images of every size and on files it must refuse, with its messages.
#include "peripherals/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "tests/peripherals/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

TEST(ShownDirectory, IsUpperCaseWithOneTrailingSeparator) {
  EXPECT_EQ(shownDirectory("/home/ana/korvel/"), "/HOME/ANA/KORVEL/");
  EXPECT_EQ(shownDirectory("/"), "/");
}

// One machine loads in turn from a folder with blanks and non-ASCII characters, named
// relative to the current directory so that every message is known in full. Each load comes
// after a longer one or a failure, so that nothing of an earlier image may be left over.
TEST(Loader, LoadsImagesUpToTheWholeMemoryAndRefusesTheRest) {
  const fs::path folder = "my programs \xC3\xBC\xC3\xA9";  // "my programs üé"
  const std::string where = "PROGRAM.BIN in the directory MY PROGRAMS \xC3\xBC\xC3\xA9/";
  const std::string missing = "Can't find file " + where, done = "Operation completed!";
  const struct {
    const char* file;
    int size;  // -1: a directory
    std::string message;
  } cases[] = {{"", 0, missing},
               {"program.bin", 65536, done},
               {"program.bin", 1, done},
               {"program.bin", 0, done},
               {"PROGRAM.BIN", 300, done},
               {"Program.Bin", 2, done},
               {"program.bin.bak", 2, missing},
               {"program.bin", 65537,
                "Can't load file " + where +
                    ": it holds 65537 bytes, but the memory takes at most 65536 bytes"},
               {"program.bin", -1, "Can't read file " + where + ": it is a directory, not a file"}};
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
    const auto wrong = std::mismatch(expected.begin(), expected.end(), state->memory.begin());
    EXPECT_EQ(wrong.first - expected.begin(), kMemorySize) << "the first wrong byte";
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
