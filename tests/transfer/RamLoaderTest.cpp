#include <gtest/gtest.h>

#include <ostream>

#include "link/Text.h"
#include "transfer/RamLoader.h"
#include "transfer/Transfer.h"
#include "transfer/TransferTestKit.h"

namespace corvane::testing {
namespace {

using kit::CommandRig;
using Kind = FakeDecoderPort::Kind;

std::vector<uint8_t> LoaderBytes(size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 7 + 3);
  return out;
}

TEST(UploadTrapRoutine, SendsLengthThenBytesAndWaitsWithoutMessages) {
  CommandRig b(Model::BCT13);
  const auto code = LoaderBytes(200);
  kit::WriteBytes(b.dir / "TRAP.BIN", code);
  b.rig.link.LinkOpen();

  EXPECT_TRUE(UploadTrapRoutine(b.s(), "TRAP.BIN", 10000, "Writing Flash ~10 secs..."));

  // The fake frames a block by its first byte: 0xC8 announces 200 code bytes. The decoder
  // answers the read after the wait at once.
  ASSERT_EQ(b.rig.port.transactions.size(), 2u);
  EXPECT_EQ(b.rig.port.Lines(), std::vector<std::string>{"peek 2000D010 00000000"});
  const auto& t = b.rig.port.transactions[0];
  EXPECT_EQ(t.kind, Kind::Code);
  EXPECT_EQ(t.address, 0xC8u);
  EXPECT_EQ(t.code, code);
  EXPECT_EQ(b.host().progressMin, 0);
  EXPECT_EQ(b.host().progressMax, 199);
  EXPECT_EQ(b.host().maxProgressPosition, 199);
  EXPECT_EQ(b.host().progressPosition, 0);
  EXPECT_EQ(b.host().status, "Writing Flash ~10 secs...");
  EXPECT_EQ(b.rig.clock.sleptMs, 10000);
  EXPECT_EQ(b.host().processMessagesCalls, 0);
  EXPECT_TRUE(b.host().messages.empty());
}

struct LoaderSizeCase {
  const char* name;
  long size;  // -1: no file
  bool sent;
};
void PrintTo(const LoaderSizeCase& c, std::ostream* os) {
  *os << c.name;
}

class LoaderSizeTest : public ::testing::TestWithParam<LoaderSizeCase> {};

TEST_P(LoaderSizeTest, OnlyTwoTo255BytesAreSent) {
  const LoaderSizeCase& c = GetParam();
  CommandRig b(Model::TS1);
  if (c.size >= 0)
    kit::WriteBytes(b.dir / "TRAPPACE.bin", LoaderBytes(static_cast<size_t>(c.size)));
  b.rig.link.LinkOpen();
  const uint64_t accessesBefore = b.rig.port.portAccesses;

  const bool sent = UploadTrapRoutine(b.s(), "TRAPPACE.bin", 15000, "Writing Flash ~15 secs...");

  EXPECT_EQ(sent, c.sent);
  if (c.sent) {
    ASSERT_EQ(b.rig.port.transactions.size(), 2u);
    EXPECT_EQ(b.rig.port.transactions[0].address, static_cast<uint32_t>(c.size));
    EXPECT_EQ(b.rig.port.transactions[0].code, LoaderBytes(static_cast<size_t>(c.size)));
    EXPECT_EQ(b.rig.clock.sleptMs, 15000);
    EXPECT_TRUE(b.host().messages.empty());
  } else {
    // Refused before the first byte: not even the length goes out, and there is no wait.
    EXPECT_EQ(b.rig.port.portAccesses, accessesBefore);
    EXPECT_EQ(b.rig.clock.sleptMs, 0);
    ASSERT_EQ(b.host().messages.size(), 1u);
    EXPECT_EQ(b.host().messages[0].kind, MessageKind::Error);
    EXPECT_EQ(b.host().messages[0].text, "Error opening TRAP.BIN !");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LoaderSizeTest,
    ::testing::Values(LoaderSizeCase{"missing", -1, false}, LoaderSizeCase{"empty", 0, false},
                      LoaderSizeCase{"one", 1, false}, LoaderSizeCase{"two", 2, true},
                      LoaderSizeCase{"max", 255, true}, LoaderSizeCase{"tooLong", 256, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RamWordCase {
  const char* name;
  std::vector<uint8_t> bytes;
  uint32_t poked;
  const char* status;
};
void PrintTo(const RamWordCase& c, std::ostream* os) {
  *os << c.name;
}

class CopyImageToRamWordTest : public ::testing::TestWithParam<RamWordCase> {};

TEST_P(CopyImageToRamWordTest, PokesTheRamValueAndShowsIt) {
  const RamWordCase& c = GetParam();
  CommandRig b(Model::BCT13);
  // The word under test is word 1; word 0 shows the address moving on.
  std::vector<uint8_t> image = {0xFF, 0xFF, 0xFF, 0xFF};
  image.insert(image.end(), c.bytes.begin(), c.bytes.end());
  kit::WriteBytes(b.dir / "image.bin", image);
  ImageReader reader;
  ASSERT_TRUE(reader.Open(b.dir / "image.bin", nullptr));
  b.rig.link.LinkOpen();
  b.host().recordStatusHistory = true;

  CopyImageToRam(b.s(), reader, 0x80002000, 2);

  // Every word is poked, erased ones included: RAM is not flash.
  EXPECT_EQ(b.rig.port.Lines(),
            (std::vector<std::string>{"poke 80002000 FFFFFFFF", "poke 80002004 " + Hex8(c.poked)}));
  EXPECT_EQ(b.host().statusHistory,
            (std::vector<std::string>{"Copy image to RAM...", "80002000  FFFFFFFF", c.status}));
  EXPECT_EQ(b.host().progressMin, 0);
  EXPECT_EQ(b.host().progressMax, 1);
  EXPECT_EQ(b.host().progressPosition, 1);
  EXPECT_EQ(b.host().processMessagesCalls, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CopyImageToRamWordTest,
    ::testing::Values(
        RamWordCase{"fileOrder", {0x12, 0x34, 0xAB, 0xCD}, 0xCDAB3412, "80002004  CDAB3412"},
        RamWordCase{"zeroShowsSixDigits", {0, 0, 0, 0}, 0, "80002004  000000"},
        RamWordCase{"sixDigits", {0x56, 0x34, 0x12, 0x00}, 0x00123456, "80002004  123456"},
        RamWordCase{"sevenDigits", {0x67, 0x45, 0x23, 0x01}, 0x01234567, "80002004  1234567"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CopyImageToRam, StopsAtAShortReadWithoutPokingUnreadBytes) {
  CommandRig b(Model::BCT13);
  kit::WriteBytes(b.dir / "image.bin", {1, 2, 3, 4, 5, 6});
  ImageReader reader;
  ASSERT_TRUE(reader.Open(b.dir / "image.bin", nullptr));
  b.rig.link.LinkOpen();
  EXPECT_THROW(CopyImageToRam(b.s(), reader, 0x80002000, 2), TransferError);
  EXPECT_EQ(b.rig.port.Lines(), (std::vector<std::string>{"poke 80002000 04030201"}));
}

TEST(CopyImageToRam, EscapeAnsweredYesStopsBetweenWords) {
  CommandRig b(Model::BCT13);
  kit::WriteBytes(b.dir / "image.bin", std::vector<uint8_t>(64, 0x11));
  ImageReader reader;
  ASSERT_TRUE(reader.Open(b.dir / "image.bin", nullptr));
  b.rig.link.LinkOpen();
  b.host().abortAfterMessages = 3;
  b.host().answers = {Answer::Yes};
  EXPECT_THROW(CopyImageToRam(b.s(), reader, 0x80002000, 16), AbortError);
  EXPECT_EQ(b.rig.port.Pokes().size(), 3u);
  ASSERT_EQ(b.host().messages.size(), 1u);
  EXPECT_EQ(b.host().messages[0].kind, MessageKind::Confirmation);
  EXPECT_NE(b.host().messages[0].text.find("flash has not been changed"), std::string::npos);
}

}  // namespace
}  // namespace corvane::testing
