#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/BusDevice.h"
#include "sim/Conf.h"
#include "sim/VirtualClock.h"

namespace corvane::sim {

// The flash of one board, seen from the decoder's bus. `image` is flash.bin, owned by the
// decoder: file offset = address - base, so a loader may write it directly.
struct FlashBoardGeometry {
  std::string caption;  // the model ("DSX6071/6072", ...)
  uint32_t base;        // first flash address
  uint32_t size;        // bytes of bus space
  // A second window where the chip select also answers (it decodes fewer address lines):
  // the same board, word for word. mirrorSize 0: none.
  uint32_t mirrorBase = 0;
  uint32_t mirrorSize = 0;
};

// Flash geometry per model, the virtual decoder's own copy.
const FlashBoardGeometry* FlashBoardFor(const std::string& caption);

// Builds the board of a model from its decoder.conf keys (flash_maker, flash_device,
// flash_id, protected_sectors, stuck_bits). Null with *error set when a key is wrong or
// image is not layout.size bytes. The board works on image in place and keeps a reference
// to it: its size must not change while the board lives. Any address given to Read/Write is taken
// modulo the board's size, so the memory map may route the mirror window to it unchanged.
std::unique_ptr<BusDevice> MakeFlashBoard(const std::string& caption, const Conf& conf,
                                          std::vector<uint8_t>& image, VirtualClock& clock,
                                          std::string* error);
// Commented decoder.conf lines describing the flash keys and their defaults for a model.
std::string FlashConfDefaults(const std::string& caption);

}  // namespace corvane::sim
