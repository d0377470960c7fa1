#include "changemarks.h"

#include <algorithm>

ChangeMarks::ChangeMarks() : memory_(korvel::kMemorySize, 0), cellMarks_(korvel::kMemorySize, 0) {}

bool ChangeMarks::reset(const korvel::MachineState& s) {
  const bool memoryChanged = update(s);
  changedFields_.fill(false);
  for (std::int32_t a : changedCells_) cellMarks_[static_cast<std::size_t>(a)] = 0;
  changedCells_.clear();
  return memoryChanged;
}

bool ChangeMarks::update(const korvel::MachineState& s) {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const std::int32_t v = s.*korvel::kRegisterFields[i].member;
    changedFields_[i] = v != fields_[i];
    fields_[i] = v;
  }
  for (std::int32_t a : changedCells_) cellMarks_[static_cast<std::size_t>(a)] = 0;
  previousCells_.swap(changedCells_);
  changedCells_.clear();
  // Cells are compared a block at a time: most blocks have not changed.
  constexpr std::size_t kBlock = 64;
  for (std::size_t b = 0; b < memory_.size(); b += kBlock) {
    if (std::equal(memory_.begin() + b, memory_.begin() + b + kBlock, s.memory.begin() + b))
      continue;
    for (std::size_t a = b; a < b + kBlock; ++a) {
      if (memory_[a] == s.memory[a]) continue;
      memory_[a] = s.memory[a];
      cellMarks_[a] = 1;
      changedCells_.push_back(static_cast<std::int32_t>(a));
    }
  }
  return !changedCells_.empty();
}
