// The machine's fields, for the conformance runner and the core tests; for the tests also fake
// hooks and a notation for states: hexadecimal assignments to kFields, the pairs BC, DE, HL
// and memory cells, "A=7F B=01 Carry=1 HL=2000 (2000)=FF".
#pragma once

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "core/machine.h"

namespace korvel::test {

// Name, largest value, vector column (PC SP A F B C D E H L IX IY AF' BC' DE' HL') and bit.
// clang-format off
struct Field {
  const char* name; std::int32_t MachineState::*member; std::int32_t max; int column, shift; };
using M = MachineState;
inline constexpr int kFlagColumn = 3;
inline constexpr Field kFields[] = {
    {"PC", &M::PC, 0xFFFF, 0, 0}, {"SP", &M::SP, 0xFFFF, 1, 0}, {"A", &M::A, 0xFF, 2, 0},
    {"Sign", &M::Sign, 1, 3, 7}, {"Zero", &M::Zero, 1, 3, 6}, {"Parity", &M::Parity, 1, 3, 2},
    {"Carry", &M::Carry, 1, 3, 0}, {"B", &M::B, 0xFF, 4, 0}, {"C", &M::C, 0xFF, 5, 0},
    {"D", &M::D, 0xFF, 6, 0}, {"E", &M::E, 0xFF, 7, 0}, {"H", &M::H, 0xFF, 8, 0},
    {"L", &M::L, 0xFF, 9, 0}, {"IX", &M::IX, 0xFFFF, 10, 0}, {"IY", &M::IY, 0xFFFF, 11, 0},
    {"A'", &M::altA, 0xFF, 12, 8}, {"Sign'", &M::altSign, 1, 12, 7},
    {"Zero'", &M::altZero, 1, 12, 6}, {"Parity'", &M::altParity, 1, 12, 2},
    {"Carry'", &M::altCarry, 1, 12, 0}, {"B'", &M::altB, 0xFF, 13, 8},
    {"C'", &M::altC, 0xFF, 13, 0}, {"D'", &M::altD, 0xFF, 14, 8}, {"E'", &M::altE, 0xFF, 14, 0},
    {"H'", &M::altH, 0xFF, 15, 8}, {"L'", &M::altL, 0xFF, 15, 0},
};
// clang-format on

// `value` in hexadecimal with as many digits as `max` has.
inline std::string hex(std::int32_t value, std::int32_t max) {
  char buffer[16];
  const int digits = max > 0xFF ? 4 : (max > 1 ? 2 : 1);
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, static_cast<unsigned>(value));
  return buffer;
}
// True when `text` is a hexadecimal number of at most four digits up to `max`.
inline bool readHex(const std::string& text, std::int32_t max, std::int32_t& out) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 16);
  out = static_cast<std::int32_t>(value);
  return !text.empty() && text.size() <= 4 && *end == '\0' && value >= 0 && value <= max;
}

// All four hooks. Port accesses take the next `answers`: "-" fails, else a read gives the hex
// byte (00 when none). `log`: "in 05@0100" (port@instruction), "out 05=41", "stop", "abandoned".
struct Hooks : Display, PortInput, PortOutput, RunControl {
  void ekran() override { ++ekranCalls; }
  std::optional<std::int32_t> portin(std::int32_t port, std::int32_t address) override;
  bool portout(std::int32_t port, std::int32_t data) override;
  void menustop_Click() override { note("stop"); }
  void note(const std::string& event) { log += (log.empty() ? "" : "; ") + event; }
  std::deque<std::string> answers;
  std::string log;
  int ekranCalls = 0;
  const Machine* machine = nullptr;
};

struct Rig {
  Rig() { hooks.machine = &machine; }
  MachineState& s() { return *state; }
  void load(std::int32_t address, std::string_view hexBytes);  // wraps past FFFFH
  void tick();  // one clock_Timer, which must end with exactly one ekran
  std::unique_ptr<MachineState> state = std::make_unique<MachineState>();
  Hooks hooks;
  Machine machine{*state, {&hooks, &hooks, &hooks, &hooks}};
};

void apply(MachineState& s, std::string_view assignments);
// `after` must be `before` changed by `assignments` in every field and cell (PC if named).
void expectState(const MachineState& before, const MachineState& after,
                 std::string_view assignments);

// A table row: `code` at PC (0100H unless `setup` names PC), `answers` queued, then a tick per
// '|'-separated part of `text`, showing it and changing the state as that part of `expect`
// says. With `expect` null only the texts are checked; otherwise also the whole `log`.
struct Case {
  const char *text, *code, *setup = "", *expect = nullptr, *answers = "", *log = "";
};
void runCase(const Case& c);

}  // namespace korvel::test
