#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/DecoderModels.h"

namespace corvane::sim {

// The decoder's RAM: zero at power-on, stored in 64 KB pages that exist only once something
// other than zero was written, so a dump of a huge region costs no memory.
class SparseRam {
 public:
  static constexpr uint32_t kPageSize = 0x10000;

  explicit SparseRam(std::span<const RamRegion> regions);

  bool Contains(uint32_t address) const { return Find(address) != nullptr; }
  // address must be in a region (Contains) and word-aligned.
  uint32_t Read(uint32_t address) const;
  void Write(uint32_t address, uint32_t value);
  // Bytes in address order, as a loader on the decoder sees them; false if any of
  // [address, address + n) is not RAM.
  bool CopyOut(uint32_t address, uint8_t* out, size_t n) const;
  bool Covers(uint32_t address, uint64_t bytes) const;

  size_t allocatedPages() const { return allocated_; }
  bool dirty() const { return dirty_; }
  void MarkSaved() { dirty_ = false; }

  // ram.bin: one record per page that holds data: its decoder address (u32 little-endian),
  // then the page's 65536 bytes. Absent pages read as zero.
  std::vector<uint8_t> Serialize() const;
  bool Load(std::span<const uint8_t> file, std::string* error);

 private:
  struct Region {
    RamRegion layout;
    std::vector<std::unique_ptr<uint8_t[]>> pages;
  };
  const Region* Find(uint32_t address) const;
  Region* Find(uint32_t address) {
    return const_cast<Region*>(static_cast<const SparseRam*>(this)->Find(address));
  }
  static uint32_t Offset(const Region& r, uint32_t address) {
    uint32_t offset = address - r.layout.base;
    if (offset >= r.layout.fitted) offset &= r.layout.fitted - 1;  // fitted is a power of two here
    return offset;
  }

  std::vector<Region> regions_;
  size_t allocated_ = 0;
  bool dirty_ = false;
};

}  // namespace corvane::sim
