// instructionLength against the golden listing (the length column of every documented form)
// and against the tick for every byte that a page does not know (the placeholder
// instructions, which consume their prefix bytes alone).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "machine.h"
#include "test_support.h"

#ifndef KORVEL_FORMS_FILE
#define KORVEL_FORMS_FILE "forms.txt"
#endif

namespace korvel {
namespace {

using Bytes = std::array<std::uint8_t, 4>;

std::string show(const Bytes& b) {
  std::string text;
  for (std::uint8_t v : b) text += test::hex(v, 0xFF) + ' ';
  return text;
}

TEST(InstructionLength, EveryFormOfTheGoldenListing) {
  std::ifstream in(KORVEL_FORMS_FILE);
  ASSERT_TRUE(in) << KORVEL_FORMS_FILE;
  int forms = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    // Columns: the bytes (13 characters), the text (17), the length.
    Bytes bytes{};
    std::istringstream code(line.substr(0, 13));
    std::size_t n = 0;
    for (std::string byte; code >> byte && n < bytes.size();)
      bytes[n++] = static_cast<std::uint8_t>(std::stoi(byte, nullptr, 16));
    const int length = std::stoi(line.substr(30, 3));
    EXPECT_EQ(instructionLength(bytes), length) << line;
    ++forms;
  }
  EXPECT_EQ(forms, 698);
}

TEST(InstructionLength, PlaceholdersTakeThePrefixBytesAsTheTickDoes) {
  const std::vector<std::vector<std::uint8_t>> prefixes = {
      {0xCB}, {0xED}, {0xDD}, {0xFD}, {0xDD, 0xCB, 0xFB}, {0xFD, 0xCB, 0xFB}};
  int placeholders = 0;
  for (const auto& prefix : prefixes) {
    for (int op = 0; op < 256; ++op) {
      Bytes bytes{};
      std::copy(prefix.begin(), prefix.end(), bytes.begin());
      bytes[prefix.size()] = static_cast<std::uint8_t>(op);
      test::Rig rig;
      for (std::size_t i = 0; i < bytes.size(); ++i) rig.s().memory[0x100 + i] = bytes[i];
      rig.s().PC = 0x100;
      rig.tick();
      if (!rig.machine.instructionText().ends_with("instrukcije")) continue;
      ++placeholders;
      EXPECT_EQ(instructionLength(bytes), rig.s().PC - 0x100) << show(bytes);
    }
  }
  // CB: 8 undocumented shifts; ED: 256 - 58; DD, FD: 256 - 40 each, and DD CB 00 00, whose
  // operation byte 00H the DD CB page does not know; DD CB, FD CB: 256 - 31.
  EXPECT_EQ(placeholders, 8 + 198 + 2 * (216 + 1) + 2 * 225);
}

}  // namespace
}  // namespace korvel
