#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <random>
#include <regex>

#include "link/Text.h"
#include "flash/Signature.h"
#include "support/SimRig.h"
#include "transfer/DataArea.h"
#include "transfer/Firmware.h"
#include "transfer/TransferTestKit.h"

// Write Firmware end to end through the virtual decoder: what lands in its flash.
namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

// Short runs of random words in long runs of erased ones, spread over the whole flash: every
// block gets data, but most words cost no programming, so a whole-flash write stays quick.
std::vector<uint8_t> RandomImage(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> out(bytes, 0xFF);
  std::mt19937 random(seed);
  size_t word = random() % 64;
  const size_t words = bytes / 4;
  while (word < words) {
    const size_t run = std::min<size_t>(1 + random() % 256, words - word);
    for (size_t i = 0; i < run; ++i, ++word)
      kit::PutFileWord(out, word, static_cast<uint32_t>(random()));
    word += 1 + random() % 4096;
  }
  return out;
}

std::vector<uint8_t> FlashFile(SimRig& rig) {
  rig.vd().Save();
  return SimRig::ReadFile(rig.decoderDir() + "/flash.bin");
}

// True when bytes [from, to) of a equal those of b (or all equal `fill` when b is empty).
::testing::AssertionResult SameRange(const std::vector<uint8_t>& a, size_t from, size_t to,
                                     const std::vector<uint8_t>& b, int fill = -1) {
  for (size_t i = from; i < to; ++i) {
    const int want = fill >= 0 ? fill : b[i];
    if (a[i] != want) {
      return ::testing::AssertionFailure() << "byte " << Hex8(static_cast<uint32_t>(i)) << " is "
                                           << int{a[i]} << ", want " << want;
    }
  }
  return ::testing::AssertionSuccess();
}

struct ModelImage {
  Model model;
  size_t bytes;
  bool verify;  // read back through the link as well
};

class WriteFirmwareSim : public ::testing::TestWithParam<ModelImage> {};

// The one whole-flash write per model. Where the read-back check runs, a silent success also
// means the tool read every word back as written: on the block-by-block board with its ranges,
// and on BCT13, where it is the only proof that the loader did its work.
TEST_P(WriteFirmwareSim, TheFlashHoldsTheImage) {
  const ModelImage& m = GetParam();
  SimRig rig(m.model);
  const auto image = RandomImage(m.bytes, 0xC0FFEE + static_cast<uint32_t>(m.model));
  SimRig::WriteFile(rig.path("image.bin"), image);
  rig.host.dialogPaths = {rig.path("image.bin")};
  rig.session.verifyAfterWrite = m.verify;
  rig.vd().ResetStats();

  const auto start = std::chrono::steady_clock::now();
  WriteFirmware(rig.session);
  const auto wall = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(rig.host.MessageTexts(),
            std::vector<std::string>{"Writing Flash completed." +
                                     (m.verify ? " Read back and verified: " + SizeText(m.bytes) + "."
                                               : std::string())});
  const auto log = kit::LogLines(rig.path("Firmware.log"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(kit::StartsWith(log[1], "Done "));
  EXPECT_TRUE(FlashFile(rig) == image) << "the flash differs from the image";
  EXPECT_TRUE(rig.vd().PortReleased());
  const long long wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(wall).count();
  std::printf("%s: %zu KB written%s in %lld ms; the hardware would take %lld s\n",
              ProfileOf(m.model).caption, m.bytes / 1024, m.verify ? " and read back" : "", wallMs,
              static_cast<long long>(rig.vd().stats().virtualTimeUs / 1000000));
}

INSTANTIATE_TEST_SUITE_P(EveryModel, WriteFirmwareSim,
                         ::testing::Values(ModelImage{Model::DSX6071_6072, 0x200000, true},
                                           ModelImage{Model::DSI185, 0x100000, false},
                                           ModelImage{Model::BCT13, 0x100000, true},
                                           ModelImage{Model::TS1, 0x200000, false},
                                           ModelImage{Model::DSX6070, 0x100000, false},
                                           ModelImage{Model::TVNbox, 0x200000, false},
                                           ModelImage{Model::STB3100, 0x200000, false},
                                           ModelImage{Model::DSX6170, 0x400000, false}),
                         [](const auto& info) { return ModelFolderName(info.param.model); });

// DSX6071/6072 with the data area left out: the flash starts as all zero words, the image is
// erased but for words at the region edges, so only erases and the edges are traffic.
struct RegionCase {
  const char* name;
  bool eraseDataArea;
  size_t erasedFrom;  // the data area from here to 0x80000 is erased; below it keeps its words
};
void PrintTo(const RegionCase& c, std::ostream* os) {
  *os << c.name;
}

class Dsx6071DataAreaSim : public ::testing::TestWithParam<RegionCase> {};

TEST_P(Dsx6071DataAreaSim, LeavesErasesOrWritesTheDescribedRegions) {
  const RegionCase& c = GetParam();
  SimRig rig(Model::DSX6071_6072);
  const std::vector<uint8_t> old(0x200000, 0x00);
  SimRig::WriteFile(rig.decoderDir() + "/flash.bin", old);
  rig.Reopen();
  std::vector<uint8_t> image(0x200000, 0xFF);
  for (size_t offset : {0x0u, 0xFFFCu, 0x10000u, 0x7FFFCu, 0x80000u, 0x80004u, 0x1FFFFCu})
    kit::PutFileWord(image, offset / 4, 0x12345600 + static_cast<uint32_t>(offset >> 16));
  SimRig::WriteFile(rig.path("image.bin"), image);
  rig.session.profile.writeDataArea = false;
  rig.session.profile.eraseDataArea = c.eraseDataArea;
  rig.session.verifyAfterWrite = false;  // the flash file is checked whole below
  rig.host.dialogPaths = {rig.path("image.bin")};

  WriteFirmware(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(), std::vector<std::string>{"Writing Flash completed."});
  const auto flash = FlashFile(rig);
  ASSERT_EQ(flash.size(), image.size());
  EXPECT_TRUE(SameRange(flash, 0, c.erasedFrom, old));
  EXPECT_TRUE(SameRange(flash, c.erasedFrom, 0x80000, {}, 0xFF));
  EXPECT_TRUE(SameRange(flash, 0x80000, 0x200000, image));
}

INSTANTIATE_TEST_SUITE_P(Options, Dsx6071DataAreaSim,
                         ::testing::Values(RegionCase{"keep", false, 0x80000},
                                           RegionCase{"erase", true, 0x10000}),
                         [](const auto& info) { return std::string(info.param.name); });

// A protected block answered Yes keeps every old word, and the read-back passes over it:
// the one before last with the data area left out, so the last block shows where writing
// picks up again at its own file offset; and the first, which holds the data-area sectors
// that the data area's own erases must not have touched.
struct SkippedBlockCase {
  const char* name;
  uint32_t block;       // offset of the protected block
  bool writeDataArea;
};
void PrintTo(const SkippedBlockCase& c, std::ostream* os) {
  *os << c.name;
}

class SkippedBlockSim : public ::testing::TestWithParam<SkippedBlockCase> {};

TEST_P(SkippedBlockSim, KeepsEveryOldWordAndWritesTheRest) {
  const SkippedBlockCase& c = GetParam();
  SimRig rig(Model::DSX6071_6072, "protected_sectors = 0x" + Hex8(0x7FE00000 + c.block));
  std::vector<uint8_t> old(0x200000);
  std::mt19937 random(71);
  for (auto& b : old) b = static_cast<uint8_t>(random());
  SimRig::WriteFile(rig.decoderDir() + "/flash.bin", old);
  rig.Reopen();
  const auto image = RandomImage(0x200000, 72);
  SimRig::WriteFile(rig.path("image.bin"), image);
  rig.session.profile.writeDataArea = c.writeDataArea;
  rig.host.dialogPaths = {rig.path("image.bin")};
  rig.host.answers = {Answer::Yes};

  WriteFirmware(rig.session);

  const size_t written = c.writeDataArea ? 0 : 0x80000;
  EXPECT_EQ(rig.host.MessageTexts(),
            (std::vector<std::string>{"Sector " + Hex8(0x7FE00000 + c.block) +
                                          " is protected. Do you want to skip this sector?",
                                      "Writing Flash completed. Read back and verified: " +
                                          SizeText(0x200000 - written - 0x20000) + "."}));
  const auto flash = FlashFile(rig);
  EXPECT_TRUE(SameRange(flash, 0, written, old));
  EXPECT_TRUE(SameRange(flash, written, c.block, image));
  EXPECT_TRUE(SameRange(flash, c.block, c.block + 0x20000, old));
  EXPECT_TRUE(SameRange(flash, c.block + 0x20000, 0x200000, image));
}

INSTANTIATE_TEST_SUITE_P(Blocks, SkippedBlockSim,
                         ::testing::Values(SkippedBlockCase{"oneBeforeLast", 0x1C0000, false},
                                           SkippedBlockCase{"first", 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Top-boot chips keep four sectors in the last block, and ST's M29W800A decodes one address
// line more in its command cycles than the AMD parts. The flash starts all zero and the image
// has data in the first and last blocks only: every sector must be erased for the read-back
// to agree, and the chips must answer the signature read with their codes, not the array.
struct TopBootCase {
  Model model;
  const char* device;
  size_t bytes;
};
void PrintTo(const TopBootCase& c, std::ostream* os) {
  *os << c.device;
}

class TopBootSim : public ::testing::TestWithParam<TopBootCase> {};

TEST_P(TopBootSim, EverySectorIsErasedAndTheWriteReadsBackEqual) {
  const TopBootCase& c = GetParam();
  SimRig rig(c.model, std::string("flash_device = ") + c.device);
  SimRig::WriteFile(rig.decoderDir() + "/flash.bin", std::vector<uint8_t>(c.bytes, 0x00));
  rig.Reopen();
  std::vector<uint8_t> image(c.bytes, 0xFF);
  const auto data = RandomImage(c.bytes, 9);
  std::copy(data.begin(), data.begin() + 0x20000, image.begin());
  std::copy(data.end() - 0x20000, data.end(), image.end() - 0x20000);
  SimRig::WriteFile(rig.path("image.bin"), image);
  rig.host.dialogPaths = {rig.path("image.bin")};
  rig.vd().ResetStats();

  WriteFirmware(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(),
            std::vector<std::string>{"Writing Flash completed. Read back and verified: " +
                                     SizeText(c.bytes) + "."});
  EXPECT_TRUE(FlashFile(rig) == image) << "the flash differs from the image";
  std::printf("%s with %s: the hardware would take %lld s\n", ProfileOf(c.model).caption,
              c.device, static_cast<long long>(rig.vd().stats().virtualTimeUs / 1000000));
  rig.host.messages.clear();
  ReadSignature(rig.session);
  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].text.find("FFFFFFFF"), std::string::npos)
      << rig.host.messages[0].text;
}

INSTANTIATE_TEST_SUITE_P(Parts, TopBootSim,
                         ::testing::Values(TopBootCase{Model::DSX6071_6072, "M29W800AT", 0x200000},
                                           TopBootCase{Model::DSX6071_6072, "AM29LV800BT", 0x200000},
                                           TopBootCase{Model::DSI185, "AM29F400BT", 0x100000},
                                           TopBootCase{Model::DSI185, "M29W800AB", 0x100000},
                                           TopBootCase{Model::TS1, "M29W800AT", 0x200000},
                                           TopBootCase{Model::TVNbox, "M29W800AB", 0x200000},
                                           TopBootCase{Model::STB3100, "M29W800AB", 0x200000},
                                           TopBootCase{Model::DSX6070, "M29W800AT", 0x100000}),
                         [](const auto& info) {
                           return ModelFolderName(info.param.model) + "_" + info.param.device;
                         });

// Written over what it already mostly holds: only the sectors that differ are erased and
// programmed (on DSX6170 with the sector erase built like its other commands), the log names
// the ones left alone, and the backup, from one read and the read-back, equals the old flash.
struct UpdateCase {
  const char* name;
  Model model;
  size_t bytes;
  std::vector<size_t> changed;  // offsets of the words the image changes
  bool backup;
  const char* left;       // the log's line of sectors left alone; null: none
  uint64_t maxPokes;      // the set-up's and the changed sectors' programming
};
void PrintTo(const UpdateCase& c, std::ostream* os) {
  *os << c.name;
}

class UpdateSim : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(UpdateSim, OnlyTheSectorsThatDifferAreWritten) {
  const UpdateCase& c = GetParam();
  SimRig rig(c.model);
  const auto old = RandomImage(c.bytes, 23);
  SimRig::WriteFile(rig.decoderDir() + "/flash.bin", old);
  rig.Reopen();
  auto image = old;
  for (size_t offset : c.changed) image[offset] ^= 0x81;
  SimRig::WriteFile(rig.path("image.bin"), image);
  rig.host.dialogPaths = {rig.path("image.bin")};
  if (c.backup) rig.session.backup = rig.path("old.bin");
  rig.vd().ResetStats();

  WriteFirmware(rig.session);

  const auto texts = rig.host.MessageTexts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_TRUE(kit::StartsWith(texts[0], c.changed.empty()
                                            ? "The flash already holds " + rig.path("image.bin") +
                                                  ": nothing was erased or written."
                                            : std::string("Writing Flash completed: ")))
      << texts[0];
  EXPECT_TRUE(FlashFile(rig) == image) << "the flash differs from the image";
  EXPECT_LE(rig.vd().stats().pokes, c.maxPokes);
  const auto log = kit::LogLines(rig.path("Firmware.log"));
  ASSERT_GE(log.size(), 2u);
  if (c.left) {
    EXPECT_EQ(log[1], std::string("Left as they were (they hold the image): ") + c.left);
  }
  if (c.backup) {
    EXPECT_TRUE(SimRig::ReadFile(rig.path("old.bin")) == old) << "the backup";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, UpdateSim,
    ::testing::Values(
        UpdateCase{"sameImageTs1", Model::TS1, 0x200000, {}, true, "7FE00000 to 7FFFFFFF", 40},
        UpdateCase{"twoSectorsDsx6170", Model::DSX6170, 0x400000, {0x10, 0x2A0004}, true,
                   "7FC08000 to 7FE9FFFF, 7FEC0000 to 7FFFFFFF", 40000},
        UpdateCase{"oneSectorDsx6071WithoutBackup", Model::DSX6071_6072, 0x200000, {0x1C0008},
                   false, "7FE00000 to 7FFBFFFF, 7FFE0000 to 7FFFFFFF", 40000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WriteFirmwareSim, StuckBitsAreFoundByTheReadBack) {
  SimRig rig(Model::DSX6070, "stuck_bits = 0x7FF00010:0x00000100");
  std::vector<uint8_t> image(0x100000, 0xFF);
  kit::PutFileWord(image, 0x10 / 4, 0x00000000);
  kit::PutFileWord(image, 0x14 / 4, 0x00000000);
  SimRig::WriteFile(rig.path("image.bin"), image);
  rig.host.dialogPaths = {rig.path("image.bin")};

  WriteFirmware(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(),
            (std::vector<std::string>{"Verify failed: 1 word differs, first at 7FF00010. No backup "
                                      "was made before this write: put back a file saved with "
                                      "Read Firmware before."}));
  const auto log = kit::LogLines(rig.path("Firmware.log"));
  ASSERT_GE(log.size(), 5u);
  // Only the first sector differs from the image: the board's derived sector erase.
  EXPECT_EQ(log[1], "Left as they were (they hold the image): 7FF08000 to 7FFFFFFF");
  EXPECT_TRUE(kit::StartsWith(log[2], "Programming failed 7FF00010 Read: ")) << log[2];
  EXPECT_EQ(log[log.size() - 2], "Verify failed: 1 word differs, first at 7FF00010.");
  EXPECT_TRUE(kit::StartsWith(log.back(), "Done "));
}

TEST(WriteFirmwareSim, Bct13WithoutTrapBinCopiesToRamAndLeavesTheFlash) {
  SimRig rig(Model::BCT13);
  ASSERT_TRUE(fs::remove(rig.decoderDir() + "/TRAP.BIN"));
  const auto image = RandomImage(0x100000, 13);
  SimRig::WriteFile(rig.path("image.bin"), image);
  rig.host.dialogPaths = {rig.path("image.bin")};
  rig.vd().ResetStats();

  WriteFirmware(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(),
            (std::vector<std::string>{"Error opening TRAP.BIN !"}));
  // No loader, no wait and nothing to read back: the round trip through a word of RAM and
  // the copy are all the traffic.
  EXPECT_EQ(rig.vd().stats().codeBlocks, 0u);
  EXPECT_EQ(rig.vd().stats().peeks, 8u);
  const auto log = kit::LogLines(rig.path("Firmware.log"));
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "Loader " + rig.decoderDir() +
                        "/TRAP.BIN not sent: cannot open it (No such file or directory)");
  // The trailer still closes the log; the refusal stands on the line before it.
  EXPECT_TRUE(kit::StartsWith(log[2], "Done "));
  for (uint32_t offset : {0u, 4u, 0x7FFFCu, 0xFFFFCu})
    EXPECT_EQ(rig.Word(0x80002000 + offset), RamValue(&image[offset])) << Hex8(offset);
  EXPECT_TRUE(SameRange(FlashFile(rig), 0, 0x100000, {}, 0xFF));
}

TEST(WriteFirmwareSim, ADeadAdapterMidWriteIsOneErrorAndTheLogSaysStopped) {
  SimRig rig(Model::TS1, "dead_after_bytes = 20000");
  SimRig::WriteFile(rig.path("image.bin"), RandomImage(0x200000, 7));
  rig.host.dialogPaths = {rig.path("image.bin")};
  rig.session.fullWrite = true;

  WriteFirmware(rig.session);

  // Not the cable text a failed connect gets: what the flash holds now and how to go back.
  EXPECT_EQ(rig.host.MessageTexts(),
            std::vector<std::string>{
                "The decoder stopped answering during the write: check the cable and the "
                "decoder's power. The flash may now be partly erased from 7FE00000 to 7FFFFFFF: "
                "the decoder may not start until a complete image is written.\nNo backup was "
                "made before this write: put back a file saved with Read Firmware before."});
  const auto log = kit::LogLines(rig.path("Firmware.log"));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(kit::StartsWith(log[1], "Stopped "));
  EXPECT_EQ(rig.session.LogFile, nullptr);
  EXPECT_EQ(rig.host.status, "");
  EXPECT_EQ(rig.host.openFilter, kRestingFilter);
  EXPECT_TRUE(rig.vd().PortReleased());
}

}  // namespace
}  // namespace corvane::testing

// The backup before a write, for the flash and for the data area: stopped half-way, asked
// to replace a file, or named by the second it was made in.
namespace corvane::testing {
namespace {

struct BackupCase {
  const char* name;
  Model model;
  void (*command)(Session&);
  size_t inputBytes;
  const char* region;     // in the default name
  const char* completed;  // the closing message, before where the backup is
};

class WriteBackup : public ::testing::TestWithParam<BackupCase> {
 protected:
  WriteBackup() : rig(GetParam().model) {
    std::vector<uint8_t> input(GetParam().inputBytes);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 13 + 1);
    SimRig::WriteFile(rig.path("in.bin"), input);
    rig.host.dialogPaths.push_back(rig.path("in.bin"));
    flashBefore = FlashFile(rig);
  }
  SimRig rig;
  std::vector<uint8_t> flashBefore;
};

// Escape, Yes, a thousand words into the backup: nothing erased, no file kept.
TEST_P(WriteBackup, StoppedHalfWayErasesNothingAndKeepsNoFile) {
  const uint64_t pokesBefore = rig.vd().stats().pokes;
  rig.session.backup = rig.path("old.bin");
  rig.host.abortAfterMessages = 1000;
  rig.host.answers = {Answer::Yes};
  GetParam().command(rig.session);

  ASSERT_EQ(rig.host.messages.size(), 1u);
  EXPECT_EQ(rig.host.messages[0].text.rfind("Stop the backup? Nothing has been erased yet", 0), 0u)
      << rig.host.messages[0].text;
  EXPECT_EQ(FlashFile(rig), flashBefore);
  EXPECT_LT(rig.vd().stats().pokes - pokesBefore, 40u) << "the set-up's pokes and no more";
  EXPECT_FALSE(fs::exists(rig.path("old.bin")));
  EXPECT_FALSE(fs::exists(rig.path("Firmware.log")));
}

// Running the same write twice must not replace the old contents with the new: refused
// before the backup reads a word.
TEST_P(WriteBackup, ANamedFileThatExistsIsRefusedAndNothingIsErased) {
  SimRig::WriteFile(rig.path("old.bin"), {'o', 'l', 'd'});
  rig.session.backup = rig.path("old.bin");
  const uint64_t peeksBefore = rig.vd().stats().peeks;
  GetParam().command(rig.session);

  EXPECT_EQ(rig.host.MessageTexts(),
            std::vector<std::string>{"Cannot save the backup: " + rig.path("old.bin") +
                                     " exists; name a new file for the backup: it must not "
                                     "replace one. Nothing was erased or written."});
  EXPECT_EQ(FlashFile(rig), flashBefore);
  EXPECT_LT(rig.vd().stats().peeks - peeksBefore, 100u) << "no backup was read";
  EXPECT_EQ(SimRig::ReadFile(rig.path("old.bin")), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_FALSE(fs::exists(rig.path("Firmware.log")));
}

// Another decoder's backup already has this second's name: this one takes -2 and both are
// kept (every second the run may take is taken). The flash is empty, as after a write that
// failed: the warning names the newest older backup of this model and size.
TEST_P(WriteBackup, TheSameSecondGetsTheNextNumberAndAnEmptyFlashTheOlderBackup) {
  const BackupCase& c = GetParam();
  SimRig::WriteFile(rig.decoderDir() + "/flash.bin",
                    std::vector<uint8_t>(flashBefore.size(), 0xFF));
  rig.Reopen();
  const std::string prefix = rig.path("backup-" + ModelFolderName(c.model) + "-" + c.region + "-");
  std::vector<std::string> taken;
  for (std::time_t t = std::time(nullptr) - 1, end = t + 120; t < end; ++t) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&t));
    taken.push_back(prefix + stamp + ".bin");
    SimRig::WriteFile(taken.back(), {'x'});
  }
  SimRig::WriteFile(prefix + "20000102-000000.bin", std::vector<uint8_t>(c.inputBytes, 0x11));
  SimRig::WriteFile(prefix + "20000101-000000.bin", std::vector<uint8_t>(c.inputBytes, 0x22));
  fs::last_write_time(prefix + "20000101-000000.bin",
                      fs::last_write_time(prefix + "20000102-000000.bin") - std::chrono::hours(1));
  rig.session.backup = std::string();
  c.command(rig.session);

  const auto texts = rig.host.MessageTexts();
  ASSERT_EQ(texts.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      texts[0], m, std::regex("The backup just saved, (.*)-2\\.bin, is 100 % erased: .*")))
      << texts[0];
  EXPECT_NE(std::find(taken.begin(), taken.end(), m[1].str() + ".bin"), taken.end()) << m[1];
  EXPECT_NE(texts[0].find(", " + prefix + "20000102-000000.bin, is not: keep it"),
            std::string::npos);
  EXPECT_EQ(texts[1], std::string(c.completed) + " What it held before is saved in " + m[1].str() +
                          "-2.bin.");
  EXPECT_EQ(SimRig::ReadFile(m[1].str() + "-2.bin"), std::vector<uint8_t>(c.inputBytes, 0xFF));
  for (const std::string& t : taken) EXPECT_EQ(SimRig::ReadFile(t), std::vector<uint8_t>{'x'});
}

INSTANTIATE_TEST_SUITE_P(
    Writes, WriteBackup,
    ::testing::Values(BackupCase{"Firmware", Model::TS1, &WriteFirmware, 0x200000, "firmware",
                                 "Writing Flash completed. Read back and verified: 2 MB."},
                      BackupCase{"DataArea", Model::DSI185, &WriteDataArea, 0x80000, "data-area",
                                 "Writing Data Area completed. Read back and verified: 512 KB."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane::testing
