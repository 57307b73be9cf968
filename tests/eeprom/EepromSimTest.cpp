#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "eeprom/EepromCommands.h"
#include "link/Text.h"
#include "support/SimRig.h"

namespace corvane::testing {
namespace {

std::vector<uint8_t> RandomImage(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

std::vector<uint8_t> EepromBin(SimRig& rig) {
  EXPECT_TRUE(rig.vd().Save());
  return SimRig::ReadFile(rig.decoderDir() + "/eeprom.bin");
}

class EepromOnVirtualDecoder : public ::testing::TestWithParam<Model> {};

// One whole write and one whole read per EEPROM size: these are the long transfers.
TEST_P(EepromOnVirtualDecoder, WriteThenReadRoundTripsARandomImage) {
  SimRig rig(GetParam());
  const size_t size = ProfileOf(GetParam()).EepromLastAddress + 1;
  const std::vector<uint8_t> image = RandomImage(size, 21);
  SimRig::WriteFile(rig.path("in.bin"), image);
  rig.host.dialogPaths.push_back(rig.path("in.bin"));
  rig.vd().ResetStats();
  auto wall = std::chrono::steady_clock::now();
  WriteEeprom(rig.session);
  const double writeWall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  const int64_t writeVirtual = rig.vd().stats().virtualTimeUs;
  EXPECT_EQ(rig.host.MessageTexts(),
            (std::vector<std::string>{"Writing Eeprom completed. Read back and verified: " +
                                      SizeText(image.size()) + "."}));
  EXPECT_EQ(EepromBin(rig), image);

  rig.host.messages.clear();
  rig.host.dialogPaths.push_back(rig.path("out.bin"));
  rig.vd().ResetStats();
  wall = std::chrono::steady_clock::now();
  ReadEeprom(rig.session);
  const double readWall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  const int64_t readVirtual = rig.vd().stats().virtualTimeUs;
  EXPECT_EQ(rig.host.MessageTexts(), (std::vector<std::string>{"Reading Eeprom completed."}));
  EXPECT_EQ(SimRig::ReadFile(rig.path("out.bin")), image);
  // The pins went back to the decoder even though the link had been closed first.
  EXPECT_TRUE(rig.vd().PortReleased());
  EXPECT_EQ(rig.Word(ProfileOf(GetParam()).PioBase + 0x20), 0u);

  std::printf(
      "[ timing   ] %s %zu bytes: write %.2f s wall, %.1f s virtual; read %.2f s wall, %.1f s "
      "virtual\n",
      ProfileOf(GetParam()).caption, size, writeWall, writeVirtual / 1e6, readWall,
      readVirtual / 1e6);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EepromOnVirtualDecoder, ::testing::Values(Model::BCT13, Model::TS1),
                         [](const auto& info) {
                           return std::string(ProfileOf(info.param).caption);
                         });

struct AbsentCase {
  Model model;
  bool read;
  std::vector<std::string> messages;
};

class EepromAbsent : public ::testing::TestWithParam<AbsentCase> {};

TEST_P(EepromAbsent, NobodyAnswersOnTheBus) {
  const AbsentCase& p = GetParam();
  SimRig rig(p.model, "eeprom_present = 0");
  const std::string path = rig.path("ee.bin");
  if (!p.read) SimRig::WriteFile(path, RandomImage(ProfileOf(p.model).EepromLastAddress + 1, 2));
  rig.host.dialogPaths.push_back(path);

  p.read ? ReadEeprom(rig.session) : WriteEeprom(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(), p.messages);
  EXPECT_EQ(rig.host.messages.front().kind, MessageKind::Error);
  if (p.read) {
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing read, nothing saved";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EepromAbsent,
    ::testing::Values(AbsentCase{Model::DSI185, true, {"NO ACK"}},
                      AbsentCase{Model::STB3100, true, {"NO ACK"}},
                      AbsentCase{Model::DSI185, false, {"NO ACK1"}},
                      AbsentCase{Model::DSX6170, false, {"NO ACK1"}}));

// Every page refuses its data: the write ends after the second, at its first byte, and the
// part keeps what it holds.
TEST(EepromOnVirtualDecoder, AWriteProtectedPartEndsTheWriteAfterTwoRefusedPages) {
  SimRig rig(Model::TS1, "eeprom_write_protect = 1");
  SimRig::WriteFile(rig.path("ee.bin"), RandomImage(8192, 6));
  rig.host.dialogPaths.push_back(rig.path("ee.bin"));
  rig.host.recordStatusHistory = true;

  WriteEeprom(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{"NO ACK4"});
  const auto& h = rig.host.statusHistory;
  ASSERT_GE(h.size(), 2u);
  EXPECT_EQ(h[h.size() - 2], "0020");
  EXPECT_EQ(EepromBin(rig), std::vector<uint8_t>(8192, 0xFF));
}

TEST(EepromOnVirtualDecoder, ShortFileLeavesTheEepromAsItWas) {
  SimRig rig(Model::DSX6071_6072);
  SimRig::WriteFile(rig.path("short.bin"), RandomImage(1000, 4));
  rig.host.dialogPaths.push_back(rig.path("short.bin"));

  WriteEeprom(rig.session);

  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Error);
  EXPECT_NE(rig.host.messages[0].text.find("too short"), std::string::npos);
  EXPECT_EQ(EepromBin(rig), std::vector<uint8_t>(2048, 0xFF));
}

// The first bus transfer as a logic analyser reading the VCD file would decode it.
struct VcdCapture {
  std::vector<std::string> header;
  int64_t lastTime = -1;
  bool timesRise = true, valuesKnown = true;
  long sclEdges = 0;
  int firstByte = -1;  // after the first start condition

  explicit VcdCapture(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    bool body = false, scl = true, sda = true, started = false;
    int bits = 0, value = 0;
    while (std::getline(in, line)) {
      if (!body) {
        header.push_back(line);
        body = line == "$enddefinitions $end";
        continue;
      }
      if (line.empty()) continue;
      if (line[0] == '#') {
        const int64_t t = std::stoll(line.substr(1));
        timesRise = timesRise && t > lastTime;
        lastTime = t;
        continue;
      }
      if (line.size() != 2 || (line[0] != '0' && line[0] != '1') ||
          (line[1] != '!' && line[1] != '"')) {
        valuesKnown = false;
        continue;
      }
      const bool level = line[0] == '1';
      if (line[1] == '!') {
        if (level != scl) ++sclEdges;
        if (level && !scl && started && bits < 8) {
          value = (value << 1) | (sda ? 1 : 0);
          if (++bits == 8) firstByte = value;
        }
        scl = level;
      } else {
        if (scl && sda && !level && !started) started = true;
        sda = level;
      }
    }
  }
};

TEST(EepromOnVirtualDecoder, BusTraceIsAVcdFileOfBothLines) {
  SimRig rig(Model::BCT13, "eeprom_present = 0");
  const std::string vcd = rig.path("bus.vcd");
  std::string error;
  ASSERT_TRUE(rig.vd().SetBusTrace(vcd, &error)) << error;
  rig.host.dialogPaths.push_back(rig.path("ee.bin"));

  ReadEeprom(rig.session);
  rig.decoder.reset();  // closes the trace

  const VcdCapture capture(vcd);
  auto has = [&](const std::string& l) {
    return std::find(capture.header.begin(), capture.header.end(), l) != capture.header.end();
  };
  EXPECT_TRUE(has("$timescale 1us $end"));
  EXPECT_TRUE(has("$var wire 1 ! SCL $end"));
  EXPECT_TRUE(has("$var wire 1 \" SDA $end"));
  EXPECT_TRUE(has("$enddefinitions $end"));
  EXPECT_TRUE(capture.timesRise);
  EXPECT_TRUE(capture.valuesKnown);
  // Three bytes with their acknowledge clocks, a no-acknowledge clock and the conditions.
  EXPECT_GE(capture.sclEdges, 2 * (3 * 9 + 1));
  EXPECT_EQ(capture.firstByte, 0xA0);
  EXPECT_GT(capture.lastTime, 3 * 10000 * 100) << "three acknowledge waits in virtual time";
}

}  // namespace
}  // namespace corvane::testing
