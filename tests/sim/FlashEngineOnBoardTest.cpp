// The tool's flash engine against the boards: the two sides were written from different
// tables, so this is where a disagreement in a value, an address or a wiring shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "eeprom/corvane_ee.h"
#include "flash/FlashEngine.h"
#include "flash/Signature.h"
#include "sim/FlashBoard.h"
#include "sim/FlashChip.h"
#include "support/FakeDecoderPort.h"
#include "support/ScriptedHost.h"
#include "target/Session.h"
#include "transfer/FirmwareLog.h"

namespace corvane::sim {
namespace {

using corvane::testing::FakeDecoderPort;
using corvane::testing::ScriptedHost;

// The board's clock as the link sees it: every look at the time costs a microsecond, as a
// port access does, so a handshake that never completes ends as a LinkError, not a hang.
class LinkClock final : public Clock {
 public:
  explicit LinkClock(VirtualClock& c) : c_(c) {}
  void DelayMicroseconds(int64_t n) override { c_.DelayMicroseconds(n); }
  void SleepMilliseconds(int64_t ms) override { c_.SleepMilliseconds(ms); }
  int64_t Now() override {
    c_.Advance(1);
    return c_.now();
  }

 private:
  VirtualClock& c_;
};

// The engine over an ideal link whose flash addresses reach one board; the rest of the
// address space swallows pokes and reads 0. Waits advance the board's clock.
struct EngineRig {
  explicit EngineRig(Model m, const Conf& conf = {})
      : layout(*FlashBoardFor(ProfileOf(m).caption)), image(layout.size, 0xFF) {
    std::string error;
    board = MakeFlashBoard(layout.caption, conf, image, clock, &error);
    EXPECT_NE(board, nullptr) << error;
    port.onPeek = [this](uint32_t a) { return Decoded(a) ? board->Read(a) : 0u; };
    port.onPoke = [this](uint32_t a, uint32_t v) {
      if (Decoded(a)) board->Write(a, v);
    };
    session.profile.model = m;
    const auto dir = std::filesystem::path(::testing::TempDir()) / "flash-engine-on-board";
    std::filesystem::create_directories(dir);
    logPath = (dir / (std::string(ModelFolderName(m)) + ".log")).string();
    log = FirmwareLog::CreateLog(logPath, &error);
    EXPECT_NE(log, nullptr) << error;
    session.LogFile = log.get();
    link.LinkOpen();
  }
  bool Decoded(uint32_t a) const {
    return a - layout.base < layout.size || (layout.mirrorSize && a - layout.mirrorBase < layout.mirrorSize);
  }
  std::vector<std::string> LogLines() {
    std::ifstream in(logPath, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  // The bytes at address, in address order, as an image file holds them.
  uint32_t FileWord(uint32_t address) const {
    const size_t o = address - layout.base;
    return uint32_t{image[o]} << 24 | uint32_t{image[o + 1]} << 16 | uint32_t{image[o + 2]} << 8 |
           image[o + 3];
  }

  FlashBoardGeometry layout;
  std::vector<uint8_t> image;
  VirtualClock clock;
  std::unique_ptr<BusDevice> board;
  LinkClock linkClock{clock};
  FakeDecoderPort port;
  Link link{port, linkClock};
  EeBus ee{link};
  ScriptedHost host;
  Session session{link, ee, host, ProfileSnapshot{}, "", "", true, nullptr};
  std::string logPath;
  std::unique_ptr<FirmwareLog> log;
};

struct EngineCase {
  Model model;
  const char* device;  // the slowest chip erase of the parts the board takes
  int64_t minEraseUs;  // the erase must not end before the part could
  const char* erasePercent = "100";  // a slow part: its erases this much of typical
  int64_t giveUpUs = 0;              // what the write gives the part (its longest, and half)
};

void PrintTo(const EngineCase& c, std::ostream* os) {
  *os << ProfileOf(c.model).caption;
}

class EngineOnBoardTest : public ::testing::TestWithParam<EngineCase> {};

TEST_P(EngineOnBoardTest, EraseProgramAndSignatureAgree) {
  const EngineCase& c = GetParam();
  Conf conf;
  conf.Set("flash_device", c.device);
  conf.Set("erase_time_percent", c.erasePercent);
  EngineRig r(c.model, conf);
  const uint32_t base = r.layout.base, last = base + r.layout.size - 4;
  std::fill(r.image.begin(), r.image.end(), 0x00);

  // The whole-chip erase for chip-erase models, a sector erase of the first block for the
  // others (EraseChip of the first sector is what their Write Firmware does first).
  const int64_t t0 = r.clock.now();
  EraseChip(r.session, base, c.giveUpUs);
  EXPECT_GE(r.clock.now() - t0, c.minEraseUs);
  EXPECT_EQ(ReadFlash(r.session, base), 0xFFFFFFFFu);

  const uint32_t near = base + 0x1000;
  const uint32_t words[][2] = {{base, 0x12345678}, {near, 0x00FF00FF}, {base + 0x7FFC, 0xA5C3E10F}};
  for (const auto& [a, v] : words) ProgramFlash(r.session, a, v);
  for (const auto& [a, v] : words) {
    SCOPED_TRACE(a);
    EXPECT_EQ(ReadFlash(r.session, a), v);
    EXPECT_EQ(r.FileWord(a), v) << "image order is file order";
  }
  if (c.minEraseUs > 1'000'000) {  // a chip erase: the far end was erased too
    ProgramFlash(r.session, last, 0x0BADCAFE);
    EXPECT_EQ(r.FileWord(last), 0x0BADCAFEu);
  }
  EXPECT_EQ(r.LogLines(), std::vector<std::string>{});

  ReadSignature(r.session);
  ASSERT_EQ(r.host.messages.size(), 1u);
  EXPECT_EQ(r.host.messages[0].text.find("Unknown"), std::string::npos) << r.host.messages[0].text;
  EXPECT_EQ(ReadFlash(r.session, base), 0x12345678u) << "back to reading the array";
}

INSTANTIATE_TEST_SUITE_P(Models, EngineOnBoardTest,
                         ::testing::Values(EngineCase{Model::DSX6071_6072, "AM29LV800BB", 700'000},
                                           EngineCase{Model::DSI185, "AM29F400BB", 1'000'000},
                                           EngineCase{Model::TS1, "MBM29F800BA", 15'000'000},
                                           EngineCase{Model::TVNbox, "MBM29F800BA", 15'000'000},
                                           EngineCase{Model::STB3100, "MBM29F800BA", 15'000'000},
                                           EngineCase{Model::DSX6070, "AM29F400BB", 8'000'000},
                                           EngineCase{Model::DSX6170, "AM29LV160DB", 18'000'000},
                                           // 15 times typical: past the fixed pass limit
                                           EngineCase{Model::TS1, "MBM29F800BA", 225'000'000,
                                                      "1500", 337'500'000}),
                         [](const auto& info) {
                           return ModelFolderName(info.param.model) +
                                  (info.param.giveUpUs != 0 ? "_slow" : "");
                         });

TEST(EngineOnBoardTest, CheckSectorSeesProtectionOnDsx6071) {
  Conf conf;
  conf.Set("protected_sectors", "0x7FE20000, 0x7FFE0000");
  EngineRig r(Model::DSX6071_6072, conf);
  EXPECT_EQ(CheckSector(r.session, 0x7FE20000), std::optional<bool>(true));
  EXPECT_EQ(CheckSector(r.session, 0x7FFE0000), std::optional<bool>(true));
  EXPECT_EQ(CheckSector(r.session, 0x7FE00000), std::optional<bool>(false));
  EXPECT_EQ(CheckSector(r.session, 0x7FE40000), std::optional<bool>(false));
  EXPECT_EQ(ReadFlash(r.session, 0x7FE20000), 0xFFFFFFFFu) << "left reading the array";
}

TEST(EngineOnBoardTest, AWordThatCannotProgramIsLoggedAfterEveryAttempt) {
  Conf conf;
  conf.Set("stuck_bits", "0x7FE00100:0x00000001");
  EngineRig r(Model::TS1, conf);
  ProgramFlash(r.session, 0x7FE00100, 0x00000000);
  const auto lines = r.LogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kProgramAttemptLimit) + 1);
  for (int i = 0; i < kProgramAttemptLimit; ++i) {
    EXPECT_EQ(lines[i].rfind("Programming failed 7FE00100 Read: ", 0), 0u) << lines[i];
  }
  // Image order: the stuck bit 0 of the bus word is bit 24 here.
  EXPECT_EQ(lines.back(), "Data not equal!!!!!!!!!! 7FE00100 : 01000000 / 00000000");
  ProgramFlash(r.session, 0x7FE00104, 0x00000000);  // the chips were reset: the next word goes in
  EXPECT_EQ(r.LogLines().size(), lines.size());
}

}  // namespace
}  // namespace corvane::sim
