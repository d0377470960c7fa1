// What the last step or run changed: the registers, flags and memory cells that differ from
// the state at the previous stop or step, for the views to highlight.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "machine_state.h"
#include "register_fields.h"

class ChangeMarks {
 public:
  ChangeMarks();

  // The state becomes the point of comparison, with nothing marked (Start, a load). Returns
  // whether any memory cell changed.
  bool reset(const korvel::MachineState& s);
  // Marks what differs from the point of comparison, which then moves to `s`. Returns
  // whether any memory cell changed.
  bool update(const korvel::MachineState& s);
  // The user's edits are not changes the program made: the point of comparison takes them.
  void acceptField(std::size_t field, std::int32_t value) { fields_[field] = value; }
  void acceptCell(std::int32_t address, std::int32_t value) {
    memory_[static_cast<std::size_t>(address)] = value;
  }

  // `field` indexes korvel::kRegisterFields.
  bool fieldChanged(std::size_t field) const { return changedFields_[field]; }
  bool cellChanged(std::int32_t address) const {
    return cellMarks_[static_cast<std::size_t>(address & 0xFFFF)] != 0;
  }
  // The cells marked now, and those the update before marked: what a view has to redraw.
  const std::vector<std::int32_t>& changedCells() const { return changedCells_; }
  const std::vector<std::int32_t>& previousCells() const { return previousCells_; }

 private:
  std::array<std::int32_t, korvel::kRegisterFields.size()> fields_{};
  std::array<bool, korvel::kRegisterFields.size()> changedFields_{};
  std::vector<std::int32_t> memory_;
  std::vector<std::uint8_t> cellMarks_;
  std::vector<std::int32_t> changedCells_, previousCells_;
};
