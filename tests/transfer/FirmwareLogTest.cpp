#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "support/SimRig.h"
#include "transfer/FirmwareLog.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

std::string Text(const std::string& path) {
  const auto bytes = SimRig::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(FirmwareLog, EachLineIsItsTextAndCrLfOnDiskAtOnce) {
  TempDir dir;
  const std::string path = dir / "Firmware.log";
  SimRig::WriteFile(path, std::vector<uint8_t>(50, 'x'));
  std::string error;
  auto log = FirmwareLog::CreateLog(path, &error);
  ASSERT_TRUE(log) << error;
  EXPECT_EQ(log->path(), path);
  EXPECT_EQ(Text(path), "") << "an old log is emptied";
  log->WriteLog("Erase error address : 7FE20000");
  EXPECT_EQ(Text(path), "Erase error address : 7FE20000\r\n") << "no buffering across lines";
  log->WriteLog("");
  log->WriteLog("Done");
  EXPECT_EQ(Text(path), "Erase error address : 7FE20000\r\n\r\nDone\r\n");
  EXPECT_FALSE(log->failed());
}

TEST(FirmwareLog, AFolderGetsFirmwareLogInside) {
  TempDir dir;
  for (const std::string& folder : {dir.path(), dir.path() + "/"}) {
    auto log = FirmwareLog::CreateLog(folder, nullptr);
    ASSERT_TRUE(log);
    EXPECT_EQ(log->path(), dir / "Firmware.log");
    log->WriteLog("x");
  }
  EXPECT_EQ(Text(dir / "Firmware.log"), "x\r\n");
}

TEST(FirmwareLog, ALogThatCannotBeCreatedSaysWhere) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(FirmwareLog::CreateLog(dir / "missing/Firmware.log", &error));
  EXPECT_EQ(error, "Cannot create the firmware log " + (dir / "missing/Firmware.log") +
                       ": No such file or directory");
}

// Runs in a child: a file-size limit makes the disk "full" after 16 bytes.
[[noreturn]] void WriteUntilFull(const std::string& path) {
  auto log = FirmwareLog::CreateLog(path, nullptr);
  if (!log) ::_exit(2);
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{16, 16};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  int told = 0;
  log->OnFirstFailure([&] { ++told; });
  log->WriteLog("short");
  const bool firstOk = !log->failed() && told == 0;
  log->WriteLog("a line too long for what is left");
  log->WriteLog("and another");
  ::_exit(firstOk && log->failed() && told == 1 && log->failure() == "File too large" ? 0 : 1);
}

// The first failure is told once, with the system's reason.
TEST(FirmwareLogDeathTest, AFullDiskMarksTheLogFailed) {
  TempDir dir;
  EXPECT_EXIT(WriteUntilFull(dir / "Firmware.log"), ::testing::ExitedWithCode(0), "");
}

// Sets an environment variable for one test.
class EnvVar {
 public:
  EnvVar(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  ~EnvVar() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(LogPath, SessionFolderThenBesideTheExecutableThenTheUserDataFolder) {
  TempDir dir;
  EnvVar xdg("XDG_DATA_HOME", dir / "data");
  EnvVar home("HOME", dir / "home");
  EXPECT_EQ(LogPathFrom(dir / "chosen", dir.path()), dir / "chosen");
  EXPECT_EQ(LogPathFrom("", dir.path()), dir.path());
  // An executable folder we cannot write to, even as root: it does not exist.
  EXPECT_EQ(LogPathFrom("", dir / "no/such/folder"), dir / "data/corvane");
  EXPECT_TRUE(fs::is_directory(dir / "data/corvane")) << "the data folder is created";
  {
    EnvVar relative("XDG_DATA_HOME", std::string("relative/path"));
    EXPECT_EQ(LogPathFrom("", dir / "no/such/folder"), dir / "home/.local/share/corvane");
    EXPECT_TRUE(fs::is_directory(dir / "home/.local/share/corvane"));
  }
  {
    EnvVar unset("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(LogPathFrom("", dir / "no/such/folder"), dir / "home/.local/share/corvane");
  }
}

TEST(LogPath, WithoutALogDirTheLogGoesBesideThisExecutable) {
  const std::string exe = fs::read_symlink("/proc/self/exe").parent_path().string();
  if (::access(exe.c_str(), W_OK) != 0) GTEST_SKIP() << "the build folder is read-only";
  SimRig rig(Model::BCT13);
  rig.session.logDir.clear();
  EXPECT_EQ(LogPath(rig.session), exe);
  rig.session.logDir = rig.dir.path();
  EXPECT_EQ(LogPath(rig.session), rig.dir.path());
}

TEST(LocalDateTime, LocaleDateAndTimeSeparatedByOneBlank) {
  // The test program keeps the "C" locale: %x %X is MM/DD/YY HH:MM:SS.
  EXPECT_TRUE(std::regex_match(LocalDateTime(),
                               std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)")))
      << LocalDateTime();
}

}  // namespace
}  // namespace corvane::testing
