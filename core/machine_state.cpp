#include "machine_state.h"

namespace korvel {

void resetRegisters(MachineState& s) {
  s.IX = s.IY = s.SP = s.PC = 0;
  s.A = s.B = s.C = s.D = s.E = s.H = s.L = 0;
  s.Carry = s.Zero = s.Sign = s.Parity = 0;
  s.altA = s.altB = s.altC = s.altD = s.altE = s.altH = s.altL = 0;
  s.altCarry = s.altZero = s.altSign = s.altParity = 0;
}

void parity(MachineState& s, std::int32_t pinput) {
  s.Parity = evenParity(pinput) ? 1 : 0;
}

std::string hhex(std::int32_t hhinput) {
  char digits[2];
  writeHex2(digits, hhinput);
  return std::string(digits, 2);
}

std::int32_t packFlags(std::int32_t sign, std::int32_t zero, std::int32_t parityFlag,
                       std::int32_t carry) {
  return sign * 128 + zero * 64 + parityFlag * 4 + carry;
}

void unpackFlags(std::int32_t f, std::int32_t& sign, std::int32_t& zero, std::int32_t& parityFlag,
                 std::int32_t& carry) {
  sign = (f >> 7) & 1;
  zero = (f >> 6) & 1;
  parityFlag = (f >> 2) & 1;
  carry = f & 1;
}

}  // namespace korvel
