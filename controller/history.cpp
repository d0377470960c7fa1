#include "history.h"

#include <cstddef>
#include <cstring>

namespace korvel {

namespace {

// The 26 register and flag fields lie one after the other in MachineState; a snapshot copies
// them as one block.
constexpr std::size_t kFieldsBegin = offsetof(MachineState, A);
constexpr std::size_t kFieldsEnd = offsetof(MachineState, altParity) + sizeof(std::int32_t);
static_assert((kFieldsEnd - kFieldsBegin) / sizeof(std::int32_t) == 26);

std::size_t segmentsFor(std::size_t capacity) {
  return (capacity + History::kSegmentLength - 1) / History::kSegmentLength + 1;
}

}  // namespace

History::History(std::size_t capacity)
    : capacity_(capacity == 0 ? 1 : capacity),
      ring_(segmentsFor(capacity_)),
      journal_(std::make_unique_for_overwrite<std::uint32_t[]>(capacity_ * kWritesPerInstruction)),
      journalCapacity_(capacity_ * kWritesPerInstruction) {}

void History::clear() {
  first_ = last_ = segments_ = size_ = 0;
  journalFirst_ = journalEnd_ = 0;
  inputs_.clear();
  inputsFirst_ = 0;
}

std::size_t History::memoryBytes() const {
  return ring_.size() * sizeof(Segment) + journalCapacity_ * sizeof(std::uint32_t) +
         capacity_;  // at most one input byte per instruction
}

void History::dropOldest() {
  const Segment& oldest = ring_[first_];
  size_ -= static_cast<std::size_t>(oldest.count);
  --segments_;
  first_ = first_ + 1 == ring_.size() ? 0 : first_ + 1;
  // What the next segment starts with is all that remains.
  const Segment& next = ring_[first_];
  const std::uint64_t journalStart = segments_ > 0 ? next.journalStart : journalEnd_;
  const std::uint64_t inputStart = segments_ > 0 ? next.inputStart : inputsFirst_ + inputs_.size();
  journalFirst_ = journalStart;
  inputs_.erase(inputs_.begin(),
                inputs_.begin() + static_cast<std::ptrdiff_t>(inputStart - inputsFirst_));
  inputsFirst_ = inputStart;
}

void History::startSegment(const Machine& machine, const Counters& counters) {
  // Full: the oldest instructions give way, a segment at a time.
  if (size_ + kSegmentLength > capacity_ || segments_ == ring_.size()) {
    while (segments_ > 0 && (size_ + kSegmentLength > capacity_ || segments_ == ring_.size()))
      dropOldest();
  }
  last_ = segments_ == 0 ? first_ : (last_ + 1 == ring_.size() ? 0 : last_ + 1);
  ++segments_;
  Segment& s = ring_[last_];
  std::memcpy(s.fields.data(), reinterpret_cast<const char*>(&machine.state()) + kFieldsBegin,
              sizeof s.fields);
  s.text = machine.textState();
  s.counters = counters;
  s.journalStart = journalEnd_;
  s.inputStart = inputsFirst_ + inputs_.size();
  s.outputs = 0;
  s.count = 0;
}

void History::recordWrite(std::int32_t address, std::int32_t oldValue) {
  if (segments_ == 0) return;
  // The journal holds what the history's instructions can write; should it fill up all the
  // same, the oldest segments give way (never the one being recorded).
  while (journalEnd_ - journalFirst_ == journalCapacity_ && segments_ > 1) dropOldest();
  if (journalEnd_ - journalFirst_ == journalCapacity_) return;
  journal_[journalEnd_++ % journalCapacity_] =
      static_cast<std::uint32_t>(address) << 8 | static_cast<std::uint32_t>(oldValue);
}

History::Rewound History::rewind(Machine& machine) {
  Rewound r;
  while (segments_ > 0 && newest().count == 0) {
    --segments_;
    last_ = last_ == 0 ? ring_.size() - 1 : last_ - 1;
  }
  if (segments_ == 0) return r;
  Segment& s = newest();
  MachineState& state = machine.state();
  while (journalEnd_ > s.journalStart) {
    const std::uint32_t cell = journal_[--journalEnd_ % journalCapacity_];
    state.memory[cell >> 8] = static_cast<std::int32_t>(cell & 0xFF);
  }
  std::memcpy(reinterpret_cast<char*>(&state) + kFieldsBegin, s.fields.data(), sizeof s.fields);
  machine.restoreText(s.text);
  r.counters = s.counters;
  r.replay = s.count - 1;
  r.output = (s.outputs >> (s.count - 1) & 1) != 0;
  const auto start = inputs_.begin() + static_cast<std::ptrdiff_t>(s.inputStart - inputsFirst_);
  r.inputs.assign(start, inputs_.end());
  inputs_.erase(start, inputs_.end());
  size_ -= static_cast<std::size_t>(s.count);
  s.count = 0;
  s.outputs = 0;
  return r;
}

}  // namespace korvel
