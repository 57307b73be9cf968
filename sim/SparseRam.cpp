#include "sim/SparseRam.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvane::sim {

SparseRam::SparseRam(std::span<const RamRegion> regions) {
  for (const RamRegion& layout : regions) {
    Region r{layout, {}};
    r.pages.resize((uint64_t{layout.fitted} + kPageSize - 1) / kPageSize);
    regions_.push_back(std::move(r));
  }
}

const SparseRam::Region* SparseRam::Find(uint32_t address) const {
  for (const Region& r : regions_) {
    if (address - r.layout.base < r.layout.window) return &r;
  }
  return nullptr;
}

uint32_t SparseRam::Read(uint32_t address) const {
  const Region* r = Find(address);
  if (!r) return 0;
  const uint32_t offset = Offset(*r, address);
  const uint8_t* page = r->pages[offset / kPageSize].get();
  if (!page) return 0;
  const uint8_t* p = page + offset % kPageSize;
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void SparseRam::Write(uint32_t address, uint32_t value) {
  Region* r = Find(address);
  if (!r) return;
  const uint32_t offset = Offset(*r, address);
  auto& page = r->pages[offset / kPageSize];
  if (!page) {
    if (value == 0) return;  // still reads as zero
    page = std::make_unique<uint8_t[]>(kPageSize);  // value-initialised: zero
    ++allocated_;
  }
  uint8_t* p = page.get() + offset % kPageSize;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
  dirty_ = true;
}

bool SparseRam::Covers(uint32_t address, uint64_t bytes) const {
  const Region* r = Find(address);
  return r && uint64_t{address - r->layout.base} + bytes <= r->layout.window;
}

bool SparseRam::CopyOut(uint32_t address, uint8_t* out, size_t n) const {
  if (!Covers(address, n)) return false;
  const Region& r = *Find(address);
  size_t done = 0;
  while (done < n) {
    const uint32_t offset = Offset(r, static_cast<uint32_t>(address + done));
    const size_t inPage = offset % kPageSize;
    size_t chunk = std::min<size_t>(n - done, kPageSize - inPage);
    chunk = std::min<size_t>(chunk, r.layout.fitted - offset);  // a mirror boundary
    const uint8_t* page = r.pages[offset / kPageSize].get();
    if (page) {
      std::memcpy(out + done, page + inPage, chunk);
    } else {
      std::memset(out + done, 0, chunk);
    }
    done += chunk;
  }
  return true;
}

std::vector<uint8_t> SparseRam::Serialize() const {
  std::vector<uint8_t> out;
  for (const Region& r : regions_) {
    for (size_t i = 0; i < r.pages.size(); ++i) {
      const uint8_t* page = r.pages[i].get();
      if (!page) continue;
      if (std::all_of(page, page + kPageSize, [](uint8_t b) { return b == 0; })) continue;
      const uint32_t address = r.layout.base + static_cast<uint32_t>(i) * kPageSize;
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(address >> (8 * k)));
      out.insert(out.end(), page, page + kPageSize);
    }
  }
  return out;
}

bool SparseRam::Load(std::span<const uint8_t> file, std::string* error) {
  constexpr size_t kRecord = 4 + kPageSize;
  if (file.size() % kRecord != 0) {
    if (error) {
      *error = "its size is not a whole number of " + std::to_string(kRecord) + "-byte records";
    }
    return false;
  }
  for (size_t at = 0; at < file.size(); at += kRecord) {
    const uint32_t address = file[at] | (uint32_t{file[at + 1]} << 8) |
                             (uint32_t{file[at + 2]} << 16) | (uint32_t{file[at + 3]} << 24);
    Region* r = Find(address);
    const uint32_t offset = r ? address - r->layout.base : 0;
    if (!r || offset % kPageSize != 0 || offset >= r->layout.fitted) {
      if (error) {
        char text[96];
        std::snprintf(text, sizeof text, "record %zu names address %08X, which is not a RAM page",
                      at / kRecord, address);
        *error = text;
      }
      return false;
    }
    auto& page = r->pages[offset / kPageSize];
    if (!page) {
      page = std::make_unique<uint8_t[]>(kPageSize);
      ++allocated_;
    }
    std::memcpy(page.get(), file.data() + at + 4, kPageSize);
  }
  dirty_ = false;
  return true;
}

}  // namespace corvane::sim
