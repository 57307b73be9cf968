#include "station/Backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "eeprom/corvane_ee.h"
#include "sim/VirtualDecoder.h"
#include "support/ScriptedHost.h"
#include "support/SimRig.h"
#include "target/Connection.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedHost;
using testing::TempDir;

TargetOptions Simulate(const std::string& dir) {
  TargetOptions options;
  options.simulateDir = dir;
  return options;
}

std::unique_ptr<Backend> Make(const TargetOptions& options, ScriptedHost& host) {
  std::string error;
  auto station = Backend::Start(options, host, &error);
  EXPECT_TRUE(station) << error;
  return station;
}

// Connect, one word, disconnect: what a command does to the decoder in front of it.
uint32_t PokeAndPeek(Backend& station, ScriptedHost& host, Model model, std::optional<uint32_t> poke) {
  Session session{station.link(), station.ee(), host, ProfileSnapshot{model},
                  station.loaderDir(model), "", true, nullptr};
  EXPECT_TRUE(Connect(session));
  if (poke) station.link().Poke(0x80000000, *poke);
  const uint32_t value = station.link().Peek(0x80000000);
  Disconnect(session);
  return value;
}

TEST(Backend, BeforeTheFirstBeginTheLinkFailsAtOnce) {
  TempDir dir;
  ScriptedHost host;
  auto station = Make(Simulate(dir.path()), host);
  ASSERT_TRUE(station);
  EXPECT_TRUE(station->simulated());
  EXPECT_EQ(station->decoder(), nullptr);
  EXPECT_THROW(station->link().Peek(0x80000000), LinkError);
  EXPECT_TRUE(station->End(nullptr));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(Backend, KeepsOneDecoderPerModelAndSwitchesTheLinkBetweenThem) {
  TempDir dir;
  ScriptedHost host;
  const std::string trace = dir / "trace.txt";
  auto station = Make({dir.path(), "", false, trace, ""}, host);
  ASSERT_TRUE(station);

  ASSERT_TRUE(station->Begin(Model::TS1, nullptr));
  sim::VirtualDecoder* ts1 = station->decoder();
  ASSERT_NE(ts1, nullptr);
  EXPECT_EQ(fs::path(station->loaderDir(Model::TS1)), fs::path(dir.path()) / "TS1");
  EXPECT_TRUE(fs::exists(fs::path(station->loaderDir(Model::TS1)) / "TRAPPACE.bin"));
  EXPECT_EQ(PokeAndPeek(*station, host, Model::TS1, 0x11111111u), 0x11111111u);
  uint64_t traced = ts1->stats().portAccesses;

  ASSERT_TRUE(station->Begin(Model::DSI185, nullptr));
  EXPECT_NE(station->decoder(), ts1);
  EXPECT_EQ(station->decoder()->stats().pokes, 0u);  // counted per command
  EXPECT_EQ(PokeAndPeek(*station, host, Model::DSI185, 0x22222222u), 0x22222222u);
  traced += station->decoder()->stats().portAccesses;

  // Back to the first model: the same decoder with its own memory.
  ASSERT_TRUE(station->Begin(Model::TS1, nullptr));
  EXPECT_EQ(station->decoder(), ts1);
  EXPECT_EQ(PokeAndPeek(*station, host, Model::TS1, std::nullopt), 0x11111111u);
  traced += ts1->stats().portAccesses;

  // End saves both decoders (the DSI185 one had no End of its own) and flushes the trace,
  // which followed the link from one decoder to the next.
  std::string error;
  ASSERT_TRUE(station->End(&error)) << error;
  EXPECT_TRUE(fs::exists(dir / "TS1/ram.bin"));
  EXPECT_TRUE(fs::exists(dir / "DSI185/ram.bin"));
  std::ifstream in(trace);
  uint64_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_EQ(lines, traced);
  EXPECT_TRUE(host.messages.empty());
}

TEST(Backend, LoaderDirOfAModelNotYetOpenedIsItsFolderUnderTheDirectory) {
  ScriptedHost host;
  auto station = Make(Simulate("/some/dir"), host);
  ASSERT_TRUE(station);
  EXPECT_EQ(station->loaderDir(Model::DSX6071_6072), "/some/dir/DSX60716072");
  EXPECT_EQ(station->loaderDir(Model::TVNbox), "/some/dir/TVNbox");
}

struct BadTarget {
  TargetOptions options;
  bool createFails;  // else Begin fails
};

class BadTargets : public ::testing::TestWithParam<BadTarget> {};

TEST_P(BadTargets, AreRefusedWithAReasonAndNoQuestion) {
  TempDir dir;
  const std::string file = dir / "plain-file";
  std::ofstream(file) << "x";
  TargetOptions options = GetParam().options;
  if (options.simulateDir == "@file") options.simulateDir = file;
  ScriptedHost host;
  std::string error;
  auto station = Backend::Start(options, host, &error);
  if (GetParam().createFails) {
    EXPECT_EQ(station, nullptr);
  } else {
    ASSERT_NE(station, nullptr) << error;
    EXPECT_FALSE(station->Begin(Model::BCT13, &error));
  }
  EXPECT_FALSE(error.empty());
  // The port-access start-up never ran: it would have asked or reported through the host.
  EXPECT_TRUE(host.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadTargets,
    ::testing::Values(BadTarget{{"", "", false, "", "bus.vcd"}, true},     // bus trace, real port
                      BadTarget{{"dir", "/dev/parport0", false, "", ""}, true},
                      BadTarget{{"dir", "", true, "", ""}, true},
                      BadTarget{{"dir", "", false, "/no/such/folder/trace.txt", ""}, true},
                      BadTarget{{"@file", "", false, "", ""}, false}));  // not a folder

}  // namespace
}  // namespace corvane
