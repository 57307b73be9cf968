// The decoder's folder: what a new one holds, how decoder.conf is read, what Save writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "sim/Conf.h"
#include "sim/DecoderDir.h"
#include "sim/DecoderModels.h"
#include "support/SimRig.h"
#include "target/Connection.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::SimRig;
using testing::TempDir;

struct FolderCase {
  Model model;
  const char* folder;
  uintmax_t flash, data, eeprom;  // data 0: no data.bin
};

class NewDecoder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(NewDecoder, StartsErasedWithADocumentedConf) {
  const FolderCase& c = GetParam();
  SimRig rig(c.model);
  const fs::path dir = rig.decoderDir();
  EXPECT_EQ(dir, fs::path(rig.dir.path()) / c.folder);
  const auto erased = [](const fs::path& p, uintmax_t size) {
    const auto bytes = SimRig::ReadFile(p.string());
    return bytes.size() == size &&
           std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
  };
  EXPECT_TRUE(erased(dir / "flash.bin", c.flash));
  EXPECT_TRUE(erased(dir / "eeprom.bin", c.eeprom));
  EXPECT_EQ(fs::exists(dir / "data.bin"), c.data != 0);
  if (c.data) {
    EXPECT_TRUE(erased(dir / "data.bin", c.data));
  }
  EXPECT_FALSE(fs::exists(dir / "ram.bin"));

  // Every key is set to its default below a comment that explains it.
  const auto raw = SimRig::ReadFile((dir / "decoder.conf").string());
  const std::string text(raw.begin(), raw.end());
  sim::Conf conf;
  std::string error;
  ASSERT_TRUE(conf.Parse(text, &error)) << error;
  const std::pair<const char*, const char*> keys[] = {
      {"port_access_us", "1"}, {"link_byte_us", "3"},   {"dead_after_bytes", "0"},
      {"loader_seconds", "3"}, {"eeprom_present", "1"}, {"eeprom_busy_ms", "5"},
      {"flip_bits_every", "0"}, {"cable", "plugged"},     {"unplug_after_bytes", "0"},
      {"eeprom_write_protect", "0"}, {"eeprom_never_ready", "0"}, {"eeprom_acks", "0"},
      {"bidirectional", "1"}};
  for (const auto& [key, value] : keys) {
    EXPECT_EQ(conf.GetString(key, "missing"), value) << key;
    const size_t at = text.find(std::string("\n") + key + " = ");
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_EQ(text.rfind("\n#", at), text.rfind('\n', at - 1)) << key << " has no comment";
  }
  for (const char* flashKey : {"flash_maker", "flash_id", "protected_sectors", "stuck_bits"}) {
    EXPECT_NE(text.find(flashKey), std::string::npos) << flashKey;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, NewDecoder,
    ::testing::Values(FolderCase{Model::DSX6071_6072, "DSX60716072", 0x200000, 0, 2048},
                      FolderCase{Model::DSI185, "DSI185", 0x100000, 0x80000, 2048},
                      FolderCase{Model::BCT13, "BCT13", 0x100000, 0x80000, 2048},
                      FolderCase{Model::TS1, "TS1", 0x200000, 0x80000, 8192},
                      FolderCase{Model::DSX6070, "DSX6070", 0x100000, 0x80000, 2048},
                      FolderCase{Model::TVNbox, "TVNbox", 0x200000, 0, 8192},
                      FolderCase{Model::STB3100, "STB3100", 0x200000, 0, 8192},
                      FolderCase{Model::DSX6170, "DSX6170", 0x400000, 0x200000, 8192}),
    [](const auto& info) { return std::string(info.param.folder); });

TEST(DecoderConf, EditedValuesTakeEffect) {
  SimRig rig(Model::BCT13, "# slower port\nport_access_us = 0x5  # hex works too\n");
  const int64_t before = rig.vd().clock().Now();
  for (int i = 0; i < 10; ++i) rig.vd().PortIn(kStatusPort);
  EXPECT_EQ(rig.vd().clock().Now() - before, 50);
}

struct BadConf {
  const char* name;
  const char* text;
  const char* mentions;
};

class DecoderConfError : public ::testing::TestWithParam<BadConf> {};

TEST_P(DecoderConfError, NamesTheFileAndTheFault) {
  TempDir dir;
  fs::create_directories(dir / "BCT13");
  const std::string conf = dir / "BCT13/decoder.conf";
  SimRig::WriteFile(conf, std::vector<uint8_t>(GetParam().text,
                                               GetParam().text + strlen(GetParam().text)));
  std::string error;
  EXPECT_FALSE(sim::VirtualDecoder::Open(dir.path(), "BCT13", &error));
  EXPECT_NE(error.find(conf), std::string::npos) << error;
  EXPECT_NE(error.find(GetParam().mentions), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DecoderConfError,
    ::testing::Values(BadConf{"no_equals", "loader_seconds 3\n", "line 1"},
                      BadConf{"no_value", "\n\nlink_byte_us =\n", "line 3"},
                      BadConf{"twice", "loader_seconds = 1\nloader_seconds = 2\n", "twice"},
                      BadConf{"unknown_key", "loader_second = 1\n", "loader_second"},
                      BadConf{"not_a_number", "link_byte_us = fast\n", "link_byte_us"},
                      BadConf{"zero_access_time", "port_access_us = 0\n", "port_access_us"},
                      BadConf{"negative", "dead_after_bytes = -1\n", "dead_after_bytes"},
                      BadConf{"flag", "eeprom_present = yes\n", "eeprom_present"},
                      BadConf{"cable", "cable = out\n", "plugged or unplugged"},
                      BadConf{"bidirectional", "bidirectional = 2\n",
                              "bidirectional = 2: expected 1 or 0"},
                      BadConf{"write_protect", "eeprom_write_protect = ACK\n",
                              "eeprom_write_protect = ACK: expected 0, 1 or ack"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecoderConfError, FlashKeysAreCheckedByTheBoard) {
  for (const std::string line :
       {"flash_maker=x", "flash_id = 1234", "protected_sectors = 0x7FC00000/mid"}) {
    TempDir dir;
    fs::create_directories(dir / "DSX6170");
    SimRig::WriteFile(dir / "DSX6170/decoder.conf", std::vector<uint8_t>(line.begin(), line.end()));
    std::string error;
    EXPECT_FALSE(sim::VirtualDecoder::Open(dir.path(), "DSX6170", &error));
    EXPECT_NE(error.find("decoder.conf: "), std::string::npos) << error;
    EXPECT_NE(error.find(line.substr(0, line.find_first_of(" ="))), std::string::npos) << error;
  }
}

TEST(DecoderFiles, AWrongSizeNamesTheFile) {
  for (const char* name : {"flash.bin", "data.bin", "eeprom.bin", "ram.bin"}) {
    TempDir dir;
    ASSERT_TRUE(sim::VirtualDecoder::Open(dir.path(), "BCT13", nullptr));
    const std::string path = dir / (std::string("BCT13/") + name);
    SimRig::WriteFile(path, std::vector<uint8_t>(1000, 0));
    std::string error;
    EXPECT_FALSE(sim::VirtualDecoder::Open(dir.path(), "BCT13", &error)) << name;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
}

TEST(DecoderFiles, UnknownModelIsRefused) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(sim::VirtualDecoder::Open(dir.path(), "DSX9999", &error));
  EXPECT_NE(error.find("DSX9999"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Loaders fill flash and data area, pokes fill RAM and the EEPROM stays: Save writes exactly
// the changed files, and the next run finds everything again.
TEST(DecoderSave, RoundTripsWhatChangedAndOnlyThat) {
  SimRig rig(Model::BCT13);
  const std::string dir = rig.decoderDir();
  const ino_t eepromBefore = Inode(dir + "/eeprom.bin");
  ASSERT_TRUE(Connect(rig.session));
  rig.link.Poke(0x80002000, 0x11223344);
  rig.link.Poke(0x80081FFC, 0x55667788);
  rig.link.Poke(0x9FFF0000, 0x00000000);  // zero into untouched RAM: nothing to keep
  for (const char* loader : {"TRAP.BIN", "TRAPDATA.BIN"}) {
    const auto bytes = SimRig::ReadFile(dir + "/" + loader);
    rig.link.SendByte(static_cast<uint8_t>(bytes.size()));
    rig.link.WaitSendDone();
    for (uint8_t b : bytes) {
      rig.link.SendByte(b);
      rig.link.WaitSendDone();
    }
    rig.vd().clock().SleepMilliseconds(3000);
  }
  Disconnect(rig.session);
  ASSERT_TRUE(rig.vd().Save());
  EXPECT_EQ(Inode(dir + "/eeprom.bin"), eepromBefore);

  const auto flash = SimRig::ReadFile(dir + "/flash.bin");
  const auto data = SimRig::ReadFile(dir + "/data.bin");
  EXPECT_EQ(std::vector<uint8_t>(flash.begin(), flash.begin() + 4),
            (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(std::vector<uint8_t>(data.end() - 4, data.end()),
            (std::vector<uint8_t>{0x88, 0x77, 0x66, 0x55}));
  EXPECT_EQ(fs::file_size(dir + "/ram.bin"), 2 * (4 + sim::SparseRam::kPageSize));

  const ino_t flashSaved = Inode(dir + "/flash.bin");
  rig.Reopen();  // saves again: nothing changed, nothing rewritten
  EXPECT_EQ(Inode(dir + "/flash.bin"), flashSaved);
  EXPECT_EQ(rig.Word(0x7FF00000), 0x11223344u);
  EXPECT_EQ(rig.Word(0xFFFFFFFC), 0x55667788u);
  EXPECT_EQ(rig.Word(0x80081FFC), 0x55667788u);
  EXPECT_EQ(rig.impl().decoder().ram().allocatedPages(), 2u);
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

struct ConfText {
  const char* text;
  std::map<std::string, std::string> values;
};

class ConfParse : public ::testing::TestWithParam<ConfText> {};

TEST_P(ConfParse, KeysValuesAndComments) {
  sim::Conf conf;
  std::string error;
  ASSERT_TRUE(conf.Parse(GetParam().text, &error)) << error;
  EXPECT_EQ(conf.values(), GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConfParse,
    ::testing::Values(ConfText{"", {}}, ConfText{"# only a comment\n\n", {}},
                      ConfText{"a=1", {{"a", "1"}}},
                      ConfText{"  a  =  x y  # why\r\nb = 2\n", {{"a", "x y"}, {"b", "2"}}}));

TEST(ConfValues, NumbersAndLists) {
  sim::Conf conf;
  ASSERT_TRUE(conf.Parse("n = 0x1F\nd = 42\nbad = 12ab\nlist = 0x10, 7  0x7FFFFFFF,,\n", nullptr));
  EXPECT_EQ(conf.GetInt("n", -1), 31);
  EXPECT_EQ(conf.GetInt("d", -1), 42);
  EXPECT_EQ(conf.GetInt("bad", -1), -1);
  EXPECT_EQ(conf.GetInt("absent", -1), -1);
  EXPECT_EQ(conf.GetList("list"), (std::vector<uint32_t>{0x10, 7, 0x7FFFFFFF}));
  EXPECT_FALSE(sim::Conf::ParseInt("0x"));
  EXPECT_FALSE(sim::Conf::ParseInt("99999999999999999999"));
}

}  // namespace
}  // namespace corvane
