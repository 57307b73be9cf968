#include "flash/FlashModels.h"

#include <algorithm>

namespace corvane {

namespace {

constexpr uint32_t kWhole = 0xFFFFFFFF;
constexpr uint32_t kHigh = 0xFFFF0000;  // AMD device words but DSX6071/6072's: low half ignored

// clang-format off
constexpr ChipName kDsx6071Amd[] = {
  {kWhole, 0xDA225B44, "AM29LV800BT"},
  {kWhole, 0x5B22DA44, "AM29LV800BB"},
};
constexpr ChipName kDsx6071Sgs[] = {
  {kWhole, 0xD700EB00, "M29W800AT"},
  {kWhole, 0x5B00DA00, "M29W800AB"},
  {kWhole, 0x5B22DA44, "M29W800DB"},
};
constexpr ChipName kDsi185Amd[] = {
  {kHigh, 0xAB220000, "AM29F400BB"},
  {kHigh, 0x23220000, "AM29F800BT"},
};
constexpr ChipName kDsi185Sgs[] = {
  {kWhole, 0xD700EB00, "M29W800AT"},
  {kWhole, 0x5B00DA00, "M29W800AB"},
};
constexpr ChipName kTs1Amd[] = {
  {kHigh, 0xD6220000, "AM29F800BT"},
  {kHigh, 0x58220000, "AM29F800BB"},
};
// Also the DSX6070/DSX6170 list.
constexpr ChipName kTs1Sgs[] = {
  {kWhole, 0xD622D622, "M29W800AT"},
  {kWhole, 0x5B00DA00, "M29W800AB"},
};
constexpr ChipName kDsx6070Amd[] = {
  {kHigh, 0xAAC40000, "AM29F400BB"},
  {kHigh, 0xD6220000, "AM29F800BT"},
  {kHigh, 0x48C40000, "AM29LV160DB"},
  {kHigh, 0x58220000, "AM29F800BB"},
};

// Device A0 sits on byte-address bit 2, so device word n is at byte offset 4n: the unlock
// cycles go to words 0x555 and 0x2AA (offsets 0x1554 and 0xAA8), which every part in the
// catalogue decodes, ST's M29W800A on A0-A11 as well as the AMD parts on A0-A10.

// The boards' wirings, as the command values show them: the command byte lands on the
// low byte of each half through these.
constexpr HalfWiring kStraight = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// Each byte's lines in reverse order: 0xAA reaches the bus as 0x55.
constexpr HalfWiring kByteReversed = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
// DQi on bit 2i, DQ(8+i) on bit 2i+1: 0xAA reaches the bus as 0x4444.
constexpr HalfWiring kInterleaved = {0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15};
// DQ0 on bit 15 (the second unlock's 0x8054 delivers 0x55), and DQ9/DQ10 and DQ13/DQ14
// traded (AMD's 0x22 reads 0xC4 in the device words).
constexpr HalfWiring kSwapped = {15, 1, 2, 3, 4, 5, 6, 7, 8, 10, 9, 11, 12, 14, 13, 0};

// DSX6071/6072: the first 512 KB of flash is the data area, written only on request.
constexpr uint32_t kDsx6071DataWritten[] = {0x7FE10000, 0x7FE08000, 0x7FE0C000};
constexpr uint32_t kDsx6071DataErased[] = {0x7FE10000, 0x7FE20000, 0x7FE40000, 0x7FE60000};
// DSI185: the small bottom sectors, erased before the block loop.
constexpr uint32_t kDsi185BottomSectors[] = {0x7FF00000, 0x7FF08000, 0x7FF0C000, 0x7FF10000};

constexpr FlashDataArea kNoDataArea = {0, {}, {}};
constexpr FlashLoader kNoLoader = {0, nullptr, 0, nullptr};

// The TS1 command set, also used by TVN box and STB3100.
constexpr FlashModel Ts1Like(Model model, bool sectorCommands) {
  return {
    .model = model, .commanded = true, .base = 0x7FE00000, .words = 0x80000,
    .commandAddress = 0x7FE01554, .unlockAddress = 0x7FE00AA8, .readBackAddress = 0x7FE00000,
    .unlock1 = 0x00AA00AA, .unlock2 = 0x00550055,
    .reset = 0x00F000F0, .autoselect = 0x00900090, .program = 0x00A000A0, .eraseSetup = 0x00800080,
    .sectorErase = 0x00300030, .chipErase = 0x00100010,
    .leadingReset = false, .sectorCommands = sectorCommands, .eraseChip = EraseMethod::Chip,
    .low = kStraight, .high = kStraight,
    .signature = {true, 0x7FE01554, 0x7FE00AA8, 0, 0x7FE00000, 0x7FE00004,
                  0x04000400, 0xAD00AD00, kTs1Amd, kTs1Sgs},
    .method = WriteMethod::ChipErase, .checkProtection = false, .preErase = {},
    .dataArea = kNoDataArea, .loader = kNoLoader, .usualPart = "MBM29F800BA",
  };
}

// DSX6070 and DSX6170: one board design at two bases; a lone reset cycle leads every
// sequence, and the second unlock carries 0x8054 in each half. The sector erase is built as
// the erase setup and the chip erase are, the command byte (0x30) in the low byte of each
// half: the swapped wiring passes DQ4 and DQ5 straight, as it does for 0x80 and 0x10.
constexpr FlashModel Dsx6070Like(Model model, uint32_t base, uint32_t words, const char* part) {
  return {
    .model = model, .commanded = true, .base = base, .words = words,
    .commandAddress = base + 0x1554, .unlockAddress = base + 0xAA8, .readBackAddress = base,
    .unlock1 = 0x00AA00AA, .unlock2 = 0x80548054,
    .reset = 0x00F000F0, .autoselect = 0x00900090, .program = 0x00A000A0, .eraseSetup = 0x00800080,
    .sectorErase = 0x00300030, .chipErase = 0x00100010,
    .leadingReset = true, .sectorCommands = false, .eraseChip = EraseMethod::Chip,
    .low = kSwapped, .high = kSwapped,
    .signature = {true, base + 0x1554, base + 0xAA8, 1000, base, base + 4,
                  0x00800080, 0x01234567, kDsx6070Amd, kTs1Sgs},
    .method = WriteMethod::ChipErase, .checkProtection = false, .preErase = {},
    .dataArea = kNoDataArea, .loader = kNoLoader, .usualPart = part,
  };
}

constexpr FlashModel kFlashModels[kModelCount] = {
  {
    .model = Model::DSX6071_6072, .commanded = true, .base = 0x7FE00000, .words = 0x80000,
    .commandAddress = 0x7FE01554, .unlockAddress = 0x7FE00AA8, .readBackAddress = 0x7FE00000,
    // High half: the command byte bit-reversed.
    .unlock1 = 0x005500AA, .unlock2 = 0x00AA0055,
    .reset = 0x000F00F0, .autoselect = 0x00090090, .program = 0x000500A0, .eraseSetup = 0x00010080,
    .sectorErase = 0x000C0030, .chipErase = 0,
    .leadingReset = false, .sectorCommands = true, .eraseChip = EraseMethod::Sector,
    .low = kStraight, .high = kByteReversed,
    .signature = {true, 0x7FE01554, 0x7FE00AA8, 0, 0x7FE00000, 0x7FE00004,
                  0x01008000, 0x20000400, kDsx6071Amd, kDsx6071Sgs},
    .method = WriteMethod::Blocks, .checkProtection = true, .preErase = {},
    .dataArea = {0x20000, kDsx6071DataWritten, kDsx6071DataErased},
    .loader = kNoLoader, .usualPart = "AM29LV800BB",
  },
  {
    // Commands go 1 MB below the flash base, where its chip select also answers; only the
    // signature read uses the base itself.
    .model = Model::DSI185, .commanded = true, .base = 0x7FF00000, .words = 0x40000,
    .commandAddress = 0x7FE01554, .unlockAddress = 0x7FE00AA8, .readBackAddress = 0x7FE00000,
    // High half: bit i of the command byte on bit 2i.
    .unlock1 = 0x444400AA, .unlock2 = 0x11110055,
    .reset = 0x550000F0, .autoselect = 0x41000090, .program = 0x440000A0, .eraseSetup = 0x40000080,
    .sectorErase = 0x05000030, .chipErase = 0,
    .leadingReset = false, .sectorCommands = true, .eraseChip = EraseMethod::Sector,
    .low = kStraight, .high = kInterleaved,
    .signature = {true, 0x7FF01554, 0x7FF00AA8, 0, 0x7FF00000, 0x7FF00004,
                  0x01000100, 0x20000400, kDsi185Amd, kDsi185Sgs},
    .method = WriteMethod::Blocks, .checkProtection = false, .preErase = kDsi185BottomSectors,
    .dataArea = kNoDataArea, .loader = kNoLoader, .usualPart = "AM29F400BB",
  },
  {
    // Written by the RAM loader; read over the link, never commanded.
    .model = Model::BCT13, .commanded = false, .base = 0x7FF00000, .words = 0x40000,
    .commandAddress = 0, .unlockAddress = 0, .readBackAddress = 0,
    .unlock1 = 0, .unlock2 = 0, .reset = 0, .autoselect = 0, .program = 0, .eraseSetup = 0,
    .sectorErase = 0, .chipErase = 0,
    .leadingReset = false, .sectorCommands = false, .eraseChip = EraseMethod::None,
    .low = kStraight, .high = kStraight,
    .signature = {false, 0, 0, 0, 0, 0, 0, 0, {}, {}},
    .method = WriteMethod::RamLoader, .checkProtection = false, .preErase = {},
    .dataArea = kNoDataArea,
    .loader = {0x80002000, "TRAP.BIN", 10000, "Writing Flash ~10 secs..."},
    .usualPart = nullptr,
  },
  Ts1Like(Model::TS1, true),
  Dsx6070Like(Model::DSX6070, 0x7FF00000, 0x40000, "AM29F400BB"),
  Ts1Like(Model::TVNbox, false),
  Ts1Like(Model::STB3100, false),
  Dsx6070Like(Model::DSX6170, 0x7FC00000, 0x100000, "AM29LV160DB"),
};
// clang-format on

constexpr bool RowsInModelOrder() {
  for (int i = 0; i < kModelCount; ++i) {
    if (static_cast<int>(kFlashModels[i].model) != i) return false;
  }
  return true;
}
static_assert(RowsInModelOrder(), "one row per model, in the order of the Model enum");

uint16_t ToHalf(const HalfWiring& wiring, uint16_t dq) {
  uint16_t out = 0;
  for (int i = 0; i < 16; ++i) {
    if (dq & (1u << i)) out |= static_cast<uint16_t>(1u << wiring[i]);
  }
  return out;
}

}  // namespace

const FlashModel& FlashModelOf(Model model) { return kFlashModels[static_cast<int>(model)]; }

const ChipName* MatchChip(std::span<const ChipName> names, uint32_t device) {
  for (const ChipName& n : names) {
    if ((device & n.mask) == n.value) return &n;
  }
  return nullptr;
}

uint32_t PresentedWord(const FlashModel& flash, uint16_t chipWord) {
  const uint32_t bus =
      ToHalf(flash.low, chipWord) | static_cast<uint32_t>(ToHalf(flash.high, chipWord)) << 16;
  return ByteSwap(bus);
}

const ChipPart* IdentifyChip(const FlashModel& flash, const ChipId& id) {
  if (!flash.commanded) return nullptr;
  for (const ChipPart& part : ChipCatalogue()) {
    if (part.words < flash.words) continue;
    if (PresentedWord(flash, part.maker) == id.manufacturer &&
        PresentedWord(flash, part.device) == id.device) {
      return &part;
    }
  }
  return nullptr;
}

uint32_t ProtectionBits(const FlashModel& flash) { return PresentedWord(flash, 1); }

SectorMap::SectorMap(const FlashModel& flash, const ChipPart* part) {
  // A larger part on a board that decodes fewer lines shows only its lower words.
  auto add = [&](const ChipPart& p) {
    for (uint32_t word : SectorStartWords(p)) {
      if (word < flash.words) starts_.push_back(flash.base + 4 * word);
    }
  };
  if (part) {
    add(*part);
  } else {
    // Parts of the board's own size, bottom and top boot.
    add(GenericPart(flash.words, BootBlock::Bottom));
    add(GenericPart(flash.words, BootBlock::Top));
  }
  std::sort(starts_.begin(), starts_.end());
  starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
}

std::vector<uint32_t> SectorMap::StartsIn(uint32_t from, uint32_t to) const {
  std::vector<uint32_t> out;
  for (uint32_t s : starts_) {
    if (s >= from && s < to) out.push_back(s);
  }
  return out;
}

uint32_t SectorMap::EndOf(uint32_t address, const FlashModel& flash) const {
  const auto above = std::upper_bound(starts_.begin(), starts_.end(), address);
  return above == starts_.end() ? flash.base + 4 * flash.words : *above;
}

uint32_t SectorMap::SectorOf(uint32_t address) const {
  const auto above = std::upper_bound(starts_.begin(), starts_.end(), address);
  return above == starts_.begin() ? address : *(above - 1);
}

}  // namespace corvane
