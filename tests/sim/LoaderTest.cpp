// The virtual loaders: uploaded as code blocks, they copy a RAM image on the decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/SimRig.h"
#include "target/Connection.h"

namespace corvane {
namespace {

using testing::SimRig;

void Upload(SimRig& rig, const std::string& loaderName) {
  const auto bytes = SimRig::ReadFile(rig.decoderDir() + "/" + loaderName);
  ASSERT_GE(bytes.size(), 2u);
  ASSERT_LE(bytes.size(), 255u);
  rig.link.SendByte(static_cast<uint8_t>(bytes.size()));
  rig.link.WaitSendDone();
  for (uint8_t b : bytes) {
    rig.link.SendByte(b);
    rig.link.WaitSendDone();
  }
}

struct LoaderCase {
  Model model;
  const char* file;
  uint32_t ram, destination, words;
};

class ModelLoader : public ::testing::TestWithParam<LoaderCase> {};

// Each loader the decoder placed in its folder copies the RAM image, bytes in address order,
// to where the tool expects it, once loader_seconds have passed.
TEST_P(ModelLoader, CopiesTheRamImageAfterLoaderSeconds) {
  const LoaderCase& c = GetParam();
  SimRig rig(c.model);
  ASSERT_TRUE(Connect(rig.session));
  const uint32_t last = 4 * (c.words - 1);
  rig.link.Poke(c.ram, 0x44332211);
  rig.link.Poke(c.ram + last, 0x88776655);
  Upload(rig, c.file);
  const int64_t uploaded = rig.vd().clock().Now();
  rig.vd().clock().SleepMilliseconds(2990);
  EXPECT_EQ(rig.Word(c.destination), 0xFFFFFFFFu);
  rig.vd().clock().SleepMilliseconds(10);
  EXPECT_EQ(rig.Word(c.destination), 0x44332211u);
  EXPECT_EQ(rig.Word(c.destination + 4), 0u);  // RAM that was never written is zero
  EXPECT_EQ(rig.Word(c.destination + last), 0x88776655u);
  EXPECT_EQ(rig.link.Peek(c.destination + last), 0x88776655u);
  EXPECT_GE(rig.vd().clock().Now() - uploaded, 3000000);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ModelLoader,
    ::testing::Values(LoaderCase{Model::BCT13, "TRAP.BIN", 0x80002000, 0x7FF00000, 0x40000},
                      LoaderCase{Model::BCT13, "TRAPDATA.BIN", 0x80002000, 0xFFF80000, 0x20000},
                      LoaderCase{Model::DSI185, "TRAPDATA.BIN", 0x80002000, 0xFFF80000, 0x20000},
                      LoaderCase{Model::TS1, "TRAPPACE.bin", 0x80002000, 0xC0000000, 0x20000},
                      LoaderCase{Model::DSX6070, "TRAP6070.bin", 0x40000000, 0x50000000,
                                 0x20000}),
    [](const auto& info) {
      std::string name = ModelFolderName(info.param.model) + "_" + info.param.file;
      for (char& ch : name) {
        if (ch == '.') ch = '_';
      }
      return name;
    });

TEST(Loader, TheBootLinkIsSilentWhileItRuns) {
  SimRig rig(Model::BCT13, "loader_seconds = 5");
  ASSERT_TRUE(Connect(rig.session));
  Upload(rig, "TRAPDATA.BIN");
  // Each refused attempt costs the link's one-second wait, in virtual time.
  for (int i = 0; i < 4; ++i) EXPECT_THROW(rig.link.Peek(0x80002000), LinkError);
  rig.vd().clock().SleepMilliseconds(1000);
  EXPECT_NO_THROW(rig.link.Peek(0x80002000));
}

TEST(Loader, AResetWhileItRunsLeavesTheDestinationAlone) {
  SimRig rig(Model::BCT13);
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(0x80002000, 0x01020304);
  Upload(rig, "TRAPDATA.BIN");
  rig.vd().clock().SleepMilliseconds(1000);
  rig.link.ResetTarget();
  rig.vd().clock().SleepMilliseconds(5000);
  EXPECT_EQ(rig.Word(0xFFF80000), 0xFFFFFFFFu);
}

TEST(Loader, WithoutTheMemorySetUpItCannotReachRamAndIsIgnored) {
  SimRig rig(Model::BCT13);
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(0x80002000, 0x01020304);
  rig.link.ResetTarget();  // set-up forgotten, RAM kept
  Upload(rig, "TRAPDATA.BIN");
  EXPECT_NO_THROW(rig.link.Peek(0x80002000));  // no loader runs: the link answers
  rig.vd().clock().SleepMilliseconds(5000);
  EXPECT_EQ(rig.Word(0xFFF80000), 0xFFFFFFFFu);
}

TEST(Loader, FilesAreWrittenOnlyWhereTheirModelTakesThem) {
  struct Expect {
    Model model;
    std::vector<std::string> files;
  };
  const Expect table[] = {{Model::DSX6071_6072, {}},
                          {Model::DSI185, {"TRAPDATA.BIN"}},
                          {Model::BCT13, {"TRAP.BIN", "TRAPDATA.BIN"}},
                          {Model::TS1, {"TRAPPACE.bin"}},
                          {Model::DSX6070, {"TRAP6070.bin"}},
                          {Model::TVNbox, {}},
                          {Model::STB3100, {}},
                          {Model::DSX6170, {}}};
  const char* all[] = {"TRAP.BIN", "TRAPDATA.BIN", "TRAPPACE.bin", "TRAP6070.bin"};
  testing::TempDir dir;
  for (const Expect& e : table) {
    std::string error;
    auto vd = sim::VirtualDecoder::Open(dir.path(), ProfileOf(e.model).caption, &error);
    ASSERT_TRUE(vd) << error;
    for (const char* name : all) {
      const bool wanted = std::find(e.files.begin(), e.files.end(), name) != e.files.end();
      EXPECT_EQ(std::filesystem::exists(vd->directory() + "/" + name), wanted)
          << ProfileOf(e.model).caption << " " << name;
    }
  }
  // Nothing beside the folders of the decoders.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_TRUE(entry.is_directory()) << entry.path();
  }
}

}  // namespace
}  // namespace corvane
