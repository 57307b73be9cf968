#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/FlashEngine.h"
#include "flash/Signature.h"
#include "link/Text.h"
#include "support/FakeRig.h"
#include "target/Connection.h"

namespace corvane::testing {
namespace {

// ---- The name tables ----

struct NameCase {
  Model model;
  uint32_t manufacturer, device;  // image order
  const char* maker;
  const char* chip;
};

// clang-format off
const NameCase kNames[] = {
  {Model::DSX6071_6072, 0x01008000, 0xDA225B44, "AMD", "AM29LV800BT"},
  {Model::DSX6071_6072, 0x01008000, 0x5B22DA44, "AMD", "AM29LV800BB"},
  {Model::DSX6071_6072, 0x01008000, 0x5B22DA45, "AMD", "Unknown 5B22DA45"},  // whole word
  {Model::DSX6071_6072, 0x01008000, 0x00000000, "AMD", "Unknown 00000000"},
  {Model::DSX6071_6072, 0x20000400, 0xD700EB00, "SGS-THOMSON", "M29W800AT"},
  {Model::DSX6071_6072, 0x20000400, 0x5B00DA00, "SGS-THOMSON", "M29W800AB"},
  {Model::DSX6071_6072, 0x20000400, 0x5B22DA44, "SGS-THOMSON", "M29W800DB"},
  {Model::DSX6071_6072, 0x20000400, 0xDA225B44, "SGS-THOMSON", "Unknown DA225B44"},
  {Model::DSX6071_6072, 0x01000100, 0x5B22DA44, "Unknown 01000100", "Unknown 5B22DA44"},

  {Model::DSI185, 0x01000100, 0xAB221234, "AMD", "AM29F400BB"},  // low half ignored
  {Model::DSI185, 0x01000100, 0xAB220000, "AMD", "AM29F400BB"},
  {Model::DSI185, 0x01000100, 0x2322FFFF, "AMD", "AM29F800BT"},
  {Model::DSI185, 0x01000100, 0xAB230000, "AMD", "Unknown AB230000"},
  {Model::DSI185, 0x20000400, 0xD700EB00, "SGS-THOMSON", "M29W800AT"},
  {Model::DSI185, 0x20000400, 0x5B00DA00, "SGS-THOMSON", "M29W800AB"},
  {Model::DSI185, 0x20000400, 0x5B00DA01, "SGS-THOMSON", "Unknown 5B00DA01"},
  {Model::DSI185, 0x01008000, 0xAB221234, "Unknown 01008000", "Unknown AB221234"},

  {Model::TS1, 0x04000400, 0xD6220000, "AMD", "AM29F800BT"},
  {Model::TS1, 0x04000400, 0x5822ABCD, "AMD", "AM29F800BB"},
  {Model::TS1, 0x04000400, 0xD622D622, "AMD", "AM29F800BT"},
  {Model::TS1, 0x04000400, 0x5B00DA00, "AMD", "Unknown 5B00DA00"},
  {Model::TS1, 0xAD00AD00, 0xD622D622, "SGS-THOMSON", "M29W800AT"},
  {Model::TS1, 0xAD00AD00, 0x5B00DA00, "SGS-THOMSON", "M29W800AB"},
  {Model::TS1, 0xAD00AD00, 0xD6220000, "SGS-THOMSON", "Unknown D6220000"},
  {Model::TS1, 0x20000400, 0x12345678, "Unknown 20000400", "Unknown 12345678"},
  {Model::TVNbox, 0x04000400, 0x58220000, "AMD", "AM29F800BB"},
  {Model::TVNbox, 0xAD00AD00, 0xD622D622, "SGS-THOMSON", "M29W800AT"},
  {Model::STB3100, 0x04000400, 0xD6221234, "AMD", "AM29F800BT"},
  {Model::STB3100, 0xAD00AD00, 0x5B00DA00, "SGS-THOMSON", "M29W800AB"},

  {Model::DSX6070, 0x00800080, 0xAAC40000, "AMD", "AM29F400BB"},
  {Model::DSX6070, 0x00800080, 0xD6221111, "AMD", "AM29F800BT"},
  {Model::DSX6070, 0x00800080, 0x48C40000, "AMD", "AM29LV160DB"},
  {Model::DSX6070, 0x00800080, 0x5822FFFF, "AMD", "AM29F800BB"},
  {Model::DSX6070, 0x00800080, 0x48C50000, "AMD", "Unknown 48C50000"},
  {Model::DSX6070, 0x01234567, 0xD622D622, "SGS-THOMSON", "M29W800AT"},
  {Model::DSX6070, 0x01234567, 0x5B00DA00, "SGS-THOMSON", "M29W800AB"},
  {Model::DSX6070, 0x01008000, 0x48C40000, "Unknown 01008000", "Unknown 48C40000"},
  {Model::DSX6170, 0x00800080, 0x48C40000, "AMD", "AM29LV160DB"},
  {Model::DSX6170, 0x00800080, 0xAAC41234, "AMD", "AM29F400BB"},
  {Model::DSX6170, 0x01234567, 0x5B00DA00, "SGS-THOMSON", "M29W800AB"},
  {Model::DSX6170, 0x04000400, 0x5B00DA00, "Unknown 04000400", "Unknown 5B00DA00"},

  // No table at all: its flash is never asked.
  {Model::BCT13, 0x01008000, 0x5B22DA44, "Unknown 01008000", "Unknown 5B22DA44"},
};
// clang-format on

class SignatureNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(SignatureNames, MakerAndChip) {
  const NameCase& c = GetParam();
  EXPECT_EQ(SignatureMessage(c.model, c.manufacturer, c.device),
            std::string("Manufacturer: ") + c.maker + "\nDevice: " + c.chip);
}

INSTANTIATE_TEST_SUITE_P(Tables, SignatureNames, ::testing::ValuesIn(kNames));

// ---- The Read Signature command over the fake decoder ----

std::string P(uint32_t address, uint32_t value) { return "poke " + Hex8(address) + " " + Hex8(value); }
std::string R(uint32_t address, uint32_t value) { return "peek " + Hex8(address) + " " + Hex8(value); }

struct CommandCase {
  const char* name;
  Model model;
  uint32_t manufacturer, device;  // image order, answered at the two ID addresses
  std::vector<std::string> lines;  // after the memory-interface set-up
  int64_t sleepMs;                 // between the lone reset and the first unlock
  const char* message;
};

constexpr uint32_t kF = 0xFFFFFFFF;

// clang-format off
const CommandCase kCommands[] = {
  {"DSX6071", Model::DSX6071_6072, 0x01008000, 0x5B22DA44,
   {P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055), P(0x7FE01554, 0x00090090),
    R(0x7FE00000, 0x00800001), R(0x7FE00004, 0x44DA225B),
    P(0x7FE01554, 0x005500AA), P(0x7FE00AA8, 0x00AA0055), P(0x7FE01554, 0x000F00F0),
    R(0x7FE00000, 0x00800001), R(0x7FE00000, 0x00800001)},
   0, "Manufacturer: AMD\nDevice: AM29LV800BB"},
  // Its own addresses at the flash base; the reset goes 1 MB below as every other sequence.
  {"DSI185", Model::DSI185, 0x01000100, 0xAB221234,
   {P(0x7FF01554, 0x444400AA), P(0x7FF00AA8, 0x11110055), P(0x7FF01554, 0x41000090),
    R(0x7FF00000, 0x00010001), R(0x7FF00004, 0x341222AB),
    P(0x7FE01554, 0x444400AA), P(0x7FE00AA8, 0x11110055), P(0x7FE01554, 0x550000F0),
    R(0x7FE00000, kF), R(0x7FE00000, kF)},
   0, "Manufacturer: AMD\nDevice: AM29F400BB"},
  // The second unlock goes to device word 0x2AA.
  {"TS1", Model::TS1, 0xAD00AD00, 0x5B00DA00,
   {P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00900090),
    R(0x7FE00000, 0x00AD00AD), R(0x7FE00004, 0x00DA005B),
    P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00F000F0),
    R(0x7FE00000, 0x00AD00AD), R(0x7FE00000, 0x00AD00AD)},
   0, "Manufacturer: SGS-THOMSON\nDevice: M29W800AB"},
  {"TVNbox", Model::TVNbox, 0x04000400, 0xD6220000,
   {P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00900090),
    R(0x7FE00000, 0x00040004), R(0x7FE00004, 0x000022D6),
    P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00F000F0),
    R(0x7FE00000, 0x00040004), R(0x7FE00000, 0x00040004)},
   0, "Manufacturer: AMD\nDevice: AM29F800BT"},
  {"STB3100", Model::STB3100, 0x04000400, 0x58220000,
   {P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00900090),
    R(0x7FE00000, 0x00040004), R(0x7FE00004, 0x00002258),
    P(0x7FE01554, 0x00AA00AA), P(0x7FE00AA8, 0x00550055), P(0x7FE01554, 0x00F000F0),
    R(0x7FE00000, 0x00040004), R(0x7FE00000, 0x00040004)},
   0, "Manufacturer: AMD\nDevice: AM29F800BB"},
  {"DSX6070", Model::DSX6070, 0x00800080, 0x48C40000,
   {P(0x7FF01554, 0x00F000F0), P(0x7FF01554, 0x00AA00AA), P(0x7FF00AA8, 0x80548054),
    P(0x7FF01554, 0x00900090), R(0x7FF00000, 0x80008000), R(0x7FF00004, 0x0000C448),
    P(0x7FF01554, 0x00AA00AA), P(0x7FF00AA8, 0x80548054), P(0x7FF01554, 0x00F000F0),
    R(0x7FF00000, 0x80008000), R(0x7FF00000, 0x80008000)},
   1000, "Manufacturer: AMD\nDevice: AM29LV160DB"},
  {"DSX6170", Model::DSX6170, 0x01234567, 0xD622D622,
   {P(0x7FC01554, 0x00F000F0), P(0x7FC01554, 0x00AA00AA), P(0x7FC00AA8, 0x80548054),
    P(0x7FC01554, 0x00900090), R(0x7FC00000, 0x67452301), R(0x7FC00004, 0x22D622D6),
    P(0x7FC01554, 0x00AA00AA), P(0x7FC00AA8, 0x80548054), P(0x7FC01554, 0x00F000F0),
    R(0x7FC00000, 0x67452301), R(0x7FC00000, 0x67452301)},
   1000, "Manufacturer: SGS-THOMSON\nDevice: M29W800AT"},
};
// clang-format on

class ReadSignatureCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ReadSignatureCommand, TrafficMessageAndClosing) {
  const CommandCase& c = GetParam();
  FakeRig rig(c.model);
  const size_t setup = MemoryInterfaceWrites(ProfileOf(c.model).DecoderType, false).size();
  // The manufacturer word is the first one the sequence reads, the device word the next.
  const uint32_t idAddress = static_cast<uint32_t>(
      std::stoul(c.lines[c.sleepMs != 0 ? 4 : 3].substr(5, 8), nullptr, 16));
  std::vector<int64_t> sleptAtPoke;
  rig.port.onPoke = [&](uint32_t, uint32_t) { sleptAtPoke.push_back(rig.clock.sleptMs); };
  rig.port.onPeek = [&](uint32_t a) {
    if (a == idAddress) return ByteSwap(c.manufacturer);
    if (a == idAddress + 4) return ByteSwap(c.device);
    return 0xFFFFFFFFu;
  };
  rig.host.status = "before";
  rig.host.progressPosition = 7;

  ReadSignature(rig.session);

  auto lines = rig.port.Lines();
  ASSERT_GE(lines.size(), setup);
  lines.erase(lines.begin(), lines.begin() + static_cast<long>(setup));
  EXPECT_EQ(lines, c.lines);
  // The 100 ms of the reset pulse come first; the 1000 ms wait lies between the lone reset
  // and the first unlock.
  ASSERT_GE(sleptAtPoke.size(), setup + 2);
  EXPECT_EQ(sleptAtPoke.back() - sleptAtPoke[setup], c.sleepMs);
  if (c.sleepMs != 0) {
    EXPECT_EQ(sleptAtPoke[setup + 1] - sleptAtPoke[setup], c.sleepMs);
  }
  EXPECT_EQ(rig.clock.sleptMs - 100, c.sleepMs);

  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(rig.host.messages[0].buttons, Buttons::Ok);
  EXPECT_EQ(rig.host.messages[0].text, c.message);
  EXPECT_EQ(rig.host.status, "");
  EXPECT_EQ(rig.host.progressPosition, 0);
  EXPECT_EQ(rig.port.PortIn(kEcrPort), 0x15) << "the port is handed back";
}

INSTANTIATE_TEST_SUITE_P(EveryModel, ReadSignatureCommand, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadSignatureCommand, RefusedForBct13WithoutTouchingTheDecoder) {
  FakeRig rig(Model::BCT13);
  ReadSignature(rig.session);
  EXPECT_TRUE(rig.port.transactions.empty());
  EXPECT_EQ(rig.port.portAccesses, 0u);
  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(rig.host.messages[0].text, "Read Signature is not available for BCT13.");
}

}  // namespace
}  // namespace corvane::testing
