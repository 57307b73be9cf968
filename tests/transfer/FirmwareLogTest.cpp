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
#include "transfer/Firmware.h"
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

// The session's folder, else the user's data folder, created when missing: never beside the
// executable, which this test program's folder is and may write.
TEST(LogPath, TheSessionsFolderElseTheUserDataFolderNeverBesideTheExecutable) {
  TempDir dir;
  EnvVar xdg("XDG_DATA_HOME", dir / "data");
  EnvVar home("HOME", dir / "home");
  struct Case {
    std::optional<std::string> xdg;
    std::string logDir, want;
  };
  for (const Case& c : {Case{dir / "data", dir / "chosen", dir / "chosen"},
                        Case{dir / "data", "", dir / "data/corvane"},
                        Case{"relative/path", "", dir / "home/.local/share/corvane"},
                        Case{std::nullopt, "", dir / "home/.local/share/corvane"}}) {
    EnvVar data("XDG_DATA_HOME", c.xdg);
    EXPECT_EQ(LogPathFrom(c.logDir), c.want);
    EXPECT_TRUE(c.logDir.empty() == fs::is_directory(c.want)) << c.want;
  }
  SimRig rig(Model::BCT13);
  rig.session.logDir.clear();
  EXPECT_EQ(LogPath(rig.session), dir / "data/corvane");
  rig.session.logDir = rig.dir.path();
  EXPECT_EQ(LogPath(rig.session), rig.dir.path());
}

// A link planted under the log's name would aim the log at someone's file: refused, the
// file untouched, and the write it was for never starts.
TEST(FirmwareLog, APlantedLinkIsRefusedNotFollowed) {
  SimRig rig(Model::TS1);
  SimRig::WriteFile(rig.path("victim"), {'k', 'e', 'e', 'p'});
  fs::create_symlink(rig.path("victim"), rig.path("Firmware.log"));
  const std::string why = "Cannot create the firmware log " + rig.path("Firmware.log") +
                          ": it is a symbolic link, and the log is never written through one";
  for (const std::string& at : {rig.dir.path(), rig.path("Firmware.log")}) {
    std::string error;
    EXPECT_FALSE(FirmwareLog::CreateLog(at, &error));
    EXPECT_EQ(error, why);
  }
  rig.vd().Save();
  const auto flash = SimRig::ReadFile(rig.decoderDir() + "/flash.bin");
  SimRig::WriteFile(rig.path("image.bin"), std::vector<uint8_t>(flash.size(), 0x5A));
  rig.host.dialogPaths = {rig.path("image.bin")};
  WriteFirmware(rig.session);
  EXPECT_EQ(rig.host.MessageTexts(),
            std::vector<std::string>{why + ". Nothing was written to the decoder."});
  rig.vd().Save();
  EXPECT_EQ(SimRig::ReadFile(rig.decoderDir() + "/flash.bin"), flash);
  EXPECT_EQ(Text(rig.path("victim")), "keep");
  EXPECT_TRUE(fs::is_symlink(rig.path("Firmware.log")));
}

TEST(LocalDateTime, LocaleDateAndTimeSeparatedByOneBlank) {
  // The test program keeps the "C" locale: %x %X is MM/DD/YY HH:MM:SS.
  EXPECT_TRUE(std::regex_match(LocalDateTime(),
                               std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)")))
      << LocalDateTime();
}

}  // namespace
}  // namespace corvane::testing
