#include "sim/DecoderModels.h"

#include <array>
#include <cctype>
#include <string_view>

#include "sim/VirtualLoader.h"

namespace corvane::sim {

namespace {

constexpr uint32_t MB = 1024 * 1024;

// --- memory-interface set-ups -------------------------------------------------------------

// Register-block boards (ST20-style EMI at 0x2000).
constexpr RegisterWrite kSetupDsx6071[] = {
    {0x2000, 0x168},  {0x2004, 0xFFE0}, {0x2008, 0x7F26}, {0x200C, 0xD32},  {0x2010, 0x16D1},
    {0x2014, 0x3000}, {0x2018, 0x3005}, {0x201C, 0},      {0x2020, 0xB289}, {0x2024, 0x8000},
    {0x2028, 0x8000}, {0x202C, 0},      {0x2030, 0x16C9}, {0x2034, 0x3000}, {0x2038, 0x3005},
    {0x203C, 0},      {0x2060, 1},      {0x2070, 0x32},
};
constexpr RegisterWrite kSetupDsx6070[] = {
    {0x2000, 0x148},  {0x2004, 0xFFF0}, {0x2008, 0x7F06}, {0x200C, 0xB02},  {0x2010, 0x16D1},
    {0x2014, 0x2000}, {0x2018, 0x2005}, {0x201C, 0},      {0x2020, 0x619},  {0x2024, 0x2A00},
    {0x2028, 0x2A00}, {0x202C, 1},      {0x2030, 0x1289}, {0x2034, 0x2000}, {0x2038, 0x2000},
    {0x203C, 0},      {0x2060, 1},      {0x2070, 0x32},
};
constexpr RegisterWrite kSetupDsx6170[] = {
    {0x2000, 0x168},  {0x2004, 0xFFE0}, {0x2008, 0x7F06}, {0x200C, 0xB02},  {0x2010, 0x16C9},
    {0x2014, 0x3000}, {0x2018, 0x3005}, {0x201C, 0},      {0x2020, 0x619},  {0x2024, 0x2A00},
    {0x2028, 0x2A00}, {0x202C, 1},      {0x2030, 0x16C9}, {0x2034, 0x3000}, {0x2038, 0x3005},
    {0x203C, 0},      {0x2060, 1},      {0x2070, 0x32},   {0x2040, 1},      {0x2044, 1},
    {0x2048, 1},      {0x204C, 1},
};

// Configuration-window boards: per bank four words then its selector.
constexpr uint32_t W0 = 0x20002000, W1 = 0x20002004, W2 = 0x20002008, W3 = 0x2000200C,
                   SEL = 0x20002010;
#define BANK(sel, a, b, c, d) {W0, a}, {W1, b}, {W2, c}, {W3, d}, {SEL, sel}

constexpr RegisterWrite kSetupDsi185[] = {
    BANK(0x40, 0xC00FF802, 0x41852825, 0xCF192A33, 0x42404040),
    BANK(0x44, 0xC0000000, 0x62080726, 0xCC483B22, 0x60606160),
    BANK(0x48, 0, 0x401009A7, 0xDC000822, 0x31000040),
    BANK(0x4C, 0xC0000000, 0x62060625, 0xCCB43B22, 0x60306160),
    BANK(0x50, 0, 0, 0, 0xAAAA959A),
    {W0, 0x7FFFFFA8},
    {SEL, 0x20},
};
constexpr RegisterWrite kSetupBct13[] = {
    BANK(0x40, 0xC01FF802, 0x3185182A, 0xCF192A33, 0x31303000),
    BANK(0x44, 0xC0000000, 0x6004062A, 0x44003B22, 0x61006161),
    BANK(0x48, 0, 0x503F082B, 0xCC000822, 0x41000050),
    BANK(0x4C, 0xC0000000, 0x6006062A, 0x44003B22, 0x61006161),
    BANK(0x50, 0, 0, 0, 0x3F555555),
    {SEL, 0x20},
};
constexpr RegisterWrite kSetupBct13Reloaded[] = {
    BANK(0x40, 0xC03FF002, 0x31851829, 0xCF192A33, 0x31303000),
    BANK(0x44, 0xC0000000, 0x6004062A, 0x44003B22, 0x61006161),
    BANK(0x48, 0, 0x503F082B, 0xCC000822, 0x41000050),
    BANK(0x4C, 0xC0000000, 0x6006062A, 0x44003B22, 0x61006161),
    BANK(0x50, 0, 0, 0, 0x3F555555),
    {SEL, 0x20},
};
constexpr RegisterWrite kSetupTs1[] = {
    BANK(0x40, 0xC01FF802, 0x31852825, 0xCF192A33, 0x31303030),
    BANK(0x44, 0xC0000000, 0x61040626, 0xCC003B26, 0x61006151),
    BANK(0x48, 0, 0x40180927, 0x8C000822, 0x31000040),
    BANK(0x4C, 0xC0000000, 0x51090625, 0xCC003F26, 0x51005050),
    BANK(0x50, 0, 0, 0, 0x15555555),
    {SEL, 0x20},
};
constexpr RegisterWrite kSetupTvn[] = {
    BANK(0x40, 0xC03FF002, 0x31853829, 0xCF192A33, 0x31303030),
    BANK(0x44, 0xC0000000, 0x7204062B, 0xCCD83B66, 0x61616151),
    BANK(0x48, 0, 0x402609AB, 0x8C000822, 0x31000040),
    BANK(0x4C, 0xC0000000, 0x52080629, 0x44003B26, 0x51005040),
    BANK(0x50, 0, 0, 0, 0xAAAAAAAA),
    {SEL, 0x20},
};
#undef BANK

using Setup = std::span<const RegisterWrite>;
constexpr Setup kDsx6071Setups[] = {kSetupDsx6071};
constexpr Setup kDsi185Setups[] = {kSetupDsi185};
constexpr Setup kBct13Setups[] = {kSetupBct13, kSetupBct13Reloaded};
constexpr Setup kTs1Setups[] = {kSetupTs1};
constexpr Setup kDsx6070Setups[] = {kSetupDsx6070};
constexpr Setup kTvnSetups[] = {kSetupTvn};
constexpr Setup kDsx6170Setups[] = {kSetupDsx6170};

// --- RAM ----------------------------------------------------------------------------------

constexpr RamRegion kRamDsx6071[] = {{0x40000000, 8 * MB, 8 * MB}, {0xC0400000, 2 * MB, 2 * MB}};
// 32 MB of SDRAM behind a 512 MB chip select that decodes only the low address lines.
constexpr RamRegion kRam32Mirrored[] = {{0x80000000, 512 * MB, 32 * MB}};
// BCT13's RAM dump covers 512 MB + 8 KB; the whole span answers and keeps what is written.
constexpr RamRegion kRamBct13[] = {{0x80000000, 512 * MB + 0x2000, 512 * MB + 0x2000}};
constexpr RamRegion kRamDsx6070[] = {{0x40000000, 8 * MB, 8 * MB}};
constexpr RamRegion kRamDsx6170[] = {{0x40000000, 16 * MB, 16 * MB}};

// --- loaders ------------------------------------------------------------------------------

constexpr LoaderFile kLoadersDsi185[] = {
    {"TRAPDATA.BIN", kLoaderToDataArea, 0x80002000, 0xFFF80000, 0x20000}};
constexpr LoaderFile kLoadersBct13[] = {
    {"TRAP.BIN", kLoaderToFlash, 0x80002000, 0x7FF00000, 0x40000},
    {"TRAPDATA.BIN", kLoaderToDataArea, 0x80002000, 0xFFF80000, 0x20000}};
constexpr LoaderFile kLoadersTs1[] = {
    {"TRAPPACE.bin", kLoaderToDataArea, 0x80002000, 0xC0000000, 0x20000}};
constexpr LoaderFile kLoadersDsx6070[] = {
    {"TRAP6070.bin", kLoaderToDataArea, 0x40000000, 0x50000000, 0x20000}};

constexpr uint32_t kD000 = 0x2000D000, kF000 = 0x2000F000;

// clang-format off
constexpr DecoderModel kModels[] = {
  // caption          folder          pio    eeprom ram              data area                setups           loaders
  {"DSX6071/6072", "DSX60716072", kD000, 2048, kRamDsx6071,    0,          0,        kDsx6071Setups, {}},
  {"DSI185",       "DSI185",      kD000, 2048, kRam32Mirrored, 0xFFF80000, 512*1024, kDsi185Setups,  kLoadersDsi185},
  {"BCT13",        "BCT13",       kD000, 2048, kRamBct13,      0xFFF80000, 512*1024, kBct13Setups,   kLoadersBct13},
  {"TS1",          "TS1",         kF000, 8192, kRam32Mirrored, 0xC0000000, 512*1024, kTs1Setups,     kLoadersTs1},
  {"DSX6070",      "DSX6070",     kD000, 2048, kRamDsx6070,    0x50000000, 512*1024, kDsx6070Setups, kLoadersDsx6070},
  {"TVN box",      "TVNbox",      kD000, 8192, kRam32Mirrored, 0,          0,        kTvnSetups,     {}},
  {"STB3100",      "STB3100",     kF000, 8192, kRam32Mirrored, 0,          0,        kTvnSetups,     {}},
  {"DSX6170",      "DSX6170",     kD000, 8192, kRamDsx6170,    0x50000000, 2*MB,     kDsx6170Setups, {}},
};
// clang-format on

}  // namespace

std::span<const DecoderModel> DecoderModels() { return kModels; }

const DecoderModel* DecoderModelFor(const std::string& caption) {
  for (const DecoderModel& m : kModels) {
    const std::string_view want = m.caption;
    if (want.size() != caption.size()) continue;
    bool same = true;
    for (size_t i = 0; i < want.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(want[i])) ==
             std::tolower(static_cast<unsigned char>(caption[i]));
    }
    if (same) return &m;
  }
  return nullptr;
}

}  // namespace corvane::sim
