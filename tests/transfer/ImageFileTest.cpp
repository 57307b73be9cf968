#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/SimRig.h"
#include "transfer/ImageFile.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> b) { return {b.begin(), b.end()}; }

// ---- The two value forms of one word ----

struct FormCase {
  std::vector<uint8_t> file;
  uint32_t flash, ram;
};

class WordForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(WordForms, BothFormsOfTheSameFourBytes) {
  const FormCase& c = GetParam();
  EXPECT_EQ(FlashValue(c.file.data()), c.flash);
  EXPECT_EQ(RamValue(c.file.data()), c.ram);
  uint8_t out[4];
  PutFlashValue(out, c.flash);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), c.file);
  PutRamValue(out, c.ram);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), c.file);
}

INSTANTIATE_TEST_SUITE_P(
    Words, WordForms,
    ::testing::Values(FormCase{{0x12, 0x34, 0x56, 0x78}, 0x12345678, 0x78563412},
                      FormCase{{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, 0xFFFFFFFF},
                      FormCase{{0x00, 0x00, 0x00, 0x01}, 0x00000001, 0x01000000},
                      FormCase{{0x80, 0x00, 0x00, 0x00}, 0x80000000, 0x00000080}));

// ---- AtomicFile ----

TEST(AtomicFile, CommitPutsTheBytesUnderTheChosenNameAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir / "read.bin";
  AtomicFile f;
  std::string error;
  ASSERT_TRUE(f.Open(path, &error)) << error;
  EXPECT_FALSE(fs::exists(path)) << "nothing appears under the name before Commit";
  const auto a = Bytes({1, 2, 3}), b = Bytes({4, 5});
  f.Write(a.data(), a.size());
  f.Write(b.data(), b.size());
  EXPECT_TRUE(f.ok());
  ASSERT_TRUE(f.Commit(&error)) << error;
  EXPECT_EQ(SimRig::ReadFile(path), Bytes({1, 2, 3, 4, 5}));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"read.bin"});
}

TEST(AtomicFile, UnfinishedWriteLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir / "old.bin";
  SimRig::WriteFile(path, Bytes({9, 9}));
  for (bool discardExplicitly : {false, true}) {
    {
      AtomicFile f;
      ASSERT_TRUE(f.Open(path, nullptr));
      const auto data = std::vector<uint8_t>(100000, 0x55);
      f.Write(data.data(), data.size());
      if (discardExplicitly) f.Discard();
    }
    EXPECT_EQ(SimRig::ReadFile(path), Bytes({9, 9}));
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"old.bin"});
  }
}

TEST(AtomicFile, ReplacingKeepsTheOldFilesModeAndANewFileFollowsTheUmask) {
  TempDir dir;
  const std::string old = dir / "old.bin", fresh = dir / "new.bin";
  SimRig::WriteFile(old, Bytes({1}));
  ASSERT_EQ(::chmod(old.c_str(), 0640), 0);
  for (const std::string& path : {old, fresh}) {
    AtomicFile f;
    ASSERT_TRUE(f.Open(path, nullptr));
    f.Write(Bytes({2}).data(), 1);
    ASSERT_TRUE(f.Commit(nullptr));
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat(old.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST(AtomicFile, ASymbolicLinkStaysALinkAndItsTargetGetsTheBytes) {
  TempDir dir;
  const std::string target = dir / "target.bin", link = dir / "link.bin";
  SimRig::WriteFile(target, Bytes({1}));
  fs::create_symlink(target, link);
  AtomicFile f;
  ASSERT_TRUE(f.Open(link, nullptr));
  f.Write(Bytes({7, 7}).data(), 2);
  ASSERT_TRUE(f.Commit(nullptr));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(SimRig::ReadFile(target), Bytes({7, 7}));
}

TEST(AtomicFile, FilesThatCannotBeCreatedSayWhyWithTheSystemText) {
  TempDir dir;
  struct Case {
    std::string path, why;
  };
  for (const Case& c : {Case{dir / "missing/out.bin", "No such file or directory"},
                        Case{dir.path(), "Is a directory"}}) {
    AtomicFile f;
    std::string error;
    EXPECT_FALSE(f.Open(c.path, &error));
    EXPECT_EQ(error, "Cannot create the file " + c.path + ": " + c.why);
    EXPECT_FALSE(f.ok());
    EXPECT_FALSE(f.Commit(nullptr));
  }
  EXPECT_TRUE(Names(dir.path()).empty());
}

// Runs in a child: a file-size limit makes the disk "full" after 64 KB.
[[noreturn]] void CommitUntilFull(const std::string& path) {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{64 * 1024, 64 * 1024};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  AtomicFile f;
  std::string error;
  if (!f.Open(path, &error)) ::_exit(2);
  const std::vector<uint8_t> data(4 * 1024 * 1024, 0xAB);
  f.Write(data.data(), data.size());
  const bool stoppedEarly = !f.ok();
  const bool committed = f.Commit(&error);
  const bool told = error == "Cannot write the file " + path + ": File too large";
  ::_exit(stoppedEarly && !committed && told && SimRig::ReadFile(path) == Bytes({9, 9}) ? 0 : 1);
}

TEST(AtomicFileDeathTest, AFailedWriteIsReportedAtCommitAndTheOldFileSurvives) {
  TempDir dir;
  const std::string path = dir / "old.bin";
  SimRig::WriteFile(path, Bytes({9, 9}));
  EXPECT_EXIT(CommitUntilFull(path), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"old.bin"});
}

// ---- ImageReader ----

TEST(ImageReader, SizeSequentialReadsSeekAndTheEnd) {
  TempDir dir;
  const std::string path = dir / "image.bin";
  SimRig::WriteFile(path, Bytes({0x12, 0x34, 0x56, 0x78, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));
  ImageReader r;
  std::string error;
  ASSERT_TRUE(r.Open(path, &error)) << error;
  EXPECT_EQ(r.size(), 9u);
  uint8_t w[4];
  ASSERT_TRUE(r.Read(w, 4));
  EXPECT_EQ(FlashValue(w), 0x12345678u);
  ASSERT_TRUE(r.Read(w, 4));
  EXPECT_EQ(FlashValue(w), 0xAABBCCDDu);
  EXPECT_FALSE(r.Read(w, 4)) << "one byte left is not a word";
  ASSERT_TRUE(r.Seek(4));
  ASSERT_TRUE(r.Read(w, 4));
  EXPECT_EQ(RamValue(w), 0xDDCCBBAAu);
  r.Close();
  EXPECT_FALSE(r.Read(w, 1));
}

TEST(ImageReader, FilesThatCannotBeOpenedSayWhy) {
  TempDir dir;
  ImageReader r;
  std::string error;
  EXPECT_FALSE(r.Open(dir / "none.bin", &error));
  EXPECT_EQ(error, "Cannot open the file " + (dir / "none.bin") + ": No such file or directory");
  EXPECT_FALSE(r.Open(dir.path(), &error));
  EXPECT_EQ(error, "Cannot open the file " + dir.path() + ": Is a directory");
  EXPECT_EQ(r.size(), 0u);
}

}  // namespace
}  // namespace corvane::testing
