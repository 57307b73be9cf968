#include "flash/ChipCatalogue.h"

#include <algorithm>

#include "link/Text.h"

namespace corvane {

namespace {

constexpr uint16_t kAmd = 0x01, kSt = 0x20, kFujitsu = 0x04, kHynix = 0xAD;
constexpr uint32_t k256K = 0x40000, k512K = 0x80000, k1M = 0x100000;
constexpr uint32_t kA0A10 = 0x7FF, kA0A11 = 0xFFF;
constexpr BootBlock kTop = BootBlock::Top, kBottom = BootBlock::Bottom;

// Word-mode codes, and typical and maximum times from each family's "Erase and Programming
// Performance" table. The Fujitsu and Hynix parts are second sources of the AMD 5 V parts.
// Where a data sheet gives no maximum for a chip erase the column holds 0.
// clang-format off
constexpr ChipPart kParts[] = {
  // name          maker     device  words  boot     lines   program     sector erase           chip erase
  {"AM29LV800BT",  kAmd,     0x22DA, k512K, kTop,    kA0A10, 11,  360,    700'000, 15'000'000, 11'000'000, 0},
  {"AM29LV800BB",  kAmd,     0x225B, k512K, kBottom, kA0A10, 11,  360,    700'000, 15'000'000, 11'000'000, 0},
  {"AM29F800BT",   kAmd,     0x22D6, k512K, kTop,    kA0A10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
  {"AM29F800BB",   kAmd,     0x2258, k512K, kBottom, kA0A10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
  {"AM29F400BT",   kAmd,     0x2223, k256K, kTop,    kA0A10, 12,  500,  1'000'000,  8'000'000,  8'000'000, 0},
  {"AM29F400BB",   kAmd,     0x22AB, k256K, kBottom, kA0A10, 12,  500,  1'000'000,  8'000'000,  8'000'000, 0},
  {"AM29LV160DT",  kAmd,     0x22C4, k1M,   kTop,    kA0A10, 11,  360,    700'000, 15'000'000, 18'000'000, 0},
  {"AM29LV160DB",  kAmd,     0x2249, k1M,   kBottom, kA0A10, 11,  360,    700'000, 15'000'000, 18'000'000, 0},
  {"M29W800AT",    kSt,      0x00D7, k512K, kTop,    kA0A11, 10,  200,  1'000'000, 10'000'000, 10'000'000, 0},
  {"M29W800AB",    kSt,      0x005B, k512K, kBottom, kA0A11, 10,  200,  1'000'000, 10'000'000, 10'000'000, 0},
  {"M29W800DT",    kSt,      0x22D7, k512K, kTop,    kA0A10, 10,  200,    800'000,  6'000'000,  8'000'000, 30'000'000},
  {"M29W800DB",    kSt,      0x225B, k512K, kBottom, kA0A10, 10,  200,    800'000,  6'000'000,  8'000'000, 30'000'000},
  {"MBM29F800TA",  kFujitsu, 0x22D6, k512K, kTop,    kA0A10, 16, 3600,  1'000'000, 15'000'000, 15'000'000, 0},
  {"MBM29F800BA",  kFujitsu, 0x2258, k512K, kBottom, kA0A10, 16, 3600,  1'000'000, 15'000'000, 15'000'000, 0},
  {"HY29F800T",    kHynix,   0x22D6, k512K, kTop,    kA0A10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
  {"HY29F800B",    kHynix,   0x2258, k512K, kBottom, kA0A10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
};
// clang-format on

}  // namespace

std::span<const ChipPart> ChipCatalogue() { return kParts; }

const ChipPart* FindChipPart(std::string_view name) {
  for (const ChipPart& p : kParts) {
    if (EqualsNoCase(p.name, name)) return &p;
  }
  return nullptr;
}

ChipPart GenericPart(uint32_t words, BootBlock boot) {
  return {"", 0, 0, words, boot, kA0A10, 0, 0, 0, 0, 0, 0};
}

std::vector<uint32_t> SectorStartWords(const ChipPart& part) {
  std::vector<uint32_t> sizes = {0x2000, 0x1000, 0x1000, 0x4000};
  for (uint32_t w = 0x8000; w < part.words; w += 0x8000) sizes.push_back(0x8000);
  if (part.boot == BootBlock::Top) std::reverse(sizes.begin(), sizes.end());
  std::vector<uint32_t> starts;
  uint32_t at = 0;
  for (uint32_t s : sizes) {
    starts.push_back(at);
    at += s;
  }
  return starts;
}

}  // namespace corvane
