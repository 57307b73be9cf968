// The link test's third stage, which the shell cannot reach: a decoder that answers, set up
// as another model. Its external memory never comes alive.
#include <gtest/gtest.h>

#include <cstring>

#include <filesystem>

#include "support/SimRig.h"
#include "target/Connection.h"
#include "target/LinkTest.h"

namespace corvane::testing {
namespace {

TEST(LinkTest, ADecoderSetUpAsAnotherModelIsNamed) {
  SimRig rig(Model::TS1);
  rig.session.profile.model = Model::DSX6170;  // the window says DSX6170, a TS1 is on the cable
  LinkTest(rig.session, 64);
  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(rig.host.messages[0].text,
            "Link test: the decoder answers, but 40000000 never holds what is written (wrote "
            "FFFFFFFF, read 00000000): its memory is not set up for a DSX6170. Check that the "
            "decoder on the cable is a DSX6170.");
  EXPECT_TRUE(rig.vd().PortReleased());
}

struct ScratchCase {
  const char* name;
  const char* conf;          // decoder.conf lines
  long stopAt;               // ProcessMessages call that asks to stop (answered Yes); 0: never
  bool measured;             // a clean run keeps what it measured
  const char* says;          // the start of its one message
  bool planted = false;      // a link at someone's file waits under the name PATH.tmp
  std::optional<std::string> modes = {};  // what the kernel says of the port
  const char* ends = "";                  // the end of its one message
};

// The virtual decoder behind a port whose modes the kernel may know.
struct PortWithModes final : TransactionTap {
  PortWithModes(PortIo& port, std::optional<std::string> m) : TransactionTap(port), modes(m) {}
  std::optional<std::string> Modes() override { return modes; }
  std::optional<std::string> modes;
};

class ScratchWordBack : public ::testing::TestWithParam<ScratchCase> {};

// The word it uses holds its old value afterwards, also when the user stops the test and
// when the link flips bits of the old value as it is read.
TEST_P(ScratchWordBack, HoldsItsOldValue) {
  const ScratchCase& c = GetParam();
  SimRig rig(Model::DSX6070, c.conf);
  PortWithModes port(rig.vd(), c.modes);
  rig.link.Rebind(port, rig.link.clock());
  const uint32_t scratch = ProfileOf(Model::DSX6070).scratchWord;
  rig.session.linkCostPath = rig.path("cost.conf");
  if (c.planted) {
    SimRig::WriteFile(rig.path("victim"), {'k', 'e', 'e', 'p'});
    std::filesystem::create_symlink(rig.path("victim"), rig.path("cost.conf.tmp"));
  }
  ASSERT_TRUE(Connect(rig.session));  // the RAM answers only once it is set up
  rig.link.Poke(scratch, 0xCAFEBABE);
  Disconnect(rig.session);
  rig.host.abortAfterMessages = c.stopAt;
  rig.host.answers = {Answer::Yes};
  LinkTest(rig.session, 100);
  EXPECT_EQ(rig.Word(scratch), 0xCAFEBABEu);
  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages.back().text.rfind(c.says, 0), 0u) << rig.host.messages.back().text;
  EXPECT_TRUE(rig.host.messages.back().text.ends_with(c.ends)) << rig.host.messages.back().text;
  LinkCost cost;
  EXPECT_EQ(LoadLinkCost(rig.path("cost.conf"), &cost), c.measured);
  if (c.measured) {
    EXPECT_DOUBLE_EQ(cost.usPerAccess, 1.0);
    EXPECT_GT(cost.accessesPerPeek, cost.accessesPerPoke);
  }
  if (c.planted) {
    EXPECT_EQ(SimRig::ReadFile(rig.path("victim")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(std::filesystem::is_symlink(rig.path("cost.conf")));
  }
  for (const auto& e : std::filesystem::directory_iterator(rig.dir.path()))
    EXPECT_NE(e.path().filename().string().rfind(".corvane-", 0), 0u) << "a temporary file is left";
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ScratchWordBack,
    ::testing::Values(ScratchCase{"clean", "", 0, true, "Link test passed", false, "PCSPP,EPP",
                                  "as the kernel found them: PCSPP,EPP."},
                      // A fixed temporary name would be followed to someone else's file.
                      ScratchCase{"pastAPlantedLink", "", 0, true, "Link test passed", true},
                      ScratchCase{"stopped", "", 40, false, "Stop the link test?"},
                      // Every fourth reply byte flipped: no two reads of the old value agree.
                      ScratchCase{"noisy", "flip_bits_every = 4", 0, false,
                                  "Link test: the link corrupts data", false, {},
                                  "byte mode). Nothing was changed on the decoder."},
                      ScratchCase{"noisyOnAnEcpPort", "flip_bits_every = 4", 0, false,
                                  "Link test: the link corrupts data", false, "PCSPP,TRISTATE,ECP",
                                  "/ byte mode (or SPP with bidirectional) in the BIOS."},
                      ScratchCase{"noisyOnABidirectionalPort", "flip_bits_every = 4", 0, false,
                                  "Link test: the link corrupts data", false, "PCSPP,TRISTATE",
                                  "whole). Nothing was changed on the decoder. The port's modes, "
                                  "as the kernel found them: PCSPP,TRISTATE."}),
    [](const auto& info) { return std::string(info.param.name); });

// A damaged measurement would overflow the estimates: it is set aside, and said to be.
TEST(LinkCostFile, OutOfBoundsOrIncompleteIsUnusable) {
  const std::pair<const char*, bool> cases[] = {
      {"us_per_access = 2.5\naccesses_per_poke = 90\naccesses_per_peek = 93\n", true},
      {"us_per_access = 1e300\naccesses_per_poke = 90\naccesses_per_peek = 93\n", false},
      {"us_per_access = 1\naccesses_per_poke = 1e18\naccesses_per_peek = 93\n", false},
      {"us_per_access = 1\naccesses_per_poke = 90\naccesses_per_peek = -5\n", false},
      {"us_per_access = 1\naccesses_per_poke = 90\n", false}};
  TempDir dir;
  for (const auto& [text, usable] : cases) {
    SimRig::WriteFile(dir / "cost.conf", std::vector<uint8_t>(text, text + std::strlen(text)));
    LinkCost cost;
    EXPECT_EQ(LoadLinkCost(dir / "cost.conf", &cost), usable) << text;
    EXPECT_EQ(cost.unusable, !usable) << text;
    EXPECT_EQ(cost.usPerAccess, usable ? 2.5 : 1.0) << text;
  }
  LinkCost none;
  EXPECT_FALSE(LoadLinkCost(dir / "missing.conf", &none));
  EXPECT_FALSE(none.unusable) << "no file is no damage";
}

TEST(LinkCostText, RoundsToWhatAPersonSays) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "about 1 s"},           {44'400'000, "about 44 s"},      {89'400'000, "about 89 s"},
      {90'000'000, "about 2 min"}, {989'000'000, "about 16 min"},   {5'369'000'000, "about 89 min"},
      {5'400'000'000, "about 1 h 30 min"}, {36'000'000'000, "about 10 h 0 min"}};
  for (const auto& [us, text] : cases) EXPECT_EQ(DurationText(us), text) << us;
}

}  // namespace
}  // namespace corvane::testing
