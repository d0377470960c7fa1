// The machine's fields, for the conformance runner and the core tests; for the tests also fake
// hooks and a notation for states: hexadecimal assignments to kFields, the pairs BC, DE, HL
// and memory cells, "A=7F B=01 Carry=1 HL=2000 (2000)=FF".
#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "machine.h"
#include "register_fields.h"

namespace korvel::test {

// Each field of kRegisterFields with its place in a vector line: the column (PC SP A F B C D E
// H L IX IY AF' BC' DE' HL') and the bit it starts at.
struct Field : RegisterField {
  int column, shift;
};
using M = MachineState;
inline constexpr int kFlagColumn = 3;
inline constexpr std::array<Field, kRegisterFields.size()> kFields = [] {
  // clang-format off
  constexpr std::pair<int, int> kPlaces[] = {
      {0, 0}, {1, 0}, {10, 0}, {11, 0}, {2, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0},
      {3, 0}, {3, 6}, {3, 7}, {3, 2}, {12, 8}, {13, 8}, {13, 0}, {14, 8}, {14, 0}, {15, 8},
      {15, 0}, {12, 0}, {12, 6}, {12, 7}, {12, 2}};
  // clang-format on
  std::array<Field, kRegisterFields.size()> fields{};
  for (std::size_t i = 0; i < fields.size(); ++i)
    fields[i] = Field{kRegisterFields[i], kPlaces[i].first, kPlaces[i].second};
  return fields;
}();

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
