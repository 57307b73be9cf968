// The link test's third stage, which the shell cannot reach: a decoder that answers, set up
// as another model. Its external memory never comes alive.
#include <gtest/gtest.h>

#include "support/SimRig.h"
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
            "Link test: the decoder answers, but 40000100 never holds what is written (wrote "
            "FFFFFFFF, read 00000000): its memory is not set up for a DSX6170. Check that the "
            "decoder on the cable is a DSX6170.");
  EXPECT_TRUE(rig.vd().PortReleased());
}

TEST(LinkTest, PutsTheScratchWordBack) {
  SimRig rig(Model::DSX6070);
  rig.session.linkCostPath = rig.path("cost.conf");
  LinkTest(rig.session, 1);  // connects, so the RAM answers for the poke below
  rig.link.LinkOpen();
  rig.link.Poke(ProfileOf(Model::DSX6070).scratchWord, 0x600DF00D);
  rig.link.LinkClose();
  LinkTest(rig.session, 100);
  EXPECT_EQ(rig.Word(ProfileOf(Model::DSX6070).scratchWord), 0x600DF00Du);
  LinkCost cost;
  ASSERT_TRUE(LoadLinkCost(rig.path("cost.conf"), &cost));
  EXPECT_DOUBLE_EQ(cost.usPerAccess, 1.0);
  EXPECT_GT(cost.accessesPerPeek, cost.accessesPerPoke);
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
