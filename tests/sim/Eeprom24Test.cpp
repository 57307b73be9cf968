#include <gtest/gtest.h>

#include <numeric>

#include "eeprom/EepromCommands.h"
#include "sim/Eeprom24.h"
#include "support/SimRig.h"

namespace corvane::sim {
namespace {

// A bus master on the two wires, as a logic analyser would see it: every change is one
// call, SDA is sampled as the wired-AND of both sides.
struct Master {
  explicit Master(size_t size, int64_t cycleUs = 5000, EepromFaults faults = {})
      : contents(size), device(contents, clock, cycleUs, faults) {
    for (size_t i = 0; i < contents.size(); ++i)
      contents[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  }
  void Set(bool scl, bool sda) {
    clock.Advance(10);
    this->scl = scl;
    this->sda = sda;
    device.Drive(scl, sda);
  }
  bool Wire() const { return sda && device.SdaReleased(); }
  void Start() {
    Set(false, true);
    Set(true, true);
    Set(true, false);
    Set(false, false);
  }
  void Stop() {
    Set(false, false);
    Set(true, false);
    Set(true, true);
    Set(false, true);
  }
  void Clock(bool bit) {
    Set(false, bit);
    Set(true, bit);
    Set(false, bit);
  }
  void Bits(uint8_t value, int count) {
    for (int i = 7; i >= 8 - count; --i) Clock((value >> i) & 1);
  }
  // Eight data clocks and the acknowledge clock; true when the device pulled SDA low.
  bool Send(uint8_t value) {
    Bits(value, 8);
    Set(false, true);
    Set(true, true);
    const bool ack = !Wire();
    Set(false, true);
    return ack;
  }
  uint8_t Receive(bool ack) {
    uint8_t v = 0;
    for (int i = 0; i < 8; ++i) {
      Set(false, true);
      Set(true, true);
      v = static_cast<uint8_t>((v << 1) | (Wire() ? 1 : 0));
      Set(false, true);
    }
    Clock(!ack);
    return v;
  }
  std::vector<uint8_t> Read(size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) out.push_back(Receive(i + 1 < n));
    return out;
  }
  // Control byte and word address; block bits for the small part, two bytes for the large.
  bool Address(uint32_t a, bool wide) {
    Start();
    if (wide)
      return Send(0xA0) && Send(static_cast<uint8_t>(a >> 8)) && Send(static_cast<uint8_t>(a));
    return Send(static_cast<uint8_t>(0xA0 | ((a >> 7) & 0x0E))) && Send(static_cast<uint8_t>(a));
  }
  std::vector<uint8_t> RandomRead(uint32_t a, size_t n, bool wide) {
    EXPECT_TRUE(Address(a, wide));
    Start();
    EXPECT_TRUE(Send(static_cast<uint8_t>(wide ? 0xA1 : 0xA1 | ((a >> 7) & 0x0E))));
    auto out = Read(n);
    Stop();
    return out;
  }
  bool Write(uint32_t a, const std::vector<uint8_t>& bytes, bool wide) {
    if (!Address(a, wide)) return false;
    for (uint8_t b : bytes)
      if (!Send(b)) return false;
    Stop();
    return true;
  }
  void WaitCycle() { clock.Advance(5000); }

  std::vector<uint8_t> contents;
  VirtualClock clock;
  Eeprom24 device;
  bool scl = true, sda = true;
};

uint8_t At(const Master& m, uint32_t a) {
  return m.contents[a];
}

TEST(Eeprom24, RandomReadOfTheSmallPartTakesBlockBitsFromTheControlByte) {
  Master m(2048);
  const std::vector<uint8_t> expected = {At(m, 0x523), At(m, 0x524), At(m, 0x525)};
  EXPECT_EQ(m.RandomRead(0x523, 3, false), expected);
}

TEST(Eeprom24, SequentialReadRunsAcrossBlocksAndWrapsAtTheEnd) {
  Master m(2048);
  EXPECT_EQ(m.RandomRead(0x1FE, 4, false),
            (std::vector<uint8_t>{At(m, 0x1FE), At(m, 0x1FF), At(m, 0x200), At(m, 0x201)}));
  EXPECT_EQ(m.RandomRead(0x7FE, 4, false),
            (std::vector<uint8_t>{At(m, 0x7FE), At(m, 0x7FF), At(m, 0x000), At(m, 0x001)}));
  Master w(8192);
  EXPECT_EQ(w.RandomRead(0x1FFF, 2, true), (std::vector<uint8_t>{At(w, 0x1FFF), At(w, 0)}));
}

TEST(Eeprom24, CurrentAddressReadContinuesAfterTheLastByte) {
  Master m(8192);
  m.RandomRead(0x1234, 2, true);
  m.Start();
  ASSERT_TRUE(m.Send(0xA1));
  EXPECT_EQ(m.Read(1), (std::vector<uint8_t>{At(m, 0x1236)}));
  m.Stop();
}

TEST(Eeprom24, LargePartIgnoresAddressBitsAboveItsSize) {
  Master m(8192);
  ASSERT_TRUE(m.Address(0xE123, true));
  m.Start();
  ASSERT_TRUE(m.Send(0xA1));
  EXPECT_EQ(m.Read(1), (std::vector<uint8_t>{At(m, 0x0123)}));
  m.Stop();
}

struct ControlCase {
  size_t size;
  uint8_t control;
  bool acknowledged;
};

class Eeprom24Control : public ::testing::TestWithParam<ControlCase> {};

TEST_P(Eeprom24Control, AnswersOnlyItsOwnControlBytes) {
  Master m(GetParam().size);
  m.Start();
  EXPECT_EQ(m.Send(GetParam().control), GetParam().acknowledged);
  // After a refused control byte the device stays off the bus until the next start.
  if (!GetParam().acknowledged) {
    EXPECT_FALSE(m.Send(0xA0));
    m.Start();
    EXPECT_TRUE(m.Send(0xA0));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Eeprom24Control,
    ::testing::Values(ControlCase{2048, 0xA0, true}, ControlCase{2048, 0xAE, true},
                      ControlCase{2048, 0xAF, true}, ControlCase{2048, 0xB0, false},
                      ControlCase{2048, 0x50, false}, ControlCase{8192, 0xA0, true},
                      ControlCase{8192, 0xA1, true}, ControlCase{8192, 0xA2, false},
                      ControlCase{8192, 0xAE, false}));

TEST(Eeprom24, AcknowledgeHoldsSdaThroughTheNinthClockOnly) {
  Master m(2048);
  m.Start();
  m.Bits(0xA0, 8);
  // Pulled low right after the 8th falling edge, while SCL is low.
  EXPECT_FALSE(m.device.SdaReleased());
  m.Set(false, true);
  m.Set(true, true);
  EXPECT_FALSE(m.device.SdaReleased());
  m.Set(false, true);
  EXPECT_TRUE(m.device.SdaReleased());
}

TEST(Eeprom24, PageWriteWrapsWithinThePage) {
  struct Case {
    size_t size;
    uint32_t start;
    uint32_t pageBase;
    size_t pageSize;
  };
  for (const Case c : {Case{2048, 0x53E, 0x530, 16}, Case{8192, 0x1FFE, 0x1FE0, 32}}) {
    SCOPED_TRACE(c.size);
    Master m(c.size);
    const std::vector<uint8_t> before = m.contents;
    ASSERT_TRUE(m.Write(c.start, {0x11, 0x22, 0x33, 0x44}, c.size == 8192));
    std::vector<uint8_t> expected = before;
    expected[c.start] = 0x11;
    expected[c.start + 1] = 0x22;
    expected[c.pageBase] = 0x33;
    expected[c.pageBase + 1] = 0x44;
    EXPECT_EQ(m.contents, expected);
    EXPECT_TRUE(m.device.dirty());
  }
}

TEST(Eeprom24, MoreThanAPageOverwritesTheFirstBytesOfThePage) {
  Master m(2048);
  std::vector<uint8_t> bytes(18);
  std::iota(bytes.begin(), bytes.end(), 0x80);
  ASSERT_TRUE(m.Write(0x100, bytes, false));
  m.WaitCycle();
  EXPECT_EQ(m.RandomRead(0x100, 3, false), (std::vector<uint8_t>{0x90, 0x91, 0x82}));
  EXPECT_EQ(m.contents[0x10F], 0x8F);
  EXPECT_EQ(m.contents[0x110], static_cast<uint8_t>(0x110 * 7 + 1)) << "next page untouched";
}

TEST(Eeprom24, WriteCycleRefusesEverythingUntilItEnds) {
  Master m(2048, 5000);
  ASSERT_TRUE(m.Write(0x40, {0x5A}, false));
  EXPECT_EQ(m.contents[0x40], 0x5A);
  const int64_t stopAt = m.clock.now() - 10;  // the stop's last step came 10 us after it
  m.Start();
  EXPECT_FALSE(m.Send(0xA1));
  m.Stop();
  // A start 1 us before the cycle ends is not heard, even though the byte ends after it.
  m.clock.Advance(stopAt + 5000 - 31 - m.clock.now());
  m.Start();
  EXPECT_FALSE(m.Send(0xA1));
  m.Stop();
  m.Start();
  EXPECT_TRUE(m.Send(0xA1));
  // The counter points past the byte written.
  EXPECT_EQ(m.Read(1), (std::vector<uint8_t>{At(m, 0x41)}));
  m.Stop();
}

TEST(Eeprom24, ConditionsInsideADataByteDropTheWrite) {
  struct Case {
    const char* name;
    int bits;   // clocks of the third data byte before the condition
    bool stop;  // else a repeated start
  };
  for (const Case c :
       {Case{"stop after 1 bit", 1, true}, Case{"stop after 7 bits", 7, true},
        Case{"start after the ack", 0, false}, Case{"start after 3 bits", 3, false}}) {
    SCOPED_TRACE(c.name);
    Master m(2048);
    const std::vector<uint8_t> before = m.contents;
    ASSERT_TRUE(m.Address(0x200, false));
    ASSERT_TRUE(m.Send(0x01));
    ASSERT_TRUE(m.Send(0x02));
    m.Bits(0x03, c.bits);
    if (c.stop) {
      m.Stop();
    } else {
      m.Start();
      m.Stop();
    }
    EXPECT_EQ(m.contents, before);
    EXPECT_FALSE(m.device.dirty());
    // No write cycle started: the device answers at once.
    m.Start();
    EXPECT_TRUE(m.Send(0xA0));
  }
}

TEST(Eeprom24, StopRightAfterTheAddressOnlyMovesTheCounter) {
  Master m(2048);
  ASSERT_TRUE(m.Address(0x3F0, false));
  m.Stop();
  EXPECT_FALSE(m.device.dirty());
  m.Start();
  ASSERT_TRUE(m.Send(0xA7));
  EXPECT_EQ(m.Read(1), (std::vector<uint8_t>{At(m, 0x3F0)}));
  m.Stop();
}

TEST(Eeprom24, NoAcknowledgeEndsTheReadAndFreesTheBus) {
  Master m(2048);
  ASSERT_TRUE(m.Address(0, false));
  m.Start();
  ASSERT_TRUE(m.Send(0xA1));
  m.Receive(false);
  // Later clocks get nothing from the device, and the stop is seen.
  for (int i = 0; i < 9; ++i) {
    m.Set(false, true);
    m.Set(true, true);
    EXPECT_TRUE(m.device.SdaReleased());
    m.Set(false, true);
  }
  m.Stop();
  m.Start();
  EXPECT_TRUE(m.Send(0xA0));
}

struct ProtectCase {
  const char* name;
  WriteProtect pin;
  bool dataAcknowledged, written;
};

class Eeprom24WriteProtect : public ::testing::TestWithParam<ProtectCase> {};

TEST_P(Eeprom24WriteProtect, AcknowledgesAndWritesAsThePartDoes) {
  const ProtectCase& c = GetParam();
  Master m(8192, 5000, EepromFaults{c.pin});
  const std::vector<uint8_t> before = m.contents;
  ASSERT_TRUE(m.Address(0x123, true)) << "control and address bytes are always acknowledged";
  EXPECT_EQ(m.Send(0x11), c.dataAcknowledged);
  EXPECT_EQ(m.Send(0x22), c.dataAcknowledged);
  m.Stop();
  std::vector<uint8_t> expected = before;
  if (c.written) {
    expected[0x123] = 0x11;
    expected[0x124] = 0x22;
  }
  EXPECT_EQ(m.contents, expected);
  EXPECT_EQ(m.device.dirty(), c.written);
  // Only a write that went in starts a write cycle.
  m.Start();
  EXPECT_EQ(m.Send(0xA0), !c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Pins, Eeprom24WriteProtect,
    ::testing::Values(ProtectCase{"off", WriteProtect::Off, true, true},
                      ProtectCase{"refuses_data", WriteProtect::RefuseData, false, false},
                      ProtectCase{"acknowledges_all", WriteProtect::IgnoreData, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct PinOnDecoder {
  const char* name;
  const char* conf;
  std::vector<std::string> messages;
  bool written;
};

void PrintTo(const PinOnDecoder& c, std::ostream* os) {
  *os << c.conf;
}

class WriteProtectOnDecoder : public ::testing::TestWithParam<PinOnDecoder> {};

// The tool's Write Eeprom against each write-protect pin, and what eeprom.bin holds after.
TEST_P(WriteProtectOnDecoder, KeepsItsContentsUnlessTheWriteGoesIn) {
  const PinOnDecoder& c = GetParam();
  testing::SimRig rig(Model::BCT13, c.conf);
  std::vector<uint8_t> image(2048);
  std::iota(image.begin(), image.end(), uint8_t{0x40});
  testing::SimRig::WriteFile(rig.path("ee.bin"), image);
  rig.host.dialogPaths.push_back(rig.path("ee.bin"));
  WriteEeprom(rig.session);
  EXPECT_EQ(rig.host.MessageTexts(), c.messages);
  ASSERT_TRUE(rig.vd().Save());
  EXPECT_EQ(testing::SimRig::ReadFile(rig.decoderDir() + "/eeprom.bin"),
            c.written ? image : std::vector<uint8_t>(2048, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(
    Pins, WriteProtectOnDecoder,
    ::testing::Values(
        PinOnDecoder{"Off", "eeprom_write_protect = 0", {"Writing Eeprom completed. Read back and verified: 2 KB."}, true},
        PinOnDecoder{"RefusesData", "eeprom_write_protect = 1", {"NO ACK4"}, false},
        // Every byte acknowledged: only the read-back finds that nothing went in.
        PinOnDecoder{"AcknowledgesAll",
                     "eeprom_write_protect = ack",
                     {"Verify failed: 2040 bytes differ, first at 0000. The EEPROM may be "
                      "write-protected."},
                     false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Eeprom24, OddSizedContentsArePaddedToThePart) {
  std::vector<uint8_t> small(100, 0x00), odd(3000, 0x00);
  VirtualClock clock;
  Eeprom24 a(small, clock), b(odd, clock);
  EXPECT_EQ(small.size(), 2048u);
  EXPECT_EQ(small[2047], 0xFF);
  EXPECT_EQ(odd.size(), 8192u);
}

}  // namespace
}  // namespace corvane::sim
