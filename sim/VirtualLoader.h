#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvane::sim {

// The only code the virtual decoder runs: a small parameter block in place of real CPU code.
//   offset 0  "CVL1"
//   offset 4  operation: 1 = copy RAM to flash, 2 = copy RAM to the data area
//   offset 5  RAM base, u32 little-endian
//   offset 9  destination, u32 little-endian
//   offset 13 word count, u32 little-endian
// Further bytes, up to the link's 255, are ignored.
inline constexpr uint8_t kLoaderToFlash = 1;
inline constexpr uint8_t kLoaderToDataArea = 2;
inline constexpr size_t kLoaderSize = 17;

struct VirtualLoader {
  uint8_t operation = 0;
  uint32_t ramBase = 0;
  uint32_t destination = 0;
  uint32_t words = 0;

  std::vector<uint8_t> Encode() const;
  // Nothing when the block is not one of ours (a real decoder would run garbage).
  static std::optional<VirtualLoader> Decode(std::span<const uint8_t> block);
};

}  // namespace corvane::sim
