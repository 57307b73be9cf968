#pragma once
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace corvane {

// Where a chip keeps its small boot-block sectors.
enum class BootBlock { Bottom, Top, Unknown };

// One NOR part of the AMD command set in word mode, as its data sheet gives it. Times in
// microseconds; a maximum of 0 means the data sheet gives none.
struct ChipPart {
  const char* name;
  uint16_t maker;   // autoselect word 0
  uint16_t device;  // autoselect word 1
  uint32_t words;   // 16-bit words
  BootBlock boot;
  // The address lines the chip decodes in its command cycles: A0-A10 on the AMD parts and
  // their second sources, A0-A11 on ST's M29W800A.
  uint32_t commandLines;
  int64_t programTypUs, programMaxUs;
  int64_t sectorEraseTypUs, sectorEraseMaxUs;
  int64_t chipEraseTypUs, chipEraseMaxUs;
};

std::span<const ChipPart> ChipCatalogue();
// Any case; null when the catalogue has no such part.
const ChipPart* FindChipPart(std::string_view name);
// A part of `words` words with the usual boot block on the given side, for the sector map
// of a board whose chips are not known.
ChipPart GenericPart(uint32_t words, BootBlock boot);
// The chip word where each sector starts, ascending: the boot block of 8K, 4K, 4K and 16K
// words at the bottom (or the same mirrored at the top), 32K-word sectors elsewhere.
std::vector<uint32_t> SectorStartWords(const ChipPart& part);

}  // namespace corvane
