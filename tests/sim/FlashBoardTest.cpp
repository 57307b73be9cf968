// The flash boards seen from the decoder's bus, driven with the cycles the tool sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "flash/FlashEngine.h"
#include "flash/Signature.h"
#include "sim/FlashBoard.h"
#include "sim/FlashChip.h"
#include "target/Profiles.h"

namespace corvane::sim {
namespace {

// What the tool puts on the bus for each model. Values the tool never sends (DSX6071/6072
// and DSI185 chip erase, DSX6070/DSX6170 sector erase) follow the same wiring rules and are
// marked; the boards must take them as the data sheets say all the same.
struct ToolRow {
  const char* caption;
  uint32_t base, size;
  uint32_t cmd, unlock;
  uint32_t unlock1, unlock2, reset, autoselect, program, eraseSetup, sectorErase, chipErase;
  bool leadingReset;
  uint32_t sigCmd, sigUnlock;  // the signature read's addresses
};

const ToolRow kTool[] = {
    {"DSX6071/6072", 0x7FE00000, 0x200000, 0x7FE01554, 0x7FE00AA8, 0x005500AA, 0x00AA0055,
     0x000F00F0, 0x00090090, 0x000500A0, 0x00010080, 0x000C0030, /*derived*/ 0x00080010, false,
     0x7FE01554, 0x7FE00AA8},
    {"DSI185", 0x7FF00000, 0x100000, 0x7FE01554, 0x7FE00AA8, 0x444400AA, 0x11110055, 0x550000F0,
     0x41000090, 0x440000A0, 0x40000080, 0x05000030, /*derived*/ 0x01000010, false, 0x7FF01554,
     0x7FF00AA8},
    {"TS1", 0x7FE00000, 0x200000, 0x7FE01554, 0x7FE00AA8, 0x00AA00AA, 0x00550055, 0x00F000F0,
     0x00900090, 0x00A000A0, 0x00800080, 0x00300030, 0x00100010, false, 0x7FE01554, 0x7FE00AA8},
    {"TVN box", 0x7FE00000, 0x200000, 0x7FE01554, 0x7FE00AA8, 0x00AA00AA, 0x00550055, 0x00F000F0,
     0x00900090, 0x00A000A0, 0x00800080, 0x00300030, 0x00100010, false, 0x7FE01554, 0x7FE00AA8},
    {"STB3100", 0x7FE00000, 0x200000, 0x7FE01554, 0x7FE00AA8, 0x00AA00AA, 0x00550055, 0x00F000F0,
     0x00900090, 0x00A000A0, 0x00800080, 0x00300030, 0x00100010, false, 0x7FE01554, 0x7FE00AA8},
    {"DSX6070", 0x7FF00000, 0x100000, 0x7FF01554, 0x7FF00AA8, 0x00AA00AA, 0x80548054, 0x00F000F0,
     0x00900090, 0x00A000A0, 0x00800080, /*derived*/ 0x00300030, 0x00100010, true, 0x7FF01554,
     0x7FF00AA8},
    {"DSX6170", 0x7FC00000, 0x400000, 0x7FC01554, 0x7FC00AA8, 0x00AA00AA, 0x80548054, 0x00F000F0,
     0x00900090, 0x00A000A0, 0x00800080, /*derived*/ 0x00300030, 0x00100010, true, 0x7FC01554,
     0x7FC00AA8},
};

void PrintTo(const ToolRow& r, std::ostream* os) {
  *os << r.caption;
}

std::string Name(const ToolRow& r) {
  std::string s;
  for (char c : std::string(r.caption)) {
    if (std::isalnum(static_cast<unsigned char>(c))) s += c;
  }
  return s;
}

Conf ConfOf(std::initializer_list<std::pair<const char*, const char*>> keys) {
  Conf c;
  for (const auto& [k, v] : keys) c.Set(k, v);
  return c;
}

// A board of one model on the bench, erased.
class BoardUnderTest {
 public:
  BoardUnderTest(const ToolRow& row, const Conf& conf = {}) : row(row), image(row.size, 0xFF) {
    std::string error;
    board = MakeFlashBoard(row.caption, conf, image, clock, &error);
    EXPECT_NE(board, nullptr) << error;
  }

  uint32_t Read(uint32_t a) { return board->Read(a); }
  void Write(uint32_t a, uint32_t v) { board->Write(a, v); }
  void Unlock() {
    Write(row.cmd, row.unlock1);
    Write(row.unlock, row.unlock2);
  }
  void Command(uint32_t value) {
    if (row.leadingReset) Write(row.cmd, row.reset);
    Unlock();
    Write(row.cmd, value);
  }
  void Reset() {
    Unlock();
    Write(row.cmd, row.reset);
  }
  void Program(uint32_t a, uint32_t bus) {
    Command(row.program);
    Write(a, bus);
  }
  void EraseSector(uint32_t a) {
    Command(row.eraseSetup);
    Unlock();
    Write(a, row.sectorErase);
  }
  void EraseChip() {
    Command(row.eraseSetup);
    Unlock();
    Write(row.cmd, row.chipErase);
  }
  // Status reads: never the array, and DQ6 toggles from one read to the next.
  bool ShowsStatus(uint32_t a) {
    const uint32_t x = Read(a), y = Read(a);
    return x != y;
  }
  uint32_t Word(uint32_t offset) const {
    uint32_t v;
    std::memcpy(&v, image.data() + offset, 4);
    return v;
  }

  const ToolRow& row;
  VirtualClock clock;
  std::vector<uint8_t> image;
  std::unique_ptr<BusDevice> board;
};

class BoardTest : public ::testing::TestWithParam<ToolRow> {};

TEST_P(BoardTest, ProgramClearsBitsOnly) {
  BoardUnderTest b(GetParam());
  const uint32_t a = b.row.base + 0x40;
  b.Program(a, 0x12345678);
  EXPECT_TRUE(b.ShowsStatus(a));
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(a), 0x12345678u);
  EXPECT_EQ(b.Word(0x40), 0x12345678u) << "flash.bin holds the bus word at address - base";

  b.Program(a, 0x10305070);  // clears more bits: fine
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(a), 0x10305070u);
  EXPECT_EQ(b.Read(a + 4), 0xFFFFFFFFu);
}

TEST_P(BoardTest, AOneOverAZeroNeverVerifiesAndStaysZero) {
  BoardUnderTest b(GetParam());
  const uint32_t a = b.row.base + 0x80;
  b.Program(a, 0x12345678);
  b.clock.Advance(20);
  b.Program(a, 0x9234567F);        // sets bits in both halves
  for (int i = 0; i < 301; ++i) {  // the tool's verify reads
    b.clock.Advance(200);
    ASSERT_NE(b.Read(a), 0x9234567Fu);
  }
  EXPECT_TRUE(b.ShowsStatus(a)) << "the chips wait for a reset";
  b.Reset();
  EXPECT_EQ(b.Read(a), 0x12345678u);
  b.Program(a + 4, 0xCAFEF00D);  // and take commands again
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(a + 4), 0xCAFEF00Du);
}

TEST_P(BoardTest, SectorEraseErasesExactlyItsSector) {
  // The bottom boot block of the parts these boards carry, in bus offsets.
  struct Sector {
    uint32_t offset, size;
  };
  const ToolRow& row = GetParam();
  const Sector sectors[] = {{0, 0x8000},        {0x8000, 0x4000},   {0xC000, 0x4000},
                            {0x10000, 0x10000}, {0x20000, 0x20000}, {row.size - 0x20000, 0x20000}};
  BoardUnderTest b(row);
  for (const Sector& s : sectors) {
    SCOPED_TRACE(s.offset);
    std::fill(b.image.begin(), b.image.end(), 0x00);
    b.EraseSector(row.base + s.offset + 0x104);  // any address inside the sector
    EXPECT_TRUE(b.ShowsStatus(row.base + s.offset));
    b.clock.Advance(100'000);
    EXPECT_TRUE(b.ShowsStatus(row.base + 0x100)) << "still erasing after 100 ms";
    EXPECT_NE(b.Read(row.base + s.offset), 0xFFFFFFFFu);
    b.clock.Advance(1'900'000);
    EXPECT_EQ(b.Read(row.base + s.offset), 0xFFFFFFFFu);
    EXPECT_EQ(b.Read(row.base + s.offset + s.size - 4), 0xFFFFFFFFu);
    const auto first = b.image.begin() + s.offset, end = first + s.size;
    EXPECT_TRUE(std::all_of(first, end, [](uint8_t x) { return x == 0xFF; }));
    EXPECT_TRUE(std::all_of(b.image.begin(), first, [](uint8_t x) { return x == 0; }));
    EXPECT_TRUE(std::all_of(end, b.image.end(), [](uint8_t x) { return x == 0; }));
  }
}

TEST_P(BoardTest, ChipEraseTakesSecondsAndErasesAll) {
  BoardUnderTest b(GetParam());
  std::fill(b.image.begin(), b.image.end(), 0x00);
  b.EraseChip();
  b.clock.Advance(1'000'000);
  EXPECT_TRUE(b.ShowsStatus(b.row.base));
  b.clock.Advance(19'000'000);
  EXPECT_EQ(b.Read(b.row.base), 0xFFFFFFFFu);
  EXPECT_TRUE(std::all_of(b.image.begin(), b.image.end(), [](uint8_t x) { return x == 0xFF; }));
}

TEST_P(BoardTest, ResetEndsAutoselectAndAbortsSequences) {
  BoardUnderTest b(GetParam());
  const uint32_t a = b.row.base + 0x200;
  b.Program(a, 0x11223344);
  b.clock.Advance(20);
  b.Command(b.row.autoselect);
  EXPECT_NE(b.Read(a), 0x11223344u);
  b.Write(b.row.base + 0x4448, b.row.reset);  // one reset cycle, anywhere
  EXPECT_EQ(b.Read(a), 0x11223344u);

  b.Command(b.row.autoselect);
  b.Reset();  // the tool's three-cycle reset
  EXPECT_EQ(b.Read(a), 0x11223344u);

  // A reset between the cycles of a program command: the data cycle programs nothing.
  b.Unlock();
  b.Write(b.row.cmd, b.row.reset);
  b.Write(b.row.cmd, b.row.program);
  b.Write(a + 4, 0x00000000);
  b.clock.Advance(100);
  EXPECT_EQ(b.Read(a + 4), 0xFFFFFFFFu);
}

TEST_P(BoardTest, StuckBitsNeverProgram) {
  const ToolRow& row = GetParam();
  const std::string stuck = std::to_string(row.base + 0x10) + ":0x80010100";
  BoardUnderTest b(row, ConfOf({{"stuck_bits", stuck.c_str()}}));
  b.Program(row.base + 0x10, 0x8F0F0100);  // leaves the stuck bits at 1: verifies
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(row.base + 0x10), 0x8F0F0100u);
  b.Program(row.base + 0x10, 0x00000000);
  b.clock.Advance(1000);
  EXPECT_TRUE(b.ShowsStatus(row.base + 0x10));
  b.Reset();
  EXPECT_EQ(b.Read(row.base + 0x10), 0x80010100u);
  b.Program(row.base + 0x14, 0x00000000);  // the neighbour is sound
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(row.base + 0x14), 0u);
}

// How long both chips of a TS1 board stay busy with a part's times scaled.
struct TimeCase {
  const char* device;
  char op;  // 'p' program, 'f' a program that never verifies, 's' sector erase, 'c' chip erase
  const char *erase, *program;  // erase_time_percent, program_time_percent
  int64_t us;
};

class TimePercentTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimePercentTest, BothChipsTakeTheScaledTime) {
  const TimeCase& c = GetParam();
  BoardUnderTest b(kTool[2], ConfOf({{"flash_device", c.device},
                                     {"erase_time_percent", c.erase},
                                     {"program_time_percent", c.program},
                                     {"stuck_bits", "0x7FE00044:0x00010001"}}));
  const uint32_t a = b.row.base + (c.op == 'f' ? 0x44 : 0x40);
  if (c.op == 's' || c.op == 'c') std::fill(b.image.begin(), b.image.end(), 0x00);
  c.op == 's' ? b.EraseSector(a) : c.op == 'c' ? b.EraseChip() : b.Program(a, 0);
  // Per half: erased, programmed, or DQ5 once the chip gives up.
  const uint32_t mask = c.op == 'f' ? 0x20 : 0xFFFF, done = c.op == 'p' ? 0 : mask;
  b.clock.Advance(c.us - 1);
  for (int shift : {0, 16}) EXPECT_NE(b.Read(a) >> shift & mask, done) << shift;
  b.clock.Advance(1);
  for (int shift : {0, 16}) EXPECT_EQ(b.Read(a) >> shift & mask, done) << shift;
}

INSTANTIATE_TEST_SUITE_P(
    Parts, TimePercentTest,
    ::testing::Values(
        TimeCase{"AM29LV800BB", 's', "2142", "3272", FlashChip::kEraseWindowUs + 14'994'000},
        TimeCase{"AM29LV800BB", 'c', "50", "100", 5'500'000},
        TimeCase{"AM29LV800BB", 'c', "2142", "100", 235'620'000},  // no chip-erase maximum
        TimeCase{"M29W800DB", 'c', "750", "100", 30'000'000},      // held at its maximum
        TimeCase{"AM29LV800BB", 'p', "2142", "3272", 360},
        TimeCase{"MBM29F800BA", 'p', "100", "22500", 3600},
        TimeCase{"AM29LV800BB", 'p', "100", "10", 1},
        TimeCase{"AM29LV800BB", 'f', "100", "3272", 360 * FlashChip::kFailFactor}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// The chips a protected_sectors entry names, as the bus bits they answer on.
struct Protection {
  const char* suffix;
  uint32_t bits;
};

void PrintTo(const Protection& p, std::ostream* os) {
  *os << (*p.suffix ? p.suffix : "both");
}

class ProtectionTest : public ::testing::TestWithParam<std::tuple<ToolRow, Protection>> {};

TEST_P(ProtectionTest, ShowsInAutoselectAndIgnoresProgramAndEraseInTheChipsNamed) {
  const auto& [row, p] = GetParam();
  const std::string sector = std::to_string(row.base + 0x20000) + p.suffix;
  // With AMD's code the maker word and a protected sector's word 2 are both 0x0001.
  BoardUnderTest b(row, ConfOf({{"flash_maker", "AMD"}, {"protected_sectors", sector.c_str()}}));
  b.Command(b.row.autoselect);
  const uint32_t one = b.Read(row.base);
  EXPECT_EQ(b.Read(row.base + 0x20000 + 8), one & p.bits);
  EXPECT_EQ(b.Read(row.base + 0x40000 + 8), 0u);
  EXPECT_EQ(b.Read(row.base + 8), 0u);
  b.Reset();

  std::fill(b.image.begin(), b.image.end(), 0x00);
  b.EraseSector(row.base + 0x20000);
  EXPECT_TRUE(b.ShowsStatus(row.base + 0x20000));
  b.clock.Advance(1000);
  EXPECT_EQ(b.Read(row.base + 0x20000) & p.bits, 0u) << "over long before an erase could be";
  b.clock.Advance(2'000'000);
  EXPECT_EQ(b.Read(row.base + 0x20000), ~p.bits) << "the other chip erased its half";

  std::fill(b.image.begin(), b.image.end(), 0xFF);
  b.Program(row.base + 0x20010, 0x00000000);
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(row.base + 0x20010), p.bits);
  b.Program(row.base + 0x40010, 0x00000000);
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(row.base + 0x40010), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Models, ProtectionTest,
    ::testing::Combine(::testing::ValuesIn(kTool),
                       ::testing::Values(Protection{"", 0xFFFFFFFF}, Protection{"/low", 0x0000FFFF},
                                         Protection{"/high", 0xFFFF0000})),
    [](const auto& info) {
      const char* suffix = std::get<1>(info.param).suffix;
      return Name(std::get<0>(info.param)) + "_" + (*suffix ? suffix + 1 : "both");
    });

// flash_id makes the board's part answer as the catalogue part with those codes, through the
// same wiring, in any of the key's spellings; it stays the flash_device part otherwise.
TEST_P(BoardTest, FlashIdAnswersAsThePartWithThoseCodes) {
  const ToolRow& row = GetParam();
  const char* const spellings[] = {"0x%04X:0x%04X", "%X:%x", "%04x:0X%04X"};
  // Exactly 555h and 2AAh, which every part decodes.
  const uint32_t at555 = row.base + 0x555 * 4, at2aa = row.base + 0x2AA * 4;
  int n = 0;
  for (const ChipType& part : ChipCatalogue()) {
    if (part.words < row.size / 4) continue;
    char id[32];
    std::snprintf(id, sizeof id, spellings[n++ % 3], part.maker, part.device);
    SCOPED_TRACE(std::string(part.name) + " " + id);
    BoardUnderTest real(row, ConfOf({{"flash_device", part.name}}));
    BoardUnderTest posing(row, ConfOf({{"flash_id", id}}));
    for (BoardUnderTest* b : {&real, &posing}) {
      if (row.leadingReset) b->Write(at555, row.reset);
      b->Write(at555, row.unlock1);
      b->Write(at2aa, row.unlock2);
      b->Write(at555, row.autoselect);
    }
    for (uint32_t at : {0x0u, 0x4u, 0x8u, 0x40004u}) {
      EXPECT_EQ(posing.Read(row.base + at), real.Read(row.base + at)) << at;
    }
    EXPECT_NE(posing.Read(row.base), 0xFFFFFFFFu) << "in autoselect mode";
    posing.Reset();
    posing.Program(row.base + 0x40, 0x12345678);
    posing.clock.Advance(20);
    EXPECT_EQ(posing.Read(row.base + 0x40), 0x12345678u);
  }
  EXPECT_GE(n, 2);
}

// Each fault must leave the word as it was; the chip then reads the array again.
enum class Fault {
  FirstAddress,
  FirstValue,
  SecondAddress,
  SecondValue,
  Swapped,
  CommandAddress,
  NoUnlock
};

const char* FaultName(Fault f) {
  static const char* const kNames[] = {"FirstAddress", "FirstValue", "SecondAddress",
                                       "SecondValue",  "Swapped",    "CommandAddress",
                                       "NoUnlock"};
  return kNames[static_cast<int>(f)];
}

class WrongUnlockTest : public ::testing::TestWithParam<std::tuple<ToolRow, Fault>> {};

TEST_P(WrongUnlockTest, ProgramsNothing) {
  const auto& [row, fault] = GetParam();
  BoardUnderTest b(row);
  // Bus bit 2 of each half reaches a command line (DQ0-DQ7) on every board.
  const uint32_t flip = 0x00040004;
  if (row.leadingReset) b.Write(row.cmd, row.reset);
  switch (fault) {
    case Fault::FirstAddress:
      b.Write(row.cmd + 4, row.unlock1);
      b.Write(row.unlock, row.unlock2);
      break;
    case Fault::FirstValue:
      b.Write(row.cmd, row.unlock1 ^ flip);
      b.Write(row.unlock, row.unlock2);
      break;
    case Fault::SecondAddress:
      b.Write(row.cmd, row.unlock1);
      b.Write(row.unlock - 4, row.unlock2);
      break;
    case Fault::SecondValue:
      b.Write(row.cmd, row.unlock1);
      b.Write(row.unlock, row.unlock2 ^ flip);
      break;
    case Fault::Swapped:
      b.Write(row.unlock, row.unlock2);
      b.Write(row.cmd, row.unlock1);
      break;
    case Fault::CommandAddress:
      b.Unlock();
      b.Write(row.unlock, row.program);
      b.Write(row.base + 0x300, 0x00000000);
      b.clock.Advance(100);
      EXPECT_EQ(b.Read(row.base + 0x300), 0xFFFFFFFFu);
      return;
    case Fault::NoUnlock:
      break;
  }
  b.Write(row.cmd, row.program);
  b.Write(row.base + 0x300, 0x00000000);
  b.clock.Advance(100);
  EXPECT_EQ(b.Read(row.base + 0x300), 0xFFFFFFFFu);
  EXPECT_EQ(b.Read(row.base + 0x300), 0xFFFFFFFFu) << "reads the array, no status";
}

TEST(WrongUnlockTest, OneHalfWrongProgramsTheOtherChipOnly) {
  BoardUnderTest b(kTool[0]);
  b.Write(0x7FE01554, 0x005500AA);
  b.Write(0x7FE02AA8, 0x00AB0055);  // the high chip sees 0xD5
  b.Write(0x7FE01554, 0x000500A0);
  b.Write(0x7FE00300, 0x12345678);
  b.clock.Advance(100);
  EXPECT_EQ(b.Read(0x7FE00300), 0xFFFF5678u);
}

// The tool's signature read on each board, and what the tool makes of the two words.
struct SignatureRow {
  int tool;  // index into kTool
  const char* device;
  uint32_t manufacturer, deviceWord, deviceMask;  // image order, as the tool reads them
  const char* message;
  const char* id = nullptr;  // flash_id
};

const SignatureRow kSignatures[] = {
    {0, "AM29LV800BB", 0x01008000, 0x5B22DA44, ~0u, "Manufacturer: AMD\nDevice: AM29LV800BB"},
    {0, "AM29LV800BT", 0x01008000, 0xDA225B44, ~0u, "Manufacturer: AMD\nDevice: AM29LV800BT"},
    // The M29W800A decodes A0-A11: the unlock at chip word 0x2AA reaches it.
    {0, "M29W800AT", 0x20000400, 0xD700EB00, ~0u, "Manufacturer: SGS-THOMSON\nDevice: M29W800AT"},
    {0, "M29W800AB", 0x20000400, 0x5B00DA00, ~0u, "Manufacturer: SGS-THOMSON\nDevice: M29W800AB"},
    {0, "AM29LV800BT", 0x20000400, 0xD700EB00, ~0u, "Manufacturer: SGS-THOMSON\nDevice: M29W800AT",
     "0x0020:0x00D7"},
    {0, "AM29LV800BB", 0x20000400, 0x5B00DA00, ~0u, "Manufacturer: SGS-THOMSON\nDevice: M29W800AB",
     "20:5b"},
    {0, "M29W800DB", 0x20000400, 0x5B22DA44, ~0u, "Manufacturer: SGS-THOMSON\nDevice: M29W800DB"},
    {1, "AM29F400BB", 0x01000100, 0xAB220000, 0xFFFF0000, "Manufacturer: AMD\nDevice: AM29F400BB"},
    // Device code 0x2223 is the top-boot AM29F400BT; the tool's table names it AM29F800BT.
    {1, "AM29F400BT", 0x01000100, 0x23220000, 0xFFFF0000, "Manufacturer: AMD\nDevice: AM29F800BT"},
    // The TS1 boards' tables expect Fujitsu's maker code where they say AMD, and Hynix's
    // where they say SGS-THOMSON.
    {2, "MBM29F800BA", 0x04000400, 0x58220000, 0xFFFF0000, "Manufacturer: AMD\nDevice: AM29F800BB"},
    {3, "MBM29F800TA", 0x04000400, 0xD6220000, 0xFFFF0000, "Manufacturer: AMD\nDevice: AM29F800BT"},
    {4, "HY29F800T", 0xAD00AD00, 0xD622D622, ~0u, "Manufacturer: SGS-THOMSON\nDevice: M29W800AT"},
    {5, "AM29F400BB", 0x00800080, 0xAAC40000, 0xFFFF0000, "Manufacturer: AMD\nDevice: AM29F400BB"},
    {6, "AM29LV160DB", 0x00800080, 0x48C40000, 0xFFFF0000,
     "Manufacturer: AMD\nDevice: AM29LV160DB"},
};

void PrintTo(const SignatureRow& s, std::ostream* os) {
  *os << kTool[s.tool].caption << " " << s.device;
}

class SignatureTest : public ::testing::TestWithParam<SignatureRow> {};

TEST_P(SignatureTest, AutoselectWordsAreTheToolsTableWords) {
  const SignatureRow& s = GetParam();
  const ToolRow& row = kTool[s.tool];
  Conf conf = ConfOf({{"flash_device", s.device}});
  if (s.id) conf.Set("flash_id", s.id);
  BoardUnderTest b(row, conf);
  if (row.leadingReset) b.Write(row.sigCmd, row.reset);
  b.Write(row.sigCmd, row.unlock1);
  b.Write(row.sigUnlock, row.unlock2);
  b.Write(row.sigCmd, row.autoselect);
  const uint32_t m = ByteSwap(b.Read(row.base)), d = ByteSwap(b.Read(row.base + 4));
  EXPECT_EQ(m, s.manufacturer);
  EXPECT_EQ(d & s.deviceMask, s.deviceWord);
  EXPECT_EQ(SignatureMessage(*ModelFromName(row.caption), m, d), s.message);
  b.Reset();
  EXPECT_EQ(b.Read(row.base), 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(Tables, SignatureTest, ::testing::ValuesIn(kSignatures),
                         [](const auto& info) {
                           return Name(kTool[info.param.tool]) + "_" + info.param.device +
                                  (info.param.id ? "_Id" : "");
                         });

TEST(SignatureTest, EveryBoardsDefaultPartIsRecognised) {
  for (const ToolRow& row : kTool) {
    SCOPED_TRACE(row.caption);
    BoardUnderTest b(row);
    b.Command(row.autoselect);
    const std::string text = SignatureMessage(
        *ModelFromName(row.caption), ByteSwap(b.Read(row.base)), ByteSwap(b.Read(row.base + 4)));
    EXPECT_EQ(text.find("Unknown"), std::string::npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Models, BoardTest, ::testing::ValuesIn(kTool),
                         [](const auto& info) { return Name(info.param); });

INSTANTIATE_TEST_SUITE_P(
    Models, WrongUnlockTest,
    ::testing::Combine(::testing::ValuesIn(kTool),
                       ::testing::Values(Fault::FirstAddress, Fault::FirstValue,
                                         Fault::SecondAddress, Fault::SecondValue, Fault::Swapped,
                                         Fault::CommandAddress, Fault::NoUnlock)),
    [](const auto& info) {
      return Name(std::get<0>(info.param)) + "_" + FaultName(std::get<1>(info.param));
    });

TEST(MirrorTest, Dsi185AnswersOneMegabyteBelowItsBase) {
  const FlashBoardGeometry* layout = FlashBoardFor("DSI185");
  ASSERT_NE(layout, nullptr);
  EXPECT_EQ(layout->mirrorBase, 0x7FE00000u);
  EXPECT_EQ(layout->mirrorSize, 0x100000u);
  BoardUnderTest b(kTool[1]);
  b.Program(0x7FE00040, 0x0BADF00D);  // the tool's command cycles go to the mirror
  b.clock.Advance(20);
  EXPECT_EQ(b.Read(0x7FF00040), 0x0BADF00Du);
  EXPECT_EQ(b.Read(0x7FE00040), 0x0BADF00Du);
  EXPECT_EQ(b.Word(0x40), 0x0BADF00Du);
}

TEST(LoaderOnlyBoardTest, Bct13IgnoresBusWritesAndReadsTheImage) {
  std::vector<uint8_t> image(0x100000, 0xFF);
  image[0x40] = 0x78, image[0x41] = 0x56, image[0x42] = 0x34, image[0x43] = 0x12;
  VirtualClock clock;
  std::string error;
  auto board = MakeFlashBoard("BCT13", Conf{}, image, clock, &error);
  ASSERT_NE(board, nullptr) << error;
  const auto before = image;
  for (uint32_t v : {0x00AA00AAu, 0x00550055u, 0x00A000A0u}) board->Write(0x7FF01554, v);
  board->Write(0x7FF00040, 0);
  board->Write(0x7FF00044, 0);
  EXPECT_EQ(image, before);
  EXPECT_EQ(board->Read(0x7FF00040), 0x12345678u);
  image[0x44] = 0x00;  // its loader writes flash.bin directly
  EXPECT_EQ(board->Read(0x7FF00044), 0xFFFFFF00u);
}

TEST(FlashBoardForTest, BasesAndSizes) {
  struct Row {
    const char* caption;
    uint32_t base, size;
  };
  const Row rows[] = {{"DSX6071/6072", 0x7FE00000, 0x200000}, {"DSI185", 0x7FF00000, 0x100000},
                      {"BCT13", 0x7FF00000, 0x100000},        {"TS1", 0x7FE00000, 0x200000},
                      {"DSX6070", 0x7FF00000, 0x100000},      {"TVN box", 0x7FE00000, 0x200000},
                      {"STB3100", 0x7FE00000, 0x200000},      {"DSX6170", 0x7FC00000, 0x400000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.caption);
    const FlashBoardGeometry* layout = FlashBoardFor(r.caption);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->base, r.base);
    EXPECT_EQ(layout->size, r.size);
    EXPECT_EQ(uint64_t{layout->base} + layout->size, 0x80000000ull) << "every flash ends at 0x7FFFFFFF";
    EXPECT_EQ(layout->mirrorSize, std::string(r.caption) == "DSI185" ? 0x100000u : 0u);
  }
  EXPECT_EQ(FlashBoardFor("DSX6000"), nullptr);
}

struct ConfCase {
  const char* caption;
  const char* key;
  const char* value;
  const char* error;  // a part of the message
  const char* alsoKey = nullptr;
  const char* alsoValue = nullptr;
};

void PrintTo(const ConfCase& c, std::ostream* os) {
  *os << c.caption << ": " << c.key << " = " << c.value;
}

class ConfErrorTest : public ::testing::TestWithParam<ConfCase> {};

TEST_P(ConfErrorTest, GivesNullAndSaysWhy) {
  const ConfCase& c = GetParam();
  const FlashBoardGeometry* layout = FlashBoardFor(c.caption);
  ASSERT_NE(layout, nullptr);
  std::vector<uint8_t> image(layout->size, 0xFF);
  VirtualClock clock;
  std::string error;
  Conf conf = ConfOf({{c.key, c.value}});
  if (c.alsoKey) conf.Set(c.alsoKey, c.alsoValue);
  EXPECT_EQ(MakeFlashBoard(c.caption, conf, image, clock, &error), nullptr);
  EXPECT_NE(error.find(c.error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ConfErrorTest,
    ::testing::Values(
        ConfCase{"DSX6071/6072", "flash_device", "AM29LV800",
                 "not a part the DSX6071/6072 board takes"},
        ConfCase{"DSX6170", "flash_device", "AM29F800BB", "it takes AM29LV160DT, AM29LV160DB"},
        ConfCase{"TS1", "flash_maker", "Intel", "flash_maker \"Intel\" is neither"},
        ConfCase{"TS1", "flash_maker", "0x10000", "is neither"},
        ConfCase{"TS1", "flash_maker", "0", "is neither"},
        ConfCase{"DSX6071/6072", "protected_sectors", "0x7FE20000 7FE40000",
                 "\"7FE40000\" is not an address"},
        ConfCase{"DSX6071/6072", "protected_sectors", "0x7FE04000",
                 "that sector starts at 0x7FE00000"},
        ConfCase{"DSX6071/6072", "protected_sectors", "0x7FD00000",
                 "outside the flash (0x7FE00000 to 0x7FFFFFFF)"},
        ConfCase{"DSX6070", "protected_sectors", "0x7FF08002", "not the address of a 32-bit word"},
        ConfCase{"DSI185", "stuck_bits", "0x7FF00010", "not an address:mask pair"},
        ConfCase{"DSI185", "stuck_bits", "0x7FF00010:x", "not an address:mask pair"},
        ConfCase{"DSI185", "stuck_bits", "0x7FE00010:0x1", "outside the flash"},
        ConfCase{"DSX6071/6072", "protected_sectors", "0x7FE20000/middle",
                 "\"0x7FE20000/middle\" names no chip"},
        ConfCase{"TS1", "protected_sectors", "0x7FE20000/", "names no chip"},
        ConfCase{"TS1", "protected_sectors", "0x7FE04000/low", "that sector starts at 0x7FE00000"},
        ConfCase{"TS1", "protected_sectors", "7FE20000/high",
                 "\"7FE20000/high\" is not an address"},
        ConfCase{"TS1", "flash_id", "0x0001", "flash_id \"0x0001\" is not MAKER:DEVICE"},
        ConfCase{"TS1", "flash_id", "0x0001:0x12345", "is not MAKER:DEVICE"},
        ConfCase{"TS1", "flash_id", "0x:0x1234", "is not MAKER:DEVICE"},
        ConfCase{"TS1", "flash_id", "01:22G4", "is not MAKER:DEVICE"},
        ConfCase{"TS1", "flash_id", "-1:2", "is not MAKER:DEVICE"},
        ConfCase{"DSX6170", "flash_id", "0x0001:0x2249",
                 "flash_id and flash_maker both give the maker code", "flash_maker", "AMD"},
        ConfCase{"DSX6071/6072", "erase_time_percent", "2143",
                 "erase_time_percent = 2143: expected a whole number from 10 to 2142 (the "
                 "AM29LV800BB erases a sector in 0.7 s typically, 15 s at most)"},
        ConfCase{"TS1", "erase_time_percent", "9",
                 "erase_time_percent = 9: expected a whole number from 10 to 1500 (the "
                 "MBM29F800BA erases a sector in 1 s typically, 15 s at most)"},
        ConfCase{"TS1", "program_time_percent", "2001",
                 "program_time_percent = 2001: expected a whole number from 10 to 2000 (the "
                 "M29W800DB programs a word in 10 µs typically, 200 µs at most)",
                 "flash_device", "M29W800DB"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(ConfErrorTest, ImageOfTheWrongSizeOrUnknownModel) {
  std::vector<uint8_t> image(0x100000, 0xFF);
  VirtualClock clock;
  std::string error;
  EXPECT_EQ(MakeFlashBoard("DSX6071/6072", Conf{}, image, clock, &error), nullptr);
  EXPECT_EQ(error, "flash.bin holds 1048576 bytes; the DSX6071/6072 flash is 2097152 bytes (2 MB)");
  EXPECT_EQ(MakeFlashBoard("DSX6000", Conf{}, image, clock, &error), nullptr);
  EXPECT_NE(error.find("DSX6000"), std::string::npos);
}

TEST(ConfDefaultsTest, ParseAndBuildTheDefaultBoardForEveryModel) {
  for (const ToolRow& row : kTool) {
    SCOPED_TRACE(row.caption);
    const std::string text = FlashConfDefaults(row.caption);
    for (const char* key : {"flash_device", "flash_maker", "flash_id", "protected_sectors",
                            "stuck_bits", "erase_time_percent", "program_time_percent"}) {
      EXPECT_NE(text.find(std::string("# ") + key + ":"), std::string::npos) << key;
    }
    Conf conf;
    std::string error;
    ASSERT_TRUE(conf.Parse(text, &error)) << error;
    EXPECT_EQ(conf.values().size(), 3u) << "flash_device and the percents; the rest are examples";
    // The commented examples must each be accepted as they stand.
    int examples = 0;
    for (size_t at = text.find("\n# flash_maker ="); at != std::string::npos;
         at = text.find("\n# ", at + 1)) {
      const std::string line = text.substr(at + 3, text.find('\n', at + 1) - at - 3);
      if (line.find(" = ") == std::string::npos) continue;
      ++examples;
      ASSERT_TRUE(conf.Parse(text + line + "\n", &error)) << error;
      std::vector<uint8_t> image(row.size, 0xFF);
      VirtualClock clock;
      EXPECT_NE(MakeFlashBoard(row.caption, conf, image, clock, &error), nullptr) << line << error;
    }
    EXPECT_EQ(examples, 4);
  }
  EXPECT_NE(FlashConfDefaults("BCT13").find("do not apply"), std::string::npos);
}

}  // namespace
}  // namespace corvane::sim
