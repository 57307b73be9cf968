#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/corvane.h"
#include "support/FakeDecoderPort.h"
#include "support/RecordingPort.h"

namespace corvane {
namespace {

using testing::In;
using testing::ManualClock;
using testing::Out;
using testing::RecordingPort;
using Accesses = std::vector<RecordingPort::Access>;

constexpr uint16_t D = kDataPort, S = kStatusPort, C = kControlPort, E = kEcrPort;

// The register sequences of the handshake primitives, from the idle state after LinkOpen
// (ControlShadow 0x20). Longer frames are built from these.
Accesses SendByteTraffic(uint8_t b) {
  return {Out(D, b), Out(C, 0x03), Out(C, 0x07), Out(C, 0x03), Out(C, 0x23)};
}
Accesses ReadUnderStrobe(uint8_t data) { return {Out(C, 0x22), In(D, data), Out(C, 0x23)}; }
Accesses AckTraffic() {
  return {Out(C, 0x21), Out(D, 0x00), Out(C, 0x01), Out(C, 0x05), Out(C, 0x01), Out(C, 0x21),
          Out(C, 0x23)};
}
void Append(Accesses& to, const Accesses& more) { to.insert(to.end(), more.begin(), more.end()); }

// Time moves whenever the link looks at the clock, so a wait that misses its bit fails
// the test instead of hanging it.
struct Rig {
  Rig() { clock.stepPerNow = 1; }
  RecordingPort port;
  ManualClock clock;
  Link link{port, clock};
  // Opens the link from a control register that reads 0x0C, then forgets that traffic.
  void OpenIdle() {
    link.LinkOpen();
    port.Clear();
  }
};

TEST(LinkOpenClose, OpenSavesEcrSelectsByteModeAndIdlesTheLines) {
  Rig r;
  r.link.LinkOpen();
  EXPECT_EQ(r.port.log, (Accesses{In(E, 0x15), Out(E, 0x35), In(C, 0x0C), Out(C, 0x2F),
                                  Out(C, 0x2B), Out(C, 0x23)}));
  EXPECT_EQ(r.link.ControlShadow, 0x20);
  EXPECT_EQ(r.link.SavedEcr, 0x15);
}

TEST(LinkOpenClose, UnusedControlBitsKeepWhatWasRead) {
  Rig r;
  r.port.controlReads = {0xDF};  // bits 4, 6, 7 set, and every line bit
  r.link.LinkOpen();
  EXPECT_EQ(r.link.ControlShadow, 0xF0);
  EXPECT_EQ(r.port.log.back(), Out(C, 0xF3));
}

TEST(LinkOpenClose, CloseHandsTheLinesBackThenRestoresTheSavedEcr) {
  Rig r;
  r.OpenIdle();
  r.link.LinkClose();
  EXPECT_EQ(r.port.log, (Accesses{Out(C, 0x03), Out(E, 0x15)}));
}

TEST(LinkOpenClose, SecondOpenWithoutCloseSavesByteModeAndCloseLeavesIt) {
  Rig r;
  r.port.ecrReads = {0x15, 0x35};  // the port answers what the first open wrote
  r.link.LinkOpen();
  r.link.LinkOpen();
  EXPECT_EQ(r.link.SavedEcr, 0x35);
  r.port.Clear();
  r.link.LinkClose();
  EXPECT_EQ(r.port.log.back(), Out(E, 0x35));
}

TEST(LinkOpenClose, ResetHoldsTheLineForOneHundredMilliseconds) {
  // Records the clock at each write, so the sleep is seen between the two writes.
  struct TimedPort : RecordingPort {
    ManualClock* clock = nullptr;
    std::vector<int64_t> writeTimes;
    void PortOut(uint16_t port, uint8_t value) override {
      writeTimes.push_back(clock->now);
      RecordingPort::PortOut(port, value);
    }
  } port;
  ManualClock clock;
  port.clock = &clock;
  Link link(port, clock);
  link.LinkOpen();
  port.Clear();
  port.writeTimes.clear();
  link.ResetTarget();
  EXPECT_EQ(port.log, (Accesses{Out(C, 0x2B), Out(C, 0x23)}));
  ASSERT_EQ(port.writeTimes.size(), 2u);
  EXPECT_EQ(port.writeTimes[1] - port.writeTimes[0], 100000);
  EXPECT_EQ(clock.sleptMs, 100);
}

struct PrimitiveCase {
  std::string name;
  std::function<void(Link&)> act;
  Accesses expected;
};

class HandshakeTraffic : public ::testing::TestWithParam<PrimitiveCase> {};

TEST_P(HandshakeTraffic, WritesExactlyTheseRegisters) {
  Rig r;
  r.port.dataDefault = 0x5A;
  for (const auto& a : GetParam().expected) {
    if (!a.out && a.port == S) r.port.statusReads.push_back(a.value);
  }
  r.OpenIdle();
  GetParam().act(r.link);
  EXPECT_EQ(r.port.log, GetParam().expected);
  EXPECT_EQ(r.link.ControlShadow, 0x20) << "every primitive ends idle";
}

Accesses Concat(std::initializer_list<Accesses> parts) {
  Accesses all;
  for (const Accesses& p : parts) Append(all, p);
  return all;
}

INSTANTIATE_TEST_SUITE_P(
    Primitives, HandshakeTraffic,
    ::testing::Values(
        PrimitiveCase{"SendByteA5", [](Link& l) { l.SendByte(0xA5); },
                      {Out(D, 0xA5), Out(C, 0x03), Out(C, 0x07), Out(C, 0x03), Out(C, 0x23)}},
        PrimitiveCase{"ReceiveByte", [](Link& l) { EXPECT_EQ(l.ReceiveByte(), 0x5A); },
                      {Out(C, 0x22), In(D, 0x5A), Out(C, 0x23)}},
        PrimitiveCase{"AcknowledgeByte", [](Link& l) { l.AcknowledgeByte(); },
                      {Out(C, 0x21), Out(D, 0x00), Out(C, 0x01), Out(C, 0x05), Out(C, 0x01),
                       Out(C, 0x21), Out(C, 0x23)}},
        // The closing read belongs to the handshake even though nobody uses its value.
        PrimitiveCase{"WaitSendDone", [](Link& l) { EXPECT_EQ(l.WaitSendDone(), 0x5A); },
                      Concat({{In(S, 0x10)}, ReadUnderStrobe(0x5A)})},
        // The adapter's idle C7 with a decoder's early answer on a slow port: both flags, but
        // not an open port.
        PrimitiveCase{"WaitSendDoneWithAnEarlyAnswer",
                      [](Link& l) { EXPECT_EQ(l.WaitSendDone(), 0x5A); },
                      Concat({{In(S, 0xDF)}, ReadUnderStrobe(0x5A)})},
        PrimitiveCase{"WaitReceiveByte", [](Link& l) { EXPECT_EQ(l.WaitReceiveByte(), 0x5A); },
                      Concat({{In(S, 0x18)}, ReadUnderStrobe(0x5A)})}),
    [](const auto& info) { return info.param.name; });

TEST(HandshakeWaits, PollStatusUntilTheirOwnBitAndIgnoreTheOther) {
  Rig r;
  r.OpenIdle();
  r.port.statusReads = {0x00, 0x08, 0x00, 0x10};  // receive-ready is not send-done
  r.link.WaitSendDone();
  EXPECT_EQ(r.port.log.size(), 4u + 3u);
  r.port.Clear();
  r.port.statusReads = {0x10, 0x00, 0x08};
  r.link.WaitReceiveByte();
  EXPECT_EQ(r.port.log.size(), 3u + 3u);
  EXPECT_EQ(r.port.log[2], In(S, 0x08));
}

TEST(PokeFrame, SendsCommandAddressAndValueLowByteFirstEachWithASendDoneWait) {
  Rig r;
  r.port.statusDefault = 0x10;
  r.OpenIdle();
  r.link.Poke(0x20002010, 0x20);
  Accesses expected;
  for (uint8_t b : {0x00, 0x10, 0x20, 0x00, 0x20, 0x20, 0x00, 0x00, 0x00}) {
    Append(expected, SendByteTraffic(b));
    Append(expected, {In(S, 0x10)});
    Append(expected, ReadUnderStrobe(0x00));
  }
  EXPECT_EQ(r.port.log, expected);
}

TEST(PeekFrame, NoWaitAfterTheLastAddressByteAndEveryReplyByteAcknowledged) {
  Rig r;
  r.OpenIdle();
  // Four closing reads of the send-done waits, then the four reply bytes. Select of the
  // last address byte is still up when the first reply byte arrives.
  r.port.dataReads = {0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
  r.port.statusReads = {0x10, 0x10, 0x10, 0x10, 0x18, 0x08, 0x08, 0x08};
  EXPECT_EQ(r.link.Peek(0x7FC00000), 0x78563412u);
  Accesses expected;
  for (uint8_t b : {0x01, 0x00, 0x00, 0xC0}) {
    Append(expected, SendByteTraffic(b));
    Append(expected, {In(S, 0x10)});
    Append(expected, ReadUnderStrobe(0x00));
  }
  Append(expected, SendByteTraffic(0x7F));
  for (uint8_t b : {0x12, 0x34, 0x56, 0x78}) {
    Append(expected, {In(S, b == 0x12 ? 0x18 : 0x08)});
    Append(expected, ReadUnderStrobe(b));
    Append(expected, AckTraffic());
  }
  EXPECT_EQ(r.port.log, expected);
}

TEST(Frames, AddressesAreSentWholeNeitherAlignedNorMasked) {
  testing::FakeDecoderPort port;
  ManualClock clock;
  clock.stepPerNow = 1;
  Link link(port, clock);
  port.onPeek = [](uint32_t a) { return a ^ 0xFFFFFFFFu; };
  link.LinkOpen();
  link.Poke(0x2003, 1);
  EXPECT_EQ(link.Peek(0xFFFFFFFD), 2u);
  EXPECT_EQ(port.Lines(), (std::vector<std::string>{"poke 00002003 00000001",
                                                     "peek FFFFFFFD 00000002"}));
}

// A dead adapter or decoder: the status bit never comes.
struct DeadCase {
  std::string name;
  uint8_t status;  // what the status register keeps reading
  std::function<void(Link&)> act;
};

class DeadLink : public ::testing::TestWithParam<DeadCase> {};

TEST_P(DeadLink, ThrowsAfterAboutOneSecondOfTheClock) {
  Rig r;
  r.port.statusDefault = GetParam().status;
  r.OpenIdle();
  r.clock.stepPerNow = 1000;  // each look at the clock costs a millisecond
  const int64_t before = r.clock.now;
  EXPECT_THROW(GetParam().act(r.link), LinkError);
  const int64_t waited = r.clock.now - before;
  EXPECT_GE(waited, 1000000);
  EXPECT_LE(waited, 1003000);
  EXPECT_EQ(r.link.ControlShadow, 0x20) << "the wait throws between register writes";
}

INSTANTIATE_TEST_SUITE_P(
    Waits, DeadLink,
    ::testing::Values(DeadCase{"SendDoneNeverSet", 0x08, [](Link& l) { l.WaitSendDone(); }},
                      DeadCase{"ReceiveReadyNeverSet", 0x10, [](Link& l) { l.WaitReceiveByte(); }},
                      DeadCase{"PokeOnSilentAdapter", 0x00, [](Link& l) { l.Poke(0x2000, 1); }},
                      DeadCase{"PeekWithoutReply", 0x10, [](Link& l) { l.Peek(0x2000); }}),
    [](const auto& info) { return info.param.name; });

// Nothing plugged in: the inputs float high (QEMU's emulated port reads D8, a bare
// connector 7F), so the wait's bit is there at once. The first status read that is an open
// port's and shows both flags where the adapter never raises both ends the transfer, with no
// extra access.
struct OpenLinesCase {
  std::string name;
  std::deque<uint8_t> status;  // then the open value for ever
  uint8_t open;
  std::function<void(Link&)> act;
  size_t statusReads;  // status reads made when it throws
};

class OpenLines : public ::testing::TestWithParam<OpenLinesCase> {};

TEST_P(OpenLines, EndTheTransferAtTheFirstImpossibleStatus) {
  const OpenLinesCase& c = GetParam();
  Rig r;
  r.port.statusReads = c.status;
  r.port.statusDefault = c.open;
  r.OpenIdle();
  EXPECT_THROW(c.act(r.link), NoAdapterError);
  size_t reads = 0;
  for (const auto& a : r.port.log) reads += !a.out && a.port == S;
  EXPECT_EQ(reads, c.statusReads);
  ASSERT_FALSE(r.port.log.empty());
  EXPECT_EQ(r.port.log.back(), In(S, c.open)) << "nothing after the telling read";
  EXPECT_LT(r.clock.now, 100) << "no waiting";
}

INSTANTIATE_TEST_SUITE_P(
    Status, OpenLines,
    ::testing::Values(
        OpenLinesCase{"PokeFromTheStartQemu", {}, 0xD8, [](Link& l) { l.Poke(0x2000, 1); }, 1},
        OpenLinesCase{"PokeFromTheStartBare", {}, 0x7F, [](Link& l) { l.Poke(0x2000, 1); }, 1},
        OpenLinesCase{"PokePulledAtItsSixthByte", {0x10, 0x10, 0x10, 0x10, 0x10}, 0xD8,
                      [](Link& l) { l.Poke(0x2000, 1); }, 6},
        // Both flags but not an open port (a slow decoder's early answer, the handshake's
        // plain 18), then pulled.
        OpenLinesCase{"PokeAfterBothFlagsFromADecoder", {0xDF, 0x18, 0xDF}, 0x7F,
                      [](Link& l) { l.Poke(0x2000, 1); }, 4},
        OpenLinesCase{"PeekFromTheStart", {}, 0x7F, [](Link& l) { l.Peek(0x2000); }, 1},
        // Pulled after the last address byte: the first reply read cannot tell, the second can.
        OpenLinesCase{"PeekPulledBeforeItsReply", {0x10, 0x10, 0x10, 0x10}, 0xD8,
                      [](Link& l) { l.Peek(0x2000); }, 6},
        OpenLinesCase{"PeekPulledAfterItsSecondByte", {0x10, 0x10, 0x10, 0x10, 0x18, 0x08}, 0x7F,
                      [](Link& l) { l.Peek(0x2000); }, 7},
        OpenLinesCase{"LoaderByte", {}, 0xD8, [](Link& l) {
                        l.SendByte(0x10);
                        l.WaitSendDone();
                      }, 1}),
    [](const auto& info) { return info.param.name; });

TEST(OpenLines, HaveTheirOwnMessage) {
  EXPECT_STREQ(LinkErrorText(NoAdapterError("x")), kNoAdapterMessage);
  EXPECT_STREQ(LinkErrorText(LinkError("x")), kLinkErrorMessage);
}

TEST(DeadLink, ShorterLimitEndsSooner) {
  Rig r;
  r.port.statusDefault = 0;
  r.OpenIdle();
  r.link.wait_limit_us = 5000;
  r.clock.stepPerNow = 100;
  EXPECT_THROW(r.link.WaitSendDone(), LinkError);
  EXPECT_LE(r.clock.now, 5300);
}

TEST(DeadLink, ABitThatArrivesJustInTimeIsNotAnError) {
  Rig r;
  r.OpenIdle();
  r.clock.stepPerNow = 1000;
  // 900 polls without the bit is 0.9 s: still a live link.
  for (int i = 0; i < 900; ++i) r.port.statusReads.push_back(0x00);
  r.port.statusReads.push_back(0x10);
  EXPECT_NO_THROW(r.link.WaitSendDone());
}

}  // namespace
}  // namespace corvane
