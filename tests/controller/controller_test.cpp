// The controller without any window: runs and how they end, breakpoints, port input that
// waits outside the instruction, Step Over, Step Out, Run to Cursor, step back, editing.
#include "controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "register_fields.h"

namespace korvel {
namespace {

// Output lines as "port=data"; `fail` makes every write fail.
struct Lines final : OutputSink {
  bool write(std::int32_t port, std::int32_t data) override {
    if (fail) return false;
    lines.push_back(std::to_string(port) + "=" + std::to_string(data));
    return true;
  }
  std::string error() const override { return "cannot write"; }
  std::vector<std::string> lines;
  bool fail = false;
};

struct Rig {
  Lines out;
  Controller c{out};
  // Bytes in hexadecimal from `address`; registers, flags and counters reset.
  explicit Rig(const std::string& hex, std::int32_t address = 0) {
    std::vector<std::uint8_t> image(static_cast<std::size_t>(address));
    std::istringstream in(hex);
    for (std::string byte; in >> byte;)
      image.push_back(static_cast<std::uint8_t>(std::stoi(byte, nullptr, 16)));
    c.loadImage(image);
  }
  const MachineState& s() const { return c.state(); }
  // A Fast or Target run's slices until it ends or asks for input.
  RunEvent finish() {
    RunEvent e = RunEvent::SliceDone;
    while (e == RunEvent::SliceDone || e == RunEvent::Executed)
      e = c.runSlice(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    return e;
  }
};

// The registers, flags, text and counters of a state, and the memory, for comparing.
struct Snapshot {
  std::vector<std::int32_t> fields, memory;
  std::string text;
  std::int64_t instructions;
  explicit Snapshot(const Controller& c)
      : memory(c.state().memory.begin(), c.state().memory.end()),
        text(c.instructionText()),
        instructions(c.instructionCount()) {
    for (const RegisterField& f : kRegisterFields) fields.push_back(c.state().*f.member);
  }
  bool operator==(const Snapshot&) const = default;
};

// One row: the program, breakpoints, the run, and how it ends.
struct RunCase {
  const char* program;
  std::vector<std::int32_t> breakpoints;
  RunMode mode;
  std::vector<RunEvent> events;  // Start (only if not Executed), then each tick or finish()
  std::int32_t pc;
  std::int64_t count;  // instructions of the last Fast run, or executed in all
  const char* text;
};

TEST(Controller, RunsEndAtHaltBreakpointsAndTheLimit) {
  using E = RunEvent;
  const RunCase cases[] = {
      {"00 00 76", {}, RunMode::Fast, {E::Halted}, 2, 2, "HALT"},
      {"00 00 76", {1}, RunMode::Fast, {E::Breakpoint}, 1, 1, "NOP"},
      {"00 00 76", {0}, RunMode::Fast, {E::Breakpoint}, 0, 0, ""},     // at Start, before anything
      {"00 00 76", {2}, RunMode::Fast, {E::Breakpoint}, 2, 2, "NOP"},  // the HALT's own
      {"18 FE", {}, RunMode::Fast, {E::LimitReached}, 0, 1000, "JR FEH"},
      {"00 00 76", {}, RunMode::Ticked, {E::Executed, E::Executed, E::Halted}, 2, 3, "HALT"},
      {"00 00 76", {1}, RunMode::Ticked, {E::Breakpoint}, 1, 1, "NOP"},
  };
  for (const RunCase& rc : cases) {
    SCOPED_TRACE(rc.program + std::string(rc.mode == RunMode::Fast ? " fast" : " ticked"));
    Rig r(rc.program);
    for (std::int32_t b : rc.breakpoints) r.c.setBreakpoint(b);
    std::vector<RunEvent> events;
    const RunEvent started = r.c.start(rc.mode, 1000);
    if (started != E::Executed) events.push_back(started);
    while (r.c.running()) events.push_back(rc.mode == RunMode::Fast ? r.finish() : r.c.tick());
    EXPECT_EQ(events, rc.events);
    EXPECT_EQ(r.s().PC, rc.pc);
    EXPECT_EQ(rc.mode == RunMode::Fast ? r.c.fastRunCount() : r.c.instructionCount(), rc.count);
    EXPECT_EQ(r.c.instructionText(), rc.text);
  }
}

// Continue goes on past the breakpoint it stopped at; at a HALT it stays.
TEST(Controller, ResumeGoesOnFromABreakpointAndStaysAtAHalt) {
  Rig r("00 00 00 76");
  r.c.setBreakpoint(1);
  r.c.setBreakpoint(2, false);  // disabled: no stop
  ASSERT_EQ(r.c.start(RunMode::Fast), RunEvent::Executed);
  ASSERT_EQ(r.finish(), RunEvent::Breakpoint);
  ASSERT_EQ(r.c.resume(RunMode::Fast), RunEvent::Executed);
  EXPECT_EQ(r.finish(), RunEvent::Halted);
  EXPECT_EQ(r.s().PC, 3);
  EXPECT_EQ(r.c.resume(RunMode::Ticked), RunEvent::Halted);
  EXPECT_FALSE(r.c.running());
  EXPECT_EQ(r.c.instructionCount(), 3);
}

// An IN waits outside the instruction: nothing has changed until its byte is supplied; Stop
// leaves it unexecuted. An OUT that cannot be written stops the run on it.
TEST(Controller, PortsWaitForInputAndStopOnAFailedOutput) {
  Rig r("3E 12 DB 05 D3 07 76");  // LD A,12H; IN A,(05H); OUT (07H),A; HALT
  r.c.start(RunMode::Fast);
  ASSERT_EQ(r.finish(), RunEvent::NeedsInput);
  EXPECT_EQ(r.c.pendingInput()->port, 5);
  EXPECT_EQ(r.c.pendingInput()->address, 2);
  EXPECT_EQ(r.s().A, 0x12);
  EXPECT_EQ(r.c.tick(), RunEvent::NeedsInput);  // no other instruction can start meanwhile
  EXPECT_EQ(r.c.supplyInput(0x41), RunEvent::Executed);
  EXPECT_EQ(r.finish(), RunEvent::Halted);
  EXPECT_EQ(r.out.lines, std::vector<std::string>{"7=65"});

  r.c.start(RunMode::Fast);
  ASSERT_EQ(r.finish(), RunEvent::NeedsInput);
  r.c.stop();
  EXPECT_FALSE(r.c.running() || r.c.pendingInput());
  EXPECT_EQ(r.s().PC, 2);

  r.out.fail = true;
  r.c.start(RunMode::Ticked);
  r.c.tick();
  r.c.tick();
  ASSERT_EQ(r.c.supplyInput(0x41), RunEvent::Executed);
  EXPECT_EQ(r.c.tick(), RunEvent::OutputFailed);
  EXPECT_EQ(r.s().PC, 4);
  EXPECT_FALSE(r.c.running());
}

// Step Over runs a CALL, an RST or a repeating block instruction to its end; a breakpoint
// inside stops it first. Step Out runs to the return; Run to Cursor to the address.
TEST(Controller, StepOverStepOutAndRunToCursor) {
  // 0000 CALL 0010H; 0003 RST 38H; 0004 LDIR; 0006 NOP; 0010 LD A,07H; 0012 INC B; 0013 RET;
  // 0038 RET
  Rig r("CD 10 00 FF ED B0 00");
  MachineState& s = r.c.state();
  for (const auto& [address, bytes] : std::vector<std::pair<int, std::vector<int>>>{
           {0x10, {0x3E, 0x07, 0x04, 0xC9}}, {0x38, {0xC9}}})
    for (std::size_t i = 0; i < bytes.size(); ++i) s.memory[address + i] = bytes[i];
  s.SP = 0x8000;
  s.B = 0, s.C = 3;  // LDIR copies three bytes
  for (const auto& [step, pc] : {std::pair("over", 0x0003), {"over", 0x0004}, {"over", 0x0006}}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(r.c.stepOver(), RunEvent::Executed);
    EXPECT_EQ(r.finish(), RunEvent::TargetReached);
    EXPECT_EQ(r.s().PC, pc);
    EXPECT_EQ(r.s().SP, 0x8000);
  }
  EXPECT_EQ(r.s().A * 0x10000 + r.s().B * 256 + r.s().C, 0x070000);  // LDIR ran to BC = 0
  EXPECT_EQ(r.c.stepOver(), RunEvent::Executed);                     // NOP: a single step, no run
  EXPECT_FALSE(r.c.running());
  EXPECT_EQ(r.s().PC, 7);

  // Into the routine, then out of it; a breakpoint inside stops Step Over first.
  s.PC = 0;
  r.c.setBreakpoint(0x12);
  r.c.stepOver();
  EXPECT_EQ(r.finish(), RunEvent::Breakpoint);
  EXPECT_EQ(r.s().PC, 0x12);
  r.c.stepOut();
  EXPECT_EQ(r.finish(), RunEvent::TargetReached);
  EXPECT_EQ(r.s().PC, 3);
  EXPECT_EQ(r.s().SP, 0x8000);
  r.c.removeBreakpoint(0x12);
  r.c.runTo(0x13);
  EXPECT_EQ(r.finish(), RunEvent::TargetReached);
  EXPECT_EQ(r.s().PC, 0x13);
}

// Every step back gives exactly the state recorded before that instruction: registers,
// flags, memory, text, counters; over stack writes, block iterations, EX and EXX, and INs,
// whose bytes are replayed without asking again and whose OUT lines are not sent again.
TEST(Controller, StepBackRestoresEachEarlierState) {
  // LD SP,9000H; LD HL,4000H; LD DE,5000H; LD BC,0003H; LDIR; PUSH BC; EX (SP),HL; EXX;
  // EX AF,AF'; IN A,(01H); OUT (02H),A; LD (6000H),A; CALL 0020H ... 0020: INC A; RET
  Rig r("31 00 90 21 00 40 11 00 50 01 03 00 ED B0 C5 E3 D9 08 DB 01 D3 02 32 00 60 CD 20 00 76");
  MachineState& s = r.c.state();
  s.memory[0x20] = 0x3C, s.memory[0x21] = 0xC9;
  s.memory[0x4000] = 1, s.memory[0x4001] = 2, s.memory[0x4002] = 3;
  r.c.setHistoryEnabled(true);
  std::vector<Snapshot> states;
  r.c.start(RunMode::Ticked);
  for (RunEvent e = RunEvent::Executed; e != RunEvent::Halted;) {
    states.emplace_back(r.c);
    e = r.c.tick();
    if (e == RunEvent::NeedsInput) e = r.c.supplyInput(0x5A);
  }
  ASSERT_EQ(r.out.lines.size(), 1u);
  ASSERT_EQ(r.c.historySize(), states.size());
  for (std::size_t i = states.size(); i-- > 0;) {
    const auto back = r.c.stepBack();
    ASSERT_TRUE(back.has_value()) << i;
    EXPECT_EQ(back->output, i == 12) << i;  // the OUT
    ASSERT_TRUE(Snapshot(r.c) == states[i]) << "after stepping back to instruction " << i;
  }
  EXPECT_FALSE(r.c.stepBack().has_value());
  EXPECT_EQ(r.out.lines.size(), 1u);
  // Forward again from there, the IN asks again.
  r.c.start(RunMode::Ticked);
  RunEvent e = RunEvent::Executed;
  for (int i = 0; i < 30 && e == RunEvent::Executed; ++i) e = r.c.tick();
  EXPECT_EQ(e, RunEvent::NeedsInput);
}

// A million instructions, then back: the states deep in the history are still exact, and
// the history goes back no further than its capacity.
TEST(Controller, StepBackAcrossAMillionInstructions) {
  // loop: LD (HL),A; INC HL; ADD A,L; RES 7,H; DJNZ loop; INC C; JR loop
  Rig r("77 23 85 CB BC 10 F9 0C 18 F6");
  r.c.setHistoryEnabled(true);
  constexpr std::int64_t kTotal = 1'000'100;
  const std::vector<std::int64_t> stepsBack = {1, 2, 63, 64, 65, 1000, 999'000};
  // The run stops at each position to be stepped back to, and its state is kept.
  std::vector<Snapshot> states;
  std::int64_t done = 0;
  for (auto k = stepsBack.rbegin(); k != stepsBack.rend(); ++k) {
    if (done == 0)
      r.c.start(RunMode::Fast, kTotal - *k);
    else
      r.c.resume(RunMode::Fast, kTotal - *k - done);
    ASSERT_EQ(r.finish(), RunEvent::LimitReached);
    done = kTotal - *k;
    states.insert(states.begin(), Snapshot(r.c));
  }
  r.c.resume(RunMode::Fast, kTotal - done);
  ASSERT_EQ(r.finish(), RunEvent::LimitReached);
  std::int64_t back = 0;
  for (std::size_t i = 0; i < stepsBack.size(); ++i) {
    for (; back < stepsBack[i]; ++back) ASSERT_TRUE(r.c.stepBack().has_value());
    ASSERT_TRUE(Snapshot(r.c) == states[i]) << stepsBack[i] << " steps back";
  }
  while (r.c.stepBack()) ++back;
  EXPECT_LE(back, static_cast<std::int64_t>(History::kDefaultCapacity));
  EXPECT_GT(back, static_cast<std::int64_t>(History::kDefaultCapacity - History::kSegmentLength));
}

// Edits take values in range only, only while nothing runs, and empty the history.
TEST(Controller, EditsCheckRangeAndRunState) {
  Rig r("00 00 18 FE");
  r.c.setHistoryEnabled(true);
  r.c.start(RunMode::Ticked);
  r.c.tick();
  EXPECT_FALSE(r.c.setRegister(&MachineState::A, 0x12));  // running
  r.c.stop();
  EXPECT_EQ(r.c.historySize(), 1u);
  EXPECT_FALSE(r.c.setRegister(&MachineState::A, 0x100));
  EXPECT_FALSE(r.c.setRegister(&MachineState::Carry, 2));
  EXPECT_FALSE(r.c.setMemory(0x10000, 1));
  EXPECT_FALSE(r.c.setMemory(5, -1));
  EXPECT_EQ(r.c.historySize(), 1u);
  EXPECT_TRUE(r.c.setRegister(&MachineState::SP, 0xFFFF));
  EXPECT_TRUE(r.c.setMemory(0xFFFF, 0xAB));
  EXPECT_EQ(r.s().SP + r.s().memory[0xFFFF], 0xFFFF + 0xAB);
  EXPECT_EQ(r.c.historySize(), 0u);
}

}  // namespace
}  // namespace korvel
