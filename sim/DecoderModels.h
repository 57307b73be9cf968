#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace corvane::sim {

// The virtual decoder's own knowledge of each model's hardware: memory map, wiring and the
// memory-interface set-up its boot ROM expects. Kept apart from the tool's tables on purpose.

struct RamRegion {
  uint32_t base;
  uint32_t window;  // bytes of address space the chip select answers
  uint32_t fitted;  // bytes fitted; a smaller power of two repeats through the window
};

struct RegisterWrite {
  uint32_t address;
  uint32_t value;
};

// A loader file the virtual decoder places in its directory.
struct LoaderFile {
  const char* name;
  uint8_t operation;  // VirtualLoader operation
  uint32_t ramBase;
  uint32_t destination;
  uint32_t words;
};

struct DecoderModel {
  const char* caption;
  const char* folder;
  uint32_t pioBase;      // the PIO whose pins carry the EEPROM
  uint32_t eepromSize;   // 2048: one address byte; 8192: two
  std::span<const RamRegion> ram;
  uint32_t dataBase, dataSize;  // dataSize 0: no separate data area
  // Accepted set-ups; any one of them, written exactly and in order, opens external memory.
  std::span<const std::span<const RegisterWrite>> setups;
  std::span<const LoaderFile> loaders;
};

std::span<const DecoderModel> DecoderModels();
const DecoderModel* DecoderModelFor(const std::string& caption);

// On-chip registers that take the set-up.
inline constexpr uint32_t kMiBlockBase = 0x2000, kMiBlockEnd = 0x2080;
inline constexpr uint32_t kMiWindowBase = 0x20002000, kMiWindowEnd = 0x20002014;
// The two PIO blocks; each model wires the EEPROM to one of them.
inline constexpr uint32_t kPioBases[2] = {0x2000D000, 0x2000F000};
inline constexpr uint32_t kPioOutput = 0x00, kPioInput = 0x10, kPioMode = 0x20, kPioSpan = 0x24;

}  // namespace corvane::sim
