#include "reference_cpu.h"

#include <cstdio>
#include <cstdlib>

namespace korvel::differential {

ReferenceCpu::ReferenceCpu()
    : cpu_(z80ex_create(readMemory, this, writeMemory, this, readPort, this, writePort, this,
                        readInterruptVector, this)) {
  if (cpu_ == nullptr) {
    std::fprintf(stderr, "z80ex_create failed\n");
    std::exit(2);
  }
  writes.reserve(8);
}

ReferenceCpu::~ReferenceCpu() {
  z80ex_destroy(cpu_);
}

void ReferenceCpu::step() {
  writes.clear();
  portReads.clear();
  portWrites.clear();
  // Four prefix bytes at most reach here (DD CB d op); more would be a decoding fault.
  for (int bytes = 0; bytes < 4; ++bytes) {
    z80ex_step(cpu_);
    if (z80ex_last_op_type(cpu_) == 0) return;
  }
  std::fprintf(stderr, "z80ex did not complete an instruction after four prefix steps\n");
  std::exit(2);
}

Z80EX_BYTE ReferenceCpu::readMemory(Z80EX_CONTEXT*, Z80EX_WORD address, int, void* self) {
  return static_cast<ReferenceCpu*>(self)->memory[address];
}

void ReferenceCpu::writeMemory(Z80EX_CONTEXT*, Z80EX_WORD address, Z80EX_BYTE value, void* self) {
  auto* cpu = static_cast<ReferenceCpu*>(self);
  cpu->memory[address] = value;
  cpu->writes.push_back(address);
}

Z80EX_BYTE ReferenceCpu::readPort(Z80EX_CONTEXT*, Z80EX_WORD port, void* self) {
  auto* cpu = static_cast<ReferenceCpu*>(self);
  cpu->portReads.push_back({port & 0xFF, cpu->portByte});
  return cpu->portByte;
}

void ReferenceCpu::writePort(Z80EX_CONTEXT*, Z80EX_WORD port, Z80EX_BYTE value, void* self) {
  static_cast<ReferenceCpu*>(self)->portWrites.push_back({port & 0xFF, value});
}

// No interrupt is ever requested.
Z80EX_BYTE ReferenceCpu::readInterruptVector(Z80EX_CONTEXT*, void*) {
  return 0xFF;
}

}  // namespace korvel::differential
