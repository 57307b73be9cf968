#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "target/Profiles.h"

namespace corvane {

// What EraseChip does on a model.
enum class EraseMethod {
  None,    // never erased here (BCT13: the RAM loader writes it)
  Sector,  // the sector-erase sequence at the address passed in
  Chip,    // the chip-erase sequence at the command address
};

// Where a chip keeps its small boot-block sectors.
enum class BootBlock { Bottom, Top, Unknown };

// One name in a signature table: the word matches when (word & mask) == value.
struct ChipName {
  uint32_t mask;
  uint32_t value;
  const char* name;
  BootBlock boot;
};

// The autoselect read of Read Signature, with its own addresses.
struct SignatureRead {
  bool available;
  uint32_t commandAddress;
  uint32_t unlockAddress;
  // Sleep between the leading reset cycle and the first unlock (only with a leading reset).
  int leadingResetSleepMs;
  uint32_t manufacturerAddress;  // device word 0
  uint32_t deviceAddress;        // device word 1
  uint32_t amd, sgsThomson;      // manufacturer words (image order)
  std::span<const ChipName> amdDevices;
  std::span<const ChipName> sgsDevices;
};

// Everything the flash engine knows of one model's flash. All command values are in bus
// order; the table in FlashModels.cpp is the only place that knows per-model details.
struct FlashModel {
  Model model;
  // False: the engine never sends this flash a command (no cycle, no poll).
  bool commanded;
  uint32_t base;   // first flash word, where images are written and read
  uint32_t words;  // 32-bit words Read Firmware saves from base up
  uint32_t commandAddress;
  uint32_t unlockAddress;
  uint32_t readBackAddress;  // read twice by ResetFlash
  uint32_t unlock1, unlock2;
  uint32_t reset, autoselect, program, eraseSetup;
  uint32_t sectorErase;  // 0: none
  uint32_t chipErase;    // 0: none
  // A lone reset cycle at the command address before the erase, program and signature
  // sequences.
  bool leadingReset;
  // EraseFlash and CheckSector are defined.
  bool sectorCommands;
  // Where the high chip's sector-protection bit (DQ0 in autoselect word 2) lands in the
  // image-order word, through the board's wiring of the upper bus half.
  uint32_t protectionBit;
  EraseMethod eraseChip;
  SignatureRead signature;
};

const FlashModel& FlashModelOf(Model model);

// The entry of a signature table that a device word matches; null when none does.
const ChipName* MatchChip(std::span<const ChipName> names, uint32_t device);
// The boot-block side of the chips that answered with these autoselect words (image order);
// Unknown when the tables do not name them.
BootBlock BootBlockOf(const FlashModel& flash, uint32_t manufacturer, uint32_t device);

// The sectors of a board's flash as bus addresses: 32K-word sectors with the boot block of
// 8K, 4K, 4K and 16K words at the bottom, or the same mirrored at the top. Unknown takes the
// starts of both: erasing at a start that is none erases the sector around it once more,
// which costs time and nothing else.
class SectorMap {
 public:
  SectorMap(const FlashModel& flash, BootBlock boot);
  // Starts in [from, to), ascending.
  std::vector<uint32_t> StartsIn(uint32_t from, uint32_t to) const;
  // The start of the sector that holds address.
  uint32_t SectorOf(uint32_t address) const;

 private:
  std::vector<uint32_t> starts_;
};

}  // namespace corvane
