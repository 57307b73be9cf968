#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "flash/FlashEngine.h"
#include "link/Text.h"
#include "support/FakeRig.h"
#include "support/SimRig.h"
#include "transfer/FirmwareLog.h"

namespace corvane::testing {
namespace {

std::string P(uint32_t address, uint32_t value) { return "poke " + Hex8(address) + " " + Hex8(value); }
std::string R(uint32_t address, uint32_t value = 0xFFFFFFFF) {
  return "peek " + Hex8(address) + " " + Hex8(value);
}
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::vector<std::string> Times(int n, const std::string& line) {
  return std::vector<std::string>(static_cast<size_t>(n), line);
}

// The fake decoder after LinkOpen, so its first byte frames like every other.
struct Rig : FakeRig {
  explicit Rig(Model model) : FakeRig(model) { link.LinkOpen(); }
};

// A log in a temporary folder, read back line by line (each must end with CR LF).
struct LogFixture {
  TempDir dir;
  std::unique_ptr<FirmwareLog> log;
  LogFixture() {
    std::string error;
    log = FirmwareLog::CreateLog(dir / "Firmware.log", &error);
    EXPECT_TRUE(log) << error;
  }
  void Attach(Session& s) { s.LogFile = log.get(); }
  std::vector<std::string> Lines() const {
    std::ifstream in(dir / "Firmware.log", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = text.find("\r\n", at);
      if (end == std::string::npos) {
        ADD_FAILURE() << "line without CR LF: " << text.substr(at);
        break;
      }
      out.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return out;
  }
};

TEST(FlashWord, ReadFlashIsOnePeekWithTheBytesReversed) {
  Rig rig(Model::DSX6071_6072);
  rig.port.onPeek = [](uint32_t a) { return a == 0x7FE00000 ? 0x11223344u : 0xFFFFFFFFu; };
  EXPECT_EQ(ReadFlash(rig.session, 0x7FE00000), 0x44332211u);
  EXPECT_EQ(ReadFlash(rig.session, 0x7FE00004), 0xFFFFFFFFu);
  EXPECT_EQ(rig.port.Lines(), (std::vector<std::string>{R(0x7FE00000, 0x11223344), R(0x7FE00004)}));
}

TEST(FlashWord, WriteFlashIsOnePokeOfTheValueAsGiven) {
  Rig rig(Model::BCT13);
  WriteFlash(rig.session, 0x7FE01554, 0x005500AA);
  EXPECT_EQ(rig.port.Lines(), (std::vector<std::string>{P(0x7FE01554, 0x005500AA)}));
}

// ---- Every command sequence of every model, as link traffic ----

enum class Op { Reset, EraseSector, EraseChip, CheckSector, Program };

struct SequenceCase {
  const char* name;
  Model model;
  Op op;
  uint32_t address;
  std::vector<std::string> lines;
};

constexpr uint32_t kValue = 0x12345678;  // programmed in image order
constexpr uint32_t kBus = 0x78563412;    // as it travels

// Command values written out per model rather than taken from the engine's table.
const std::vector<std::string> kReset6071 = {P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055),
                                             P(0x7FE01554, 0x000F00F0), R(0x7FE00000), R(0x7FE00000)};
const std::vector<std::string> kResetDsi = {P(0x7FE01554, 0x444400AA), P(0x7FE00AA8, 0x11110055),
                                            P(0x7FE01554, 0x550000F0), R(0x7FE00000), R(0x7FE00000)};
const std::vector<std::string> kResetTs1 = {P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055),
                                            P(0x7FE01554, 0x00F000F0), R(0x7FE00000), R(0x7FE00000)};
const std::vector<std::string> kReset6070 = {P(0x7FF01554, 0x00AA00AA), P(0x7FF00AA8, 0x80548054),
                                             P(0x7FF01554, 0x00F000F0), R(0x7FF00000), R(0x7FF00000)};
const std::vector<std::string> kReset6170 = {P(0x7FC01554, 0x00AA00AA), P(0x7FC00AA8, 0x80548054),
                                             P(0x7FC01554, 0x00F000F0), R(0x7FC00000), R(0x7FC00000)};

const std::vector<std::string> kSectorErase6071 = {
    P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055), P(0x7FE01554, 0x00010080),
    P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055), P(0x7FE20000, 0x000C0030)};
const std::vector<std::string> kSectorEraseDsi = {
    P(0x7FE01554, 0x444400AA), P(0x7FE00AA8, 0x11110055), P(0x7FE01554, 0x40000080),
    P(0x7FE01554, 0x444400AA), P(0x7FE00AA8, 0x11110055), P(0x7FF20000, 0x05000030)};
const std::vector<std::string> kSectorEraseTs1 = {
    P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00800080),
    P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE20000, 0x00300030)};
const std::vector<std::string> kChipEraseTs1 = {
    P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00800080),
    P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00100010)};
const std::vector<std::string> kChipErase6070 = {
    P(0x7FF01554, 0x00F000F0), P(0x7FF01554, 0x00AA00AA), P(0x7FF00AA8, 0x80548054),
    P(0x7FF01554, 0x00800080), P(0x7FF01554, 0x00AA00AA), P(0x7FF00AA8, 0x80548054),
    P(0x7FF01554, 0x00100010)};
const std::vector<std::string> kChipErase6170 = {
    P(0x7FC01554, 0x00F000F0), P(0x7FC01554, 0x00AA00AA), P(0x7FC00AA8, 0x80548054),
    P(0x7FC01554, 0x00800080), P(0x7FC01554, 0x00AA00AA), P(0x7FC00AA8, 0x80548054),
    P(0x7FC01554, 0x00100010)};

const std::vector<std::string> kProgram6071 = {P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055),
                                               P(0x7FE01554, 0x000500A0), P(0x7FE00000, kBus),
                                               R(0x7FE00000, kBus), R(0x7FE00000, kBus)};
const std::vector<std::string> kProgramDsi = {P(0x7FE01554, 0x444400AA), P(0x7FE00AA8, 0x11110055),
                                              P(0x7FE01554, 0x440000A0), P(0x7FF00000, kBus),
                                              R(0x7FF00000, kBus), R(0x7FF00000, kBus)};
const std::vector<std::string> kProgramTs1 = {P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055),
                                              P(0x7FE01554, 0x00A000A0), P(0x7FE00000, kBus),
                                              R(0x7FE00000, kBus), R(0x7FE00000, kBus)};
const std::vector<std::string> kProgram6070 = {
    P(0x7FF01554, 0x00F000F0), P(0x7FF01554, 0x00AA00AA), P(0x7FF00AA8, 0x80548054),
    P(0x7FF01554, 0x00A000A0), P(0x7FF00000, kBus), R(0x7FF00000, kBus), R(0x7FF00000, kBus)};
const std::vector<std::string> kProgram6170 = {
    P(0x7FC01554, 0x00F000F0), P(0x7FC01554, 0x00AA00AA), P(0x7FC00AA8, 0x80548054),
    P(0x7FC01554, 0x00A000A0), P(0x7FC00000, kBus), R(0x7FC00000, kBus), R(0x7FC00000, kBus)};

// clang-format off
const SequenceCase kSequences[] = {
  {"DSX6071Reset", Model::DSX6071_6072, Op::Reset, 0, kReset6071},
  {"DSX6071EraseSector", Model::DSX6071_6072, Op::EraseSector, 0x7FE20000,
   Join({kSectorErase6071, Times(3, R(0x7FE20000))})},
  {"DSX6071EraseChipIsTheSectorErase", Model::DSX6071_6072, Op::EraseChip, 0x7FE20000,
   Join({kSectorErase6071, Times(3, R(0x7FE20000))})},
  {"DSX6071CheckSector", Model::DSX6071_6072, Op::CheckSector, 0x7FE20000,
   Join({{P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055), P(0x7FE01554, 0x00090090),
          R(0x7FE20008), R(0x7FE20008)}, kReset6071})},
  {"DSX6071Program", Model::DSX6071_6072, Op::Program, 0x7FE00000, kProgram6071},

  {"DSI185Reset", Model::DSI185, Op::Reset, 0, kResetDsi},
  {"DSI185EraseSector", Model::DSI185, Op::EraseSector, 0x7FF20000,
   Join({kSectorEraseDsi, Times(3, R(0x7FF20000))})},
  {"DSI185EraseChipIsTheSectorErase", Model::DSI185, Op::EraseChip, 0x7FF20000,
   Join({kSectorEraseDsi, Times(3, R(0x7FF20000))})},
  {"DSI185CheckSector", Model::DSI185, Op::CheckSector, 0x7FF20000,
   Join({{P(0x7FE01554, 0x444400AA), P(0x7FE00AA8, 0x11110055), P(0x7FE01554, 0x41000090),
          R(0x7FF20008), R(0x7FF20008)}, kResetDsi})},
  {"DSI185Program", Model::DSI185, Op::Program, 0x7FF00000, kProgramDsi},

  {"TS1Reset", Model::TS1, Op::Reset, 0, kResetTs1},
  {"TS1EraseSector", Model::TS1, Op::EraseSector, 0x7FE20000,
   Join({kSectorEraseTs1, Times(3, R(0x7FE20000))})},
  {"TS1EraseChipGoesToTheCommandAddress", Model::TS1, Op::EraseChip, 0x7FE20000,
   Join({kChipEraseTs1, Times(3, R(0x7FE20000))})},
  {"TS1CheckSector", Model::TS1, Op::CheckSector, 0x7FE20000,
   Join({{P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00900090),
          R(0x7FE20008), R(0x7FE20008)}, kResetTs1})},
  {"TS1Program", Model::TS1, Op::Program, 0x7FE00000, kProgramTs1},

  {"TVNboxReset", Model::TVNbox, Op::Reset, 0, kResetTs1},
  {"TVNboxNoSectorErase", Model::TVNbox, Op::EraseSector, 0x7FE20000, {}},
  {"TVNboxEraseChip", Model::TVNbox, Op::EraseChip, 0x7FE00000,
   Join({kChipEraseTs1, Times(3, R(0x7FE00000))})},
  {"TVNboxNoCheckSector", Model::TVNbox, Op::CheckSector, 0x7FE20000, {}},
  {"TVNboxProgram", Model::TVNbox, Op::Program, 0x7FE00000, kProgramTs1},

  {"STB3100Reset", Model::STB3100, Op::Reset, 0, kResetTs1},
  {"STB3100NoSectorErase", Model::STB3100, Op::EraseSector, 0x7FE20000, {}},
  {"STB3100EraseChip", Model::STB3100, Op::EraseChip, 0x7FE00000,
   Join({kChipEraseTs1, Times(3, R(0x7FE00000))})},
  {"STB3100NoCheckSector", Model::STB3100, Op::CheckSector, 0x7FE20000, {}},
  {"STB3100Program", Model::STB3100, Op::Program, 0x7FE00000, kProgramTs1},

  {"DSX6070ResetHasNoLeadingReset", Model::DSX6070, Op::Reset, 0, kReset6070},
  {"DSX6070NoSectorErase", Model::DSX6070, Op::EraseSector, 0x7FF00000, {}},
  {"DSX6070EraseChip", Model::DSX6070, Op::EraseChip, 0x7FF00000,
   Join({kChipErase6070, Times(3, R(0x7FF00000))})},
  {"DSX6070NoCheckSector", Model::DSX6070, Op::CheckSector, 0x7FF00000, {}},
  {"DSX6070Program", Model::DSX6070, Op::Program, 0x7FF00000, kProgram6070},

  {"DSX6170Reset", Model::DSX6170, Op::Reset, 0, kReset6170},
  {"DSX6170NoSectorErase", Model::DSX6170, Op::EraseSector, 0x7FC00000, {}},
  {"DSX6170EraseChip", Model::DSX6170, Op::EraseChip, 0x7FC00000,
   Join({kChipErase6170, Times(3, R(0x7FC00000))})},
  {"DSX6170NoCheckSector", Model::DSX6170, Op::CheckSector, 0x7FC00000, {}},
  {"DSX6170Program", Model::DSX6170, Op::Program, 0x7FC00000, kProgram6170},

  {"BCT13NoReset", Model::BCT13, Op::Reset, 0, {}},
  {"BCT13NoSectorErase", Model::BCT13, Op::EraseSector, 0x7FF00000, {}},
  {"BCT13NoChipErase", Model::BCT13, Op::EraseChip, 0x7FF00000, {}},
  {"BCT13NoCheckSector", Model::BCT13, Op::CheckSector, 0x7FF00000, {}},
  {"BCT13NoProgram", Model::BCT13, Op::Program, 0x7FF00000, {}},
};
// clang-format on

class FlashSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(FlashSequence, SendsExactlyTheseCycles) {
  const SequenceCase& c = GetParam();
  Rig rig(c.model);
  LogFixture log;
  log.Attach(rig.session);
  rig.port.onPeek = [&](uint32_t a) {
    return c.op == Op::Program && a == c.address ? kBus : 0xFFFFFFFFu;
  };
  switch (c.op) {
    case Op::Reset: ResetFlash(rig.session); break;
    case Op::EraseSector: EraseFlash(rig.session, c.address); break;
    case Op::EraseChip: EraseChip(rig.session, c.address); break;
    case Op::CheckSector: CheckSector(rig.session, c.address); break;
    case Op::Program: ProgramFlash(rig.session, c.address, kValue); break;
  }
  EXPECT_EQ(rig.port.Lines(), c.lines);
  EXPECT_TRUE(log.Lines().empty());
}

INSTANTIATE_TEST_SUITE_P(EveryModel, FlashSequence, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Sector protection: each chip's DQ0 in autoselect word 2, as each board wires it ----

struct ProtectionCase {
  Model model;
  uint32_t sector;
  uint32_t word;  // image order, at sector + 8
  std::optional<bool> isProtected;  // nothing: no protection status (array data)
};

class SectorProtection : public ::testing::TestWithParam<ProtectionCase> {};

TEST_P(SectorProtection, ReadsTheProtectionBitOfTheThirdWord) {
  const ProtectionCase& c = GetParam();
  Rig rig(c.model);
  const uint32_t bus = ByteSwap(c.word);
  rig.port.onPeek = [&](uint32_t a) { return a == c.sector + 8 ? bus : 0u; };
  EXPECT_EQ(CheckSector(rig.session, c.sector), c.isProtected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Words, SectorProtection, ::testing::Values(
    // Bit 15: bus bit 23, where the bit-reversed high half puts DQ0; bit 24: the low chip's.
    ProtectionCase{Model::DSX6071_6072, 0x7FE20000, 0x00008000, true},
    ProtectionCase{Model::DSX6071_6072, 0x7FE20000, 0x01000000, true},
    ProtectionCase{Model::DSX6071_6072, 0x7FE20000, 0x00000000, false},
    ProtectionCase{Model::DSX6071_6072, 0x7FE20000, 0xFFFF7FFF, std::nullopt},
    ProtectionCase{Model::DSX6071_6072, 0x7FE20000, 0x01000100, std::nullopt},
    // Bit 8: bus bit 16, DQ0 of a high chip wired straight or interleaved.
    ProtectionCase{Model::DSI185, 0x7FF20000, 0x00000100, true},
    ProtectionCase{Model::DSI185, 0x7FF20000, 0x01000000, true},
    ProtectionCase{Model::DSI185, 0x7FF20000, 0xFFFFFEFF, std::nullopt},
    ProtectionCase{Model::TS1, 0x7FE20000, 0x01000100, true},
    ProtectionCase{Model::TS1, 0x7FE20000, 0x00008000, std::nullopt}));
// clang-format on

// ---- Erase polling ----

struct ErasePollCase {
  const char* name;
  std::function<bool(int read)> erased;  // reads of A are numbered from 1
  int pokes, reads;
  int64_t sleptMs;
  std::vector<std::string> log;
};

const int kLimit = kSectorEraseSequenceLimit;
const std::string kEraseError = "Erase error address : 7FE08000";

// clang-format off
const ErasePollCase kErasePolls[] = {
  {"ErasedAtFirstPoll", [](int) { return true; }, 6, 3, 1, {}},
  {"ErasedAtTheLastPollOfAPass", [](int n) { return n >= 1001; }, 6, 1003, 1001, {}},
  {"ErasedAtTheReadAfterThePass", [](int n) { return n >= 1002; }, 6, 1003, 1001, {}},
  // A read after the pass that is not erased is read again: the second read decides.
  {"ErasedRightAfterThePass", [](int n) { return n >= 1003; }, 6, 1005, 1001, {}},
  {"ErasedInTheSecondPass", [](int n) { return n >= 1005; }, 12, 1007, 1003, {}},
  {"NeverErased", [](int) { return false; }, 6 * kLimit, 1003 * kLimit + 2, 1001 * kLimit,
   {kEraseError}},
  {"ErasedButNotAtTheLastRead", [](int n) { return n <= 2; }, 6, 4, 1, {kEraseError}},
};
// clang-format on

class ErasePolling : public ::testing::TestWithParam<ErasePollCase> {};

TEST_P(ErasePolling, CountsAndLog) {
  const ErasePollCase& c = GetParam();
  Rig rig(Model::DSX6071_6072);
  LogFixture log;
  log.Attach(rig.session);
  int reads = 0;
  rig.port.onPeek = [&](uint32_t a) {
    EXPECT_EQ(a, 0x7FE08000u);
    return c.erased(++reads) ? 0xFFFFFFFFu : 0x12345678u;
  };
  EXPECT_EQ(EraseFlash(rig.session, 0x7FE08000), c.log.empty());
  EXPECT_EQ(rig.port.Pokes().size(), static_cast<size_t>(c.pokes));
  EXPECT_EQ(reads, c.reads);
  EXPECT_EQ(rig.clock.sleptMs, c.sleptMs);
  EXPECT_EQ(rig.clock.delayedUs, 0) << "erase polling sleeps, it does not spin";
  // One sleep is one poll: the window gets its turn at each, a chip erase lasts seconds.
  EXPECT_EQ(rig.host.processMessagesCalls, c.sleptMs);
  EXPECT_EQ(log.Lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(Passes, ErasePolling, ::testing::ValuesIn(kErasePolls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ErasePolling, ChipEraseThatNeverEndsRepeatsTheWholeSequenceThenLogsTheWatchedWord) {
  Rig rig(Model::DSX6070);
  LogFixture log;
  log.Attach(rig.session);
  rig.port.onPeek = [](uint32_t) { return 0u; };
  EXPECT_FALSE(EraseChip(rig.session, 0x7FF00000));
  const auto pokes = rig.port.Pokes();
  ASSERT_EQ(pokes.size(), 7u * kChipEraseSequenceLimit);
  for (size_t i = 0; i < pokes.size(); i += 7) {
    EXPECT_EQ(pokes[i].value, 0x00F000F0u) << "each pass starts with the lone reset";
    EXPECT_EQ(pokes[i + 6].address, 0x7FF01554u);
    EXPECT_EQ(pokes[i + 6].value, 0x00100010u);
  }
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Erase error address : 7FF00000"}));
}

// ---- Program polling and retries ----

struct ProgramPollCase {
  const char* name;
  std::function<bool(int read)> verified;  // reads of A, numbered from 1
  int pokes, reads;
  int64_t delayedUs;
  std::vector<std::string> log;
  bool programmed = true;
};

const std::string kFailed =
    "Programming failed 7FE00010 Read: 12340000 Should be: 12345678";
const std::string kNotEqual = "Data not equal!!!!!!!!!! 7FE00010 : 12340000 / 12345678";
const std::string kReadAgain =
    "Read again 7FE00010 : 12345678: the link corrupted the read, not the flash";
const int kAttempts = kProgramAttemptLimit;

// clang-format off
const ProgramPollCase kProgramPolls[] = {
  {"VerifiesAtFirstRead", [](int) { return true; }, 4, 2, 200, {}},
  {"VerifiesAtTheLastReadOfAnAttempt", [](int n) { return n >= 301; }, 4, 302, 301 * 200, {}},
  {"VerifiesInTheSecondAttempt", [](int n) { return n >= 302; }, 4 + 3 + 4, 303, 302 * 200,
   {kFailed}},
  {"NeverVerifies", [](int) { return false; }, 7 * kAttempts, 301 * kAttempts + 2,
   301 * 200 * kAttempts, Join({Times(kAttempts, kFailed), {kNotEqual}}), false},
  // The final read is read again: two reads that agree say whether the chips took the word.
  {"VerifiesThenReadsWrong", [](int n) { return n == 1; }, 4, 3, 200, {kNotEqual}, false},
  {"VerifiesThenTheLinkCorruptsARead", [](int n) { return n != 2; }, 4, 4, 200,
   {kNotEqual, kReadAgain}},
};
// clang-format on

class ProgramPolling : public ::testing::TestWithParam<ProgramPollCase> {};

TEST_P(ProgramPolling, CountsAndLog) {
  const ProgramPollCase& c = GetParam();
  Rig rig(Model::DSX6071_6072);
  LogFixture log;
  log.Attach(rig.session);
  int reads = 0;
  rig.port.onPeek = [&](uint32_t a) {
    if (a != 0x7FE00010) return 0xFFFFFFFFu;  // the reset's read-back
    return c.verified(++reads) ? 0x78563412u : 0x00003412u;
  };
  const bool verified = ProgramFlash(rig.session, 0x7FE00010, 0x12345678);
  EXPECT_EQ(verified, c.programmed);
  EXPECT_EQ(rig.port.Pokes().size(), static_cast<size_t>(c.pokes));
  EXPECT_EQ(reads, c.reads);
  EXPECT_EQ(rig.clock.delayedUs, c.delayedUs);
  EXPECT_EQ(rig.clock.sleptMs, 0) << "the verify wait is a busy-wait";
  EXPECT_EQ(log.Lines(), c.log);
}

INSTANTIATE_TEST_SUITE_P(Attempts, ProgramPolling, ::testing::ValuesIn(kProgramPolls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProgramPolling, FailedAttemptResetsTheFlashThenRepeatsCommandAndData) {
  Rig rig(Model::DSX6071_6072);
  int reads = 0;
  rig.port.onPeek = [&](uint32_t a) {
    if (a != 0x7FE00010) return 0xFFFFFFFFu;
    return ++reads > 301 ? 0x78563412u : 0u;
  };
  ProgramFlash(rig.session, 0x7FE00010, 0x12345678);
  const auto lines = rig.port.Lines();
  ASSERT_EQ(lines.size(), 4u + 301 + 5 + 4 + 2);
  const std::vector<std::string> program = {P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055),
                                            P(0x7FE01554, 0x000500A0), P(0x7FE00010, 0x78563412)};
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4), program);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 305, lines.begin() + 310), kReset6071);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 310, lines.begin() + 314), program);
}

TEST(ProgramPolling, WithoutAnOpenLogFailuresStillEndAtTheLimit) {
  Rig rig(Model::TS1);
  int reads = 0;
  rig.port.onPeek = [&](uint32_t a) {
    if (a == 0x7FE00010) ++reads;
    return 0u;
  };
  ProgramFlash(rig.session, 0x7FE00010, 0x12345678);
  EXPECT_EQ(reads, 301 * kAttempts + 2);
}

}  // namespace
}  // namespace corvane::testing
