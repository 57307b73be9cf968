#include "flash/FlashModels.h"

#include <algorithm>

namespace corvane {

namespace {

constexpr uint32_t kWhole = 0xFFFFFFFF;
constexpr uint32_t kHigh = 0xFFFF0000;  // AMD device words but DSX6071/6072's: low half ignored
constexpr BootBlock kTop = BootBlock::Top, kBottom = BootBlock::Bottom;

// clang-format off
constexpr ChipName kDsx6071Amd[] = {
  {kWhole, 0xDA225B44, "AM29LV800BT", kTop},
  {kWhole, 0x5B22DA44, "AM29LV800BB", kBottom},
};
constexpr ChipName kDsx6071Sgs[] = {
  {kWhole, 0xD700EB00, "M29W800AT", kTop},
  {kWhole, 0x5B00DA00, "M29W800AB", kBottom},
  {kWhole, 0x5B22DA44, "M29W800DB", kBottom},
};
constexpr ChipName kDsi185Amd[] = {
  {kHigh, 0xAB220000, "AM29F400BB", kBottom},
  {kHigh, 0x23220000, "AM29F800BT", kTop},
};
constexpr ChipName kDsi185Sgs[] = {
  {kWhole, 0xD700EB00, "M29W800AT", kTop},
  {kWhole, 0x5B00DA00, "M29W800AB", kBottom},
};
constexpr ChipName kTs1Amd[] = {
  {kHigh, 0xD6220000, "AM29F800BT", kTop},
  {kHigh, 0x58220000, "AM29F800BB", kBottom},
};
// Also the DSX6070/DSX6170 list.
constexpr ChipName kTs1Sgs[] = {
  {kWhole, 0xD622D622, "M29W800AT", kTop},
  {kWhole, 0x5B00DA00, "M29W800AB", kBottom},
};
constexpr ChipName kDsx6070Amd[] = {
  {kHigh, 0xAAC40000, "AM29F400BB", kBottom},
  {kHigh, 0xD6220000, "AM29F800BT", kTop},
  {kHigh, 0x48C40000, "AM29LV160DB", kBottom},
  {kHigh, 0x58220000, "AM29F800BB", kBottom},
};

// The TS1 command set, also used by TVN box and STB3100.
constexpr FlashModel Ts1Like(Model model, bool sectorCommands) {
  return {
    .model = model, .commanded = true, .base = 0x7FE00000, .words = 0x80000,
    .commandAddress = 0x7FE01554, .unlockAddress = 0x7FE02AA8, .readBackAddress = 0x7FE00000,
    .unlock1 = 0x00AA00AA, .unlock2 = 0x00550055,
    .reset = 0x00F000F0, .autoselect = 0x00900090, .program = 0x00A000A0, .eraseSetup = 0x00800080,
    .sectorErase = 0x00300030, .chipErase = 0x00100010,
    // Straight wiring: the high chip's DQ0 is bus bit 16.
    .leadingReset = false, .sectorCommands = sectorCommands, .protectionBit = 0x00000100,
    .eraseChip = EraseMethod::Chip,
    // The signature's second unlock goes to device word 0x2AA, not 0xAAA.
    .signature = {true, 0x7FE01554, 0x7FE00AA8, 0, 0x7FE00000, 0x7FE00004,
                  0x04000400, 0xAD00AD00, kTs1Amd, kTs1Sgs},
  };
}

// DSX6070 and DSX6170: one board design at two bases; a lone reset cycle leads every
// sequence, and the second unlock carries 0x8054 in each half.
constexpr FlashModel Dsx6070Like(Model model, uint32_t base, uint32_t words) {
  return {
    .model = model, .commanded = true, .base = base, .words = words,
    .commandAddress = base + 0x15554, .unlockAddress = base + 0xAAA8, .readBackAddress = base,
    .unlock1 = 0x00AA00AA, .unlock2 = 0x80548054,
    .reset = 0x00F000F0, .autoselect = 0x00900090, .program = 0x00A000A0, .eraseSetup = 0x00800080,
    .sectorErase = 0, .chipErase = 0x00100010,
    .leadingReset = true, .sectorCommands = false, .protectionBit = 0, .eraseChip = EraseMethod::Chip,
    .signature = {true, base + 0x15554, base + 0xAAA8, 1000, base, base + 4,
                  0x00800080, 0x01234567, kDsx6070Amd, kTs1Sgs},
  };
}

constexpr FlashModel kFlashModels[kModelCount] = {
  {
    .model = Model::DSX6071_6072, .commanded = true, .base = 0x7FE00000, .words = 0x80000,
    .commandAddress = 0x7FE01554, .unlockAddress = 0x7FE02AA8, .readBackAddress = 0x7FE00000,
    // High half: the command byte bit-reversed.
    .unlock1 = 0x005500AA, .unlock2 = 0x00AA0055,
    .reset = 0x000F00F0, .autoselect = 0x00090090, .program = 0x000500A0, .eraseSetup = 0x00010080,
    .sectorErase = 0x000C0030, .chipErase = 0,
    // Bus bit 23: DQ0 of the high chip, bit-reversed within its byte.
    .leadingReset = false, .sectorCommands = true, .protectionBit = 0x00008000,
    .eraseChip = EraseMethod::Sector,
    .signature = {true, 0x7FE01554, 0x7FE02AA8, 0, 0x7FE00000, 0x7FE00004,
                  0x01008000, 0x20000400, kDsx6071Amd, kDsx6071Sgs},
  },
  {
    // Commands go 1 MB below the flash base, where its chip select also answers; only the
    // signature read uses the base itself.
    .model = Model::DSI185, .commanded = true, .base = 0x7FF00000, .words = 0x40000,
    .commandAddress = 0x7FE01554, .unlockAddress = 0x7FE02AA8, .readBackAddress = 0x7FE00000,
    // High half: bit i of the command byte on bit 2i.
    .unlock1 = 0x444400AA, .unlock2 = 0x11110055,
    .reset = 0x550000F0, .autoselect = 0x41000090, .program = 0x440000A0, .eraseSetup = 0x40000080,
    .sectorErase = 0x05000030, .chipErase = 0,
    // Bus bit 16: DQ0 of the high chip stays on bit 0 of its half.
    .leadingReset = false, .sectorCommands = true, .protectionBit = 0x00000100,
    .eraseChip = EraseMethod::Sector,
    .signature = {true, 0x7FF01554, 0x7FF02AA8, 0, 0x7FF00000, 0x7FF00004,
                  0x01000100, 0x20000400, kDsi185Amd, kDsi185Sgs},
  },
  {
    // Written by the RAM loader; read over the link, never commanded.
    .model = Model::BCT13, .commanded = false, .base = 0x7FF00000, .words = 0x40000,
    .commandAddress = 0, .unlockAddress = 0, .readBackAddress = 0,
    .unlock1 = 0, .unlock2 = 0, .reset = 0, .autoselect = 0, .program = 0, .eraseSetup = 0,
    .sectorErase = 0, .chipErase = 0,
    .leadingReset = false, .sectorCommands = false, .protectionBit = 0,
    .eraseChip = EraseMethod::None,
    .signature = {false, 0, 0, 0, 0, 0, 0, 0, {}, {}},
  },
  Ts1Like(Model::TS1, true),
  Dsx6070Like(Model::DSX6070, 0x7FF00000, 0x40000),
  Ts1Like(Model::TVNbox, false),
  Ts1Like(Model::STB3100, false),
  Dsx6070Like(Model::DSX6170, 0x7FC00000, 0x100000),
};
// clang-format on

constexpr bool RowsInModelOrder() {
  for (int i = 0; i < kModelCount; ++i) {
    if (static_cast<int>(kFlashModels[i].model) != i) return false;
  }
  return true;
}
static_assert(RowsInModelOrder(), "one row per model, in the order of the Model enum");

}  // namespace

const FlashModel& FlashModelOf(Model model) { return kFlashModels[static_cast<int>(model)]; }

const ChipName* MatchChip(std::span<const ChipName> names, uint32_t device) {
  for (const ChipName& n : names) {
    if ((device & n.mask) == n.value) return &n;
  }
  return nullptr;
}

BootBlock BootBlockOf(const FlashModel& flash, uint32_t manufacturer, uint32_t device) {
  const SignatureRead& sig = flash.signature;
  const ChipName* chip = !sig.available                 ? nullptr
                         : manufacturer == sig.amd        ? MatchChip(sig.amdDevices, device)
                         : manufacturer == sig.sgsThomson ? MatchChip(sig.sgsDevices, device)
                                                          : nullptr;
  return chip ? chip->boot : BootBlock::Unknown;
}

SectorMap::SectorMap(const FlashModel& flash, BootBlock boot) {
  // Bus bytes: every chip word takes four.
  constexpr uint32_t kBootSectors[] = {0x8000, 0x4000, 0x4000, 0x10000};
  constexpr uint32_t kSector = 0x20000;
  const uint32_t size = flash.words * 4;
  if (boot != BootBlock::Top) {
    uint32_t at = 0;
    for (uint32_t s : kBootSectors) {
      starts_.push_back(flash.base + at);
      at += s;
    }
    for (; at < size; at += kSector) starts_.push_back(flash.base + at);
  }
  if (boot != BootBlock::Bottom) {
    uint32_t at = size;
    for (uint32_t s : kBootSectors) {
      at -= s;
      starts_.push_back(flash.base + at);
    }
    for (uint32_t a = 0; a < at; a += kSector) starts_.push_back(flash.base + a);
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

uint32_t SectorMap::SectorOf(uint32_t address) const {
  const auto above = std::upper_bound(starts_.begin(), starts_.end(), address);
  return above == starts_.begin() ? address : *(above - 1);
}

}  // namespace corvane
