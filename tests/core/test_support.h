// Fake hooks and a small notation for machine states, shared by the core tests.
//
// A state is written as blank-separated assignments with hexadecimal values:
//   "A=7F B=01 Carry=1 HL=2000 (2000)=FF"
// Names are the MachineState fields (A' etc. for the alternates), the pairs BC, DE, HL,
// and a memory cell as (address).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/machine.h"

namespace korvel::test {

class RecordingDisplay : public Display {
 public:
  void ekran() override { ++calls; }
  int calls = 0;
};

// Answers from a script, then `fallback` (nullopt: no byte can be had). Records each
// request with the instruction text and address that were showing while it was open.
class ScriptedInput : public PortInput {
 public:
  struct Request {
    std::int32_t port;
    std::int32_t address;
    std::string shownText;
    std::int32_t shownAddress;
  };
  std::optional<std::int32_t> portin(std::int32_t portnum,
                                     std::int32_t instructionAddress) override;

  std::deque<std::optional<std::int32_t>> answers;
  std::optional<std::int32_t> fallback = 0;
  std::vector<Request> requests;
  const Machine* machine = nullptr;
};

// Records each line; refuses every write after the first `acceptCount` ones (-1: never).
class RecordingOutput : public PortOutput {
 public:
  bool portout(std::int32_t portnum, std::int32_t portdata) override;
  std::vector<std::pair<std::int32_t, std::int32_t>> lines;
  int acceptCount = -1;
  int refused = 0;
};

class CountingControl : public RunControl {
 public:
  void menustop_Click() override { ++stops; }
  int stops = 0;
};

// Sets the fields named in `assignments`.
void apply(MachineState& s, std::string_view assignments);

// `after` must equal `before` changed by `assignments`: every field and every memory cell
// (PC only when the assignments name it).
void expectState(const MachineState& before, const MachineState& after,
                 std::string_view assignments);

// One machine with fake hooks.
struct Rig {
  Rig();
  MachineState& s() { return *state; }
  // Writes bytes from `address` on, wrapping past FFFFH.
  void load(std::int32_t address, const std::vector<int>& bytes);
  // One clock_Timer; checks that it ends with exactly one ekran.
  void tick();

  std::unique_ptr<MachineState> state;
  RecordingDisplay display;
  ScriptedInput input;
  RecordingOutput output;
  CountingControl control;
  std::unique_ptr<Machine> machine;
};

// One table row: `code` is loaded at PC (0100H unless `setup` names PC), `ticks`
// instructions run, then the last text is `text` (unless empty) and the state is the one
// before changed by `expect`.
struct Case {
  const char* text;
  std::vector<int> code;
  const char* setup;
  const char* expect;
  int ticks = 1;
};
void runCase(const Case& c);

}  // namespace korvel::test
