// The virtual port and adapter at register level: what the pins do, with virtual time.
#include <gtest/gtest.h>

#include "support/SimRig.h"
#include "target/Connection.h"

namespace corvane {
namespace {

using testing::SimRig;

constexpr uint8_t kSelect = 0x10, kNError = 0x08;

// Control register values as written (shadow XOR 0x03): 0x23 is the link's idle state.
struct Pins {
  sim::VirtualDecoder& vd;
  void Control(uint8_t written) { vd.PortOut(kControlPort, written); }
  uint8_t Status() { return vd.PortIn(kStatusPort); }
  // nInit high then low with the port driving and nAutoFeed low: one byte for the decoder.
  void Strobe(uint8_t data, uint8_t alsoSet = 0) {
    vd.PortOut(kDataPort, data);
    Control(0x03 | alsoSet);
    Control(0x07 | alsoSet);
    Control(0x03 | alsoSet);
  }
  int ReadsUntil(uint8_t bit, int limit = 1000) {
    for (int n = 0; n < limit; ++n) {
      if (Status() & bit) return n;
    }
    return -1;
  }
};

void OpenAndReset(SimRig& rig) {
  rig.link.LinkOpen();
  rig.link.ResetTarget();
}

struct SelectTiming {
  int accessUs, byteUs;
  int quietReads;  // status reads after the latch that still show Select low
};

class SelectRises : public ::testing::TestWithParam<SelectTiming> {};

TEST_P(SelectRises, OnlyAfterTheByteHasGoneOut) {
  const SelectTiming& t = GetParam();
  SimRig rig(Model::BCT13, "port_access_us = " + std::to_string(t.accessUs) +
                               "\nlink_byte_us = " + std::to_string(t.byteUs));
  OpenAndReset(rig);
  Pins pins{rig.vd()};
  pins.Strobe(0x01);
  EXPECT_EQ(pins.ReadsUntil(kSelect), t.quietReads);
  // Select stays up until the read strobe.
  EXPECT_TRUE(pins.Status() & kSelect);
  EXPECT_TRUE(pins.Status() & kSelect);
}

INSTANTIATE_TEST_SUITE_P(Timing, SelectRises,
                         ::testing::Values(SelectTiming{1, 3, 2}, SelectTiming{1, 10, 9},
                                           SelectTiming{2, 10, 4}, SelectTiming{1, 1, 0},
                                           SelectTiming{5, 3, 0}));

TEST(ReadStrobe, OnlyItsRisingEdgeClearsSelect) {
  SimRig rig(Model::BCT13, "link_byte_us = 10");
  OpenAndReset(rig);
  Pins pins{rig.vd()};
  pins.Strobe(0x01);
  pins.Control(0x22);  // nStrobe rises before Select is up: nothing to clear yet
  ASSERT_EQ(pins.ReadsUntil(kSelect), 8);
  pins.Control(0x23);  // falling edge
  EXPECT_TRUE(pins.Status() & kSelect);
  pins.Control(0x22);  // rising edge
  EXPECT_FALSE(pins.Status() & kSelect);
  pins.Control(0x23);
  EXPECT_EQ(pins.ReadsUntil(kSelect, 100), -1);
}

TEST(Adapter, TakesAByteOnlyAfterPassingOnTheOneBeforeAndKeepsSelectForTheReadStrobe) {
  SimRig rig(Model::BCT13, "link_byte_us = 10");
  ASSERT_TRUE(Connect(rig.session));
  Pins pins{rig.vd()};
  // The poke's first byte strobed twice: the second comes while the first is still going
  // out and is lost, so the frame stays whole.
  rig.link.SendByte(0x00);
  rig.link.SendByte(0x00);
  rig.link.WaitSendDone();
  for (uint32_t word : {0x80002000u, 0x12345678u}) {
    for (int shift = 0; shift < 32; shift += 8) {
      rig.link.SendByte(static_cast<uint8_t>(word >> shift));
      rig.link.WaitSendDone();
    }
  }
  EXPECT_EQ(rig.link.Peek(0x80002000), 0x12345678u);
  // A byte strobed without the read strobe after the one before: Select stays up.
  pins.Strobe(0x01);
  ASSERT_GE(pins.ReadsUntil(kSelect), 0);
  pins.Strobe(0x00);
  EXPECT_TRUE(pins.Status() & kSelect);
}

TEST(WritePulse, WithAutoFeedHighIsAnAcknowledgeNotAByte) {
  SimRig rig(Model::BCT13);
  ASSERT_TRUE(Connect(rig.session));
  Pins pins{rig.vd()};
  // The acknowledge pulse of the link, with no reply byte pending.
  rig.vd().PortOut(kDataPort, 0x00);
  for (uint8_t c : {0x21, 0x01, 0x05, 0x01, 0x21, 0x23}) pins.Control(c);
  EXPECT_EQ(pins.ReadsUntil(kSelect, 100), -1);
  // Had the decoder taken that 0x00 as the start of a poke, this frame would be shifted.
  rig.link.Poke(0x80002000, 0x12345678);
  EXPECT_EQ(rig.link.Peek(0x80002000), 0x12345678u);
}

struct Direction {
  uint8_t ecr;
  uint8_t control;    // as written, nInit high
  uint8_t dataRead;   // what the data register reads
  bool latches;       // a falling nInit hands the byte to the adapter
  const char* conf = "";
};

class DataLines : public ::testing::TestWithParam<Direction> {};

TEST_P(DataLines, TurnAroundOnlyInByteMode) {
  const Direction& d = GetParam();
  SimRig rig(Model::BCT13, d.conf);
  OpenAndReset(rig);
  sim::VirtualDecoder& vd = rig.vd();
  Pins pins{vd};
  vd.PortOut(kEcrPort, d.ecr);
  vd.PortOut(kDataPort, 0x5A);
  pins.Control(d.control);
  EXPECT_EQ(vd.PortIn(kDataPort), d.dataRead);
  pins.Control(d.control & ~0x04);
  EXPECT_EQ(pins.ReadsUntil(kSelect, 50) >= 0, d.latches);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DataLines,
    ::testing::Values(Direction{0x35, 0x27, 0xFF, false},   // byte mode, inputs: nobody drives
                      Direction{0x35, 0x07, 0x5A, true},    // byte mode, port drives
                      Direction{0x15, 0x27, 0x5A, true},    // standard mode ignores bit 5
                      Direction{0x15, 0x07, 0x5A, true},
                      Direction{0x55, 0x27, 0x5A, true},    // FIFO mode: bit 5 means nothing
                      // A port that cannot turn its lines around always drives them.
                      Direction{0x35, 0x27, 0x5A, true, "bidirectional = 0"}));

struct PortKind {
  const char* name;
  const char* conf;
  uint8_t replyRead;  // the data register while the decoder's first reply byte is on the lines
  bool readsData;
  const char* why;
};

class DataDirection : public ::testing::TestWithParam<PortKind> {};

// A peek's reply turned around on a port that can, and its own latch on one that cannot.
TEST_P(DataDirection, ReadsTheDecoderOnlyWhereTheLinesTurnAround) {
  const PortKind& k = GetParam();
  SimRig rig(Model::BCT13, k.conf);
  sim::VirtualDecoder& vd = rig.vd();
  const uint64_t accesses = vd.stats().portAccesses;
  const int64_t now = vd.clock().Now();
  std::string why = "untouched";
  EXPECT_EQ(vd.ReadsData(&why), k.readsData);
  EXPECT_EQ(why, k.why);
  EXPECT_EQ(vd.stats().portAccesses, accesses);
  EXPECT_EQ(vd.clock().Now(), now);

  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(0x80002000, 0x12345678);
  for (uint8_t b : {0x01, 0x00, 0x20, 0x00, 0x80}) {  // peek 0x80002000
    rig.link.SendByte(b);
    rig.link.WaitSendDone();
  }
  Pins pins{vd};
  ASSERT_GE(pins.ReadsUntil(kNError), 0);
  pins.Control(0x23);  // data lines to input
  vd.PortOut(kDataPort, 0xC3);
  EXPECT_EQ(vd.PortIn(kDataPort), k.replyRead);
}

INSTANTIATE_TEST_SUITE_P(
    Ports, DataDirection,
    ::testing::Values(PortKind{"Default", "", 0x78, true, "untouched"},
                      PortKind{"Bidirectional", "bidirectional = 1", 0x78, true, "untouched"},
                      PortKind{"SppOnly", "bidirectional = 0", 0xC3, false,
                               "its data lines cannot be turned to input (bidirectional = 0 in "
                               "decoder.conf)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortRegisters, PowerOnLevelsAndTheEcrModeField) {
  SimRig rig(Model::DSX6170);
  sim::VirtualDecoder& vd = rig.vd();
  // Byte mode, as the kernel keeps a claimed port.
  EXPECT_EQ(vd.PortIn(kEcrPort), 0x35);
  EXPECT_EQ(vd.PortIn(kControlPort), 0x0C);
  EXPECT_EQ(vd.PortIn(kStatusPort), 0xC7);  // idle: neither nError nor Select
  EXPECT_TRUE(vd.PortReleased());
  rig.link.LinkOpen();
  EXPECT_FALSE(vd.PortReleased());
  EXPECT_EQ(rig.link.SavedEcr, 0x35);
  rig.link.Poke(0x80000000, 1);
  rig.link.LinkClose();
  EXPECT_TRUE(vd.PortReleased());
  EXPECT_EQ(vd.PortIn(kEcrPort), 0x35);
  vd.PortOut(kEcrPort, 0x14);  // the FIFO status bits are read-only: empty, not full
  EXPECT_EQ(vd.PortIn(kEcrPort), 0x15);
}

TEST(ResetLine, HoldsTheDecoderWhileLow) {
  SimRig rig(Model::BCT13);
  OpenAndReset(rig);
  Pins pins{rig.vd()};
  rig.link.SetControlBits(0x08);
  rig.vd().clock().DelayMicroseconds(2000);
  pins.Strobe(0x00, 0x08);  // reset still held
  EXPECT_EQ(pins.ReadsUntil(kSelect, 100), -1);
  rig.link.ClearControlBits(0x08);
  rig.link.SendByte(0x01);
  EXPECT_GE(pins.ReadsUntil(kSelect, 100), 0);
}

struct Pulse {
  int64_t lowUs;
  bool counts;
};

class ResetPulse : public ::testing::TestWithParam<Pulse> {};

// A reset that counts forgets the memory-interface set-up (RAM keeps its contents); the
// supervisor ignores anything shorter than a millisecond.
TEST_P(ResetPulse, ShorterThanAMillisecondIsIgnored) {
  SimRig rig(Model::DSX6071_6072);
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(0x40000010, 0xA5A5A5A5);
  rig.link.SetControlBits(0x08);  // nSelectIn low from here...
  rig.vd().clock().DelayMicroseconds(GetParam().lowUs - 1);
  rig.link.ClearControlBits(0x08);  // ...to here, one access later
  EXPECT_EQ(rig.link.Peek(0x40000010), GetParam().counts ? 0u : 0xA5A5A5A5u);
  MemoryInterfaceSetup(rig.link, ProfileOf(rig.model).DecoderType, false);
  EXPECT_EQ(rig.link.Peek(0x40000010), 0xA5A5A5A5u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ResetPulse,
                         ::testing::Values(Pulse{10, false}, Pulse{999, false}, Pulse{1000, true},
                                           Pulse{100000, true}),
                         [](const auto& info) { return std::to_string(info.param.lowUs) + "us"; });

}  // namespace
}  // namespace corvane
