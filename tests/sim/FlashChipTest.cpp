// One flash device against its data sheet: status bits, command decoding, sector maps.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "sim/FlashChip.h"
#include "sim/VirtualClock.h"

namespace corvane::sim {
namespace {

constexpr uint16_t kDq7 = 0x80, kDq6 = 0x40, kDq5 = 0x20, kDq3 = 0x08, kDq2 = 0x04;

const Wiring& Straight() {
  static const Wiring w({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
  return w;
}

// A lone AM29LV800BB on a 16-bit bus of its own.
class ChipTest : public ::testing::Test {
 protected:
  ChipTest()
      : cells(2 * type.words, 0xFF),
        chip(type, {0x01, type.device}, Straight(), cells.data(), 2, type.words, clock) {}

  void Unlock() {
    chip.Write(0x555, 0xAA);
    chip.Write(0x2AA, 0x55);
  }
  void Program(uint32_t word, uint16_t value) {
    Unlock();
    chip.Write(0x555, 0xA0);
    chip.Write(word, value);
  }
  void EraseSector(uint32_t word) {
    Unlock();
    chip.Write(0x555, 0x80);
    Unlock();
    chip.Write(word, 0x30);
  }
  uint16_t Cell(uint32_t word) const {
    return static_cast<uint16_t>(cells[2 * word] | cells[2 * word + 1] << 8);
  }

  const ChipType& type = *FindChipType("AM29LV800BB");
  VirtualClock clock;
  std::vector<uint8_t> cells;
  FlashChip chip;
};

TEST_F(ChipTest, ProgramShowsDataPollingUntilTheWordIsIn) {
  Program(0x40, 0x1234);  // DQ7 of the data is 0
  const uint16_t first = chip.Read(0x40), second = chip.Read(0x40);
  EXPECT_EQ(first & kDq7, kDq7);
  EXPECT_EQ((first ^ second) & 0xFFFF, kDq6) << "only DQ6 toggles";
  EXPECT_EQ(first & kDq5, 0);
  EXPECT_NE(chip.Read(0x41), 0xFFFF) << "the whole chip is busy";

  clock.Advance(type.programUs);
  EXPECT_EQ(chip.Read(0x40), 0x1234);
  EXPECT_TRUE(chip.ReadsArray());

  Program(0x41, 0x00FF);  // DQ7 of the data is 1: polling reads it as 0
  EXPECT_EQ(chip.Read(0x41) & kDq7, 0);
}

TEST_F(ChipTest, AOneOverAZeroFailsWithDq5AndWaitsForReset) {
  Program(0x40, 0x1234);
  clock.Advance(100);
  Program(0x40, 0x1235);
  clock.Advance(type.programUs * FlashChip::kFailFactor - 1);
  EXPECT_EQ(chip.Read(0x40) & kDq5, 0) << "DQ5 rises only at the pulse limit";
  clock.Advance(1);
  EXPECT_EQ(chip.Read(0x40) & kDq5, kDq5);
  clock.Advance(1'000'000);
  const uint16_t a = chip.Read(0x40), b = chip.Read(0x40);
  EXPECT_EQ(a & kDq5, kDq5);
  EXPECT_EQ(a & kDq7, kDq7) << "still the complement of the data's DQ7";
  EXPECT_EQ((a ^ b) & kDq6, kDq6);
  EXPECT_FALSE(chip.ReadsArray());

  Unlock();  // ignored: only reset leaves this state
  EXPECT_FALSE(chip.ReadsArray());
  chip.Write(0x555, 0xF0);
  EXPECT_TRUE(chip.ReadsArray());
  EXPECT_EQ(chip.Read(0x40), 0x1234) << "the 0 bit stays 0";
}

TEST_F(ChipTest, SectorEraseStatusWindowThenToggles) {
  for (auto& c : cells) c = 0;
  EraseSector(0x2000);  // the first 4K-word sector: words 0x2000-0x2FFF
  const uint16_t inWindow = chip.Read(0x2000);
  EXPECT_EQ(inWindow & (kDq7 | kDq3), 0) << "DQ7 0, DQ3 0 while more sectors may be added";
  clock.Advance(FlashChip::kEraseWindowUs);
  const uint16_t a = chip.Read(0x2010), b = chip.Read(0x2010);
  EXPECT_EQ(a & kDq3, kDq3);
  EXPECT_EQ(a & kDq7, 0);
  EXPECT_EQ((a ^ b) & (kDq6 | kDq2), kDq6 | kDq2) << "DQ2 toggles inside the erasing sector";
  const uint16_t c = chip.Read(0x3000), d = chip.Read(0x3000);
  EXPECT_EQ((c ^ d) & (kDq6 | kDq2), kDq6) << "and not outside it";

  chip.Write(0x555, 0xF0);  // ignored while erasing
  EXPECT_FALSE(chip.ReadsArray());
  clock.Advance(type.sectorEraseUs - 1);
  EXPECT_FALSE(chip.ReadsArray());
  clock.Advance(1);
  EXPECT_TRUE(chip.ReadsArray());
  EXPECT_EQ(Cell(0x1FFF), 0);
  EXPECT_EQ(Cell(0x2000), 0xFFFF);
  EXPECT_EQ(Cell(0x2FFF), 0xFFFF);
  EXPECT_EQ(Cell(0x3000), 0);
}

TEST_F(ChipTest, AutoselectDecodesA1A0InEverySector) {
  chip.SetProtected(chip.SectorOf(0x10000), true);
  Unlock();
  chip.Write(0x555, 0x90);
  for (uint32_t sector : {0x0u, 0x3000u, 0x10000u, 0x78000u}) {
    SCOPED_TRACE(sector);
    EXPECT_EQ(chip.Read(sector + 0), 0x0001);
    EXPECT_EQ(chip.Read(sector + 1), 0x225B);
    EXPECT_EQ(chip.Read(sector + 2), sector == 0x10000 ? 1 : 0);
  }
  // Program, erase and stray cycles are ignored there: only a reset leaves it.
  Program(0x40, 0x1234);
  EraseSector(0x10000);
  chip.Write(0x777, 0x55);
  EXPECT_EQ(chip.Read(0x41), 0x225B);
  chip.Write(0x12345, 0xF0);  // reset anywhere
  EXPECT_EQ(chip.Read(0), 0xFFFF);
  EXPECT_EQ(chip.Read(0x40), 0xFFFF);
}

TEST_F(ChipTest, CommandsDecodeTheCommandByteAndElevenAddressLines) {
  // DQ8-DQ15 are don't-care and A11 up are not decoded: these cycles all count.
  chip.Write(0x555 | 0x800, 0xFFAA);
  chip.Write(0x2AA | 0x7000, 0x1255);
  chip.Write(0x555 | 0x40000, 0x00A0);
  chip.Write(0x100, 0x0F0F);
  clock.Advance(100);
  EXPECT_EQ(Cell(0x100), 0x0F0F);
  // A10 is decoded: 0x155 is not 0x555.
  chip.Write(0x155, 0xAA);
  chip.Write(0x2AA, 0x55);
  chip.Write(0x555, 0xA0);
  chip.Write(0x101, 0x0000);
  clock.Advance(100);
  EXPECT_EQ(Cell(0x101), 0xFFFF);
  EXPECT_TRUE(chip.ReadsArray());
}

TEST_F(ChipTest, ChipEraseSkipsProtectedSectors) {
  for (auto& c : cells) c = 0;
  chip.SetProtected(1, true);  // words 0x2000-0x2FFF
  Unlock();
  chip.Write(0x555, 0x80);
  Unlock();
  chip.Write(0x555, 0x10);
  clock.Advance(type.chipEraseUs - 1);
  EXPECT_FALSE(chip.ReadsArray());
  clock.Advance(1);
  EXPECT_TRUE(chip.ReadsArray());
  EXPECT_EQ(Cell(0x1FFF), 0xFFFF);
  EXPECT_EQ(Cell(0x2000), 0);
  EXPECT_EQ(Cell(0x2FFF), 0);
  EXPECT_EQ(Cell(0x3000), 0xFFFF);
  EXPECT_EQ(Cell(type.words - 1), 0xFFFF);
}

// The unlock cycles at the word addresses given, then a program of word 0x100.
struct UnlockCase {
  const char* part;
  uint32_t first, second;
  bool accepted;
};

void PrintTo(const UnlockCase& c, std::ostream* os) {
  *os << c.part << " " << std::hex << c.first << "/" << c.second;
}

class UnlockAddressTest : public ::testing::TestWithParam<UnlockCase> {};

TEST_P(UnlockAddressTest, DecodesTheLinesItsDataSheetNames) {
  const UnlockCase& c = GetParam();
  const ChipType& type = *FindChipType(c.part);
  VirtualClock clock;
  std::vector<uint8_t> cells(2 * type.words, 0xFF);
  FlashChip chip(type, {type.maker, type.device}, Straight(), cells.data(), 2, type.words, clock);
  chip.Write(c.first, 0xAA);
  chip.Write(c.second, 0x55);
  chip.Write(0x555, 0xA0);
  chip.Write(0x100, 0x0000);
  clock.Advance(100);
  EXPECT_EQ(chip.Read(0x100), c.accepted ? 0x0000 : 0xFFFF);
}

// ST's M29W800A decodes A0-A11 in word mode; the AMD parts, their second sources and the
// M29W800D decode A0-A10, so A11 set still means 555h and 2AAh to them.
INSTANTIATE_TEST_SUITE_P(
    Parts, UnlockAddressTest,
    ::testing::Values(UnlockCase{"M29W800AT", 0x555, 0x2AA, true},
                      UnlockCase{"M29W800AT", 0x555, 0xAAA, false},
                      UnlockCase{"M29W800AB", 0x555, 0xAAA, false},
                      UnlockCase{"M29W800AB", 0xD55, 0x2AA, false},
                      UnlockCase{"M29W800AB", 0x1555, 0x32AA, true},
                      UnlockCase{"AM29LV800BB", 0x555, 0x2AA, true},
                      UnlockCase{"AM29LV800BB", 0x555, 0xAAA, true},
                      UnlockCase{"AM29F400BT", 0xD55, 0xAAA, true},
                      UnlockCase{"AM29LV160DB", 0x555, 0xAAA, true},
                      UnlockCase{"M29W800DT", 0x555, 0xAAA, true},
                      UnlockCase{"M29W800DB", 0xD55, 0x2AA, true},
                      UnlockCase{"MBM29F800BA", 0x555, 0xAAA, true},
                      UnlockCase{"HY29F800T", 0x555, 0xAAA, true},
                      UnlockCase{"AM29LV800BB", 0x555, 0x6AA, false}),
    [](const auto& info) {
      char name[48];
      std::snprintf(name, sizeof name, "%s_%X_%X", info.param.part, info.param.first,
                    info.param.second);
      return std::string(name);
    });

struct MapCase {
  const char* chip;
  size_t sectors;
  std::vector<uint32_t> firstStarts;  // the first five
  uint32_t lastStart;
};

void PrintTo(const MapCase& c, std::ostream* os) {
  *os << c.chip;
}

class SectorMapTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(SectorMapTest, MatchesTheDataSheet) {
  const MapCase& c = GetParam();
  const ChipType* t = FindChipType(c.chip);
  ASSERT_NE(t, nullptr);
  const auto starts = SectorStarts(*t);
  ASSERT_EQ(starts.size(), c.sectors);
  EXPECT_EQ(std::vector<uint32_t>(starts.begin(), starts.begin() + 5), c.firstStarts);
  EXPECT_EQ(starts.back(), c.lastStart);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, SectorMapTest,
    ::testing::Values(
        // 16 KB, 8 KB, 8 KB, 32 KB, then 64 KB sectors; in words:
        MapCase{"AM29LV800BB", 19, {0, 0x2000, 0x3000, 0x4000, 0x8000}, 0x78000},
        MapCase{"M29W800AB", 19, {0, 0x2000, 0x3000, 0x4000, 0x8000}, 0x78000},
        MapCase{"AM29F400BB", 11, {0, 0x2000, 0x3000, 0x4000, 0x8000}, 0x38000},
        MapCase{"AM29LV160DB", 35, {0, 0x2000, 0x3000, 0x4000, 0x8000}, 0xF8000},
        // Top boot: the same blocks mirrored to the top.
        MapCase{"AM29LV800BT", 19, {0, 0x8000, 0x10000, 0x18000, 0x20000}, 0x7E000},
        MapCase{"M29W800AT", 19, {0, 0x8000, 0x10000, 0x18000, 0x20000}, 0x7E000},
        MapCase{"AM29F400BT", 11, {0, 0x8000, 0x10000, 0x18000, 0x20000}, 0x3E000}),
    [](const auto& info) { return std::string(info.param.chip); });

}  // namespace
}  // namespace corvane::sim
