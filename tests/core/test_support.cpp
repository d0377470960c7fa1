#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace korvel::test {
namespace {

std::int32_t parseHex(const std::string& text) {
  std::int32_t value = 0;
  if (!readHex(text, 0xFFFF, value)) ADD_FAILURE() << "bad number: " << text;
  return value;
}

const Field* find(std::string_view name) {
  for (const Field& f : kFields)
    if (name == f.name) return &f;
  return nullptr;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

std::string nextAnswer(std::deque<std::string>& answers) {
  if (answers.empty()) return "";
  const std::string answer = answers.front();
  return answers.pop_front(), answer;
}

}  // namespace

std::optional<std::int32_t> Hooks::portin(std::int32_t port, std::int32_t address) {
  note("in " + hex(port, 0xFF) + "@" + hex(address, 0xFFFF));
  EXPECT_EQ(address, machine->instructionAddress()) << "the prompting instruction is shown";
  const std::string answer = nextAnswer(answers);
  return answer == "-" ? std::nullopt : std::optional(answer.empty() ? 0 : parseHex(answer));
}

bool Hooks::portout(std::int32_t port, std::int32_t data) {
  if (nextAnswer(answers) == "-") return false;
  note("out " + hex(port, 0xFF) + "=" + hex(data, 0xFF));
  return true;
}

void Rig::load(std::int32_t address, std::string_view hexBytes) {
  std::istringstream in{std::string(hexBytes)};
  for (std::string byte; in >> byte;) state->memory[address++ & 0xFFFF] = parseHex(byte);
}

void Rig::tick() {
  const int before = hooks.ekranCalls;
  machine.clock_Timer();
  EXPECT_EQ(hooks.ekranCalls, before + 1) << "one ekran per tick";
  if (machine.tickAbandoned()) hooks.note("abandoned");
}

void apply(MachineState& s, std::string_view assignments) {
  std::istringstream in{std::string(assignments)};
  for (std::string token; in >> token;) {
    const auto eq = token.find('=');
    const std::string name = token.substr(0, eq);
    const std::int32_t value = parseHex(eq == std::string::npos ? "" : token.substr(eq + 1));
    const Field *f = find(name), *high = find(name.substr(0, 1)), *low = find(name.substr(1));
    if (name.size() > 2 && name.front() == '(' && name.back() == ')')
      s.memory[parseHex(name.substr(1, name.size() - 2)) & 0xFFFF] = value;
    else if (f)
      s.*f->member = value;
    else if (name.size() == 2 && high && low)  // BC, DE, HL
      s.*high->member = value / 256, s.*low->member = value % 256;
    else
      ADD_FAILURE() << "unknown field: " << name;
  }
}

void expectState(const MachineState& before, const MachineState& after,
                 std::string_view assignments) {
  auto want = std::make_unique<MachineState>(before);
  apply(*want, assignments);
  const bool checkPC =
      assignments.starts_with("PC=") || assignments.find(" PC=") != assignments.npos;
  for (const Field& f : kFields) {
    const std::int32_t expected = (*want).*f.member, got = after.*f.member;
    if (expected != got && (f.member != &M::PC || checkPC))
      ADD_FAILURE() << f.name << ": expected " << hex(expected, f.max) << ", got "
                    << hex(got, f.max);
  }
  for (int a = 0, shown = 0; a < kMemorySize && shown < 8; ++a)
    if (want->memory[a] != after.memory[a] && ++shown)
      ADD_FAILURE() << "mem[" << hex(a, 0xFFFF) << "]: expected " << hex(want->memory[a], 0xFF)
                    << ", got " << hex(after.memory[a], 0xFF);
}

void runCase(const Case& c) {
  SCOPED_TRACE(std::string(c.text) + " [" + c.code + "] " + c.setup);
  Rig rig;
  rig.s().PC = 0x0100;
  apply(rig.s(), c.setup);
  rig.load(rig.s().PC, c.code);
  for (const std::string& a : split(c.answers, ' ')) rig.hooks.answers.push_back(a);
  const std::vector<std::string> texts = split(c.text, '|');
  const std::vector<std::string> changes = split(c.expect ? c.expect : "", '|');
  if (c.expect && texts.size() != changes.size()) FAIL() << "one expectation per tick";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto before = std::make_unique<MachineState>(rig.s());
    rig.tick();
    EXPECT_EQ(rig.machine.instructionText(), texts[i]) << "tick " << i + 1;
    if (c.expect) expectState(*before, rig.s(), changes[i]);
  }
  EXPECT_EQ(rig.hooks.log, c.expect ? c.log : rig.hooks.log);
}

}  // namespace korvel::test
