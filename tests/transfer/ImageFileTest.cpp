#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/ScriptedHost.h"
#include "support/SimRig.h"
#include "target/Sha256.h"
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

// The temporary file is ".corvane-" and six letters in the output's own folder: short
// enough for a name of 250 characters.
TEST(AtomicFile, CommitPutsTheBytesUnderTheChosenNameAndLeavesNoTemporaryFile) {
  for (const std::string& name : {std::string("read.bin"), std::string(246, 'n') + ".bin"}) {
    TempDir dir;
    const std::string path = dir / name;
    AtomicFile f;
    std::string error;
    ASSERT_TRUE(f.Open(path, &error)) << error;
    EXPECT_FALSE(fs::exists(path)) << "nothing appears under the name before Commit";
    EXPECT_TRUE(std::regex_match(Names(dir.path()).at(0), std::regex(R"(\.corvane-\w{6})")));
    const auto a = Bytes({1, 2, 3}), b = Bytes({4, 5});
    f.Write(a.data(), a.size());
    f.Write(b.data(), b.size());
    EXPECT_TRUE(f.ok());
    ASSERT_TRUE(f.Commit(&error)) << error;
    EXPECT_EQ(SimRig::ReadFile(path), Bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{name});
  }
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

// A link named on purpose: what it points to gets the bytes in place, at Commit only; the
// temporary file lives beside the link.
TEST(AtomicFile, ASymbolicLinkStaysALinkAndItsTargetGetsTheBytes) {
  for (bool commit : {true, false}) {
    TempDir dir, elsewhere;
    const std::string target = elsewhere / "target.bin", link = dir / "link.bin";
    SimRig::WriteFile(target, Bytes({1}));
    fs::create_symlink(target, link);
    struct stat before, after;
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    {
      AtomicFile f;
      ASSERT_TRUE(f.Open(link, nullptr));
      f.Write(Bytes({7, 7}).data(), 2);
      EXPECT_EQ(Names(dir.path()).size(), 2u) << "the temporary file is beside the link";
      EXPECT_EQ(SimRig::ReadFile(target), Bytes({1})) << "nothing reaches the target before Commit";
      EXPECT_TRUE(!commit || f.Commit(nullptr));
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(SimRig::ReadFile(target), commit ? Bytes({7, 7}) : Bytes({1}));
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "written into, not replaced";
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"link.bin"});
  }
}

// Someone else's link in a shared sticky folder, at a third user's file: with
// protected_symlinks = 1 the kernel refuses to follow it; without, the file is at most
// written in place, never replaced by one of ours.
TEST(AtomicFile, APlantedLinkInAStickyFolderIsLeftToTheKernel) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving the link to another user needs root";
  TempDir dir;
  const std::string shared = dir / "shared", victim = dir / "victim", link = shared + "/out.bin";
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  SimRig::WriteFile(victim, Bytes({1, 2}));
  fs::create_symlink(victim, link);
  ASSERT_EQ(::chown(victim.c_str(), 65533, 65533) | ::lchown(link.c_str(), 65534, 65534), 0);
  struct stat before, after;
  ASSERT_EQ(::stat(victim.c_str(), &before), 0);
  int guarded = 0;
  std::ifstream("/proc/sys/fs/protected_symlinks") >> guarded;
  AtomicFile f;
  std::string error;
  bool written = f.Open(link, &error);
  f.Write(Bytes({6}).data(), 1);
  written = written && f.Commit(&error);
  EXPECT_EQ(written, guarded != 1) << error;
  EXPECT_TRUE(written || error.ends_with(link + ": Permission denied")) << error;
  EXPECT_EQ(SimRig::ReadFile(victim), written ? Bytes({6}) : Bytes({1, 2}));
  ASSERT_EQ(::stat(victim.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_uid, 65533u);
  EXPECT_EQ(Names(shared), std::vector<std::string>{"out.bin"});
}

// A FIFO, a socket, a folder and links to them: one message each, nothing opened that
// could block; the descriptor of the socket, to close.
int MakeOddFiles(const TempDir& dir) {
  EXPECT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  fs::create_symlink(dir / "fifo", dir / "fifo-link");
  fs::create_symlink(dir / "gone", dir / "dangling");
  fs::create_directory(dir / "folder");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (dir / "socket").c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

const std::string kPipe = "it is a pipe (FIFO), not a file";
const std::string kSocket = "it is a socket, not a file";

TEST(AtomicFile, FilesThatCannotBeCreatedSayWhyWithTheSystemText) {
  TempDir dir;
  const int socket = MakeOddFiles(dir);
  const auto names = Names(dir.path());
  struct Case {
    std::string path, why;
  };
  for (const Case& c :
       {Case{dir / "missing/out.bin", "No such file or directory"},
        Case{dir / "folder", "Is a directory"}, Case{dir / "fifo", kPipe},
        Case{dir / "fifo-link", kPipe}, Case{dir / "socket", kSocket},
        Case{dir / "dangling", "it is a symbolic link to a file that does not exist"}}) {
    AtomicFile f;
    std::string error;
    EXPECT_FALSE(f.Open(c.path, &error));
    EXPECT_EQ(error, "Cannot create the file " + c.path + ": " + c.why);
    EXPECT_FALSE(f.ok());
    EXPECT_FALSE(f.Commit(nullptr));
  }
  ::close(socket);
  EXPECT_EQ(Names(dir.path()), names) << "no temporary file";
}

// A device is written in place, also through a link: a rename would replace the node.
TEST(AtomicFile, ADeviceIsWrittenInPlace) {
  TempDir dir;
  fs::create_symlink("/dev/null", dir / "null");
  for (const std::string& path : {std::string("/dev/null"), dir / "null"}) {
    AtomicFile f;
    std::string error;
    ASSERT_TRUE(f.Open(path, &error)) << error;
    f.Write(Bytes({1}).data(), 1);
    EXPECT_TRUE(f.Commit(&error)) << error;
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"null"});
}

// A name taken after Open is replaced only when asked: refused, or the next number.
TEST(AtomicFile, ANameTakenAtCommitIsReplacedOnlyWhenAsked) {
  struct Case {
    Taken taken;
    std::string file, published;  // empty: refused
  };
  for (const Case& c : {Case{Taken::Replace, "b.bin", "b.bin"}, Case{Taken::Refuse, "b.bin", ""},
                        Case{Taken::Number, "b.bin", "b-2.bin"}, Case{Taken::Number, "b", "b-2"}}) {
    TempDir dir;
    AtomicFile f;
    std::string error;
    ASSERT_TRUE(f.Open(dir / c.file, &error, c.taken)) << error;
    SimRig::WriteFile(dir / c.file, Bytes({0}));
    f.Write(Bytes({5}).data(), 1);
    EXPECT_EQ(f.Commit(&error), !c.published.empty());
    EXPECT_EQ(error, c.published.empty()
                         ? "Cannot write the file " + (dir / c.file) + ": File exists"
                         : "");
    EXPECT_EQ(SimRig::ReadFile(dir / c.file), Bytes({c.published == c.file ? 5 : 0}));
    EXPECT_EQ(SimRig::ReadFile(f.path()), Bytes({c.published.empty() ? 0 : 5}));
    EXPECT_EQ(f.path(), dir / (c.published.empty() ? c.file : c.published));
    EXPECT_EQ(Names(dir.path()).size(), c.published.empty() || c.published == c.file ? 1u : 2u);
  }
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

// Runs in a child: the file behind a link takes 16 KB of the 128 KB copied into it. Whole
// buffers go to the temporary file at once, so Commit has nothing left to flush.
[[noreturn]] void WriteThroughUntilFull(const std::string& link, const std::string& target) {
  ::signal(SIGXFSZ, SIG_IGN);
  AtomicFile f;
  if (!f.Open(link, nullptr)) ::_exit(2);
  const std::vector<uint8_t> data(128 * 1024, 0xAB);
  f.Write(data.data(), data.size());
  const rlimit limit{16 * 1024, 16 * 1024};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ScriptedHost host;
  const bool committed = CommitOutput(host, f);
  ::_exit(!committed && fs::file_size(target) == 16 * 1024 &&
                  host.MessageTexts() ==
                      std::vector<std::string>{"Cannot write the file " + link +
                                               ": File too large. The file that " + link +
                                               " links to was emptied first and may now be "
                                               "incomplete."}
              ? 0
              : 1);
}

TEST(AtomicFileDeathTest, ALinksFileCutShortAtCommitIsNotCalledUntouched) {
  TempDir dir;
  SimRig::WriteFile(dir / "target.bin", Bytes({9, 9}));
  fs::create_symlink(dir / "target.bin", dir / "link.bin");
  EXPECT_EXIT(WriteThroughUntilFull(dir / "link.bin", dir / "target.bin"),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"link.bin", "target.bin"}));
}

// Runs in a child, as another user when the tests run as root, who may write any file.
[[noreturn]] void ReplaceReadOnly(const std::string& folder) {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
  AtomicFile f;
  std::string error;
  const bool refused = !f.Open(folder + "/ro.bin", &error) &&
                       error == "Cannot create the file " + folder + "/ro.bin: Permission denied";
  const bool writable = f.Open(folder + "/rw.bin", nullptr);
  f.Discard();  // _exit runs no destructor
  ::_exit(refused && writable ? 0 : 1);
}

// Refused as "cat > ro.bin" would refuse it, not replaced by a rename the folder allows.
TEST(AtomicFileDeathTest, AReadOnlyFileIsRefusedNotReplaced) {
  TempDir dir;
  const std::string folder = dir / "mine";
  fs::create_directory(folder);
  SimRig::WriteFile(folder + "/ro.bin", Bytes({3}));
  SimRig::WriteFile(folder + "/rw.bin", Bytes({4}));
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755) | ::chmod((folder + "/ro.bin").c_str(), 0444), 0);
  for (const char* name : {"", "/ro.bin", "/rw.bin"}) {
    ASSERT_TRUE(::geteuid() != 0 || ::chown((folder + name).c_str(), 65534, 65534) == 0);
  }
  EXPECT_EXIT(ReplaceReadOnly(folder), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(SimRig::ReadFile(folder + "/ro.bin"), Bytes({3}));
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"ro.bin", "rw.bin"}));
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

// Regular files only: nothing else has a size to check, and a FIFO would block the open.
TEST(ImageReader, FilesThatCannotBeOpenedSayWhy) {
  TempDir dir;
  const int socket = MakeOddFiles(dir);
  const std::string device = "it is a device, not a file";
  ImageReader r;
  std::string error;
  for (const auto& [path, why] : std::vector<std::pair<std::string, std::string>>{
           {dir / "none.bin", "No such file or directory"},
           {dir / "folder", "Is a directory"},
           {dir / "fifo", kPipe},
           {dir / "fifo-link", kPipe},
           {dir / "socket", kSocket},
           {"/dev/zero", device},
           {"/dev/null", device}}) {
    EXPECT_FALSE(r.Open(path, &error));
    EXPECT_EQ(error, "Cannot open the file " + path + ": " + why);
    EXPECT_EQ(r.size(), 0u);
  }
  ::close(socket);
}

// Digests as sha256sum prints them, across the padding's edge cases: an empty file, one
// block, a message whose padding needs a second block, a million bytes fed unevenly.
TEST(Sha256, MatchesSha256sum) {
  struct Row {
    std::string data;
    const char* hex;
  };
  const Row rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  TempDir dir;
  for (const Row& row : rows) {
    Sha256 sum;
    for (size_t at = 0, step = 1; at < row.data.size(); at += step, step = step * 3 % 1000 + 1) {
      sum.Add(row.data.data() + at, std::min(step, row.data.size() - at));
    }
    EXPECT_EQ(sum.Hex(), row.hex) << row.data.size() << " bytes";
    SimRig::WriteFile(dir / "f.bin", std::vector<uint8_t>(row.data.begin(), row.data.end()));
    std::string error;
    EXPECT_EQ(Sha256OfFile(dir / "f.bin", &error), std::optional<std::string>(row.hex));
  }
  std::string error;
  EXPECT_EQ(Sha256OfFile(dir / "missing.bin", &error), std::nullopt);
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

}  // namespace
}  // namespace corvane::testing
