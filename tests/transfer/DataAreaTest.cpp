#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "link/Text.h"
#include "transfer/DataArea.h"
#include "transfer/TransferTestKit.h"

// Write and Read Data Area over the fake decoder: per-profile addresses and loaders, the
// read-back, the input checks and the profiles that have nothing to transfer.
namespace corvane::testing {
namespace {

using kit::CommandRig;
using Kind = FakeDecoderPort::Kind;

constexpr uint32_t kWords = 0x20000;

std::vector<uint8_t> DataImage() {
  std::vector<uint8_t> out(4 * kWords);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 13 + (i >> 10));
  return out;
}

uint32_t RamWordAt(const std::vector<uint8_t>& image, size_t word) {
  return RamValue(&image[4 * word]);
}

std::vector<std::string> FileNames(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& e : kit::fs::directory_iterator(dir.path())) out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

struct WriteCase {
  const char* name;
  Model model;
  uint32_t ramBase;
  const char* loader;
  uint32_t readStart;
  long corruptWord;  // a word the data area does not take; -1: none
  std::vector<std::string> messages;
};
void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteDataAreaTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteDataAreaTest, CopiesUploadsTheProfilesLoaderAndReadsBack) {
  const WriteCase& c = GetParam();
  CommandRig b(c.model);
  const auto image = DataImage();
  kit::WriteBytes(b.dir / "data.bin", image);
  const std::vector<uint8_t> loader = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70};
  kit::WriteBytes(b.dir / c.loader, loader);  // the only loader there: a wrong name fails
  // The data area answers with what the loader would have written.
  b.rig.port.onPeek = [&](uint32_t a) -> uint32_t {
    if (a < c.readStart || a - c.readStart >= 4 * kWords) return 0;
    const size_t word = (a - c.readStart) / 4;
    return RamWordAt(image, word) ^ (static_cast<long>(word) == c.corruptWord ? 0x100u : 0u);
  };
  kit::KeepScratchWord(b.rig.port, ProfileOf(c.model).scratchWord);
  b.host().dialogPaths = {b.dir / "data.bin"};
  b.s().fullWrite = true;  // the area already reads as the file: the loader runs anyway

  WriteDataArea(b.s());

  auto after = kit::AfterConnect(b.rig);
  ASSERT_GT(after.size(), kit::kRoundTripTransactions);
  after.erase(after.begin(), after.begin() + kit::kRoundTripTransactions);
  // A word that does not match is read once more before it counts as wrong.
  ASSERT_EQ(after.size(), 2 * kWords + 2 + (c.corruptWord < 0 ? 0 : 1));
  for (uint32_t i : {0u, 1u, kWords - 1}) {
    EXPECT_EQ(after[i].kind, Kind::Poke);
    EXPECT_EQ(after[i].address, c.ramBase + 4 * i);
    EXPECT_EQ(after[i].value, RamWordAt(image, i));
  }
  EXPECT_EQ(after[kWords].kind, Kind::Code);
  EXPECT_EQ(after[kWords].code, loader);
  // After the wait, one read to see the decoder answers again.
  EXPECT_EQ(after[kWords + 1].kind, Kind::Peek);
  EXPECT_EQ(after[kWords + 1].address, ProfileOf(c.model).PioBase + 0x10);
  // The read-back covers the data area word for word.
  EXPECT_EQ(after[kWords + 2].kind, Kind::Peek);
  EXPECT_EQ(after[kWords + 2].address, c.readStart);
  EXPECT_EQ(after.back().address, c.readStart + 4 * (kWords - 1));
  EXPECT_EQ(b.rig.clock.sleptMs, 100 + 15000);
  EXPECT_EQ(b.host().MessageTexts(), c.messages);
  EXPECT_EQ(b.host().dialogFilters, (std::vector<std::string>{"Binary file (*.bin)|*.BIN"}));
  EXPECT_EQ(b.host().openFilter, kRestingFilter);
  EXPECT_EQ(b.host().status, "");
  const auto log = kit::LogLines(b.LogPath());
  ASSERT_EQ(log.size(), c.corruptWord < 0 ? 2u : 3u);
  EXPECT_TRUE(kit::StartsWith(log.front(), "Firmware log file "));
  EXPECT_TRUE(kit::StartsWith(log.back(), "Done "));
}

INSTANTIATE_TEST_SUITE_P(Profiles, WriteDataAreaTest,
                         ::testing::Values(WriteCase{"dsi185",
                                                     Model::DSI185,
                                                     0x80002000,
                                                     "TRAPDATA.BIN",
                                                     0xFFF80000,
                                                     -1,
                                                     {"Writing Data Area completed. Read back and verified: 512 KB."}},
                                           WriteCase{"bct13",
                                                     Model::BCT13,
                                                     0x80002000,
                                                     "TRAPDATA.BIN",
                                                     0xFFF80000,
                                                     -1,
                                                     {"Writing Data Area completed. Read back and verified: 512 KB."}},
                                           WriteCase{"ts1",
                                                     Model::TS1,
                                                     0x80002000,
                                                     "TRAPPACE.bin",
                                                     0xC0000000,
                                                     -1,
                                                     {"Writing Data Area completed. Read back and verified: 512 KB."}},
                                           WriteCase{
                                               "dsx6070BadWord",
                                               Model::DSX6070,
                                               0x40000000,
                                               "TRAP6070.bin",
                                               0x50000000,
                                               0x40,
                                               {"Verify failed: 1 word differs, first at 50000100. "
                                                "No backup was made before this write: put back "
                                                "a file saved with Read Data Area before."}}),
                         [](const auto& info) { return std::string(info.param.name); });

// The loader rewrites the whole area: when a read finds the file already there, neither the
// copy nor the loader is sent, and the read stops at the first word that differs otherwise.
TEST(WriteDataArea, AnAreaThatHoldsTheFileIsLeftAlone) {
  for (const long differing : {-1L, 5L}) {
    CommandRig b(Model::TS1);
    const auto image = DataImage();
    kit::WriteBytes(b.dir / "data.bin", image);
    kit::WriteBytes(b.dir / "TRAPPACE.bin", {0x10, 0x20});
    b.rig.port.onPeek = [&](uint32_t a) -> uint32_t {
      if (a < 0xC0000000 || a - 0xC0000000 >= 4 * kWords) return 0;
      const long word = static_cast<long>((a - 0xC0000000) / 4);
      return RamWordAt(image, static_cast<size_t>(word)) ^ (word == differing ? 1u : 0u);
    };
    kit::KeepScratchWord(b.rig.port, ProfileOf(Model::TS1).scratchWord);
    b.host().dialogPaths = {b.dir / "data.bin"};

    WriteDataArea(b.s());

    auto after = kit::AfterConnect(b.rig);
    after.erase(after.begin(), after.begin() + kit::kRoundTripTransactions);
    if (differing < 0) {
      EXPECT_EQ(after.size(), kWords);
      EXPECT_TRUE(std::all_of(after.begin(), after.end(),
                              [](const auto& t) { return t.kind == Kind::Peek; }));
      EXPECT_EQ(b.host().MessageTexts(),
                std::vector<std::string>{"The data area already holds " + (b.dir / "data.bin") +
                                         ": nothing was written."});
      EXPECT_FALSE(kit::fs::exists(b.LogPath())) << "no write, no log";
    } else {
      ASSERT_GT(after.size(), 7u);
      EXPECT_EQ(after[5].address, 0xC0000000 + 4 * 5);
      EXPECT_EQ(after[6].kind, Kind::Poke) << "the copy starts after the first differing word";
      // The fake area keeps its wrong word: the read-back after the loader finds it.
      EXPECT_EQ(b.host().MessageTexts(),
                std::vector<std::string>{"Verify failed: 1 word differs, first at C0000014. No "
                                         "backup was made before this write: put back a file "
                                         "saved with Read Data Area before."});
    }
  }
}

TEST(WriteDataArea, MissingLoaderIsReportedAndNothingIsReadBack) {
  CommandRig b(Model::BCT13);
  kit::WriteBytes(b.dir / "data.bin", DataImage());
  kit::KeepScratchWord(b.rig.port, ProfileOf(Model::BCT13).scratchWord);
  b.host().dialogPaths = {b.dir / "data.bin"};
  b.s().fullWrite = true;
  WriteDataArea(b.s());
  const auto after = kit::AfterConnect(b.rig);
  EXPECT_EQ(after.size(), kit::kRoundTripTransactions + kWords);  // the copy, then nothing
  EXPECT_EQ(b.rig.clock.sleptMs, 100);
  EXPECT_EQ(b.host().MessageTexts(),
            (std::vector<std::string>{"Error opening TRAP.BIN !"}));
  const auto log = kit::LogLines(b.LogPath());
  ASSERT_EQ(log.size(), 3u);
  EXPECT_TRUE(kit::StartsWith(log[1], "Loader " + (b.dir / "TRAPDATA.BIN")));
  // The trailer still closes the log; the refusal stands on the line before it.
  EXPECT_TRUE(kit::StartsWith(log[2], "Done "));
}

TEST(WriteDataArea, ShortFileIsRefusedBeforeAnythingIsCopied) {
  CommandRig b(Model::TS1);
  kit::WriteBytes(b.dir / "data.bin", std::vector<uint8_t>(0x7FFFF, 0));
  kit::WriteBytes(b.dir / "TRAPPACE.bin", {1, 2, 3});
  b.host().dialogPaths = {b.dir / "data.bin"};
  WriteDataArea(b.s());
  EXPECT_TRUE(kit::AfterConnect(b.rig).empty());
  ASSERT_EQ(b.host().messages.size(), 1u);
  EXPECT_EQ(b.host().messages[0].kind, MessageKind::Error);
  const std::string& text = b.host().messages[0].text;
  EXPECT_NE(text.find("524288"), std::string::npos) << text;
  EXPECT_NE(text.find("524287"), std::string::npos) << text;
  EXPECT_FALSE(b.HasLog());
  EXPECT_EQ(b.host().openFilter, kRestingFilter);
}

struct UnavailableCase {
  const char* name;
  Model model;
  bool write;
  const char* text;
};
void PrintTo(const UnavailableCase& c, std::ostream* os) {
  *os << c.name;
}

class DataAreaUnavailableTest : public ::testing::TestWithParam<UnavailableCase> {};

TEST_P(DataAreaUnavailableTest, SaysSoWithoutTouchingTheDecoder) {
  const UnavailableCase& c = GetParam();
  CommandRig b(c.model);
  kit::WriteBytes(b.dir / "data.bin", DataImage());
  b.host().dialogPaths = {b.dir / "out.bin"};
  if (c.write) {
    WriteDataArea(b.s());
  } else {
    ReadDataArea(b.s());
  }
  EXPECT_EQ(b.rig.port.portAccesses, 0u);
  EXPECT_TRUE(b.host().dialogsRun.empty());
  ASSERT_EQ(b.host().messages.size(), 1u);
  EXPECT_EQ(b.host().messages[0].kind, MessageKind::Error);
  EXPECT_EQ(b.host().messages[0].text, c.text);
  EXPECT_EQ(FileNames(b.dir), (std::vector<std::string>{"data.bin"}));
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, DataAreaUnavailableTest,
    ::testing::Values(
        UnavailableCase{"tvnWrite", Model::TVNbox, true,
                        "Write Data Area is not available for TVN box: nothing was written."},
        UnavailableCase{"tvnRead", Model::TVNbox, false,
                        "Read Data Area is not available for TVN box: nothing was read."},
        UnavailableCase{"dsx6170Write", Model::DSX6170, true,
                        "Write Data Area is not available for DSX6170: nothing was written."},
        UnavailableCase{"dsx6071Write", Model::DSX6071_6072, true,
                        "Write Data Area is not available for DSX6071/6072: nothing was written."},
        UnavailableCase{"stb3100Read", Model::STB3100, false,
                        "Read Data Area is not available for STB3100: nothing was read."}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReadCase {
  const char* name;
  Model model;
  uint32_t start;
  uint32_t bytes;
};
void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadDataAreaTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadDataAreaTest, SavesTheRegionInBusOrder) {
  const ReadCase& c = GetParam();
  CommandRig b(c.model);
  b.rig.port.onPeek = [](uint32_t a) { return a ^ 0x5AC30000u; };
  b.host().dialogPaths = {b.dir / "data.bin"};
  b.host().recordStatusHistory = c.model == Model::BCT13;

  ReadDataArea(b.s());

  const auto file = kit::ReadBytes(b.dir / "data.bin");
  ASSERT_EQ(file.size(), c.bytes);
  for (uint32_t i = 0; i < c.bytes / 4; ++i) {
    const uint32_t a = c.start + 4 * i;
    if (RamValue(&file[4 * i]) != (a ^ 0x5AC30000u)) {
      ADD_FAILURE() << "word at " << Hex8(a);
      break;
    }
  }
  const auto after = kit::AfterConnect(b.rig);
  ASSERT_EQ(after.size(), c.bytes / 4);
  EXPECT_EQ(after.front().address, c.start);
  EXPECT_EQ(after.back().address, c.start + c.bytes - 4);
  EXPECT_EQ(b.host().progressMax, static_cast<int>(c.bytes / 4));
  EXPECT_EQ(b.host().maxProgressPosition, static_cast<int>(c.bytes / 4 - 1));
  if (b.host().recordStatusHistory) {
    const auto& h = b.host().statusHistory;
    ASSERT_GE(h.size(), 4u);
    EXPECT_EQ(h[1], "Reading Data...");
    EXPECT_EQ(h[h.size() - 2], "FFFFFFFC");  // still shown when it completes
  }
  EXPECT_EQ(b.host().MessageTexts(), (std::vector<std::string>{"Reading Data completed."}));
  EXPECT_EQ(b.host().dialogFilters, (std::vector<std::string>{"Binary file (*.bin) | *.BIN"}));
  EXPECT_EQ(b.host().saveFilter, kRestingFilter);
  EXPECT_FALSE(b.HasLog());  // reads keep the log of the last write
}

INSTANTIATE_TEST_SUITE_P(Profiles, ReadDataAreaTest,
                         ::testing::Values(ReadCase{"dsi185", Model::DSI185, 0xFFF80000, 0x80000},
                                           ReadCase{"bct13", Model::BCT13, 0xFFF80000, 0x80000},
                                           ReadCase{"ts1", Model::TS1, 0xC0000000, 0x80000},
                                           ReadCase{"dsx6070", Model::DSX6070, 0x50000000, 0x80000},
                                           ReadCase{"dsx6170", Model::DSX6170, 0x50000000,
                                                    0x200000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadDataArea, StoppedReadLeavesTheOldFileAndNoTemporary) {
  CommandRig b(Model::BCT13);
  kit::WriteBytes(b.dir / "data.bin", {'o', 'l', 'd'});
  b.host().dialogPaths = {b.dir / "data.bin"};
  b.host().abortAfterMessages = 1000;
  b.host().answers = {Answer::Yes};
  ReadDataArea(b.s());
  EXPECT_EQ(kit::ReadBytes(b.dir / "data.bin"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(FileNames(b.dir), (std::vector<std::string>{"data.bin"}));
  EXPECT_EQ(kit::AfterConnect(b.rig).size(), 1000u);
  EXPECT_EQ(b.host().MessageTexts(),
            (std::vector<std::string>{"Stop reading the data area? No file will be saved."}));
  EXPECT_EQ(b.host().status, "");
}

TEST(DataArea, CancelTransfersNothingAndCreatesNothing) {
  for (bool write : {true, false}) {
    SCOPED_TRACE(write ? "write" : "read");
    CommandRig b(Model::DSI185);
    if (write) {
      WriteDataArea(b.s());
    } else {
      ReadDataArea(b.s());
    }
    EXPECT_TRUE(kit::AfterConnect(b.rig).empty());
    EXPECT_TRUE(FileNames(b.dir).empty());
    EXPECT_TRUE(b.host().messages.empty());
    EXPECT_EQ(b.host().openFilter, kRestingFilter);
    EXPECT_EQ(b.host().saveFilter, kRestingFilter);
    EXPECT_EQ(b.host().status, "");
  }
}

}  // namespace
}  // namespace corvane::testing
