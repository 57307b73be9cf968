#pragma once
#include <cstdint>

namespace corvane::sim {

// Something on the decoder's 32-bit bus (flash board, PIO block, RAM). Addresses are full
// decoder addresses; the memory map decides which device sees which.
class BusDevice {
 public:
  virtual ~BusDevice() = default;
  virtual uint32_t Read(uint32_t address) = 0;
  virtual void Write(uint32_t address, uint32_t value) = 0;
};

}  // namespace corvane::sim
