// The 26 fields that the register display, the trace line and every state comparison list:
// PC, SP, IX, IY, the main registers and flags, then the alternate ones.
#pragma once

#include <array>
#include <cstdint>

#include "machine_state.h"

namespace korvel {

struct RegisterField {
  const char* name;   // as the trace line and the messages write it: "PC", "A'", "Carry'"
  const char* label;  // the register display's value label: "qpc", "qqa", "qqca"
  std::int32_t MachineState::*member;
  std::int32_t max;  // 0xFFFF, 0xFF or 1
  int digits() const { return max == 0xFFFF ? 4 : max == 0xFF ? 2 : 1; }
};

inline constexpr std::array<RegisterField, 26> kRegisterFields{{
    {"PC", "qpc", &MachineState::PC, 0xFFFF},
    {"SP", "qsp", &MachineState::SP, 0xFFFF},
    {"IX", "qix", &MachineState::IX, 0xFFFF},
    {"IY", "qiy", &MachineState::IY, 0xFFFF},
    {"A", "qa", &MachineState::A, 0xFF},
    {"B", "qb", &MachineState::B, 0xFF},
    {"C", "qc", &MachineState::C, 0xFF},
    {"D", "qd", &MachineState::D, 0xFF},
    {"E", "qe", &MachineState::E, 0xFF},
    {"H", "qh", &MachineState::H, 0xFF},
    {"L", "ql", &MachineState::L, 0xFF},
    {"Carry", "qca", &MachineState::Carry, 1},
    {"Zero", "qze", &MachineState::Zero, 1},
    {"Sign", "qsi", &MachineState::Sign, 1},
    {"Parity", "qpa", &MachineState::Parity, 1},
    {"A'", "qqa", &MachineState::altA, 0xFF},
    {"B'", "qqb", &MachineState::altB, 0xFF},
    {"C'", "qqc", &MachineState::altC, 0xFF},
    {"D'", "qqd", &MachineState::altD, 0xFF},
    {"E'", "qqe", &MachineState::altE, 0xFF},
    {"H'", "qqh", &MachineState::altH, 0xFF},
    {"L'", "qql", &MachineState::altL, 0xFF},
    {"Carry'", "qqca", &MachineState::altCarry, 1},
    {"Zero'", "qqze", &MachineState::altZero, 1},
    {"Sign'", "qqsi", &MachineState::altSign, 1},
    {"Parity'", "qqpa", &MachineState::altParity, 1},
}};

// The field called `name` ("PC", "H'"), or nullptr.
const RegisterField* findRegisterField(const char* name);

// "name=digits" of every field, separated by blanks: "PC=0000 SP=0000 ... Parity'=0".
inline constexpr int kStateLineLength = 174;
char* writeStateLine(char* out, const MachineState& s);

// One memory row as the memory viewer shows it: "0100: " then `count` (at most 16) bytes,
// each two digits and a blank; addresses past FFFFH wrap.
inline constexpr int kMaxDumpRowLength = 6 + 16 * 3;
char* writeDumpRow(char* out, const MachineState& s, std::int32_t address, int count);

}  // namespace korvel
