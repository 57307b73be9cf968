// The boot link's frames as the decoder takes them, through the tool's Link.
#include <gtest/gtest.h>

#include <chrono>

#include "support/SimRig.h"
#include "target/Connection.h"

namespace corvane {
namespace {

using testing::SimRig;

constexpr uint32_t kRam = 0x80002000;

// Counts what the link does to the port, to hold the decoder's own count against.
class CountingPort : public PortIo {
 public:
  explicit CountingPort(PortIo& inner) : inner_(inner) {}
  uint8_t PortIn(uint16_t port) override {
    ++accesses;
    return inner_.PortIn(port);
  }
  void PortOut(uint16_t port, uint8_t value) override {
    ++accesses;
    inner_.PortOut(port, value);
  }
  uint64_t accesses = 0;

 private:
  PortIo& inner_;
};

TEST(BootLink, StatisticsCountWhatCrossedTheLink) {
  SimRig rig(Model::BCT13);
  CountingPort counting(rig.vd());
  rig.link.Rebind(counting, rig.vd().clock());
  rig.vd().ResetStats();
  const int64_t start = rig.vd().clock().Now();
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(kRam, 7);
  EXPECT_EQ(rig.link.Peek(kRam), 7u);
  const sim::Stats& s = rig.vd().stats();
  EXPECT_EQ(s.pokes, 27u);  // the 26 of BCT13's set-up and ours
  EXPECT_EQ(s.peeks, 1u);
  EXPECT_EQ(s.codeBlocks, 0u);
  EXPECT_EQ(s.portAccesses, counting.accesses);
  EXPECT_EQ(s.virtualTimeUs, rig.vd().clock().Now() - start);
  EXPECT_GE(s.virtualTimeUs, 100000);  // the reset pulse alone
}

TEST(BootLink, PeekRepliesLeastSignificantByteFirstEachAfterItsAcknowledge) {
  SimRig rig(Model::BCT13, "link_byte_us = 10");
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(kRam, 0x78563412);
  sim::VirtualDecoder& vd = rig.vd();
  Link& link = rig.link;
  for (int shift = -8; shift < 24; shift += 8) {
    link.SendByte(shift < 0 ? 0x01 : static_cast<uint8_t>(kRam >> shift));
    link.WaitSendDone();
  }
  link.SendByte(static_cast<uint8_t>(kRam >> 24));
  // The last address byte goes out, then the first reply comes back: two byte times.
  int quiet = 0;
  while (!(vd.PortIn(kStatusPort) & 0x08) && quiet < 100) ++quiet;
  EXPECT_EQ(quiet, 18);  // SendByte's closing write took the first of the 20 microseconds
  for (uint8_t expected : {0x12, 0x34, 0x56, 0x78}) {
    EXPECT_EQ(link.WaitReceiveByte(), expected);
    EXPECT_TRUE(vd.PortIn(kStatusPort) & 0x08) << "held until acknowledged";
    link.AcknowledgeByte();
    EXPECT_FALSE(vd.PortIn(kStatusPort) & 0x08);
  }
  // After the fourth acknowledge the decoder waits for a new frame.
  EXPECT_EQ(link.Peek(kRam), 0x78563412u);
}

struct Junk {
  const char* name;
  std::vector<uint8_t> block;  // the bytes after the length byte
};

class CodeBlock : public ::testing::TestWithParam<Junk> {};

// A block that is not a virtual loader is taken byte for byte and ignored: the link stays
// in step and nothing changes.
TEST_P(CodeBlock, NotALoaderIsIgnored) {
  SimRig rig(Model::BCT13);
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(kRam, 0xCAFEF00D);
  const std::vector<uint8_t>& block = GetParam().block;
  rig.link.SendByte(static_cast<uint8_t>(block.size()));
  rig.link.WaitSendDone();
  for (uint8_t b : block) {
    rig.link.SendByte(b);
    rig.link.WaitSendDone();  // would throw had a byte not been taken
  }
  EXPECT_EQ(rig.vd().stats().codeBlocks, 1u);
  EXPECT_EQ(rig.link.Peek(kRam), 0xCAFEF00Du);  // a running loader would keep the link silent
  rig.vd().clock().SleepMilliseconds(10000);
  EXPECT_EQ(rig.Word(0xFFF80000), 0xFFFFFFFFu);
  EXPECT_EQ(rig.Word(0x7FF00000), 0xFFFFFFFFu);
}

std::vector<uint8_t> LoaderBytes(std::string magic, uint8_t op, uint32_t ram, uint32_t dest,
                                 uint32_t words) {
  std::vector<uint8_t> b(magic.begin(), magic.end());
  b.push_back(op);
  for (uint32_t v : {ram, dest, words}) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, CodeBlock,
    ::testing::Values(
        Junk{"two_bytes", {0x00, 0x01}},
        Junk{"cpu_code", std::vector<uint8_t>(200, 0x4E)},
        Junk{"wrong_magic", LoaderBytes("CVL2", 2, kRam, 0xFFF80000, 0x20000)},
        Junk{"unknown_operation", LoaderBytes("CVL1", 3, kRam, 0xFFF80000, 0x20000)},
        Junk{"data_area_op_into_flash", LoaderBytes("CVL1", 2, kRam, 0x7FF00000, 0x20000)},
        Junk{"flash_op_into_data_area", LoaderBytes("CVL1", 1, kRam, 0xFFF80000, 0x20000)},
        Junk{"past_the_data_area", LoaderBytes("CVL1", 2, kRam, 0xFFF80000, 0x20001)},
        Junk{"unaligned_destination", LoaderBytes("CVL1", 2, kRam, 0xFFF80002, 0x100)},
        Junk{"source_not_ram", LoaderBytes("CVL1", 2, 0x60000000, 0xFFF80000, 0x100)},
        Junk{"no_words", LoaderBytes("CVL1", 2, kRam, 0xFFF80000, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BootLink, EveryNthReplyByteArrivesWithABitFlipped) {
  SimRig rig(Model::BCT13, "flip_bits_every = 3");
  ASSERT_TRUE(Connect(rig.session));
  // Reply bytes 3, 6, 9, 12, 15 carry bits 1, 2, 3, 4, 5 flipped.
  EXPECT_EQ(rig.link.Peek(kRam), 0x00020000u);
  EXPECT_EQ(rig.link.Peek(kRam), 0x00000400u);
  EXPECT_EQ(rig.link.Peek(kRam), 0x10000008u);
  EXPECT_EQ(rig.link.Peek(kRam), 0x00200000u);
}

TEST(BootLink, DeadAdapterEndsTheWaitQuickly) {
  // The third set-up poke loses Select at its sixth byte.
  SimRig rig(Model::DSX6170, "dead_after_bytes = 23");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Connect(rig.session));
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{kLinkErrorMessage});
  EXPECT_EQ(rig.vd().stats().pokes, 2u);
  rig.link.LinkOpen();
  EXPECT_THROW(rig.link.Peek(kRam), LinkError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(BootLink, PeekReplyStopsWhenTheAdapterDies) {
  SimRig rig(Model::DSX6170, "dead_after_bytes = 202");  // 22 pokes of set-up, a peek's 4
  ASSERT_TRUE(Connect(rig.session));
  EXPECT_THROW(rig.link.Peek(0x40000000), LinkError);
}

}  // namespace
}  // namespace corvane
