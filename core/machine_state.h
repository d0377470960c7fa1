// The one record of the simulated Z80: memory, registers and the four modelled flags.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>

namespace korvel {

inline constexpr int kMemorySize = 65536;
inline constexpr int kHaltOpcode = 0x76;

// Every field is a plain signed 32-bit integer kept in its range by the instructions:
// cells and 8-bit registers 0..255, IX/IY/SP/PC 0..65535, flags 0 or 1. There is no F
// byte, no half-carry or add/subtract flag, and no I, R or interrupt state.
struct MachineState {
  std::array<std::int32_t, kMemorySize> memory{};

  std::int32_t A = 0, B = 0, C = 0, D = 0, E = 0, H = 0, L = 0;
  std::int32_t altA = 0, altB = 0, altC = 0, altD = 0, altE = 0, altH = 0, altL = 0;
  std::int32_t IX = 0, IY = 0, SP = 0, PC = 0;
  std::int32_t Carry = 0, Zero = 0, Sign = 0, Parity = 0;
  std::int32_t altCarry = 0, altZero = 0, altSign = 0, altParity = 0;
};

// Registers and flags (main and alternate) to 0; memory is left alone.
void resetRegisters(MachineState& s);

// Parity := 1 when bits 0..7 of the value hold an even number of ones, else 0.
void parity(MachineState& s, std::int32_t pinput);
inline bool evenParity(std::int32_t value) {
  return (std::popcount(static_cast<unsigned>(value) & 0xFFu) & 1) == 0;
}

// The low eight bits as exactly two upper-case hexadecimal digits.
std::string hhex(std::int32_t hhinput);

// The four flags as the F byte of AF: Sign bit 7, Zero bit 6, Parity bit 2, Carry bit 0.
std::int32_t packFlags(std::int32_t sign, std::int32_t zero, std::int32_t parityFlag,
                       std::int32_t carry);
void unpackFlags(std::int32_t f, std::int32_t& sign, std::int32_t& zero, std::int32_t& parityFlag,
                 std::int32_t& carry);

// Upper-case hexadecimal digits of the low 4, 8 or 16 bits, for displays and texts.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";
inline char* writeHex2(char* out, std::int32_t v) {
  out[0] = kHexDigits[(v >> 4) & 0xF];
  out[1] = kHexDigits[v & 0xF];
  return out + 2;
}
inline char* writeHex4(char* out, std::int32_t v) {
  return writeHex2(writeHex2(out, (v >> 8) & 0xFF), v & 0xFF);
}

}  // namespace korvel
