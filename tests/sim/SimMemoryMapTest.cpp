// The decoder's memory map through the link: the set-up gate, RAM, mirrors, the data area
// and the EEPROM's PIO pins.
#include <gtest/gtest.h>

#include <functional>

#include "support/SimRig.h"
#include "target/Connection.h"

namespace corvane {
namespace {

using testing::SimRig;

void OpenAndReset(SimRig& rig) {
  rig.link.LinkOpen();
  rig.link.ResetTarget();
}

struct SetupCase {
  const char* name;
  Model model;
  // Turns the tool's own set-up list into what is written.
  std::function<void(std::vector<RegisterWrite>&)> change;
  bool opens;
};

class MemorySetup : public ::testing::TestWithParam<SetupCase> {};

// External memory answers only after the board's exact set-up since the last reset.
TEST_P(MemorySetup, OpensExternalMemoryOnlyWhenExact) {
  const SetupCase& c = GetParam();
  SimRig rig(c.model);
  OpenAndReset(rig);
  auto writes = MemoryInterfaceWrites(ProfileOf(c.model).DecoderType, false);
  c.change(writes);
  for (const RegisterWrite& w : writes) rig.link.Poke(w.address, w.value);
  const uint32_t ram = c.model == Model::DSX6071_6072 ? 0x40000000 : 0x80000000;
  rig.link.Poke(ram, 0x600DF00D);
  EXPECT_EQ(rig.link.Peek(ram), c.opens ? 0x600DF00Du : 0u);
  EXPECT_EQ(rig.Word(ram), c.opens ? 0x600DF00Du : 0u) << "a write while closed is lost";
}

void Keep(std::vector<RegisterWrite>&) {}

INSTANTIATE_TEST_SUITE_P(
    Lists, MemorySetup,
    ::testing::Values(
        SetupCase{"bct13_exact", Model::BCT13, Keep, true},
        SetupCase{"none", Model::BCT13, [](auto& w) { w.clear(); }, false},
        SetupCase{"last_missing", Model::BCT13, [](auto& w) { w.pop_back(); }, false},
        SetupCase{"one_value_off", Model::BCT13, [](auto& w) { w[7].value ^= 1; }, false},
        SetupCase{"two_swapped", Model::DSX6071_6072,
                  [](auto& w) { std::swap(w[3], w[4]); }, false},
        SetupCase{"written_twice", Model::DSI185,
                  [](auto& w) { w.insert(w.end(), w.begin(), w.end()); }, true},
        SetupCase{"extra_write_in_between", Model::DSX6170,
                  [](auto& w) { w.insert(w.begin() + 5, {0x2060, 1}); }, false},
        SetupCase{"other_boards_list", Model::TS1,
                  [](auto& w) { w = MemoryInterfaceWrites(6, false); }, false},
        SetupCase{"bct13_reloaded", Model::BCT13,
                  [](auto& w) { w = MemoryInterfaceWrites(3, true); }, true},
        SetupCase{"then_changed", Model::DSX6070,
                  [](auto& w) { w.push_back({0x2000, 0x149}); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SparseRam, ReadsAllocateNothing) {
  SimRig rig(Model::BCT13);
  ASSERT_TRUE(Connect(rig.session));
  const sim::SparseRam& ram = rig.impl().decoder().ram();
  // One word in each 64 KB page of BCT13's dump region, 512 MB + 8 KB.
  for (uint64_t a = 0x80000000; a < 0xA0002000; a += 0x10000) {
    ASSERT_EQ(rig.link.Peek(static_cast<uint32_t>(a + 0xFFFC) > 0xA0001FFC
                                ? 0xA0001FFC
                                : static_cast<uint32_t>(a + 0xFFFC)),
              0u);
  }
  EXPECT_EQ(ram.allocatedPages(), 0u);
  rig.link.Poke(0xA0001FFC, 0);
  EXPECT_EQ(ram.allocatedPages(), 0u);
  rig.link.Poke(0xA0001FFC, 1);
  EXPECT_EQ(ram.allocatedPages(), 1u);
  EXPECT_EQ(rig.link.Peek(0xA0001FFC), 1u);
  EXPECT_EQ(rig.link.Peek(0x80001FFC), 0u) << "BCT13's region does not repeat";
}

struct Alias {
  Model model;
  uint32_t written, alias;
  bool same;
};

class Mirrors : public ::testing::TestWithParam<Alias> {};

TEST_P(Mirrors, ChipSelectsDecodeWhatTheBoardWires) {
  const Alias& a = GetParam();
  SimRig rig(a.model);
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(a.written, 0xABCD1234);
  EXPECT_EQ(rig.link.Peek(a.alias), a.same ? 0xABCD1234u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, Mirrors,
    ::testing::Values(Alias{Model::DSI185, 0x80000100, 0x82000100, true},    // 32 MB repeats
                      Alias{Model::TVNbox, 0x803FFFFC, 0x9E3FFFFC, true},
                      Alias{Model::DSX6071_6072, 0x40000100, 0x40800100, false},  // unmapped
                      Alias{Model::DSX6071_6072, 0xC0400000, 0xC0600000, false},
                      Alias{Model::DSX6170, 0x40FFFFFC, 0x41FFFFFC, false}));

TEST(FlashMirror, Dsi185AnswersOneMegabyteBelowItsBase) {
  SimRig rig(Model::DSI185);
  std::vector<uint8_t> flash(0x100000, 0xFF);
  flash[0x1230] = 0x5A;
  SimRig::WriteFile(rig.decoderDir() + "/flash.bin", flash);
  rig.Reopen();
  ASSERT_TRUE(Connect(rig.session));
  EXPECT_EQ(rig.link.Peek(0x7FF01230), 0xFFFFFF5Au);
  EXPECT_EQ(rig.link.Peek(0x7FE01230), 0xFFFFFF5Au);
  EXPECT_EQ(rig.link.Peek(0x7FD01230), 0u);
}

TEST(DataArea, ReadsInAddressOrderAndIgnoresPokes) {
  SimRig rig(Model::DSX6170);
  std::vector<uint8_t> data(0x200000, 0xFF);
  data[0x1FFFFC] = 0x01;
  data[0x1FFFFF] = 0x04;
  SimRig::WriteFile(rig.decoderDir() + "/data.bin", data);
  rig.Reopen();
  ASSERT_TRUE(Connect(rig.session));
  EXPECT_EQ(rig.link.Peek(0x501FFFFC), 0x04FFFF01u);
  rig.link.Poke(0x501FFFFC, 0);
  EXPECT_EQ(rig.link.Peek(0x501FFFFC), 0x04FFFF01u);
  EXPECT_EQ(rig.link.Peek(0x50200000), 0u);
}

struct Wiring {
  Model model;
  uint32_t pio;
  const char* conf;
  bool acknowledges;
};

class EepromPins : public ::testing::TestWithParam<Wiring> {};

// A control byte to the EEPROM through the PIO pins is acknowledged only where the device
// sits; the input pin reads the wired-AND of both sides.
TEST_P(EepromPins, OnlyTheModelsPioReachesTheDevice) {
  const Wiring& w = GetParam();
  SimRig rig(w.model, w.conf);
  ASSERT_TRUE(Connect(rig.session));
  rig.ee.EePioBase = w.pio;
  rig.ee.EeStart();
  rig.ee.EeSendByte(0xA0);
  EXPECT_EQ(rig.ee.EeWaitAck(20), w.acknowledges);
  rig.ee.EeStop();
  EXPECT_EQ(rig.link.Peek(w.pio + 0x10) & 1, 1u) << "released after the stop";
  rig.ee.EeSetSda(0);
  EXPECT_EQ(rig.link.Peek(w.pio + 0x10) & 1, 0u) << "the master's own pull";
}

INSTANTIATE_TEST_SUITE_P(
    Boards, EepromPins,
    ::testing::Values(Wiring{Model::BCT13, 0x2000D000, "", true},
                      Wiring{Model::BCT13, 0x2000F000, "", false},
                      Wiring{Model::TS1, 0x2000F000, "", true},
                      Wiring{Model::STB3100, 0x2000D000, "", false},
                      Wiring{Model::DSX6170, 0x2000D000, "eeprom_present = 0", false}));

TEST(EepromPins, WorkWithoutTheMemorySetUpAndTraceTheWires) {
  SimRig rig(Model::TVNbox);
  const std::string vcd = rig.path("bus.vcd");
  ASSERT_TRUE(rig.vd().SetBusTrace(vcd));
  OpenAndReset(rig);  // on-chip PIO: no set-up needed
  rig.ee.EePioBase = 0x2000D000;
  rig.ee.EeStart();
  rig.ee.EeSendByte(0xA0);
  EXPECT_TRUE(rig.ee.EeWaitAck(20));
  rig.ee.EeStop();
  rig.Reopen();  // closes the trace
  const auto bytes = SimRig::ReadFile(vcd);
  const std::string text(bytes.begin(), bytes.end());
  // Start, eight data bits with their clocks, the acknowledge and the stop: many changes.
  EXPECT_GT(std::count(text.begin(), text.end(), '#'), 20);
}

}  // namespace
}  // namespace corvane
