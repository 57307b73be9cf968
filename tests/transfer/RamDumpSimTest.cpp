#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <random>

#include "link/Text.h"
#include "support/SimRig.h"
#include "transfer/RamDump.h"
#include "transfer/TransferTestKit.h"

// The RAM dumps end to end: the virtual decoder's RAM, seeded through its ram.bin, comes back
// in the file in bus order.
namespace corvane::testing {
namespace {

constexpr uint32_t kPage = 0x10000;

struct DumpCase {
  const char* name;
  Model model;  // the decoder the dump is taken from
  RamRegion region;
  std::vector<uint32_t> pages;  // RAM pages given content; the rest reads zero
};
void PrintTo(const DumpCase& c, std::ostream* os) {
  *os << c.name;
}

// ram.bin records (address, then the page) with random content; returns the pages' bytes.
std::vector<std::vector<uint8_t>> SeedRam(SimRig& rig, const std::vector<uint32_t>& pages) {
  std::vector<uint8_t> file;
  std::vector<std::vector<uint8_t>> contents;
  std::mt19937 random(pages.empty() ? 1 : pages[0]);
  for (uint32_t page : pages) {
    std::vector<uint8_t> bytes(kPage);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(page >> (8 * i)));
    file.insert(file.end(), bytes.begin(), bytes.end());
    contents.push_back(std::move(bytes));
  }
  SimRig::WriteFile(rig.decoderDir() + "/ram.bin", file);
  rig.Reopen();
  return contents;
}

class RamDumpSim : public ::testing::TestWithParam<DumpCase> {};

TEST_P(RamDumpSim, TheFileHoldsTheRamInBusOrder) {
  const DumpCase& c = GetParam();
  SimRig rig(c.model);
  const auto contents = SeedRam(rig, c.pages);
  rig.host.dialogPaths = {rig.path("ram.bin")};

  RamDump(rig.session, c.region);

  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{"Reading RAM completed."});
  const auto file = SimRig::ReadFile(rig.path("ram.bin"));
  ASSERT_EQ(file.size(), 4ull * c.region.words);
  std::vector<uint8_t> expected(file.size(), 0);
  const uint64_t start = c.region.start, end = start + file.size();
  for (size_t p = 0; p < c.pages.size(); ++p) {
    for (uint64_t a = std::max<uint64_t>(c.pages[p], start);
         a < std::min<uint64_t>(uint64_t{c.pages[p]} + kPage, end); ++a) {
      expected[a - start] = contents[p][a - c.pages[p]];
    }
  }
  EXPECT_TRUE(file == expected) << "the dump differs from the decoder's RAM";
  EXPECT_EQ(rig.vd().stats().peeks, c.region.words);
}

// The two 2 MB dumps run whole; the 4 MB and 512 MB ones run through the same routine over
// their first or last 16 KB (the table test holds their real rows).
INSTANTIATE_TEST_SUITE_P(
    Dumps, RamDumpSim,
    ::testing::Values(DumpCase{"6072",
                               Model::DSX6071_6072,
                               *RamRegionNamed("6072"),
                               {0xC0400000, 0xC05F0000}},
                      DumpCase{"DSI185",
                               Model::DSI185,
                               *RamRegionNamed("DSI185"),
                               {0x80000000, 0x80200000}},
                      DumpCase{"6071Start",
                               Model::DSX6071_6072,
                               RamRegion{"6071", 0x40000000, 0x1000},
                               {0x40000000}},
                      DumpCase{"6071End",
                               Model::DSX6071_6072,
                               RamRegion{"6071", 0x403FC000, 0x1000},
                               {0x403F0000}},
                      DumpCase{"TVNboxEnd",
                               Model::TVNbox,
                               RamRegion{"TVNbox", 0x803FC000, 0x1000},
                               {0x80010000, 0x803F0000}},
                      // Up to its last word 0xA0001FFC.
                      DumpCase{"BCT13End",
                               Model::BCT13,
                               RamRegion{"BCT13", 0x9FFFE000, 0x1000},
                               {0x9FFF0000, 0xA0000000}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane::testing
