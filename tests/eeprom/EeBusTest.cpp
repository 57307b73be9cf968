#include <gtest/gtest.h>

#include <functional>

#include "eeprom/BusTrace.h"

namespace corvane::testing {
namespace {

constexpr uint32_t kPio = 0x2000D000;

struct BusRig : FakeRig {
  BusRig() {
    link.LinkOpen();
    ee.EePioBase = kPio;
  }
  std::vector<uint32_t> OutputWrites() const {
    std::vector<uint32_t> out;
    for (const auto& t : port.transactions) {
      if (t.kind == FakeDecoderPort::Kind::Poke) {
        EXPECT_EQ(t.address, kPio) << "only the output register is written";
        out.push_back(t.value);
      }
    }
    return out;
  }
  BusTrace Trace() const { return BusTrace(port.transactions, kPio); }
};

TEST(EeBus, ShadowStartsWithBothLinesHighAndKeepsScl) {
  BusRig rig;
  rig.ee.EeSetSda(0);
  rig.ee.EeSetSda(1);
  rig.ee.EeSetScl(0);
  rig.ee.EeSetSda(0);
  rig.ee.EeSetScl(1);
  EXPECT_EQ(rig.OutputWrites(), (std::vector<uint32_t>{0x4, 0x7, 0x3, 0x0, 0x4}));
  // Only bit 0 of the level counts.
  rig.ee.EeSetSda(2);
  EXPECT_EQ(rig.ee.EePinShadow, 0x4);
}

struct FixedSequence {
  const char* name;
  std::function<void(EeBus&)> run;
  uint8_t shadowBefore;
  std::vector<uint32_t> writes;
  int64_t delayUs;
};

class EeBusSequence : public ::testing::TestWithParam<FixedSequence> {};

TEST_P(EeBusSequence, WritesTheLinesInOrderWithItsDelays) {
  const FixedSequence& p = GetParam();
  BusRig rig;
  rig.ee.EePinShadow = p.shadowBefore;
  p.run(rig.ee);
  EXPECT_EQ(rig.OutputWrites(), p.writes);
  EXPECT_EQ(rig.clock.delayedUs, p.delayUs);
  EXPECT_EQ(rig.port.CountPeeksAt(kPio + 0x10), 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Conditions, EeBusSequence, ::testing::Values(
    FixedSequence{"StartFromIdle", [](EeBus& b) { b.EeStart(); }, 0x07, {7, 7, 4, 0}, 75},
    FixedSequence{"StartAfterStop", [](EeBus& b) { b.EeStart(); }, 0x03, {3, 7, 4, 0}, 75},
    FixedSequence{"Stop", [](EeBus& b) { b.EeStop(); }, 0x00, {0, 4, 7, 3}, 75},
    FixedSequence{"Ack", [](EeBus& b) { b.EeAck(); }, 0x03, {0, 4, 0}, 60},
    FixedSequence{"NoAck", [](EeBus& b) { b.EeNoAck(); }, 0x00, {3, 7, 3}, 60},
    FixedSequence{"SendA4", [](EeBus& b) { b.EeSendByte(0xA4); }, 0x00,
                  {3, 7, 3,  0, 4, 0,  3, 7, 3,  0, 4, 0,  0, 4, 0,  3, 7, 3,  0, 4, 0,  0, 4, 0},
                  15 + 8 * 15},
    FixedSequence{"Send01", [](EeBus& b) { b.EeSendByte(0x01); }, 0x00,
                  {0, 4, 0,  0, 4, 0,  0, 4, 0,  0, 4, 0,  0, 4, 0,  0, 4, 0,  0, 4, 0,  3, 7, 3},
                  15 + 8 * 15}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(EeBus, ReceiveByteSamplesEachBitWhileSclIsHigh) {
  BusRig rig;
  const uint8_t value = 0x5A;
  int bit = 7;
  rig.port.onPeek = [&](uint32_t) { return static_cast<uint32_t>((value >> bit--) & 1) | 0xFE; };
  rig.ee.EePinShadow = 0x00;
  EXPECT_EQ(rig.ee.EeReceiveByte(), value);
  EXPECT_EQ(rig.port.CountPeeksAt(kPio + 0x10), 8u);
  const auto writes = rig.OutputWrites();
  ASSERT_EQ(writes.size(), 24u);
  for (size_t i = 0; i < 24; i += 3) {
    EXPECT_EQ(writes[i], 3u);      // SDA released
    EXPECT_EQ(writes[i + 1], 7u);  // SCL high, then the sample
    EXPECT_EQ(writes[i + 2], 3u);
  }
  EXPECT_EQ(rig.clock.delayedUs, 8 * 60);
}

TEST(EeBus, WaitAckGivesUpAfterTheTriesWithSclLow) {
  BusRig rig;
  rig.port.onPeek = [](uint32_t) { return 1u; };
  rig.ee.EePinShadow = 0x00;
  EXPECT_FALSE(rig.ee.EeWaitAck(10000));
  EXPECT_EQ(rig.port.CountPeeksAt(kPio + 0x10), 10000u);
  EXPECT_EQ(rig.OutputWrites(), (std::vector<uint32_t>{3, 7, 3}));
  EXPECT_EQ(rig.ee.EePinShadow & 0x04, 0);
  // 100 us before every sample and once more before giving up.
  EXPECT_EQ(rig.clock.delayedUs, 4 * 15 + 10001 * 100);
}

TEST(EeBus, WaitAckStopsAtTheFirstLowSample) {
  BusRig rig;
  int peeks = 0;
  rig.port.onPeek = [&](uint32_t) { return ++peeks < 5 ? 1u : 0u; };
  EXPECT_TRUE(rig.ee.EeWaitAck(10000));
  EXPECT_EQ(peeks, 5);
  EXPECT_EQ(rig.ee.EePinShadow & 0x04, 0);
}

struct PollCase {
  int mode;
  uint8_t deviceBits;
  uint16_t address;
  const char* control;
};

class EePollControl : public ::testing::TestWithParam<PollCase> {};

TEST_P(EePollControl, AcknowledgedFirstPollClocksInAByteAndStops) {
  const PollCase& p = GetParam();
  BusRig rig;  // the fake answers every peek with 0: acknowledged, data 00
  EXPECT_FALSE(rig.ee.EePollReady(p.mode, p.deviceBits, p.address));
  const BusTrace trace = rig.Trace();
  EXPECT_EQ(trace.tokens,
            (std::vector<std::string>{"S", std::string(p.control) + "a", "00?", "P"}));
  EXPECT_EQ(trace.inputPeeks, 1u + 8u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, EePollControl,
    ::testing::Values(PollCase{0, 0, 0x0530, "AB"}, PollCase{1, 0, 0x0530, "A1"},
                      PollCase{0, 0, 0x07F0, "AF"}, PollCase{0, 5, 0x0000, "AB"},
                      PollCase{1, 3, 0x1FE0, "A7"}, PollCase{0, 9, 0x0100, "A3"},
                      PollCase{0, 0, 0xFF00, "AF"}));

TEST(EeBus, PollThatNeverGetsAnAckGivesUpAfterAThousandSamples) {
  BusRig rig;
  rig.port.onPeek = [](uint32_t) { return 1u; };
  EXPECT_TRUE(rig.ee.EePollReady(0, 0, 0x0530));
  const BusTrace trace = rig.Trace();
  EXPECT_EQ(trace.starts, 1001);
  EXPECT_EQ(trace.stops, 1000);
  EXPECT_EQ(trace.Count("ABn"), 1000u);
  EXPECT_EQ(trace.Count("FF?"), 1000u);
  // The last control byte is sent and left without its acknowledge clock.
  ASSERT_GE(trace.tokens.size(), 2u);
  EXPECT_EQ(trace.tokens[trace.tokens.size() - 2], "S");
  EXPECT_EQ(trace.tokens.back(), "AB?");
  EXPECT_EQ(trace.inputPeeks, 1000u * 9u);
  EXPECT_EQ(rig.ee.EePinShadow & 0x04, 0);
}

TEST(EeBus, PollWaitsForABusyDevice) {
  BusRig rig;
  int attempt = 0;
  rig.port.onPeek = [&](uint32_t) { return attempt >= 3 ? 0u : 1u; };
  uint32_t last = 7;
  rig.port.onPoke = [&](uint32_t, uint32_t v) {
    if ((last & 1) && (last & 4) && !(v & 1) && (v & 4)) ++attempt;  // a start condition
    last = v;
  };
  EXPECT_FALSE(rig.ee.EePollReady(1, 0, 0));
  const BusTrace trace = rig.Trace();
  EXPECT_EQ(trace.starts, 3);
  EXPECT_EQ(trace.Count("A1n"), 2u);
  EXPECT_EQ(trace.Count("A1a"), 1u);
  EXPECT_EQ(trace.stops, 3);
}

}  // namespace
}  // namespace corvane::testing
