// BC, DE and HL are not stored: they are formed from their halves and written back as two
// bytes. Index p follows the opcode tables: 0 BC, 1 DE, 2 HL, 3 SP.
#pragma once

#include <cstdint>

#include "machine_state.h"

namespace korvel {

inline constexpr int kPairBC = 0, kPairDE = 1, kPairHL = 2;

inline std::int32_t pairValue(const MachineState& s, int p) {
  switch (p) {
    case 0: return s.B * 256 + s.C;
    case 1: return s.D * 256 + s.E;
    case 2: return s.H * 256 + s.L;
    default: return s.SP;
  }
}

inline void setPair(MachineState& s, int p, std::int32_t v) {
  switch (p) {
    case 0:
      s.B = v >> 8;
      s.C = v & 0xFF;
      break;
    case 1:
      s.D = v >> 8;
      s.E = v & 0xFF;
      break;
    case 2:
      s.H = v >> 8;
      s.L = v & 0xFF;
      break;
    default: s.SP = v; break;
  }
}

// Increment or decrement of a 16-bit value, FFFFH + 1 = 0000H and 0000H - 1 = FFFFH.
inline std::int32_t step16(std::int32_t v, int delta) {
  return (v + delta) & 0xFFFF;
}

}  // namespace korvel
