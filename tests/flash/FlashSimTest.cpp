#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "flash/FlashEngine.h"
#include "flash/Signature.h"
#include "link/Text.h"
#include "support/SimRig.h"
#include "target/Connection.h"
#include "transfer/FirmwareLog.h"
#include "transfer/ImageFile.h"

namespace corvane::testing {
namespace {

// A virtual decoder connected, with the firmware log open in its temporary folder.
struct EngineOnSim {
  EngineOnSim(Model model, const std::string& conf) : rig(model, conf) {}
  SimRig rig;
  std::unique_ptr<FirmwareLog> log;

  Session& s() { return rig.session; }
  // Puts words (image order) into flash.bin before the decoder is opened again.
  void Preload(uint32_t base, size_t bytes, std::initializer_list<std::pair<uint32_t, uint32_t>> words) {
    std::vector<uint8_t> image(bytes, 0xFF);
    for (const auto& [address, value] : words) PutFlashValue(&image[address - base], value);
    SimRig::WriteFile(rig.decoderDir() + "/flash.bin", image);
    rig.Reopen();
  }
  void Start() {
    ASSERT_TRUE(Connect(rig.session));
    std::string error;
    log = FirmwareLog::CreateLog(rig.path("Firmware.log"), &error);
    ASSERT_TRUE(log) << error;
    rig.session.LogFile = log.get();
  }
  std::vector<std::string> LogLines() const {
    std::ifstream in(rig.path("Firmware.log"), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find("\r\n", at);
      if (end == std::string::npos) {
        ADD_FAILURE() << "line without CR LF";
        break;
      }
      out.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return out;
  }
};

// ---- The chips each board is configured with, named by Read Signature ----

struct ChipCase {
  const char* name;
  Model model;
  const char* conf;
  const char* message;
};

// clang-format off
const ChipCase kChips[] = {
  {"DSX6071Default", Model::DSX6071_6072, "", "Manufacturer: AMD\nDevice: AM29LV800BB"},
  {"DSX6071Top", Model::DSX6071_6072, "flash_device = AM29LV800BT",
   "Manufacturer: AMD\nDevice: AM29LV800BT"},
  {"DSX6071St", Model::DSX6071_6072, "flash_device = M29W800DB",
   "Manufacturer: SGS-THOMSON\nDevice: M29W800DB"},
  {"DSI185Default", Model::DSI185, "", "Manufacturer: AMD\nDevice: AM29F400BB"},
  {"TS1Default", Model::TS1, "", "Manufacturer: AMD\nDevice: AM29F800BB"},
  {"TS1Top", Model::TS1, "flash_device = MBM29F800TA", "Manufacturer: AMD\nDevice: AM29F800BT"},
  {"TVNboxDefault", Model::TVNbox, "", "Manufacturer: AMD\nDevice: AM29F800BB"},
  {"STB3100Default", Model::STB3100, "", "Manufacturer: AMD\nDevice: AM29F800BB"},
  {"DSX6070Default", Model::DSX6070, "", "Manufacturer: AMD\nDevice: AM29F400BB"},
  {"DSX6170Default", Model::DSX6170, "", "Manufacturer: AMD\nDevice: AM29LV160DB"},
  // A maker no table lists: both words shown as read.
  {"DSX6071OtherMaker", Model::DSX6071_6072, "flash_maker = HYNIX",
   "Manufacturer: Unknown AD00B500\nDevice: Unknown 5B22DA44"},
};
// clang-format on

class SignatureSim : public ::testing::TestWithParam<ChipCase> {};

TEST_P(SignatureSim, ShowsTheConfiguredChips) {
  const ChipCase& c = GetParam();
  SimRig rig(c.model, c.conf);
  ReadSignature(rig.session);
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{c.message});
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Information);
  EXPECT_TRUE(rig.vd().PortReleased());
}

INSTANTIATE_TEST_SUITE_P(Boards, SignatureSim, ::testing::ValuesIn(kChips),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Sector protection ----

struct SectorCase {
  Model model;
  uint32_t base, bytes, protectedSector, freeSector;
};

class ProtectedSectorSim : public ::testing::TestWithParam<SectorCase> {};

TEST_P(ProtectedSectorSim, CheckSectorSeesItAndLeavesTheFlashReadable) {
  const SectorCase& c = GetParam();
  EngineOnSim b(c.model, "protected_sectors = 0x" + Hex8(c.protectedSector));
  b.Preload(c.base, c.bytes, {{c.base, 0x12345678}});
  b.Start();
  EXPECT_EQ(CheckSector(b.s(), c.protectedSector), std::optional<bool>(true));
  EXPECT_EQ(CheckSector(b.s(), c.freeSector), std::optional<bool>(false));
  EXPECT_EQ(ReadFlash(b.s(), c.base), 0x12345678u) << "read-array mode again";
}

INSTANTIATE_TEST_SUITE_P(
    SectorModels, ProtectedSectorSim,
    ::testing::Values(SectorCase{Model::DSX6071_6072, 0x7FE00000, 0x200000, 0x7FE20000, 0x7FE40000},
                      SectorCase{Model::DSI185, 0x7FF00000, 0x100000, 0x7FF20000, 0x7FF08000},
                      SectorCase{Model::TS1, 0x7FE00000, 0x200000, 0x7FE60000, 0x7FE20000}),
    [](const auto& info) { return ModelFolderName(info.param.model); });

TEST(EraseSim, AProtectedSectorEndsWithTheErrorLineAndKeepsItsData) {
  EngineOnSim b(Model::DSX6071_6072, "protected_sectors = 0x7FE20000");
  b.Preload(0x7FE00000, 0x200000, {{0x7FE20000, 0x12345678}, {0x7FE40000, 0x0BADF00D}});
  b.Start();
  EraseFlash(b.s(), 0x7FE20000);
  EXPECT_EQ(b.LogLines(), std::vector<std::string>{"Erase error address : 7FE20000"});
  EXPECT_EQ(ReadFlash(b.s(), 0x7FE20000), 0x12345678u);
  EraseFlash(b.s(), 0x7FE40000);
  EXPECT_EQ(b.LogLines().size(), 1u) << "the free sector erases without a line";
  EXPECT_EQ(ReadFlash(b.s(), 0x7FE40000), 0xFFFFFFFFu);
}

// ---- Whole-chip erases outlast a polling pass and still finish ----

struct ChipEraseCase {
  Model model;
  uint32_t base, bytes;
};

class ChipEraseSim : public ::testing::TestWithParam<ChipEraseCase> {};

TEST_P(ChipEraseSim, FinishesWithinTheLimitThenProgramsAndVerifies) {
  const ChipEraseCase& c = GetParam();
  EngineOnSim b(c.model, "");
  const uint32_t last = c.base + c.bytes - 4;
  b.Preload(c.base, c.bytes, {{c.base, 0}, {c.base + c.bytes / 2, 0x5555AAAA}, {last, 0x01020304}});
  b.Start();
  b.rig.vd().ResetStats();
  EraseChip(b.s(), c.base);
  const auto& stats = b.rig.vd().stats();
  EXPECT_GT(stats.pokes, 7u) << "the chip erase takes more than one polling pass";
  EXPECT_GT(stats.virtualTimeUs, 1'000'000);
  for (uint32_t a : {c.base, c.base + c.bytes / 2, last}) EXPECT_EQ(ReadFlash(b.s(), a), 0xFFFFFFFFu);

  ProgramFlash(b.s(), c.base + 0x10, 0xCAFEBABE);
  ProgramFlash(b.s(), last, 0x00000001);
  EXPECT_EQ(ReadFlash(b.s(), c.base + 0x10), 0xCAFEBABEu);
  EXPECT_EQ(ReadFlash(b.s(), last), 0x00000001u);
  EXPECT_TRUE(b.LogLines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    ChipModels, ChipEraseSim,
    ::testing::Values(ChipEraseCase{Model::TS1, 0x7FE00000, 0x200000},
                      ChipEraseCase{Model::DSX6170, 0x7FC00000, 0x400000}),
    [](const auto& info) { return ModelFolderName(info.param.model); });

// ---- Programming on every board ----

struct ProgramCase {
  Model model;
  uint32_t address;
};

class ProgramSim : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramSim, AWordProgramsAndReadsBackInImageOrder) {
  const ProgramCase& c = GetParam();
  EngineOnSim b(c.model, "");
  b.Start();
  ProgramFlash(b.s(), c.address, 0x1234ABCD);
  ProgramFlash(b.s(), c.address + 4, 0x80000001);
  EXPECT_EQ(ReadFlash(b.s(), c.address), 0x1234ABCDu);
  EXPECT_EQ(ReadFlash(b.s(), c.address + 4), 0x80000001u);
  EXPECT_EQ(b.rig.link.Peek(c.address), 0xCDAB3412u) << "bus order on the link";
  EXPECT_TRUE(b.LogLines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    CommandedModels, ProgramSim,
    ::testing::Values(ProgramCase{Model::DSX6071_6072, 0x7FE80010},
                      ProgramCase{Model::DSI185, 0x7FF40010}, ProgramCase{Model::TS1, 0x7FE00100},
                      ProgramCase{Model::DSX6070, 0x7FF00100},
                      ProgramCase{Model::TVNbox, 0x7FFFFFF0},
                      ProgramCase{Model::STB3100, 0x7FE10000},
                      ProgramCase{Model::DSX6170, 0x7FC00100}),
    [](const auto& info) { return ModelFolderName(info.param.model); });

TEST(ProgramSim, AStuckBitEndsWithTheAttemptLinesAndTheMismatch) {
  EngineOnSim b(Model::DSX6071_6072, "stuck_bits = 0x7FE00010:0x00000100");
  b.Start();
  ProgramFlash(b.s(), 0x7FE00010, 0x00000000);
  const auto lines = b.LogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kProgramAttemptLimit) + 1);
  for (int i = 0; i < kProgramAttemptLimit; ++i) {
    EXPECT_EQ(lines[i].rfind("Programming failed 7FE00010 Read: ", 0), 0u) << lines[i];
    EXPECT_EQ(lines[i].substr(lines[i].size() - 20), " Should be: 00000000") << lines[i];
  }
  EXPECT_EQ(lines.back(), "Data not equal!!!!!!!!!! 7FE00010 : 00010000 / 00000000");
  EXPECT_EQ(ReadFlash(b.s(), 0x7FE00014), 0xFFFFFFFFu) << "its neighbour is untouched";
}

}  // namespace
}  // namespace corvane::testing
