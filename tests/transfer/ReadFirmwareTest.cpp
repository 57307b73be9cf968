#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "flash/FlashEngine.h"
#include "link/Text.h"
#include "support/FakeRig.h"
#include "support/SimRig.h"
#include "target/Connection.h"
#include "transfer/Firmware.h"
#include "transfer/ImageFile.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

const char* const kFilter = "Binary file (*.bin) | *.BIN";
const char* const kQuestion =
    "Stop reading the firmware? The file will not be written; an existing file keeps its old "
    "contents.";

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// The fake decoder with a read-back file in a temporary folder.
struct ReadRig {
  explicit ReadRig(Model model) : rig(model) {
    rig.host.recordStatusHistory = true;
    // A word that tells its address: bus value = address + 1, so byte order shows.
    rig.port.onPeek = [](uint32_t a) { return a + 1; };
  }
  TempDir dir;
  FakeRig rig;
  std::string path() const { return dir / "flash.bin"; }
  // Peeks after Connect's set-up pokes.
  std::vector<uint32_t> PeekAddresses() const {
    std::vector<uint32_t> out;
    for (const auto& t : rig.port.transactions) {
      if (t.kind == FakeDecoderPort::Kind::Peek) out.push_back(t.address);
    }
    return out;
  }
  size_t PokesAfterSetup() const {
    const size_t setup =
        MemoryInterfaceWrites(rig.session.profile.profile().DecoderType, false).size();
    return rig.port.Pokes().size() - setup;
  }
  void ExpectClosed() {
    EXPECT_EQ(rig.host.saveFilter, kRestingFilter);
    EXPECT_EQ(rig.host.status, "");
    EXPECT_EQ(rig.host.progressPosition, 0);
    EXPECT_EQ(rig.port.PortIn(kEcrPort), 0x15) << "Disconnect hands the port back";
  }
};

TEST(ReadFirmware, CancelCreatesNothingAndClosesEverything) {
  ReadRig b(Model::DSX6071_6072);
  SimRig::WriteFile(b.path(), {1, 2, 3});
  ReadFirmware(b.rig.session);
  EXPECT_EQ(b.rig.host.dialogsRun, std::vector<Dialog>{Dialog::Save});
  EXPECT_EQ(b.rig.host.dialogFilters, std::vector<std::string>{kFilter});
  EXPECT_TRUE(b.PeekAddresses().empty());
  EXPECT_TRUE(b.rig.host.messages.empty());
  EXPECT_EQ(b.rig.host.statusHistory, (std::vector<std::string>{"Connecting...", ""}));
  EXPECT_EQ(SimRig::ReadFile(b.path()), (std::vector<uint8_t>{1, 2, 3}));
  b.ExpectClosed();
}

TEST(ReadFirmware, AbortBetweenWordsWritesNothingAndKeepsTheOldFile) {
  ReadRig b(Model::DSX6071_6072);
  SimRig::WriteFile(b.path(), {1, 2, 3});
  b.rig.host.dialogPaths.push_back(b.path());
  b.rig.host.abortAfterMessages = 3;
  b.rig.host.answers.push_back(Answer::Yes);
  ReadFirmware(b.rig.session);
  EXPECT_EQ(b.PeekAddresses(), (std::vector<uint32_t>{0x7FE00000, 0x7FE00004, 0x7FE00008}));
  EXPECT_EQ(b.PokesAfterSetup(), 0u) << "reading never commands the flash";
  ASSERT_EQ(b.rig.host.messages.size(), 1u);
  EXPECT_EQ(b.rig.host.messages[0].kind, MessageKind::Confirmation);
  EXPECT_EQ(b.rig.host.messages[0].buttons, Buttons::YesNo);
  EXPECT_EQ(b.rig.host.messages[0].text, kQuestion);
  EXPECT_EQ(b.rig.host.statusHistory,
            (std::vector<std::string>{"Connecting...", "Reading Firmware...", "7FE00000",
                                      "7FE00004", "7FE00008", ""}));
  EXPECT_EQ(b.rig.host.progressMin, 0);
  EXPECT_EQ(b.rig.host.progressMax, 0x80000);
  EXPECT_EQ(b.rig.host.maxProgressPosition, 2);
  EXPECT_EQ(SimRig::ReadFile(b.path()), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Names(b.dir.path()), std::vector<std::string>{"flash.bin"}) << "no temporary file";
  b.ExpectClosed();
}

TEST(ReadFirmware, AFileThatCannotBeCreatedIsOneErrorAndNothingIsRead) {
  ReadRig b(Model::TS1);
  const std::string path = b.dir / "missing/flash.bin";
  b.rig.host.dialogPaths.push_back(path);
  ReadFirmware(b.rig.session);
  EXPECT_TRUE(b.PeekAddresses().empty());
  ASSERT_EQ(b.rig.host.messages.size(), 1u);
  EXPECT_EQ(b.rig.host.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(b.rig.host.messages[0].text,
            "Cannot create the file " + path + ": No such file or directory.");
  b.ExpectClosed();
}

// ---- End to end through the virtual decoder ----

struct ModelRange {
  Model model;
  uint32_t base, bytes;
};

class ReadFirmwareSim : public ::testing::TestWithParam<ModelRange> {};

TEST_P(ReadFirmwareSim, ReadsBackTheDecodersFlashByteForByte) {
  const ModelRange& m = GetParam();
  SimRig rig(m.model);
  std::vector<uint8_t> image(m.bytes);
  std::mt19937 random(static_cast<uint32_t>(m.base ^ m.bytes ^ static_cast<uint32_t>(m.model)));
  for (auto& b : image) b = static_cast<uint8_t>(random());
  SimRig::WriteFile(rig.decoderDir() + "/flash.bin", image);
  rig.Reopen();
  rig.vd().ResetStats();
  rig.host.dialogPaths.push_back(rig.path("read.bin"));
  rig.host.abortAfterMessages = 2;
  rig.host.answers.push_back(Answer::No);  // the user thinks better of stopping

  const auto start = std::chrono::steady_clock::now();
  ReadFirmware(rig.session);
  const auto wall = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(rig.host.MessageTexts(),
            (std::vector<std::string>{kQuestion, "Reading Flash completed."}));
  EXPECT_EQ(rig.host.messages.back().kind, MessageKind::Information);
  EXPECT_TRUE(SimRig::ReadFile(rig.path("read.bin")) == image) << "read differs from flash.bin";
  // No temporary file left, and reading writes no log.
  EXPECT_EQ(Names(rig.dir.path()),
            (std::vector<std::string>{ModelFolderName(m.model), "read.bin"}));
  // The range is the word count; the last position one short of it.
  EXPECT_EQ(rig.host.progressMax, static_cast<int>(m.bytes / 4));
  EXPECT_EQ(rig.host.maxProgressPosition, static_cast<int>(m.bytes / 4) - 1);
  EXPECT_EQ(rig.host.processMessagesCalls, static_cast<long>(m.bytes / 4));
  EXPECT_EQ(rig.host.progressPosition, 0);
  EXPECT_EQ(rig.host.status, "");
  EXPECT_EQ(rig.host.saveFilter, kRestingFilter);
  EXPECT_EQ(rig.vd().stats().peeks, m.bytes / 4);
  EXPECT_EQ(rig.vd().stats().pokes,
            MemoryInterfaceWrites(ProfileOf(m.model).DecoderType, false).size());
  EXPECT_TRUE(rig.vd().PortReleased());
  RecordProperty("wall_ms", static_cast<int>(
                                std::chrono::duration_cast<std::chrono::milliseconds>(wall).count()));
  RecordProperty("virtual_ms", static_cast<int>(rig.vd().stats().virtualTimeUs / 1000));
  std::printf("%s: %u KB read in %lld ms; the hardware would take %lld ms\n",
              ProfileOf(m.model).caption, m.bytes / 1024,
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(wall).count()),
              static_cast<long long>(rig.vd().stats().virtualTimeUs / 1000));
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, ReadFirmwareSim,
    ::testing::Values(ModelRange{Model::DSX6071_6072, 0x7FE00000, 0x200000},
                      ModelRange{Model::DSI185, 0x7FF00000, 0x100000},
                      ModelRange{Model::BCT13, 0x7FF00000, 0x100000},
                      ModelRange{Model::TS1, 0x7FE00000, 0x200000},
                      ModelRange{Model::DSX6070, 0x7FF00000, 0x100000},
                      ModelRange{Model::TVNbox, 0x7FE00000, 0x200000},
                      ModelRange{Model::STB3100, 0x7FE00000, 0x200000},
                      ModelRange{Model::DSX6170, 0x7FC00000, 0x400000}),
    [](const auto& info) { return ModelFolderName(info.param.model); });

TEST(ReadFirmwareSim, ADeadAdapterMidReadIsOneErrorAndTheOldFileStays) {
  // The set-up is 18 pokes of 9 bytes; then about a hundred peeks of 5 bytes pass.
  SimRig rig(Model::DSX6071_6072, "dead_after_bytes = 662");
  const std::string path = rig.path("flash.bin");
  SimRig::WriteFile(path, {1, 2, 3});
  rig.host.dialogPaths.push_back(path);
  ReadFirmware(rig.session);
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{kLinkErrorMessage});
  EXPECT_EQ(SimRig::ReadFile(path), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(rig.host.status, "");
  EXPECT_EQ(rig.host.saveFilter, kRestingFilter);
  EXPECT_TRUE(rig.vd().PortReleased());
  for (const auto& name : Names(rig.dir.path())) EXPECT_EQ(name.find(".flash.bin"), std::string::npos);
}

TEST(ReadFirmwareSim, NoAnswerAtConnectEndsAtOnceWithConnectingShown) {
  SimRig rig(Model::DSX6170, "dead_after_bytes = 1");
  rig.host.dialogPaths.push_back(rig.path("flash.bin"));
  ReadFirmware(rig.session);
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{kLinkErrorMessage});
  EXPECT_TRUE(rig.host.dialogsRun.empty());
  EXPECT_EQ(rig.host.status, "Connecting...");
  EXPECT_FALSE(fs::exists(rig.path("flash.bin")));
}

}  // namespace
}  // namespace corvane::testing
