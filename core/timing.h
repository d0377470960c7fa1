// How long the instruction at PC takes on a real Z80, in T-states (clock cycles).
#pragma once

#include "machine_state.h"

namespace korvel {

// The T-states of the instruction at PC (one iteration of a repeating block instruction),
// prefixes included, computed from the state before it executes: a conditional instruction
// counts by whether its condition holds, a repeating block instruction by whether it repeats.
// Bytes that a page does not know take 4 for each prefix byte the tick consumes (see
// timing.cpp). An IN or OUT that is abandoned takes no time: count only what executed.
int tstates(const MachineState& s);

}  // namespace korvel
