#include <gtest/gtest.h>

#include <algorithm>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "eeprom/BusTrace.h"
#include "eeprom/EepromCommands.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFilter = "Eeprom file (*.bin) | *.BIN";

struct TempDir {
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "corvane-ee-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path); }
  std::string File(const std::string& name) const { return (path / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(path)) out.push_back(e.path().filename().string());
    return out;
  }
  fs::path path;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

enum class Command { Read, Write };
void RunCommandOf(Command c, Session& s) {
  c == Command::Read ? ReadEeprom(s) : WriteEeprom(s);
}

// What the closing looked like when the PIO mode word went back to 0.
struct ModeWordWatch {
  int sevens = 0, zeros = 0;
  bool zeroWasLast = false;
  bool zeroAfterDisconnect = false, zeroAfterStatusCleared = false, zeroAfterFilterBack = false;
  bool sevenWhileConnected = false;
};

// A session over the fake decoder for one model, with the closing watched.
struct EeRig : FakeRig {
  explicit EeRig(Model m) : FakeRig(m), profile(ProfileOf(m)) {
    host.recordStatusHistory = true;
    Watch();
  }
  void Watch(std::function<void(uint32_t, uint32_t)> inner = nullptr) {
    port.onPoke = [this, inner](uint32_t a, uint32_t v) {
      watch.zeroWasLast = false;
      if (a == profile.PioBase + 0x20) {
        const bool connected = port.PortIn(kEcrPort) == 0x35;
        if (v == 7) {
          ++watch.sevens;
          watch.sevenWhileConnected = connected;
        } else if (v == 0) {
          ++watch.zeros;
          watch.zeroWasLast = true;
          watch.zeroAfterDisconnect = !connected;
          watch.zeroAfterStatusCleared = host.status.empty() && host.progressPosition == 0;
          watch.zeroAfterFilterBack =
              host.openFilter == kRestingFilter && host.saveFilter == kRestingFilter;
        }
      }
      if (inner) inner(a, v);
    };
  }
  // Routes the PIO pins to a real 24-series device.
  WiredEeprom& Wire(size_t size) {
    wired = std::make_unique<WiredEeprom>(*this, profile.PioBase, size);
    auto devicePoke = port.onPoke;
    Watch(devicePoke);
    return *wired;
  }
  BusTrace Trace() const { return BusTrace(port.transactions, profile.PioBase); }
  std::vector<std::string> AddressStatuses() const {
    std::vector<std::string> out;
    for (const auto& t : host.statusHistory)
      if (t.size() == 4) out.push_back(t);
    return out;
  }
  void ExpectClosedCleanly() const {
    EXPECT_EQ(watch.sevens, 1);
    EXPECT_TRUE(watch.sevenWhileConnected);
    EXPECT_EQ(watch.zeros, 1);
    EXPECT_TRUE(watch.zeroWasLast) << "the mode word is the last thing written";
    EXPECT_TRUE(watch.zeroAfterDisconnect);
    EXPECT_TRUE(watch.zeroAfterStatusCleared);
    EXPECT_TRUE(watch.zeroAfterFilterBack);
    EXPECT_EQ(host.status, "");
    EXPECT_EQ(host.progressPosition, 0);
  }

  const Profile& profile;
  std::unique_ptr<WiredEeprom> wired;
  ModeWordWatch watch;
};

std::vector<std::string> AddressTexts(uint32_t count) {
  std::vector<std::string> out;
  for (uint32_t a = 0; a < count; ++a) out.push_back(Hex4(a));
  return out;
}

// --- Reading --------------------------------------------------------------------------------

struct ReadCase {
  Model model;
  size_t size;
  std::vector<std::string> addressPhase;
};

class EepromRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(EepromRead, ReadsTheWholeEepromInOneSequentialRead) {
  const ReadCase& p = GetParam();
  TempDir dir;
  EeRig rig(p.model);
  WiredEeprom& device = rig.Wire(p.size);
  device.contents = RandomBytes(p.size, 7);
  const std::string path = dir.File("ee.bin");
  rig.host.dialogPaths.push_back(path);

  ReadEeprom(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(), (std::vector<std::string>{"Reading Eeprom completed."}));
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(ReadFile(path), device.contents);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"ee.bin"}));

  std::vector<std::string> expected = p.addressPhase;
  for (size_t i = 0; i + 1 < p.size; ++i) expected.push_back(Hex2(device.contents[i]) + "k");
  expected.push_back(Hex2(device.contents.back()));
  expected.push_back("P");
  const BusTrace trace = rig.Trace();
  EXPECT_EQ(trace.tokens, expected);
  EXPECT_TRUE(trace.wellFormed);

  EXPECT_EQ(rig.host.dialogsRun, (std::vector<Dialog>{Dialog::Save}));
  EXPECT_EQ(rig.host.dialogFilters, (std::vector<std::string>{kFilter}));
  EXPECT_EQ(rig.host.progressMax, static_cast<int>(p.size - 1));
  EXPECT_EQ(rig.host.maxProgressPosition, static_cast<int>(p.size - 1));
  EXPECT_EQ(rig.AddressStatuses(), AddressTexts(static_cast<uint32_t>(p.size)));
  EXPECT_EQ(rig.host.statusHistory.front(), "Connecting...");
  rig.ExpectClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EepromRead,
    ::testing::Values(ReadCase{Model::BCT13, 2048, {"S", "A0a", "00a", "S", "A1a"}},
                      ReadCase{Model::TS1, 8192, {"S", "A0a", "00a", "00a", "S", "A1a"}}),
    [](const auto& info) { return std::string(info.param.size == 2048 ? "TwoKB" : "EightKB"); });

TEST(EepromRead, AbortLeavesTheOldFileAndReleasesTheBus) {
  TempDir dir;
  EeRig rig(Model::DSX6070);
  WiredEeprom& device = rig.Wire(2048);
  device.contents = RandomBytes(2048, 3);
  const std::string path = dir.File("old.bin");
  WriteFile(path, {1, 2, 3});
  rig.host.dialogPaths.push_back(path);
  rig.host.abortAfterMessages = 100;
  rig.host.answers.push_back(Answer::Yes);

  ReadEeprom(rig.session);

  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Confirmation);
  EXPECT_EQ(rig.host.messages[0].text,
            "Stop reading the EEPROM? The file will not be written; an existing file keeps its "
            "old contents.");
  EXPECT_EQ(ReadFile(path), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"old.bin"}));
  // The 100th byte is answered with a no-acknowledge and a stop, not left hanging.
  const BusTrace trace = rig.Trace();
  ASSERT_EQ(trace.tokens.size(), 5u + 100u + 1u);
  EXPECT_EQ(trace.tokens[5 + 98], Hex2(device.contents[98]) + "k");
  EXPECT_EQ(trace.tokens[5 + 99], Hex2(device.contents[99]));
  EXPECT_EQ(trace.tokens.back(), "P");
  EXPECT_TRUE(device.device.SdaReleased());
  rig.ExpectClosedCleanly();
}

// --- Writing --------------------------------------------------------------------------------

struct WriteCase {
  Model model;
  size_t size;
  uint16_t page;
  std::vector<std::string> header;
  std::string poll;
};

class EepromWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(EepromWrite, WritesEveryPageAndPollsUntilTheDeviceIsReady) {
  const WriteCase& p = GetParam();
  TempDir dir;
  EeRig rig(p.model);
  WiredEeprom& device = rig.Wire(p.size);
  // A longer file: only the EEPROM's size of it is used, once the user has said so.
  const std::vector<uint8_t> image = RandomBytes(p.size + 100, 11);
  const std::string path = dir.File("in.bin");
  WriteFile(path, image);
  rig.host.dialogPaths.push_back(path);
  rig.host.answers.push_back(Answer::Yes);
  rig.session.verifyAfterWrite = false;  // the write's own traffic; the read-back has its tests

  WriteEeprom(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(),
            (std::vector<std::string>{"The EEPROM file " + path + " is " +
                                          std::to_string(p.size + 100) + " bytes, longer than the " +
                                          std::to_string(p.size) + " bytes a " +
                                          ProfileOf(p.model).caption + " takes. Use only its first " +
                                          std::to_string(p.size) + " bytes?",
                                      "Writing Eeprom completed."}));
  EXPECT_EQ(device.contents, std::vector<uint8_t>(image.begin(), image.begin() + p.size));
  EXPECT_EQ(rig.host.dialogsRun, (std::vector<Dialog>{Dialog::Open}));
  EXPECT_EQ(rig.host.dialogFilters, (std::vector<std::string>{kFilter}));
  EXPECT_EQ(rig.host.progressMax, static_cast<int>(p.size - 1));
  EXPECT_EQ(rig.AddressStatuses(), AddressTexts(static_cast<uint32_t>(p.size)));

  const BusTrace trace = rig.Trace();
  EXPECT_TRUE(trace.wellFormed);
  const size_t pageSize = p.size == 2048 ? 16 : 32;
  size_t headers = 0;
  for (size_t i = 0; i + 1 < trace.tokens.size(); ++i)
    headers += trace.tokens[i] == "S" && trace.tokens[i + 1] == p.header[1];
  EXPECT_EQ(headers, p.size == 2048 ? 16u : 256u) << "one header per page of the block";
  std::vector<std::string> page = p.header;
  for (size_t k = 0; k < pageSize; ++k) page.push_back(Hex2(image[p.page + k]) + "a");
  page.push_back("P");
  const size_t at = trace.Find(page);
  ASSERT_NE(at, std::string::npos);
  // Then polling: refused while the write cycle runs, one accepted poll, and each poll
  // clocks in one byte and stops.
  size_t i = at + page.size();
  int refused = 0;
  while (i + 3 < trace.tokens.size() && trace.tokens[i + 1] == p.poll + "n") {
    EXPECT_EQ(trace.tokens[i], "S");
    EXPECT_EQ(trace.tokens[i + 2], "FF?");
    EXPECT_EQ(trace.tokens[i + 3], "P");
    ++refused;
    i += 4;
  }
  EXPECT_GE(refused, 1) << "the device is busy right after the stop";
  ASSERT_LT(i + 3, trace.tokens.size());
  EXPECT_EQ(trace.tokens[i], "S");
  EXPECT_EQ(trace.tokens[i + 1], p.poll + "a");
  EXPECT_EQ(trace.tokens[i + 3], "P");
  rig.ExpectClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EepromWrite,
    ::testing::Values(WriteCase{Model::BCT13, 2048, 0x0530, {"S", "AAa", "30a"}, "AB"},
                      WriteCase{Model::TVNbox, 8192, 0x1FE0, {"S", "A0a", "1Fa", "E0a"}, "A1"}),
    [](const auto& info) { return std::string(info.param.size == 2048 ? "TwoKB" : "EightKB"); });

TEST(EepromWrite, AfterNoAck4TheNextPageStillTakesItsOwnBytes) {
  TempDir dir;
  EeRig rig(Model::BCT13);
  const std::vector<uint8_t> image = RandomBytes(2048, 5);
  const std::string path = dir.File("in.bin");
  WriteFile(path, image);
  rig.host.dialogPaths.push_back(path);
  // Peeks 1-5 acknowledge the control byte, the address and data bytes 0-2; data byte 3 is
  // refused for all 10000 samples; page 0's poll (one sample, eight clocked in) and all of
  // page 1 are acknowledged; page 2's control and address are acknowledged, then from its
  // data byte 0 on nothing is.
  long peeks = 0;
  rig.port.onPeek = [&](uint32_t) -> uint32_t {
    ++peeks;
    if (peeks >= 6 && peeks <= 10005) return 1;
    if (peeks >= 10044) return 1;
    return 0;
  };

  WriteEeprom(rig.session);

  // "NO ACK4" once although two pages refused data; no completion after an error.
  const auto texts = rig.host.MessageTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "NO ACK4");
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "NO ACK4"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Writing Eeprom completed."), 0);
  std::vector<std::string> expected = {"S", "A0a", "00a"};
  for (int k = 0; k < 3; ++k) expected.push_back(Hex2(image[k]) + "a");
  expected.push_back(Hex2(image[3]) + "n");
  for (auto t : {"P", "S", "A1a", "00?", "P", "S", "A0a", "10a"}) expected.push_back(t);
  for (int k = 16; k < 32; ++k) expected.push_back(Hex2(image[k]) + "a");
  for (auto t : {"P", "S", "A1a", "00?", "P", "S", "A0a", "20a"}) expected.push_back(t);
  // Page 2 starts with its own first byte, not with page 0's unsent ones.
  expected.push_back(Hex2(image[32]) + "n");
  const auto tokens = rig.Trace().tokens;
  ASSERT_GE(tokens.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(tokens.begin(), tokens.begin() + expected.size()), expected);
  rig.ExpectClosedCleanly();
}

TEST(EepromWrite, AbortKeepsFinishedPagesAndDropsThePageInProgress) {
  TempDir dir;
  EeRig rig(Model::BCT13);
  WiredEeprom& device = rig.Wire(2048);
  const std::vector<uint8_t> image = RandomBytes(2048, 9);
  const std::string path = dir.File("in.bin");
  WriteFile(path, image);
  rig.host.dialogPaths.push_back(path);
  // 16 bytes and the page's end make 17 calls: the 23rd follows byte 5 of page 1.
  rig.host.abortAfterMessages = 23;
  rig.host.answers.push_back(Answer::Yes);

  WriteEeprom(rig.session);

  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Confirmation);
  EXPECT_EQ(rig.host.messages[0].text,
            "Stop writing the EEPROM? It keeps the pages written so far; the rest of it, "
            "including the page being written now, keeps its old bytes.");
  std::vector<uint8_t> expected(2048, 0xFF);
  std::copy(image.begin(), image.begin() + 16, expected.begin());
  EXPECT_EQ(device.contents, expected);
  const BusTrace trace = rig.Trace();
  ASSERT_GE(trace.tokens.size(), 3u);
  EXPECT_EQ(trace.tokens[trace.tokens.size() - 3], Hex2(image[21]) + "a");
  EXPECT_EQ(trace.tokens[trace.tokens.size() - 2], "S");
  EXPECT_EQ(trace.tokens.back(), "P");
  rig.ExpectClosedCleanly();
}

// --- Messages -------------------------------------------------------------------------------

struct MessageCase {
  const char* name;
  Model model;
  Command command;
  long ackedPeeks;  // the first peeks see SDA low, every later one high
  std::vector<std::string> messages;
  std::function<std::vector<std::string>(const std::vector<uint8_t>& image)> tokens;
};

class EepromMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(EepromMessages, ShowsItsErrorAndNoCompletion) {
  const MessageCase& p = GetParam();
  TempDir dir;
  EeRig rig(p.model);
  const std::vector<uint8_t> image = RandomBytes(ProfileOf(p.model).EepromLastAddress + 1, 13);
  const std::string path = dir.File("ee.bin");
  if (p.command == Command::Write) WriteFile(path, image);
  rig.host.dialogPaths.push_back(path);
  long peeks = 0;
  rig.port.onPeek = [&](uint32_t) -> uint32_t { return ++peeks <= p.ackedPeeks ? 0 : 1; };

  RunCommandOf(p.command, rig.session);

  EXPECT_EQ(rig.host.MessageTexts(), p.messages);
  for (const auto& m : rig.host.messages) EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_EQ(rig.Trace().tokens, p.tokens(image));
  // A read that got nothing leaves no file; a write leaves its input alone.
  EXPECT_EQ(dir.Names(), p.command == Command::Read ? std::vector<std::string>{}
                                                    : std::vector<std::string>{"ee.bin"});
  rig.ExpectClosedCleanly();
}

std::vector<std::string> PollFail(std::vector<std::string> header,
                                  const std::vector<uint8_t>& image, size_t pageSize) {
  std::vector<std::string> t = std::move(header);
  for (size_t k = 0; k < pageSize; ++k) t.push_back(Hex2(image[k]) + "a");
  t.push_back("P");
  for (int n = 0; n < 1000; ++n) {
    for (auto s : {"S", "A1n", "FF?", "P"}) t.push_back(s);
  }
  t.push_back("S");
  t.push_back("A1?");
  return t;
}

using Tokens = std::vector<std::string>;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, EepromMessages, ::testing::Values(
    MessageCase{"ReadNoAck", Model::BCT13, Command::Read, 0,
                {"NO ACK"},
                [](const auto&) { return Tokens{"S", "A0n", "00n", "S", "A1n", "~1", "P"}; }},
    MessageCase{"ReadNoAckWide", Model::STB3100, Command::Read, 0,
                {"NO ACK"},
                [](const auto&) { return Tokens{"S", "A0n", "00n", "00n", "S", "A1n", "~1", "P"}; }},
    MessageCase{"WriteNoAck1", Model::BCT13, Command::Write, 0,
                {"NO ACK1"},
                [](const auto&) { return Tokens{"S", "A0n"}; }},
    MessageCase{"WriteNoAck2", Model::TS1, Command::Write, 1,
                {"NO ACK2"},
                [](const auto&) { return Tokens{"S", "A0a", "00n"}; }},
    MessageCase{"WriteNoAck3", Model::DSX6071_6072, Command::Write, 1,
                {"NO ACK3"},
                [](const auto&) { return Tokens{"S", "A0a", "00n"}; }},
    MessageCase{"WriteNoAck3Wide", Model::DSX6170, Command::Write, 2,
                {"NO ACK3"},
                [](const auto&) { return Tokens{"S", "A0a", "00a", "00n"}; }},
    MessageCase{"WritePollFail", Model::DSI185, Command::Write, 18,
                {"POLL FAIL"},
                [](const auto& image) { return PollFail({"S", "A0a", "00a"}, image, 16); }},
    MessageCase{"WritePollFailWide", Model::TVNbox, Command::Write, 35,
                {"POLL FAIL"},
                [](const auto& image) { return PollFail({"S", "A0a", "00a", "00a"}, image, 32); }}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// --- Nothing reaches the EEPROM ------------------------------------------------------------

class EepromCancel : public ::testing::TestWithParam<Command> {};

TEST_P(EepromCancel, CancelledDialogWritesNothingAndStillCloses) {
  TempDir dir;
  EeRig rig(Model::TS1);

  RunCommandOf(GetParam(), rig.session);

  EXPECT_TRUE(rig.host.messages.empty());
  EXPECT_TRUE(dir.Names().empty());
  EXPECT_EQ(rig.host.dialogFilters, (std::vector<std::string>{kFilter}));
  // Mode word, both lines high, nothing on the bus, mode word back.
  const BusTrace trace = rig.Trace();
  EXPECT_TRUE(trace.tokens.empty());
  EXPECT_EQ(trace.outputValues, (std::vector<uint32_t>{7, 7}));
  const auto lines = rig.port.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"poke 2000F020 00000007", "poke 2000F000 00000007",
                                      "poke 2000F000 00000007", "poke 2000F020 00000000"}));
  rig.ExpectClosedCleanly();
}

INSTANTIATE_TEST_SUITE_P(Commands, EepromCancel, ::testing::Values(Command::Read, Command::Write),
                         [](const auto& info) {
                           return std::string(info.param == Command::Read ? "Read" : "Write");
                         });

struct BadFileCase {
  const char* name;
  Model model;
  long fileSize;        // -1: no such file
  std::string message;  // "%" stands for the path
};

class EepromBadFile : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(EepromBadFile, IsRefusedBeforeTheEepromSeesAnything) {
  const BadFileCase& p = GetParam();
  TempDir dir;
  EeRig rig(p.model);
  WiredEeprom& device = rig.Wire(ProfileOf(p.model).EepromLastAddress + 1);
  const std::string path = dir.File("in.bin");
  if (p.fileSize >= 0) WriteFile(path, std::vector<uint8_t>(static_cast<size_t>(p.fileSize), 0));
  rig.host.dialogPaths.push_back(path);

  WriteEeprom(rig.session);

  std::string message = p.message;
  message.replace(message.find('%'), 1, path);
  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(rig.host.messages[0].text, message);
  EXPECT_TRUE(rig.Trace().tokens.empty());
  EXPECT_FALSE(device.device.dirty());
  rig.ExpectClosedCleanly();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, EepromBadFile, ::testing::Values(
    BadFileCase{"OneByteShort", Model::BCT13, 2047,
                "The EEPROM file % is too short: BCT13 needs 2048 bytes, the file has 2047. "
                "Nothing was written to the EEPROM."},
    BadFileCase{"TwoKBForEightKB", Model::TS1, 2048,
                "The EEPROM file % is too short: TS1 needs 8192 bytes, the file has 2048. "
                "Nothing was written to the EEPROM."},
    BadFileCase{"Empty", Model::DSX6070, 0,
                "The EEPROM file % is too short: DSX6070 needs 2048 bytes, the file has 0. "
                "Nothing was written to the EEPROM."},
    BadFileCase{"Missing", Model::BCT13, -1,
                "Cannot open the file %: No such file or directory. "
                "Nothing was written to the EEPROM."}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(EepromRead, UncreatableFileIsOneErrorAndNoBusTraffic) {
  TempDir dir;
  EeRig rig(Model::BCT13);
  const std::string path = dir.File("missing-folder/ee.bin");
  rig.host.dialogPaths.push_back(path);

  ReadEeprom(rig.session);

  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(rig.host.messages[0].text,
            "Cannot create the file " + path + ": No such file or directory.");
  EXPECT_TRUE(rig.Trace().tokens.empty());
  rig.ExpectClosedCleanly();
}

// --- A dead link ----------------------------------------------------------------------------

// The fake decoder behind an adapter that stops answering for good.
struct DyingPort : PortIo {
  explicit DyingPort(FakeDecoderPort& p) : inner(p) {}
  uint8_t PortIn(uint16_t port) override {
    if (dead && port == kStatusPort) return 0;
    return inner.PortIn(port);
  }
  void PortOut(uint16_t port, uint8_t value) override { inner.PortOut(port, value); }
  FakeDecoderPort& inner;
  bool dead = false;
};

class EepromDeadLink : public ::testing::TestWithParam<Command> {};

TEST_P(EepromDeadLink, EndsWithOneMessageAndNoFile) {
  TempDir dir;
  EeRig rig(Model::BCT13);
  DyingPort dying(rig.port);
  rig.link.Rebind(dying, rig.clock);
  rig.clock.stepPerNow = 1000;  // each status poll of a dead adapter takes a millisecond
  const std::string path = dir.File("ee.bin");
  if (GetParam() == Command::Write) WriteFile(path, RandomBytes(2048, 1));
  rig.host.dialogPaths.push_back(path);
  long outputs = 0;
  const uint32_t pio = rig.profile.PioBase;
  rig.Watch([&](uint32_t a, uint32_t) {
    if (a == pio && ++outputs == 500) dying.dead = true;
  });

  RunCommandOf(GetParam(), rig.session);

  // The closing poke of the mode word meets the dead link too and must not escape.
  EXPECT_EQ(rig.host.MessageTexts(), (std::vector<std::string>{kLinkErrorMessage}));
  if (GetParam() == Command::Read) {
    EXPECT_TRUE(dir.Names().empty());
  } else {
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"ee.bin"}));
  }
  EXPECT_EQ(outputs, 500);
  EXPECT_EQ(rig.host.openFilter, kRestingFilter);
  EXPECT_EQ(rig.host.saveFilter, kRestingFilter);
  EXPECT_EQ(rig.host.status, "");
  EXPECT_EQ(rig.host.progressPosition, 0);
}

INSTANTIATE_TEST_SUITE_P(Commands, EepromDeadLink, ::testing::Values(Command::Read, Command::Write),
                         [](const auto& info) {
                           return std::string(info.param == Command::Read ? "Read" : "Write");
                         });

}  // namespace
}  // namespace corvane::testing
