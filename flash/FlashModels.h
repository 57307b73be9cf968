#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "flash/ChipCatalogue.h"
#include "target/Profiles.h"

namespace corvane {

// How Write Firmware puts an image into a model's flash.
enum class WriteMethod {
  Blocks,     // erase and program 128 KB block by block, over the link
  ChipErase,  // erase the whole chip, then program over the link
  RamLoader,  // copy the image into RAM and let a loader on the decoder write it
};

// What EraseChip does on a model.
enum class EraseMethod {
  None,    // never erased here (BCT13: the RAM loader writes it)
  Sector,  // the sector-erase sequence at the address passed in
  Chip,    // the chip-erase sequence at the command address
};

// One name in a signature table: the word matches when (word & mask) == value.
struct ChipName {
  uint32_t mask;
  uint32_t value;
  const char* name;
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

// How one chip's sixteen data lines reach its half of the bus: DQi is bit dq[i] of the half.
using HalfWiring = std::array<uint8_t, 16>;

// The RAM loader that writes a model's flash on the decoder itself.
struct FlashLoader {
  uint32_t ramBase;  // where the image is copied first
  const char* file;
  int waitMs;
  const char* waitText;
};

// The data area a model keeps in the first sectors of its flash, written with the firmware
// when "Write Data Area" is checked.
struct FlashDataArea {
  uint32_t words;  // 0: none
  std::span<const uint32_t> sectorsWhenWritten;
  std::span<const uint32_t> sectorsWhenErased;  // "Erase Data Area" without writing it
};

// Everything the tool knows of one model's flash. All command values are in bus order;
// the table in FlashModels.cpp is the only place that knows per-model flash details.
struct FlashModel {
  Model model;
  // False: the engine never sends this flash a command (no cycle, no poll).
  bool commanded;
  uint32_t base;   // first flash word, where images are written and read
  uint32_t words;  // 32-bit words from base up: Read Firmware saves them, a write fills them
  uint32_t commandAddress;
  uint32_t unlockAddress;
  uint32_t readBackAddress;  // read twice by ResetFlash
  uint32_t unlock1, unlock2;
  uint32_t reset, autoselect, program, eraseSetup;
  uint32_t sectorErase;  // 0: none; only the writes that leave sectors alone use it where
                         // sectorCommands is false
  uint32_t chipErase;    // 0: none
  // A lone reset cycle at the command address before the erase, program and signature
  // sequences.
  bool leadingReset;
  // EraseFlash and CheckSector are defined.
  bool sectorCommands;
  EraseMethod eraseChip;
  // The board's wiring of the low (bits 0-15) and high (bits 16-31) chip.
  HalfWiring low, high;
  SignatureRead signature;

  WriteMethod method;
  bool checkProtection;                // ask CheckSector before each block erase
  std::span<const uint32_t> preErase;  // sectors erased before the block loop ("Erasing...")
  FlashDataArea dataArea;
  FlashLoader loader;      // RamLoader only
  const char* usualPart;   // the part the board usually carries; null: none commanded
};

const FlashModel& FlashModelOf(Model model);

// The other byte order of a word: image order to bus order and back.
constexpr uint32_t ByteSwap(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

// The entry of a signature table that a device word matches; null when none does.
const ChipName* MatchChip(std::span<const ChipName> names, uint32_t device);

// The autoselect words at device words 0 and 1, in image order.
struct ChipId {
  uint32_t manufacturer = 0;
  uint32_t device = 0;
  bool agreed = true;  // two reads of each word agreed
};
// What a chip's own 16-bit word reads as through the board: both chips drive it, each on
// its half of the bus; in image order, as ReadFlash returns it.
uint32_t PresentedWord(const FlashModel& flash, uint16_t chipWord);
// The catalogue part whose codes, as the board presents them, the chips answered with;
// null when none does. Only parts that fill the board's address space are considered.
const ChipPart* IdentifyChip(const FlashModel& flash, const ChipId& id);
// The bits of an image-order word that carry DQ0 of each chip: their sector-protection flags
// in autoselect word 2. A sector is protected when either chip says so.
uint32_t ProtectionBits(const FlashModel& flash);

// The sectors of a board's flash as bus addresses, from the identified part's sector map;
// without a part, the starts of both a bottom- and a top-boot map: erasing at a start that
// is none erases the sector around it once more, which costs time and nothing else.
class SectorMap {
 public:
  SectorMap(const FlashModel& flash, const ChipPart* part);
  // Starts in [from, to), ascending.
  std::vector<uint32_t> StartsIn(uint32_t from, uint32_t to) const;
  // The start of the sector that holds address.
  uint32_t SectorOf(uint32_t address) const;
  // The first address past that sector.
  uint32_t EndOf(uint32_t address, const FlashModel& flash) const;

 private:
  std::vector<uint32_t> starts_;
};

}  // namespace corvane
