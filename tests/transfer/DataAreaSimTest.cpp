#include <gtest/gtest.h>

#include <random>

#include "support/SimRig.h"
#include "transfer/DataArea.h"
#include "transfer/TransferTestKit.h"

// The data area end to end through the virtual decoder and its own loaders.
namespace corvane::testing {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  std::mt19937 random(seed);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

class DataAreaSim : public ::testing::TestWithParam<Model> {};

TEST_P(DataAreaSim, WriteThenReadRoundTrips) {
  SimRig rig(GetParam());
  // The read below checks every model; the tool's own read-back runs once, where the data
  // area shares its loader with the flash.
  rig.session.verifyAfterWrite = GetParam() == Model::BCT13;
  const auto image = RandomBytes(0x80000, 100 + static_cast<uint32_t>(GetParam()));
  SimRig::WriteFile(rig.path("data.bin"), image);
  rig.host.dialogPaths = {rig.path("data.bin"), rig.path("back.bin")};

  WriteDataArea(rig.session);
  // The loader has had its time (and on BCT13 the read-back found the file's words).
  const std::string done = std::string("Writing Data Area completed.") +
                           (rig.session.verifyAfterWrite ? " Read back and verified: 512 KB." : "");
  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{done});
  rig.vd().Save();
  EXPECT_TRUE(SimRig::ReadFile(rig.decoderDir() + "/data.bin") == image);

  ReadDataArea(rig.session);
  EXPECT_EQ(rig.host.MessageTexts(),
            (std::vector<std::string>{done, "Reading Data completed."}));
  EXPECT_TRUE(SimRig::ReadFile(rig.path("back.bin")) == image);
  EXPECT_TRUE(rig.vd().PortReleased());
}

INSTANTIATE_TEST_SUITE_P(Loaders, DataAreaSim,
                         ::testing::Values(Model::DSI185, Model::BCT13, Model::TS1, Model::DSX6070),
                         [](const auto& info) { return ModelFolderName(info.param); });

}  // namespace
}  // namespace corvane::testing
