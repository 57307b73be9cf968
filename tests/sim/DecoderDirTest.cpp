// The decoder's folder: what a new one holds, how decoder.conf is read, what Save writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "sim/Conf.h"
#include "sim/DecoderDir.h"
#include "sim/DecoderModels.h"
#include "sim/FolderLock.h"
#include "sim/SparseRam.h"
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

// Each of TS1's files replaced by what it must not be: refused at once by name, never read.
enum Odd { kDirectory, kFifo, kDevZero, kDangling, kHuge, kGoodLink };
const char* const kOddNames[] = {"directory", "fifo", "dev_zero", "dangling", "huge", "good_link"};

struct OddFile {
  std::string file;
  Odd odd;
  std::string says;  // after the path; empty: it opens
};

std::vector<OddFile> OddFiles() {
  const std::pair<const char*, const char*> limits[] = {
      {"flash.bin", "the flash is 2097152"},
      {"data.bin", "the data area is 524288"},
      {"eeprom.bin", "the EEPROM is 8192"},
      {"ram.bin", "this model's ram.bin is at most 33556480"},
      {"decoder.conf", "a decoder.conf is at most 1048576"},
      {"decoder.state", "a decoder.state is at most 1048576"}};
  std::vector<OddFile> rows;
  for (const auto& [file, limit] : limits) {
    rows.push_back({file, kDirectory, " is a directory, not a file"});
    rows.push_back({file, kFifo, " is a FIFO, not a file"});
    rows.push_back(
        {file, kDevZero, " is a symbolic link to /dev/zero, a character device, not a file"});
    rows.push_back({file, kDangling, " is a symbolic link to gone, which does not exist"});
    rows.push_back({file, kHuge, std::string(" is 67108864 bytes; ") + limit + " bytes"});
    rows.push_back({file, kGoodLink, ""});
  }
  return rows;
}

class OddDecoderFile : public ::testing::TestWithParam<OddFile> {};

TEST_P(OddDecoderFile, IsRefusedAtOnceByName) {
  const OddFile& c = GetParam();
  TempDir dir;
  const auto first = sim::VirtualDecoder::Open(dir.path(), "TS1", nullptr);
  ASSERT_TRUE(first && first->Save());  // decoder.state too
  std::vector<uint8_t> page(4 + sim::SparseRam::kPageSize, 0x5A);
  page[0] = page[1] = page[2] = 0, page[3] = 0x80;
  SimRig::WriteFile(dir / "TS1/ram.bin", page);
  const std::string path = dir / ("TS1/" + c.file);
  fs::rename(path, dir / "real");
  if (c.odd == kDirectory) fs::create_directory(path);
  ASSERT_TRUE(c.odd != kFifo || ::mkfifo(path.c_str(), 0644) == 0);
  if (c.odd == kDevZero) fs::create_symlink("/dev/zero", path);
  if (c.odd == kDangling) fs::create_symlink("gone", path);
  if (c.odd == kHuge) SimRig::WriteFile(path, {}), fs::resize_file(path, 64 << 20);
  if (c.odd == kGoodLink) fs::create_symlink("../real", path);
  const auto start = std::chrono::steady_clock::now();
  std::string error;
  EXPECT_EQ(sim::VirtualDecoder::Open(dir.path(), "TS1", &error) != nullptr, c.says.empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(error, c.says.empty() ? "" : path + c.says);
}

INSTANTIATE_TEST_SUITE_P(EachFile, OddDecoderFile, ::testing::ValuesIn(OddFiles()),
                         [](const auto& info) {
                           std::string name = info.param.file + "_" + kOddNames[info.param.odd];
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

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
  EXPECT_FALSE(rig.vd().ChangedOnDisk()) << "its own save is no change";
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
    EXPECT_NE(entry.path().filename().string().rfind(".corvane-", 0), 0u) << entry.path();
  }
}

// Another writer between two commands makes the decoder's copy stale; the station's lock and
// link.measured do not.
struct OtherWriter {
  const char* name;
  std::function<void(SimRig&, const std::string& dir)> act;
  bool changed;
};

class ChangedOnDisk : public ::testing::TestWithParam<OtherWriter> {};

TEST_P(ChangedOnDisk, SeesWhatAnotherWriterDid) {
  SimRig rig(Model::TS1);
  EXPECT_FALSE(rig.vd().ChangedOnDisk());
  ASSERT_TRUE(rig.vd().Save());  // writes decoder.state
  GetParam().act(rig, rig.decoderDir() + "/");
  EXPECT_EQ(rig.vd().ChangedOnDisk(), GetParam().changed);
}

void Touch(const std::string& path) {
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
}

INSTANTIATE_TEST_SUITE_P(
    Writers, ChangedOnDisk,
    ::testing::Values(
        OtherWriter{"station",
                    [](SimRig&, const std::string& dir) {
                      ASSERT_TRUE(sim::FolderLock::Take(dir, 0, nullptr));
                      SimRig::WriteFile(dir + "link.measured", {'1'});
                    },
                    false},
        OtherWriter{"another_decoder",
                    [](SimRig& rig, const std::string&) {
                      auto other = sim::VirtualDecoder::Open(rig.dir.path(), "TS1", nullptr);
                      ASSERT_TRUE(other);
                      other->impl().decoder().ram().Write(0x80000000, 1);
                      ASSERT_TRUE(other->Save());  // ram.bin appears
                    },
                    true},
        OtherWriter{"state_removed",
                    [](SimRig&, const std::string& dir) { fs::remove(dir + "decoder.state"); },
                    true},
        // Our own save of ram.bin and decoder.state does not hide their eeprom.bin.
        OtherWriter{"then_our_save",
                    [](SimRig& rig, const std::string& dir) {
                      Touch(dir + "eeprom.bin");
                      rig.impl().decoder().ram().Write(0x80000000, 1);
                      ASSERT_TRUE(rig.vd().Save());
                    },
                    true}),
    [](const auto& info) { return std::string(info.param.name); });

// A link planted under a temporary name is never written through: not the old fixed name, not
// a name drawn, which is drawn again.
TEST(TemporaryName, APlantedLinkIsNotFollowed) {
  TempDir dir;
  SimRig::WriteFile(dir / "victim", {'k'});
  for (const char* name : {"flash.bin.tmp", ".corvane-AAAAAA"})
    fs::create_symlink("victim", dir / name);
  fs::create_symlink("absent", dir / ".corvane-BBBBBB");  // O_CREAT alone would make absent
  ASSERT_TRUE(sim::WriteFileAtomically(dir / "flash.bin", std::vector<uint8_t>{1, 2}, nullptr));
  int draws = 0;
  std::string path;
  EXPECT_EQ(sim::CreateTemporaryFile(dir.path(), &path,
                                     [&] { return ++draws > 1 ? "BBBBBB" : "AAAAAA"; }),
            -1);
  EXPECT_EQ(errno, EEXIST);
  const char* names[] = {"AAAAAA", "BBBBBB", "CCCCCC"};
  draws = 0;
  EXPECT_GE(sim::CreateTemporaryFile(dir.path(), &path, [&] { return names[draws++]; }), 0);
  EXPECT_EQ(path, dir / ".corvane-CCCCCC");
  EXPECT_EQ(SimRig::ReadFile(dir / "victim"), std::vector<uint8_t>{'k'});
  EXPECT_FALSE(fs::exists(dir / "absent"));
}

// flock goes with the open file: a second lock waits and names the holder, as it would in
// another process, and gets the folder once the first is released.
TEST(FolderLock, ASecondHolderWaitsForTheFirst) {
  TempDir dir;
  auto first = sim::FolderLock::Take(dir / "TS1", 0, nullptr);
  ASSERT_TRUE(first);
  std::string holder;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sim::FolderLock::Take(dir / "TS1", 100, &holder));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(holder, "pid " + std::to_string(::getpid()));
  first.reset();
  EXPECT_TRUE(sim::FolderLock::Take(dir / "TS1", 0, &holder));
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
