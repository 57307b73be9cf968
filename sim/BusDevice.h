#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace corvane::sim {

// Something on the decoder's 32-bit bus (flash board, PIO block, RAM). Addresses are full
// decoder addresses; the memory map decides which device sees which.
class BusDevice {
 public:
  virtual ~BusDevice() = default;
  virtual uint32_t Read(uint32_t address) = 0;
  virtual void Write(uint32_t address, uint32_t value) = 0;
  // What the device keeps while the decoder stays switched on between runs (a chip's
  // command state), and taking it back; false when the words do not fit the device.
  virtual std::vector<uint32_t> State() { return {}; }
  virtual bool Restore(std::span<const uint32_t> state) { return state.empty(); }
};

}  // namespace corvane::sim
