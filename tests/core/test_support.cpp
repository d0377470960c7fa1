#include "tests/core/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace korvel::test {
namespace {

using M = MachineState;

struct NamedField {
  std::string_view name;
  std::int32_t M::*high;  // the field itself, or the high half of a pair
  std::int32_t M::*low;   // the low half of a pair, else nullptr
  int digits;
};

const NamedField kNamedFields[] = {
    {"PC", &M::PC, nullptr, 4},
    {"SP", &M::SP, nullptr, 4},
    {"IX", &M::IX, nullptr, 4},
    {"IY", &M::IY, nullptr, 4},
    {"A", &M::A, nullptr, 2},
    {"B", &M::B, nullptr, 2},
    {"C", &M::C, nullptr, 2},
    {"D", &M::D, nullptr, 2},
    {"E", &M::E, nullptr, 2},
    {"H", &M::H, nullptr, 2},
    {"L", &M::L, nullptr, 2},
    {"A'", &M::altA, nullptr, 2},
    {"B'", &M::altB, nullptr, 2},
    {"C'", &M::altC, nullptr, 2},
    {"D'", &M::altD, nullptr, 2},
    {"E'", &M::altE, nullptr, 2},
    {"H'", &M::altH, nullptr, 2},
    {"L'", &M::altL, nullptr, 2},
    {"Carry", &M::Carry, nullptr, 1},
    {"Zero", &M::Zero, nullptr, 1},
    {"Sign", &M::Sign, nullptr, 1},
    {"Parity", &M::Parity, nullptr, 1},
    {"Carry'", &M::altCarry, nullptr, 1},
    {"Zero'", &M::altZero, nullptr, 1},
    {"Sign'", &M::altSign, nullptr, 1},
    {"Parity'", &M::altParity, nullptr, 1},
    {"BC", &M::B, &M::C, 4},
    {"DE", &M::D, &M::E, 4},
    {"HL", &M::H, &M::L, 4},
};

std::string hex(std::int32_t v, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, static_cast<unsigned>(v));
  return buffer;
}

std::int32_t parseHex(const std::string& text) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 16);
  if (text.empty() || *end != '\0') ADD_FAILURE() << "bad number in state notation: " << text;
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::optional<std::int32_t> ScriptedInput::portin(std::int32_t portnum,
                                                  std::int32_t instructionAddress) {
  requests.push_back({portnum, instructionAddress, machine ? machine->instructionText() : "",
                      machine ? machine->instructionAddress() : -1});
  if (answers.empty()) return fallback;
  const auto answer = answers.front();
  answers.pop_front();
  return answer;
}

bool RecordingOutput::portout(std::int32_t portnum, std::int32_t portdata) {
  if (acceptCount >= 0 && static_cast<int>(lines.size()) >= acceptCount) {
    ++refused;
    return false;
  }
  lines.emplace_back(portnum, portdata);
  return true;
}

void apply(MachineState& s, std::string_view assignments) {
  std::istringstream in{std::string(assignments)};
  std::string token;
  while (in >> token) {
    const auto eq = token.find('=');
    if (eq == std::string::npos) {
      ADD_FAILURE() << "no '=' in state notation: " << token;
      continue;
    }
    const std::string name = token.substr(0, eq);
    const std::int32_t value = parseHex(token.substr(eq + 1));
    if (name.size() > 2 && name.front() == '(' && name.back() == ')') {
      s.memory[parseHex(name.substr(1, name.size() - 2)) & 0xFFFF] = value;
      continue;
    }
    bool found = false;
    for (const NamedField& f : kNamedFields) {
      if (f.name != name) continue;
      found = true;
      if (f.low) {
        s.*f.high = value / 256;
        s.*f.low = value % 256;
      } else {
        s.*f.high = value;
      }
    }
    if (!found) ADD_FAILURE() << "unknown field in state notation: " << name;
  }
}

void expectState(const MachineState& before, const MachineState& after,
                 std::string_view assignments) {
  auto want = std::make_unique<MachineState>(before);
  apply(*want, assignments);
  std::string padded = " ";
  padded += assignments;
  const bool checkPC = padded.find(" PC=") != std::string::npos;
  for (const NamedField& f : kNamedFields) {
    if (f.low || (f.high == &M::PC && !checkPC)) continue;
    const std::int32_t expected = (*want).*f.high, got = after.*f.high;
    if (expected != got)
      ADD_FAILURE() << f.name << ": expected " << hex(expected, f.digits) << ", got "
                    << hex(got, f.digits);
  }
  int shown = 0;
  for (int a = 0; a < kMemorySize && shown < 8; ++a) {
    if (want->memory[a] == after.memory[a]) continue;
    ADD_FAILURE() << "mem[" << hex(a, 4) << "]: expected " << hex(want->memory[a], 2) << ", got "
                  << hex(after.memory[a], 2);
    ++shown;
  }
}

Rig::Rig() : state(std::make_unique<MachineState>()) {
  machine = std::make_unique<Machine>(*state, MachineHooks{&display, &input, &output, &control});
  input.machine = machine.get();
}

void Rig::load(std::int32_t address, const std::vector<int>& bytes) {
  for (const int b : bytes) state->memory[address++ & 0xFFFF] = b;
}

void Rig::tick() {
  const int before = display.calls;
  machine->clock_Timer();
  EXPECT_EQ(display.calls, before + 1) << "ekran once per tick";
}

void runCase(const Case& c) {
  Rig rig;
  rig.s().PC = 0x0100;
  apply(rig.s(), c.setup);
  rig.load(rig.s().PC, c.code);
  const auto before = std::make_unique<MachineState>(rig.s());
  for (int i = 0; i < c.ticks; ++i) rig.tick();
  if (*c.text) {
    EXPECT_EQ(rig.machine->instructionText(), c.text);
  }
  EXPECT_FALSE(rig.machine->tickAbandoned());
  expectState(*before, rig.s(), c.expect);
}

}  // namespace korvel::test
