#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "link/Text.h"
#include "transfer/Firmware.h"
#include "transfer/TransferTestKit.h"

// Write Firmware: the exact erase and program traffic per model and option on the virtual
// decoder's chips, the status texts, the input checks and the log.
namespace corvane::testing {
namespace {

using kit::CommandRig;

constexpr uint32_t kBlock = 0x20000;
constexpr uint32_t kErased = 0xFFFFFFFF;
const std::string kStopWriting =
    "Stop writing? The flash will be left partly written: the decoder may not start until a "
    "complete image is written.";

std::vector<uint32_t> ErasedSectors(const LinkTraffic& traffic, uint32_t eraseValue) {
  std::vector<uint32_t> out;
  for (const auto& t : traffic.Pokes())
    if (t.value == eraseValue) out.push_back(t.address);
  return out;
}

size_t CountPokesOf(const LinkTraffic& traffic, uint32_t value) {
  size_t n = 0;
  for (const auto& t : traffic.Pokes()) n += t.value == value;
  return n;
}

// The words given data: the poke after each program command, in order.
std::vector<uint32_t> Programmed(const LinkTraffic& traffic, uint32_t programValue) {
  const auto pokes = traffic.Pokes();
  std::vector<uint32_t> out;
  for (size_t i = 1; i < pokes.size(); ++i)
    if (pokes[i - 1].value == programValue) out.push_back(pokes[i].address);
  return out;
}

std::vector<uint32_t> PeekValuesAt(const LinkTraffic& traffic, uint32_t address) {
  std::vector<uint32_t> out;
  for (const auto& t : traffic.transactions)
    if (t.kind == LinkTraffic::Kind::Peek && t.address == address) out.push_back(t.value);
  return out;
}

std::vector<uint32_t> BlockStarts(uint32_t from, uint32_t to) {
  std::vector<uint32_t> out;
  for (uint32_t a = from; a <= to; a += kBlock) out.push_back(a);
  return out;
}

std::vector<uint32_t> Concat(std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The virtual decoder behind a tapped link with an erased image of the model's size; its
// decoder.conf lines fit other chips, protected sectors or stuck bits. The board's default
// chips are bottom-boot parts the tool knows.
struct FirmwareRig {
  FirmwareRig(Model model, size_t bytes, const std::string& conf = "")
      : rig(model, conf, SimRig::kTapped), image(bytes, 0xFF) {
    s().fullWrite = true;  // the whole-flash protocol, word for word
  }
  // What the flash holds before the write.
  void Flash(const std::vector<uint8_t>& content) {
    SimRig::WriteFile(rig.decoderDir() + "/flash.bin", content);
    rig.Reopen();
  }
  void Run() {
    SimRig::WriteFile(rig.path("image.bin"), image);
    host().dialogPaths = {rig.path("image.bin")};
    WriteFirmware(s());
  }
  void ExpectClosed() {
    EXPECT_EQ(host().openFilter, kRestingFilter);
    EXPECT_EQ(host().status, "");
    EXPECT_EQ(host().progressPosition, 0);
    EXPECT_EQ(host().dialogFilters, (std::vector<std::string>{"Binary file (*.bin)|*.BIN"}));
    EXPECT_TRUE(rig.vd().PortReleased());
  }
  Session& s() { return rig.session; }
  ScriptedHost& host() { return rig.host; }
  TransactionTap& tap() { return rig.tap(); }
  std::string LogPath() const { return rig.path("Firmware.log"); }
  SimRig rig;
  std::vector<uint8_t> image;
};

struct OptionsCase {
  const char* name;
  bool writeDataArea, eraseDataArea;
  std::vector<uint32_t> erases;      // sector-erase targets, in order
  std::vector<uint32_t> programmed;  // data writes, in order
  int progressMin;
};
void PrintTo(const OptionsCase& c, std::ostream* os) {
  *os << c.name;
}

class Dsx6071OptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(Dsx6071OptionsTest, ErasesAndWritesWhatTheOptionsAsk) {
  const OptionsCase& c = GetParam();
  FirmwareRig b(Model::DSX6071_6072, 0x200000);
  b.s().profile.writeDataArea = c.writeDataArea;
  b.s().profile.eraseDataArea = c.eraseDataArea;
  b.s().verifyAfterWrite = false;
  // One word inside the data area, one just past it; everything else erased.
  kit::PutFileWord(b.image, 0x10 / 4, 0x11111111);
  kit::PutFileWord(b.image, 0x80004 / 4, 0x22222222);
  b.host().recordStatusHistory = true;

  b.Run();

  // Each sector erased once: every erase ends within its first polling pass.
  EXPECT_EQ(ErasedSectors(b.tap(), 0x000C0030), c.erases);
  EXPECT_EQ(Programmed(b.tap(), 0x000500A0), c.programmed);
  // One program command per non-erased word, none for 0xFFFFFFFF words.
  EXPECT_EQ(CountPokesOf(b.tap(), 0x000500A0), c.programmed.size());
  // Autoselect once to learn the chips, then CheckSector's once per sector in a block
  // written: the first block holds four.
  const size_t blocks = (0x200000 - (c.writeDataArea ? 0 : 0x80000)) / kBlock;
  EXPECT_EQ(CountPokesOf(b.tap(), 0x00090090), 1 + blocks + (c.writeDataArea ? 3 : 0));
  EXPECT_EQ(b.rig.Word(0x7FE80004), 0x22222222u);
  EXPECT_EQ(b.rig.Word(0x7FE00010), c.writeDataArea ? 0x11111111u : kErased);
  EXPECT_EQ(b.host().progressMin, c.progressMin);
  EXPECT_EQ(b.host().progressMax, 0x7FFFF);
  EXPECT_EQ(b.host().maxProgressPosition, 0x7FFFF);

  const auto& h = b.host().statusHistory;
  ASSERT_GE(h.size(), 4u);
  std::vector<std::string> head = {"Connecting..."};
  if (c.writeDataArea || c.eraseDataArea) head.push_back("Erasing Data Area...");
  head.push_back("Writing Flash...");
  head.push_back(c.writeDataArea ? "7FE00000  FFFFFFFF" : "7FE80000  FFFFFFFF");
  EXPECT_EQ(std::vector<std::string>(h.begin(), h.begin() + static_cast<long>(head.size())), head);
  EXPECT_EQ(h[h.size() - 2], "7FFFFFFC  FFFFFFFF");

  EXPECT_EQ(b.host().MessageTexts(), (std::vector<std::string>{"Writing Flash completed."}));
  const auto log = kit::LogLines(b.LogPath());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(kit::StartsWith(log[0], "Firmware log file "));
  EXPECT_TRUE(kit::StartsWith(log[1], "Done "));
  b.ExpectClosed();
}

const std::vector<uint32_t> kAllBlocks = BlockStarts(0x7FE00000, 0x7FFE0000);
const std::vector<uint32_t> kBlocksPastDataArea = BlockStarts(0x7FE80000, 0x7FFE0000);

INSTANTIATE_TEST_SUITE_P(
    Options, Dsx6071OptionsTest,
    ::testing::Values(
        OptionsCase{"writeDataArea",
                    true,
                    false,
                    Concat({0x7FE10000, 0x7FE08000, 0x7FE0C000}, kAllBlocks),
                    {0x7FE00010, 0x7FE80004},
                    0},
        // "Erase Data Area" means nothing while the data area is written anyway.
        OptionsCase{"writeAndEraseDataArea",
                    true,
                    true,
                    Concat({0x7FE10000, 0x7FE08000, 0x7FE0C000}, kAllBlocks),
                    {0x7FE00010, 0x7FE80004},
                    0},
        OptionsCase{"keepDataArea", false, false, kBlocksPastDataArea, {0x7FE80004}, 0x20000},
        OptionsCase{"eraseDataArea",
                    false,
                    true,
                    Concat({0x7FE10000, 0x7FE20000, 0x7FE40000, 0x7FE60000}, kBlocksPastDataArea),
                    {0x7FE80004},
                    0x20000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteFirmwareDsi185, ErasesTheBottomSectorsThenEveryBlock) {
  FirmwareRig b(Model::DSI185, 0x100000);
  b.s().verifyAfterWrite = false;
  kit::PutFileWord(b.image, 0x20000 / 4, 0x01020304);
  b.host().recordStatusHistory = true;
  b.Run();
  // The first block's sectors are erased already when its block step comes.
  EXPECT_EQ(ErasedSectors(b.tap(), 0x05000030),
            Concat({0x7FF00000, 0x7FF08000, 0x7FF0C000, 0x7FF10000},
                   BlockStarts(0x7FF20000, 0x7FFE0000)));
  EXPECT_EQ(Programmed(b.tap(), 0x440000A0), (std::vector<uint32_t>{0x7FF20000}));
  EXPECT_EQ(b.rig.Word(0x7FF20000), 0x04030201u);
  // Autoselect only to learn the chips: no protection check on this board.
  EXPECT_EQ(CountPokesOf(b.tap(), 0x41000090), 1u);
  const auto& h = b.host().statusHistory;
  ASSERT_GE(h.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(h.begin(), h.begin() + 4),
            (std::vector<std::string>{"Connecting...", "Erasing...", "Writing Flash...",
                                      "7FF00000  FFFFFFFF"}));
  EXPECT_EQ(b.host().progressMax, 0x3FFFF);
  EXPECT_EQ(b.host().MessageTexts(), (std::vector<std::string>{"Writing Flash completed."}));
}

const std::string kNoBackup =
    "No backup was made before this write: put back a file saved with Read Firmware before.";
const std::string kErase7FE40000Failed =
    "Erasing the flash failed at 7FE40000: it does not read erased (the sector may be "
    "protected).";

// Every sector of the flash is erased whichever side the chips keep their boot block on,
// each once; chips the tables do not name get the sector starts of both sides.
struct BootCase {
  const char* name;
  Model model;
  const char* conf;
  std::vector<uint32_t> erases;
};
void PrintTo(const BootCase& c, std::ostream* os) {
  *os << c.name;
}

class BootBlockTest : public ::testing::TestWithParam<BootCase> {};

TEST_P(BootBlockTest, EverySectorIsErasedOnce) {
  const BootCase& c = GetParam();
  const bool dsi185 = c.model == Model::DSI185;
  FirmwareRig b(c.model, dsi185 ? 0x100000 : 0x200000, c.conf);
  b.s().verifyAfterWrite = false;
  b.Run();
  EXPECT_EQ(ErasedSectors(b.tap(), dsi185 ? 0x05000030 : 0x000C0030), c.erases);
  ASSERT_EQ(b.host().messages.size(), 1u);
  EXPECT_EQ(b.host().messages[0].text.rfind(c.erases.empty() ? "Nothing was erased: the flash "
                                                               "chips answered maker 1F00F800"
                                                             : "Writing Flash completed.",
                                            0),
            0u)
      << b.host().messages[0].text;
}

const std::vector<uint32_t> kTopSmallSectors6071 = {0x7FFF0000, 0x7FFF4000, 0x7FFF8000};

INSTANTIATE_TEST_SUITE_P(
    Chips, BootBlockTest,
    ::testing::Values(
        // The data-area erases fall into the first sector, which is then erased already.
        BootCase{"dsx6071TopBoot", Model::DSX6071_6072, "flash_device = AM29LV800BT",
                 Concat(Concat({0x7FE10000}, BlockStarts(0x7FE20000, 0x7FFE0000)),
                        kTopSmallSectors6071)},
        // A maker no catalogue part has: nothing is erased.
        BootCase{"dsx6071UnknownChip", Model::DSX6071_6072, "flash_maker = 0x1F", {}},
        BootCase{"dsi185TopBoot", Model::DSI185, "flash_device = AM29F400BT",
                 Concat(Concat({0x7FF00000}, BlockStarts(0x7FF20000, 0x7FFE0000)),
                        {0x7FFF0000, 0x7FFF4000, 0x7FFF8000})}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProtectedCase {
  const char* name;
  Answer answer;
  std::vector<std::string> messages;
  const char* trailer;
};
void PrintTo(const ProtectedCase& c, std::ostream* os) {
  *os << c.name;
}

class ProtectedBlockTest : public ::testing::TestWithParam<ProtectedCase> {};

TEST_P(ProtectedBlockTest, YesSkipsTheBlockNoWritesIt) {
  const ProtectedCase& c = GetParam();
  FirmwareRig b(Model::DSX6071_6072, 0x200000, "protected_sectors = 0x7FE40000");
  // The protected block holds old words; an erased one would pass any erase.
  std::vector<uint8_t> old(0x200000, 0xFF);
  std::fill(old.begin() + 0x40000, old.begin() + 0x60000, 0x5A);
  b.Flash(old);
  kit::PutFileWord(b.image, 0x40000 / 4, 0x33333333);
  kit::PutFileWord(b.image, 0x60000 / 4, 0x44444444);
  b.host().answers = {c.answer};

  b.Run();  // with the read-back check

  EXPECT_EQ(b.host().MessageTexts(), c.messages);
  EXPECT_EQ(b.host().messages[0].kind, MessageKind::Confirmation);
  EXPECT_EQ(b.host().messages[0].buttons, Buttons::YesNo);
  const auto erased = ErasedSectors(b.tap(), 0x000C0030);
  const bool erasedProtected = std::find(erased.begin(), erased.end(), 0x7FE40000u) != erased.end();
  const auto log = kit::LogLines(b.LogPath());
  ASSERT_GE(log.size(), 2u);
  EXPECT_TRUE(kit::StartsWith(log.back(), c.trailer)) << log.back();
  EXPECT_EQ(b.rig.Word(0x7FE40000), 0x5A5A5A5Au) << "the protected block keeps its words";
  if (c.answer == Answer::Yes) {
    EXPECT_FALSE(erasedProtected);
    // The next block is written from its own file offset.
    EXPECT_EQ(Programmed(b.tap(), 0x000500A0), (std::vector<uint32_t>{0x7FE60000}));
    // Nothing in the skipped block is read back but CheckSector's status word, twice: a
    // status other than "unprotected" is taken only when two reads agree.
    size_t peeksInBlock = 0;
    for (const auto& t : b.tap().transactions)
      peeksInBlock += t.kind == LinkTraffic::Kind::Peek && t.address >= 0x7FE40000 &&
                      t.address < 0x7FE60000;
    EXPECT_EQ(peeksInBlock, 2u);
    // The block start: polls while the sector erases, three erased reads (the poll that sees
    // it done, the pass's check, the result), two program reads and the read-back; an erased
    // word only the read-back.
    const auto start = PeekValuesAt(b.tap(), 0x7FE60000);
    ASSERT_GT(start.size(), 6u);
    EXPECT_EQ(std::count(start.begin(), start.end() - 6, kErased), 0);
    EXPECT_EQ(std::vector<uint32_t>(start.end() - 6, start.end()),
              (std::vector<uint32_t>{kErased, kErased, kErased, 0x44444444, 0x44444444,
                                     0x44444444}));
    EXPECT_EQ(b.tap().CountPeeksAt(0x7FE60004), 1u);
    EXPECT_EQ(log.size(), 2u);
  } else {
    EXPECT_TRUE(erasedProtected);
    // The sector refused the erase: the write ends there instead of failing word by word.
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end() - 1),
              (std::vector<std::string>{"Erase error address : 7FE40000", kErase7FE40000Failed}));
    EXPECT_EQ(Programmed(b.tap(), 0x000500A0), std::vector<uint32_t>{})
        << "nothing past the first block";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ProtectedBlockTest,
    ::testing::Values(
        ProtectedCase{"yes",
                      Answer::Yes,
                      {"Sector 7FE40000 is protected. Do you want to skip this sector?",
                       "Writing Flash completed. Read back and verified: 1920 KB."},
                      "Done "},
        ProtectedCase{"no",
                      Answer::No,
                      {"Sector 7FE40000 is protected. Do you want to skip this sector?",
                       kErase7FE40000Failed + " The flash may now be partly erased from 7FE00000 "
                       "to 7FE5FFFF and written from 7FE00000 up to 7FE3FFFF: the decoder may "
                       "not start until a complete image is written.\n" + kNoBackup},
                      "Stopped "}),
    [](const auto& info) { return std::string(info.param.name); });

// Failures that never come eight in a row still end the write, at the 64th.
TEST(WriteFirmware, ScatteredFailedWordsEndTheWriteAtTheSixtyFourth) {
  std::string stuck = "stuck_bits =";
  for (uint32_t w = 0; w < 130; w += 2) stuck += " 0x" + Hex8(0x7FE00000 + 4 * w) + ":0x1";
  FirmwareRig b(Model::TS1, 0x200000, stuck);
  for (uint32_t w = 0; w < 130; ++w) kit::PutFileWord(b.image, w, 0);
  b.Run();
  EXPECT_EQ(b.host().MessageTexts(),
            std::vector<std::string>{
                "Programming the flash failed at 7FE001F8: 64 words do not take their values "
                "(the flash may be failing). The flash is now erased from 7FE00000 to 7FFFFFFF "
                "and written from 7FE00000 up to 7FE001FB: the decoder may not start until a "
                "complete image is written.\n" + kNoBackup});
  const auto programmed = Programmed(b.tap(), 0x00A000A0);
  ASSERT_FALSE(programmed.empty());
  EXPECT_EQ(programmed.back(), 0x7FE001F8u) << "nothing after it";
  EXPECT_EQ(b.rig.Word(0x7FE001F4), 0u);
  EXPECT_EQ(b.rig.Word(0x7FE001F8), 1u) << "the stuck bit";
}

// The polls after each chip-erase command that read the chips busy (anything but erased),
// folded into one line with their count: the erase is polled for many seconds.
std::vector<std::string> FoldBusyPolls(const std::vector<std::string>& lines,
                                       const std::string& eraseCommand, uint32_t watched) {
  const std::string poll = "peek " + Hex8(watched) + " ", erased = poll + "FFFFFFFF";
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.size();) {
    out.push_back(lines[i]);
    if (lines[i++] != eraseCommand) continue;
    size_t run = 0;
    for (; i < lines.size() && kit::StartsWith(lines[i], poll) && lines[i] != erased; ++i) ++run;
    if (run != 0) out.push_back(poll + "busy x" + std::to_string(run));
  }
  return out;
}

// DSX6170: the exact traffic of the chip erase and the first words, the status forms, and an
// Escape answered Yes after the fifth word.
TEST(WriteFirmwareDsx6170, ChipEraseThenProgramsWordByWordUntilStopped) {
  FirmwareRig b(Model::DSX6170, 0x400000);
  const uint32_t words[] = {0x12345678, 0x00000000, 0x00123456, 0xFFFFFFFF, 0x01234567};
  for (size_t i = 0; i < 5; ++i) kit::PutFileWord(b.image, i, words[i]);
  b.host().recordStatusHistory = true;
  b.host().abortAtStatus = "7FC00010  1234567";
  b.host().answers = {Answer::Yes};

  b.Run();

  // The chips' identification (AM29LV160DB through the board's wiring, each word read until
  // two reads agree), then the chip erase: its sequence again after every polling pass of
  // 1001 polls and a check while the chips stay busy, and three erased reads once they are
  // done.
  std::vector<std::string> expected = {"poke 7FC01554 00F000F0", "poke 7FC01554 00AA00AA",
                                       "poke 7FC00AA8 80548054", "poke 7FC01554 00900090",
                                       "peek 7FC00000 80008000", "peek 7FC00000 80008000",
                                       "peek 7FC00004 C448C448", "peek 7FC00004 C448C448",
                                       "poke 7FC01554 00AA00AA", "poke 7FC00AA8 80548054",
                                       "poke 7FC01554 00F000F0", "peek 7FC00000 FFFFFFFF",
                                       "peek 7FC00000 FFFFFFFF"};
  std::vector<std::string> lines = b.tap().Lines();
  lines.erase(lines.begin(), lines.begin() + static_cast<long>(kit::AfterConnectIndex(b.s())));
  lines = FoldBusyPolls(lines, "poke 7FC01554 00100010", 0x7FC00000);
  const auto passes =
      static_cast<size_t>(std::count(lines.begin(), lines.end(), "poke 7FC01554 00100010"));
  EXPECT_GT(passes, 1u) << "the chip erase outlasts a polling pass";
  for (size_t pass = 1; pass <= passes; ++pass) {
    for (const char* line : {"poke 7FC01554 00F000F0", "poke 7FC01554 00AA00AA",
                             "poke 7FC00AA8 80548054", "poke 7FC01554 00800080",
                             "poke 7FC01554 00AA00AA", "poke 7FC00AA8 80548054",
                             "poke 7FC01554 00100010"})
      expected.push_back(line);
    // 1001 polls, the check, and two more reads before two agree on the toggling status.
    if (pass < passes) expected.push_back("peek 7FC00000 busy x1004");
  }
  // The last pass ends at the first erased read, within its 1001 polls.
  const std::string lastRun = expected.size() < lines.size() ? lines[expected.size()] : "";
  const std::string busy = "peek 7FC00000 busy x";
  ASSERT_TRUE(kit::StartsWith(lastRun, busy)) << lastRun;
  EXPECT_LE(std::stoul(lastRun.substr(busy.size())), 1000u);
  expected.push_back(lastRun);
  for (int i = 0; i < 3; ++i) expected.push_back("peek 7FC00000 FFFFFFFF");
  for (uint32_t i = 0; i < 5; ++i) {
    if (words[i] == 0xFFFFFFFF) continue;
    const uint32_t a = 0x7FC00000 + 4 * i;
    const std::string bus = Hex8(__builtin_bswap32(words[i]));
    for (const char* line : {"poke 7FC01554 00F000F0", "poke 7FC01554 00AA00AA",
                             "poke 7FC00AA8 80548054", "poke 7FC01554 00A000A0"})
      expected.push_back(line);
    expected.push_back("poke " + Hex8(a) + " " + bus);
    expected.push_back("peek " + Hex8(a) + " " + bus);
    expected.push_back("peek " + Hex8(a) + " " + bus);
  }
  EXPECT_EQ(lines, expected);

  EXPECT_EQ(b.host().statusHistory,
            (std::vector<std::string>{"Connecting...", "Writing Flash...", "7FC00000  12345678",
                                      "7FC00004  000000", "7FC00008  123456", "7FC0000C  FFFFFFFF",
                                      "7FC00010  1234567", ""}));
  EXPECT_EQ(b.host().progressMax, 0xFFFFF);
  // Stopped: no completion but what the flash holds now, and the log says the write did not
  // run to its end.
  ASSERT_EQ(b.host().messages.size(), 2u);
  EXPECT_EQ(b.host().messages[0].text, kStopWriting);
  EXPECT_EQ(b.host().messages[1].kind, MessageKind::Warning);
  EXPECT_EQ(b.host().messages[1].text,
            "Writing was stopped. The flash is now erased from 7FC00000 to 7FFFFFFF and written "
            "from 7FC00000 up to 7FC00013: the decoder may not start until a complete image is "
            "written.\n" + kNoBackup);
  const auto log = kit::LogLines(b.LogPath());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(kit::StartsWith(log[1], "Stopped "));
  EXPECT_EQ(b.s().LogFile, nullptr);
  b.ExpectClosed();
}

struct InputCase {
  const char* name;
  Model model;
  long size;  // -1: no such file
  bool writeDataArea;
  std::vector<std::string> mentions;
};
void PrintTo(const InputCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteFirmwareInputTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(WriteFirmwareInputTest, RefusedBeforeTheDecoderIsTouched) {
  const InputCase& c = GetParam();
  CommandRig b(c.model);
  b.s().profile.writeDataArea = c.writeDataArea;
  if (c.size >= 0) kit::WriteBytes(b.dir / "image.bin", std::vector<uint8_t>(c.size, 0x12));
  kit::WriteBytes(b.dir / "TRAP.BIN", std::vector<uint8_t>(16, 0x90));
  b.host().dialogPaths = {b.dir / "image.bin"};

  WriteFirmware(b.s());

  EXPECT_TRUE(kit::AfterConnect(b.rig).empty());
  ASSERT_EQ(b.host().messages.size(), 1u);
  EXPECT_EQ(b.host().messages[0].kind, MessageKind::Error);
  for (const std::string& m : c.mentions)
    EXPECT_NE(b.host().messages[0].text.find(m), std::string::npos) << m;
  EXPECT_FALSE(b.HasLog());
  EXPECT_EQ(b.host().openFilter, kRestingFilter);
  EXPECT_EQ(b.host().status, "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, WriteFirmwareInputTest,
    ::testing::Values(
        InputCase{"dsx6071OneByteShort",
                  Model::DSX6071_6072,
                  0x1FFFFF,
                  true,
                  {"too short", "2097152", "2097151", "Nothing was written"}},
        // The data area is passed over, not cut off: the file still needs all 2 MB.
        InputCase{
            "dsx6071WithoutDataArea", Model::DSX6071_6072, 0x180000, false, {"2097152", "1572864"}},
        InputCase{"bct13WordShort", Model::BCT13, 0xFFFFC, true, {"1048576", "1048572"}},
        InputCase{"dsi185Empty", Model::DSI185, 0, true, {"1048576", "has 0"}},
        InputCase{
            "dsx6170Missing", Model::DSX6170, -1, true, {"image.bin", "Nothing was written"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteFirmware, CancelLeavesTheOldLogAndTheFlashAlone) {
  CommandRig b(Model::TS1);
  kit::WriteBytes(b.LogPath(), {'o', 'l', 'd'});
  WriteFirmware(b.s());
  EXPECT_TRUE(kit::AfterConnect(b.rig).empty());
  EXPECT_EQ(kit::ReadBytes(b.LogPath()), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_TRUE(b.host().messages.empty());
  EXPECT_EQ(b.host().openFilter, kRestingFilter);
  EXPECT_EQ(b.host().status, "");
}

TEST(WriteFirmware, ALogThatCannotBeCreatedStopsBeforeErasing) {
  FirmwareRig b(Model::TS1, 0x200000);
  b.s().logDir = b.rig.path("no/such/folder");
  b.Run();
  // The chips were asked who they are, nothing more: no erase, no program.
  EXPECT_EQ(CountPokesOf(b.tap(), 0x00800080), 0u);
  EXPECT_EQ(CountPokesOf(b.tap(), 0x00A000A0), 0u);
  ASSERT_EQ(b.host().messages.size(), 1u);
  EXPECT_EQ(b.host().messages[0].kind, MessageKind::Error);
  EXPECT_NE(b.host().messages[0].text.find("firmware log"), std::string::npos);
}

TEST(WriteFirmwareBct13, CopiesEveryWordToRamThenUploadsTheLoader) {
  CommandRig b(Model::BCT13);
  std::vector<uint8_t> image(0x100000, 0xFF);
  image[0] = 0x12, image[1] = 0x34, image[2] = 0x56, image[3] = 0x78;
  kit::WriteBytes(b.dir / "image.bin", image);
  const std::vector<uint8_t> loader(24, 0xA5);
  kit::WriteBytes(b.dir / "TRAP.BIN", loader);
  b.s().verifyAfterWrite = false;  // keeps the fake's traffic to the copy and the upload
  b.host().dialogPaths = {b.dir / "image.bin"};
  kit::KeepScratchWord(b.rig.port, ProfileOf(Model::BCT13).scratchWord);

  WriteFirmware(b.s());

  // A word of RAM proves the link first: nothing else reads back before the loader writes.
  auto after = kit::AfterConnect(b.rig);
  ASSERT_GT(after.size(), kit::kRoundTripTransactions);
  after.erase(after.begin(), after.begin() + kit::kRoundTripTransactions);
  const size_t copies = 0x40000;
  ASSERT_EQ(after.size(), copies + 2);
  EXPECT_EQ(after.front().address, 0x80002000u);
  EXPECT_EQ(after.front().value, 0x78563412u);
  EXPECT_EQ(after[copies - 1].address, 0x80101FFCu);
  EXPECT_EQ(after[copies - 1].value, 0xFFFFFFFFu);  // erased words are copied too
  EXPECT_EQ(after[copies].kind, FakeDecoderPort::Kind::Code);
  EXPECT_EQ(after[copies].code, loader);
  // The decoder answers at once after the wait: one read of its PIO input, nothing more.
  EXPECT_EQ(after.back().kind, FakeDecoderPort::Kind::Peek);
  EXPECT_EQ(after.back().address, 0x2000D010u);
  EXPECT_EQ(b.rig.clock.sleptMs, 100 + 10000);
  EXPECT_EQ(b.host().MessageTexts(), (std::vector<std::string>{"Writing Flash completed."}));
  const auto log = kit::LogLines(b.LogPath());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(kit::StartsWith(log.front(), "Firmware log file "));
  EXPECT_TRUE(kit::StartsWith(log.back(), "Done "));
}

}  // namespace
}  // namespace corvane::testing
