#include <gtest/gtest.h>

#include <algorithm>

#include "link/Text.h"
#include "transfer/RamDump.h"
#include "transfer/TransferTestKit.h"

// The RAM dumps: the table and its names, and the routine's traffic and file over the fake.
namespace corvane::testing {
namespace {

using kit::CommandRig;

struct RowCase {
  Model model;  // whose row names the region
  const char* name;
  uint32_t start, words;
  uint64_t fileBytes;
  uint32_t lastAddress;
};

class RamDumpTableTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(RamDumpTableTest, RowAndNames) {
  const RowCase& c = GetParam();
  const auto dumps = ProfileOf(c.model).ramDumps;
  const auto mine = std::find_if(dumps.begin(), dumps.end(),
                                 [&](const RamRegion& r) { return std::string(r.name) == c.name; });
  ASSERT_NE(mine, dumps.end()) << c.name << " is not in its model's row";
  const RamRegion& r = *mine;
  EXPECT_EQ(r.start, c.start);
  EXPECT_EQ(r.words, c.words);
  EXPECT_EQ(4ull * r.words, c.fileBytes);
  EXPECT_EQ(r.start + 4 * (r.words - 1), c.lastAddress);
  std::string lower = c.name, upper = c.name;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (const std::string& n : {std::string(c.name), lower, upper}) {
    EXPECT_EQ(RamRegionNamed(n), &r) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RamDumpTableTest,
    ::testing::Values(
        RowCase{Model::DSX6071_6072, "6071", 0x40000000, 0x100000, 4194304, 0x403FFFFC},
        RowCase{Model::DSX6071_6072, "6072", 0xC0400000, 0x80000, 2097152, 0xC05FFFFC},
        // 0x8000800 words, not 0x80800: 512 MB and 8 KB.
        RowCase{Model::BCT13, "BCT13", 0x80000000, 0x8000800, 536879104, 0xA0001FFC},
        RowCase{Model::DSI185, "DSI185", 0x80000000, 0x80800, 2105344, 0x80201FFC},
        RowCase{Model::TVNbox, "TVNbox", 0x80000000, 0x100000, 4194304, 0x803FFFFC}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RamRegionNamed, RejectsOtherNames) {
  for (const char* n : {"", "607", "60711", "TVN box", "BCT1", "dsi 185", "RAM"})
    EXPECT_EQ(RamRegionNamed(n), nullptr) << n;
}

TEST(RamDump, PeeksEachWordAndStoresItInBusOrder) {
  CommandRig b(Model::DSX6071_6072);
  b.rig.port.onPeek = [](uint32_t a) { return a == 0xC0400000 ? 0x11223344u : ~a; };
  b.host().dialogPaths = {b.dir / "ram.bin"};
  b.host().recordStatusHistory = true;
  const RamRegion small{"6072", 0xC0400000, 16};

  RamDump(b.s(), small);

  std::vector<std::string> lines, statuses = {"Connecting...", "Reading RAM..."};
  for (uint32_t i = 0; i < 16; ++i) {
    const uint32_t a = 0xC0400000 + 4 * i;
    lines.push_back("peek " + Hex8(a) + " " + Hex8(i == 0 ? 0x11223344u : ~a));
    statuses.push_back(Hex8(a));
  }
  statuses.push_back("");
  std::vector<std::string> traffic = b.rig.port.Lines();
  traffic.erase(traffic.begin(),
                traffic.begin() + static_cast<long>(kit::AfterConnectIndex(b.rig)));
  EXPECT_EQ(traffic, lines);
  EXPECT_EQ(b.host().statusHistory, statuses);

  const auto file = kit::ReadBytes(b.dir / "ram.bin");
  ASSERT_EQ(file.size(), 64u);
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 4),
            (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(RamValue(&file[60]), ~0xC040003Cu);
  EXPECT_EQ(b.host().progressMax, 16);
  EXPECT_EQ(b.host().maxProgressPosition, 15);
  EXPECT_EQ(b.host().progressPosition, 0);
  EXPECT_EQ(b.host().MessageTexts(), (std::vector<std::string>{"Reading RAM completed."}));
  EXPECT_EQ(b.host().messages[0].kind, MessageKind::Information);
  EXPECT_EQ(b.host().dialogFilters, (std::vector<std::string>{"Binary file (*.bin) | *.BIN"}));
  EXPECT_EQ(b.host().saveFilter, kRestingFilter);
}

TEST(RamDump, CancelReadsNothingAndCreatesNothing) {
  CommandRig b(Model::BCT13);
  RamDump(b.s(), *RamRegionNamed("BCT13"));
  EXPECT_TRUE(kit::AfterConnect(b.rig).empty());
  EXPECT_TRUE(kit::fs::is_empty(b.dir.path()));
  EXPECT_TRUE(b.host().messages.empty());
  EXPECT_EQ(b.host().saveFilter, kRestingFilter);
  EXPECT_EQ(b.host().status, "");
}

// The 512 MB dump runs through the same routine; stopping it early leaves no file behind.
TEST(RamDump, StoppedBct13DumpLeavesTheOldFileAlone) {
  CommandRig b(Model::BCT13);
  kit::WriteBytes(b.dir / "ram.bin", {'o', 'l', 'd'});
  b.host().dialogPaths = {b.dir / "ram.bin"};
  b.host().abortAfterMessages = 500;
  b.host().answers = {Answer::Yes};
  RamDump(b.s(), *RamRegionNamed("BCT13"));
  EXPECT_EQ(b.host().progressMax, 0x8000800);
  EXPECT_EQ(kit::AfterConnect(b.rig).size(), 500u);
  EXPECT_EQ(kit::ReadBytes(b.dir / "ram.bin"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : kit::fs::directory_iterator(b.dir.path())) ++files;
  EXPECT_EQ(files, 1u);
  EXPECT_EQ(b.host().MessageTexts(),
            (std::vector<std::string>{"Stop reading RAM? No file will be saved."}));
}

}  // namespace
}  // namespace corvane::testing
