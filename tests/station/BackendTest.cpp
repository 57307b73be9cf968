#include "station/Backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "eeprom/corvane_ee.h"
#include "sim/VirtualDecoder.h"
#include "support/ScriptedHost.h"
#include "support/SimRig.h"
#include "station/DecoderFolder.h"
#include "station/Runner.h"
#include "target/Connection.h"
#include "target/LinkCost.h"

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

// Every read measures the port: on a virtual port three times slower than the 1 µs assumed,
// a Read Data Area keeps about 3 µs an access for the next estimates, whether nothing was
// stored before or a stored figure no longer fits.
TEST(Backend, AReadLearnsThePortAndCorrectsAStaleFigure) {
  for (const char* stored : {"", "us_per_access = 9\naccesses_per_poke = 90\naccesses_per_peek = 93\n"}) {
    TempDir dir;
    ScriptedHost host;
    auto station = Make(Simulate(dir.path()), host);
    ASSERT_TRUE(station);
    ASSERT_TRUE(station->Begin(Model::TS1, nullptr));
    ASSERT_TRUE(station->End(nullptr));
    const fs::path conf = fs::path(dir.path()) / "TS1" / "decoder.conf";
    std::stringstream text;
    text << std::ifstream(conf).rdbuf();
    std::string lines = text.str();
    const size_t at = lines.find("\nport_access_us = 1\n");
    ASSERT_NE(at, std::string::npos);
    lines.replace(at, 20, "\nport_access_us = 3\n");
    std::ofstream(conf) << lines;
    const std::string measured = station->linkCostPath(Model::TS1);
    if (*stored) std::ofstream(measured) << stored;

    host.dialogPaths = {dir / "area.bin"};
    RunRequest request;
    request.command = CommandId::ReadDataArea;
    request.profile.model = Model::TS1;
    request.logDir = dir.path();
    ASSERT_TRUE(RunOne(*station, host, request).begun);
    ASSERT_TRUE(station->End(nullptr));

    LinkCost cost;
    ASSERT_TRUE(LoadLinkCost(measured, &cost)) << stored;
    EXPECT_NEAR(cost.usPerAccess, 3.0, 0.05) << stored;
    EXPECT_TRUE(cost.byReads);
  }
}

// A decoder saved, scribbled over (flash, data area, EEPROM), and restored: its files end as
// they were. A folder with a changed file, or another model's folder, is refused before
// anything is written.
struct FolderCase {
  Model model;
  Model other;  // a model whose restore from this folder must be refused
};

class DecoderFolderTest : public ::testing::TestWithParam<FolderCase> {};

// Random bytes in short runs among erased ones: every sector differs, few words cost a program.
std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n, 0xFF);
  std::mt19937 random(seed);
  for (size_t i = random() % 64; i < n; i += 1 + random() % 2048) {
    for (size_t end = std::min(n, i + 64); i < end; ++i) out[i] = static_cast<uint8_t>(random());
  }
  return out;
}

TEST_P(DecoderFolderTest, SavedScribbledAndRestoredEndsAsItWas) {
  const FolderCase& c = GetParam();
  TempDir dir;
  const fs::path root = dir.path();
  ScriptedHost host;
  auto station = Make(Simulate((root / "vd").string()), host);
  ASSERT_TRUE(station);
  const fs::path decoder = root / "vd" / ModelFolderName(c.model);
  const bool dataArea = ProfileOf(c.model).dataArea.loader != nullptr;
  auto run = [&](CommandId command, Model model, const fs::path& path) {
    host.messages.clear();
    host.dialogPaths = {path.string()};
    RunRequest request;
    request.command = command;
    request.profile.model = model;
    request.backup.reset();
    request.logDir = root.string();
    EXPECT_TRUE(RunOne(*station, host, request).begun);
    EXPECT_TRUE(station->End(nullptr));
    return host.MessageTexts();
  };
  auto files = [&] {
    std::vector<std::vector<uint8_t>> out;
    for (const char* name : {"flash.bin", "data.bin", "eeprom.bin"}) {
      if (fs::exists(decoder / name)) out.push_back(testing::SimRig::ReadFile((decoder / name).string()));
    }
    return out;
  };
  // A decoder that holds something: a read-back of its files the first time round.
  run(CommandId::ReadEeprom, c.model, root / "first.bin");
  const size_t flashBytes = fs::file_size(decoder / "flash.bin");
  testing::SimRig::WriteFile((decoder / "flash.bin").string(), Random(flashBytes, 1));
  testing::SimRig::WriteFile((decoder / "eeprom.bin").string(), Random(fs::file_size(decoder / "eeprom.bin"), 2));
  if (dataArea) testing::SimRig::WriteFile((decoder / "data.bin").string(), Random(fs::file_size(decoder / "data.bin"), 3));
  const auto before = files();

  const auto saved = run(CommandId::SaveDecoder, c.model, root / "saved");
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].rfind("The " + std::string(ProfileOf(c.model).caption) + " is saved in ", 0), 0u) << saved[0];
  EXPECT_EQ(files(), before) << "saving changes nothing";

  const fs::path scribble = root / "scribble";
  testing::SimRig::WriteFile(scribble.string(), Random(flashBytes, 4));
  run(CommandId::WriteFirmware, c.model, scribble);
  testing::SimRig::WriteFile(scribble.string(), Random(fs::file_size(root / "saved" / "eeprom.bin"), 5));
  run(CommandId::WriteEeprom, c.model, scribble);
  if (dataArea) {
    testing::SimRig::WriteFile(scribble.string(), Random(0x80000, 6));
    run(CommandId::WriteDataArea, c.model, scribble);
  }
  ASSERT_NE(files(), before);
  const auto scribbled = files();

  // Refused with nothing written: another model, then a changed file.
  const auto other = run(CommandId::RestoreDecoder, c.other, root / "saved");
  ASSERT_EQ(other.size(), 1u);
  EXPECT_NE(other[0].find("a decoder is restored only from its own model's folder. Nothing was "
                          "written."), std::string::npos) << other[0];
  fs::copy(root / "saved", root / "changed");
  auto eeprom = testing::SimRig::ReadFile((root / "changed" / "eeprom.bin").string());
  eeprom[7] ^= 1;
  testing::SimRig::WriteFile((root / "changed" / "eeprom.bin").string(), eeprom);
  const auto changed = run(CommandId::RestoreDecoder, c.model, root / "changed" / kManifestName);
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0], "Cannot restore from " + (root / "changed").string() +
                            ": eeprom.bin has changed since the decoder was saved (its size or "
                            "SHA-256 differs from decoder.json). Nothing was written.");
  EXPECT_EQ(files(), scribbled);

  const auto restored = run(CommandId::RestoreDecoder, c.model, root / "saved");
  ASSERT_FALSE(restored.empty());
  EXPECT_EQ(restored.back().rfind("The " + std::string(ProfileOf(c.model).caption) + " is restored from ", 0), 0u)
      << restored.back();
  EXPECT_EQ(files(), before);
}

INSTANTIATE_TEST_SUITE_P(Models, DecoderFolderTest,
                         ::testing::Values(FolderCase{Model::TS1, Model::DSX6070},
                                           FolderCase{Model::DSX6071_6072, Model::TS1},
                                           FolderCase{Model::BCT13, Model::DSI185}),
                         [](const auto& info) { return ModelFolderName(info.param.model); });

}  // namespace
}  // namespace corvane
