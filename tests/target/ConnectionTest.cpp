#include <gtest/gtest.h>

#include "target/Connection.h"

namespace corvane {
namespace {

struct SetupCase {
  int decoderType;
  bool reloaded;
  size_t pokes;
  RegisterWrite first, last;
};

class SetupListTest : public ::testing::TestWithParam<SetupCase> {};

TEST_P(SetupListTest, CountAndEnds) {
  const SetupCase& c = GetParam();
  const auto writes = MemoryInterfaceWrites(c.decoderType, c.reloaded);
  ASSERT_EQ(writes.size(), c.pokes);
  if (writes.empty()) return;
  EXPECT_EQ(writes.front().address, c.first.address);
  EXPECT_EQ(writes.front().value, c.first.value);
  EXPECT_EQ(writes.back().address, c.last.address);
  EXPECT_EQ(writes.back().value, c.last.value);
}

INSTANTIATE_TEST_SUITE_P(
    EveryDecoderType, SetupListTest,
    ::testing::Values(SetupCase{0, false, 18, {0x2000, 0x168}, {0x2070, 0x32}},
                      SetupCase{1, false, 27, {0x20002000, 0xC00FF802}, {0x20002010, 0x20}},
                      SetupCase{3, false, 26, {0x20002000, 0xC01FF802}, {0x20002010, 0x20}},
                      SetupCase{3, true, 26, {0x20002000, 0xC03FF002}, {0x20002010, 0x20}},
                      SetupCase{4, false, 26, {0x20002000, 0xC01FF802}, {0x20002010, 0x20}},
                      SetupCase{5, false, 18, {0x2000, 0x148}, {0x2070, 0x32}},
                      SetupCase{6, false, 26, {0x20002000, 0xC03FF002}, {0x20002010, 0x20}},
                      SetupCase{8, false, 22, {0x2000, 0x168}, {0x204C, 1}},
                      SetupCase{2, false, 0, {}, {}}));

}  // namespace
}  // namespace corvane
