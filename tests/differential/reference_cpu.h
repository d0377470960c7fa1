// The reference side of the differential check: the z80ex library, with its own 64 KiB of
// memory and a record of every memory and port access of one instruction.
#pragma once

#include <z80ex/z80ex.h>

#include <array>
#include <cstdint>
#include <vector>

namespace korvel::differential {

struct PortAccess {
  int port;  // the low byte of the port address: the port number
  int data;
  bool operator==(const PortAccess&) const = default;
};

class ReferenceCpu {
 public:
  ReferenceCpu();
  ~ReferenceCpu();
  ReferenceCpu(const ReferenceCpu&) = delete;
  ReferenceCpu& operator=(const ReferenceCpu&) = delete;

  std::uint16_t reg(Z80_REG_T r) const { return z80ex_get_reg(cpu_, r); }
  void setReg(Z80_REG_T r, int value) { z80ex_set_reg(cpu_, r, static_cast<Z80EX_WORD>(value)); }

  // Executes one whole instruction, prefixes included: z80ex returns after each prefix
  // byte, so it is stepped until it reports a complete instruction. A repeating block
  // instruction runs one iteration, leaving PC on its ED byte while it repeats.
  void step();

  std::array<std::uint8_t, 65536> memory{};
  std::uint8_t portByte = 0;  // the answer to every port read of the next step

  // Accesses of the last step.
  std::vector<std::uint16_t> writes;
  std::vector<PortAccess> portReads;
  std::vector<PortAccess> portWrites;

 private:
  static Z80EX_BYTE readMemory(Z80EX_CONTEXT*, Z80EX_WORD address, int, void* self);
  static void writeMemory(Z80EX_CONTEXT*, Z80EX_WORD address, Z80EX_BYTE value, void* self);
  static Z80EX_BYTE readPort(Z80EX_CONTEXT*, Z80EX_WORD port, void* self);
  static void writePort(Z80EX_CONTEXT*, Z80EX_WORD port, Z80EX_BYTE value, void* self);
  static Z80EX_BYTE readInterruptVector(Z80EX_CONTEXT*, void*);

  Z80EX_CONTEXT* cpu_;
};

}  // namespace korvel::differential
