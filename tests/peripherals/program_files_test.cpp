// Program files read by type (Intel HEX, raw images, assembly source) and where out.log goes.
#include <gtest/gtest.h>
#include <unistd.h>  // geteuid

#include <algorithm>
#include <memory>

#include "intel_hex.h"
#include "log_location.h"
#include "ports.h"
#include "program_file.h"
#include "temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// "3 0000-0002: 3E 05 76": cells given, their range, memory from the lowest to the highest
// (any cell before the lowest that is not 00H shows as "!").
std::string render(const ProgramImage& image) {
  char text[16];
  std::snprintf(text, sizeof text, " %04X-%04X:", image.lowest, image.highest);
  std::string shown = std::to_string(image.count) + (image.count > 0 ? text : "");
  for (std::size_t a = 0; a < image.bytes.size(); ++a) {
    std::snprintf(text, sizeof text, " %02X", image.bytes[a]);
    shown += a >= static_cast<std::size_t>(image.lowest) ? text : image.bytes[a] ? "!" : "";
  }
  return shown;
}

TEST(IntelHex, ReadsGoodFilesAndRefusesBadOnesWithTheLine) {
  const std::string end = ":00000001FF\n";
  const std::pair<std::string, std::string> cases[] = {
      {":030000003E057644\n" + end, "3 0000-0002: 3E 05 76"},
      {":010003007686\n:020000003e05bb\n" + end, "3 0000-0003: 3E 05 00 76"},  // out of order
      {":0300000011223397\n:0100010044BA\n" + end, "3 0000-0002: 11 44 33"},   // later wins
      {":0400000300001234B3\n:0400000500000000F7\n:01000200AA53\n" + end, "1 0002-0002: AA"},
      {":030000003E057644 \r\n\r\n:00000100FF\r\n:00000001FF\r\n\r\n", "3 0000-0002: 3E 05 76"},
      {":020000040000FA\n:020000020FFFEE\n:02000000AABB99\n" + end, "2 FFF0-FFF1: AA BB"},
      {":01FFFF00AA57\n" + end, "1 FFFF-FFFF: AA"},
      {end, "0"},
      {"", "1: empty file: there are no records"},
      {"\r\n \n", "1: empty file: there are no records"},
      {"\n030000003E057644\n" + end, "2: missing colon: every record starts with ':'"},
      {":0300000G3E057644\n", "1: non-hex character 'G' in column 9"},
      {":03000000\t3E057644\n", "1: non-hex character (byte 09H) in column 10"},
      {":030000003E05764\n", "1: bad record length: an odd number of hex digits"},
      {":000000\n",
       "1: bad record length: a record has at least 5 bytes (length, address, "
       "type, checksum), this one 3"},
      {":040000003E057644\n",
       "1: bad record length: the length field says 4 data bytes, but the record holds 3"},
      {end + "x", "2: text after the end-of-file record"},
      {end + end, "2: text after the end-of-file record"},
      {":030000003E057644\n:010003007687\n", "2: bad checksum: expected 86H, found 87H"},
      {":00000006FA\n", "1: unknown record type 06H"},
      {":0100000100FE\n", "1: bad record length: a type 01H record holds 0 data bytes, this one 1"},
      {":0100000210ED\n", "1: bad record length: a type 02H record holds 2 data bytes, this one 1"},
      {":02FFFF00AABB9B\n" + end, "1: record runs past FFFFH: its data cover FFFFH-10000H"},
      {":020000040001F9\n:01000000AA55\n",
       "2: record runs past FFFFH: its data cover 10000H-10000H"},
      {":020000021000EC\n:01000000AA55\n",
       "2: record runs past FFFFH: its data cover 10000H-10000H"},
      {":030000003E057644\n:00000100FF\n\n",
       "2: missing end record: the file ends without the "
       "end-of-file record :00000001FF"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const HexRead read = readIntelHex(text);
    EXPECT_EQ(read.image ? render(*read.image) : std::to_string(read.line) + ": " + read.reason,
              expected);
  }
}

// Each file is read, then placed on a machine that is all AAH with registers set: a refusal
// must leave all of that as it was, a load must leave nothing of it.
TEST(ProgramFile, ReadsByTypeAndRefusesWithoutTouchingTheMachine) {
  testing::TempDir dir;
  const fs::path folder = dir / "my programs \xC3\xBC";
  const std::string in = " in the directory " + folder.string() + "/";
  fs::create_directories(folder / "folder.bin");
  std::vector<unsigned char> full(65537);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<unsigned char>(i * 7 + 3);
  const std::string hex = testing::readText(KORVEL_EXAMPLES_DIR "/hello.hex");
  const std::string helloText = testing::readText(KORVEL_EXAMPLES_DIR "/hello.bin");
  const std::vector<unsigned char> hello(helloText.begin(), helloText.end());
  const struct {
    const char* name;
    std::vector<unsigned char> bytes;
    std::string result;
    std::vector<unsigned char> image = {};  // what a source assembles to
  } cases[] = {
      {"prog.HEX", {hex.begin(), hex.end()}, "prog.HEX: 29 bytes at 0000H-001CH"},
      {"p.bin", {0x3E, 0x05, 0x76}, "p.bin: 3 bytes at 0000H-0002H"},
      {"empty.com", {}, "empty.com: 0 bytes, memory all 00H"},
      {"full", {full.begin(), full.end() - 1}, "full: 65536 bytes at 0000H-FFFFH"},
      {"big.ihx.bin", full,
       "Can't load file big.ihx.bin" + in +
           ": it holds 65537 bytes, but the memory takes at most 65536 bytes"},
      {"bad.Ihx",
       {'0', '0'},
       "Can't load file bad.Ihx" + in + ": line 1: missing colon: every record starts with ':'"},
      {"src.Z80",
       {'d', 'b', ' ', '1', ',', '2'},
       "src.Z80: assembled, 2 bytes at 0000H-0001H",
       {1, 2}},
      {"src.s", {}, "src.s: assembled, 0 bytes, memory all 00H"},
      {"bad.asm",
       {' ', 'n', 'o', 'p', 'e'},
       (folder / "bad.asm").string() + ":1:2: error: unknown instruction nope; did you mean NOP?"},
      {"gone.hex", {}, "Can't find file gone.hex" + in},
      {"folder.bin", {}, "Can't read file folder.bin" + in + ": it is a directory, not a file"},
  };
  auto state = std::make_unique<MachineState>();
  Machine machine(*state, {});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) != "gone.hex" && !fs::exists(folder / c.name)) {
      testing::writeBytes(folder / c.name, c.bytes);
    }
    state->memory.fill(0xAA);
    state->A = 0x12;
    state->PC = 0x4321;
    const ProgramRead read = readProgramFile(folder / c.name);
    EXPECT_EQ(read.image ? read.description : read.message, c.result);
    if (read.image) placeProgram(machine, *read.image);
    std::vector<std::int32_t> expected(kMemorySize, read.image ? 0 : 0xAA);
    if (read.image && c.bytes.size() == hex.size()) {
      std::copy(hello.begin(), hello.end(), expected.begin());
    } else if (read.image) {
      const std::vector<unsigned char>& placed = c.image.empty() ? c.bytes : c.image;
      std::copy(placed.begin(), placed.end(), expected.begin());
    }
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), state->memory.begin()));
    EXPECT_EQ(state->A + state->PC, read.image ? 0 : 0x12 + 0x4321);
  }
  // A file the system refuses to read, even to root.
  EXPECT_EQ(readProgramFile("/proc/self/mem").message,
            "Can't read file mem in the directory /proc/self/: Input/output error");
}

// The example in Intel HEX and as a raw image: the same memory.
TEST(ProgramFile, HelloHexHoldsTheBytesOfHelloBin) {
  const ProgramRead hex = readProgramFile(KORVEL_EXAMPLES_DIR "/hello.hex");
  const ProgramRead bin = readProgramFile(KORVEL_EXAMPLES_DIR "/hello.bin");
  ASSERT_TRUE(hex.image && bin.image) << hex.message << bin.message;
  EXPECT_EQ(hex.image->bytes, bin.image->bytes);
}

// Real folders: a path below a plain file can never be created, /proc takes no new files,
// and an out.log that is a folder takes no lines, whoever runs the test.
TEST(LogLocation, BesideTheProgramElseInTheDataFolderNeverChangingAnExistingLog) {
  testing::TempDir dir;
  const fs::path program = dir / "prog", data = dir / "data" / "korvel", blocked = dir / "file";
  fs::create_directories(program);
  testing::writeBytes(blocked, {});
  testing::writeBytes(program / "out.log", {'o', 'l', 'd', '\r', '\n'});
  const auto listing = [](const fs::path& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path());
    return names;
  };
  const std::vector<fs::path> before = listing(dir.path()), programBefore = listing(program);

  LogLocation chosen = chooseLogFile(program, data);
  EXPECT_TRUE(chosen.file == program / "out.log" && chosen.writable);
  EXPECT_EQ(testing::readText(program / "out.log"), "old\r\n");
  EXPECT_EQ(listing(program), programBefore);
  EXPECT_EQ(listing(dir.path()), before) << "the data folder was made without need";
  ASSERT_TRUE(LogFilePortOutput(chosen.file).portout(0x05, 0x41));
  EXPECT_EQ(testing::readText(program / "out.log"), "old\r\nData 41H sent to port 05H\r\n");

  fs::create_directories(dir / "logdir" / "out.log");
  std::vector<fs::path> refusing = {dir / "logdir", blocked / "sub", "/proc"};
  if (geteuid() != 0) {  // permissions bind only other users
    fs::create_directories(dir / "readonly");
    fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
    fs::create_directories(dir / "readonlylog");
    testing::writeBytes(dir / "readonlylog" / "out.log", {});
    fs::permissions(dir / "readonlylog" / "out.log", fs::perms::owner_read);
    refusing.insert(refusing.end(), {dir / "readonly", dir / "readonlylog"});
  }
  for (const fs::path& folder : refusing) {
    SCOPED_TRACE(folder.string());
    chosen = chooseLogFile(folder, data);
    EXPECT_TRUE(chosen.file == data / "out.log" && chosen.writable);
    EXPECT_TRUE(fs::is_directory(data) && fs::is_empty(data));
    chosen = chooseLogFile(folder, blocked / "data");
    EXPECT_TRUE(chosen.file == folder / "out.log" && !chosen.writable);
  }
  if (geteuid() != 0) fs::permissions(dir / "readonly", fs::perms::owner_all);
}

}  // namespace
}  // namespace korvel
