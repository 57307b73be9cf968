#include <gtest/gtest.h>

#include "support/SimRig.h"
#include "target/Connection.h"

namespace corvane {
namespace {

using testing::SimRig;

struct RamCase {
  Model model;
  uint32_t ram;  // a RAM word the tool uses on this model
};

class ConnectEveryModel : public ::testing::TestWithParam<RamCase> {};

TEST_P(ConnectEveryModel, PokedRamWordReadsBack) {
  SimRig rig(GetParam().model);
  ASSERT_TRUE(Connect(rig.session));
  const uint32_t a = GetParam().ram;
  rig.link.Poke(a, 0xC0FFEE42);
  rig.link.Poke(a + 4, 0x00000001);
  EXPECT_EQ(rig.link.Peek(a), 0xC0FFEE42u);
  EXPECT_EQ(rig.link.Peek(a + 4), 0x00000001u);
  EXPECT_EQ(rig.Word(a), 0xC0FFEE42u);
  Disconnect(rig.session);
  EXPECT_TRUE(rig.vd().PortReleased());
  EXPECT_TRUE(rig.host.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Models, ConnectEveryModel,
    ::testing::Values(RamCase{Model::DSX6071_6072, 0xC0400000}, RamCase{Model::DSI185, 0x80002000},
                      RamCase{Model::BCT13, 0xA0001FF8}, RamCase{Model::TS1, 0x80002000},
                      RamCase{Model::DSX6070, 0x40000000}, RamCase{Model::TVNbox, 0x803FFFF8},
                      RamCase{Model::STB3100, 0x80000000}, RamCase{Model::DSX6170, 0x40000000}),
    [](const auto& info) { return ModelFolderName(info.param.model); });

}  // namespace
}  // namespace corvane
