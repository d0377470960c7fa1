// What stepping back needs, kept cheaply enough to record on every instruction of an
// Extremely Fast run. Instructions are grouped in segments of up to 64: each segment starts
// with a snapshot of the registers, flags, instruction text and counters, and the memory
// cells that its instructions overwrote are journalled with their old values, as are the
// bytes its IN instructions were given. Undoing the newest instruction rewinds its segment
// to the snapshot and replays the instructions before it with the same input bytes; their
// output is not sent again. When the history is full the oldest segment is dropped.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "machine.h"

namespace korvel {

class History final : public WriteJournal {
 public:
  static constexpr std::size_t kDefaultCapacity = 1'000'000;
  static constexpr int kSegmentLength = 64;
  // No instruction writes more than two cells (PUSH, CALL, EX (SP),HL, LD (nn),rr).
  static constexpr std::size_t kWritesPerInstruction = 2;

  // The counters that a snapshot keeps beside the machine's state.
  struct Counters {
    std::int64_t instructions = 0;
    std::int64_t tstates = 0;
  };

  explicit History(std::size_t capacity = kDefaultCapacity);

  // Called just before an instruction executes, with the counters as they are then.
  void begin(const Machine& machine, const Counters& counters) {
    if (segments_ == 0 || newest().count == kSegmentLength) startSegment(machine, counters);
    ++newest().count;
    ++size_;
  }
  // The instruction did not execute after all (a port gave no byte or took none): it
  // changed nothing and wrote nothing.
  void cancel() {
    --newest().count;
    --size_;
  }
  void recordWrite(std::int32_t address, std::int32_t oldValue) override;
  // The byte that the IN of the instruction being recorded was given.
  void recordInput(std::int32_t byte) { inputs_.push_back(static_cast<std::uint8_t>(byte)); }
  // The instruction being recorded wrote an output line.
  void markOutput() {
    Segment& s = newest();
    s.outputs |= std::uint64_t{1} << (s.count - 1);
  }

  // Undoing the newest instruction, in two steps. rewind() puts back the state from the start
  // of its segment (memory, registers, flags, text) and returns what the controller needs to
  // replay the instructions before it; the controller then replays them through begin(), with
  // the bytes in `inputs` for their IN instructions and their output not sent.
  struct Rewound {
    Counters counters;                // as they were at the start of the segment
    int replay = 0;                   // instructions to execute again
    std::deque<std::uint8_t> inputs;  // the bytes their INs were given, in order
    bool output = false;              // the undone instruction had written an output line
  };
  Rewound rewind(Machine& machine);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  void clear();
  // Bytes the history takes when full.
  std::size_t memoryBytes() const;

 private:
  struct Segment {
    std::array<std::int32_t, 26> fields;  // the register and flag fields, in memory order
    Machine::TextState text;
    Counters counters;
    std::uint64_t journalStart;  // absolute positions in the journal and the inputs
    std::uint64_t inputStart;
    std::uint64_t outputs;  // bit i: instruction i of the segment wrote an output line
    int count;
  };

  Segment& newest() { return ring_[last_]; }
  void startSegment(const Machine& machine, const Counters& counters);
  void dropOldest();

  std::size_t capacity_;
  std::vector<Segment> ring_;
  std::size_t first_ = 0, last_ = 0, segments_ = 0, size_ = 0;
  // (address << 8 | old value) of every cell written; position p lives at p % capacity.
  std::unique_ptr<std::uint32_t[]> journal_;
  std::size_t journalCapacity_;
  std::uint64_t journalFirst_ = 0, journalEnd_ = 0;
  std::deque<std::uint8_t> inputs_;
  std::uint64_t inputsFirst_ = 0;  // absolute position of inputs_.front()
};

}  // namespace korvel
