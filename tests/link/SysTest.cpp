#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/Sys.h"

namespace corvane {
namespace {

// The real system calls, on what every Linux machine has (no parallel port needed).
class RealSysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("corvane-sys-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  Sys& sys = SystemSys();
  std::filesystem::path dir_;
};

TEST_F(RealSysTest, ReadsFilesAndListsDirectories) {
  const std::string big(10000, 'x');  // more than one read
  std::ofstream((dir_ / "a.conf").string()) << big;
  std::ofstream((dir_ / "b.conf").string()) << "blacklist ppdev\n";
  std::string text;
  EXPECT_EQ(sys.ReadFile((dir_ / "a.conf").string(), &text), 0);
  EXPECT_EQ(text, big);
  EXPECT_EQ(sys.ReadFile((dir_ / "missing").string(), &text), -ENOENT);
  std::vector<std::string> names;
  EXPECT_EQ(sys.ListDirectory(dir_.string(), &names), 0);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.conf", "b.conf"}));
  EXPECT_EQ(sys.ListDirectory((dir_ / "missing").string(), &names), -ENOENT);
  EXPECT_TRUE(sys.Exists((dir_ / "b.conf").string()));
  EXPECT_FALSE(sys.Exists((dir_ / "missing").string()));
  // /proc/devices is where the start-up looks for ppdev.
  EXPECT_EQ(sys.ReadFile("/proc/devices", &text), 0);
  EXPECT_NE(text.find("Character devices:"), std::string::npos);
}

TEST_F(RealSysTest, OpenCloseAndIoctlReportErrnoNegated) {
  EXPECT_EQ(sys.Open((dir_ / "missing").string(), O_RDWR), -ENOENT);
  const int fd = sys.Open("/dev/null", O_RDWR);
  ASSERT_GE(fd, 0);
  unsigned char byte = 0;
  // /dev/null is no parallel port: ppdev's requests are not for it.
  EXPECT_EQ(sys.Ioctl(fd, PPRDATA, &byte), -ENOTTY);
  EXPECT_EQ(sys.Close(fd), 0);
  EXPECT_EQ(sys.Close(fd), -EBADF);
}

// The bound on a claim that sleeps: a blocking read stands for the sleeping request.
TEST_F(RealSysTest, CallWithinInterruptsASleepingCallAndLeavesNoSignalBehind) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  char byte = 0;
  for (int round = 0; round < 3; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const int r = CallWithin(100, [&] { return ::read(fds[0], &byte, 1) < 0 ? -errno : 0; });
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r, -EINTR);
    EXPECT_GE(ms, 100);
    EXPECT_LT(ms, 1000);
  }
  // A call that does not sleep returns its own result at once; no signal comes later.
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  EXPECT_EQ(CallWithin(100, [&] { return ::read(fds[0], &byte, 1) == 1 ? 0 : -EIO; }), 0);
  EXPECT_EQ(sys.IoctlWithin(fds[0], PPRDATA, &byte, 100), -ENOTTY);
  ::usleep(150000);
  ::close(fds[0]);
  ::close(fds[1]);
}

struct RunCase {
  std::vector<std::string> argv;
  int expected;
};

class RealSysRun : public RealSysTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RealSysRun, GivesTheExitStatus) { EXPECT_EQ(sys.Run(GetParam().argv), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Programs, RealSysRun,
    ::testing::Values(RunCase{{"true"}, 0}, RunCase{{"false"}, 1},
                      RunCase{{"sh", "-c", "exit 126"}, 126},
                      RunCase{{"sh", "-c", "kill -TERM $$"}, 128 + 15},
                      RunCase{{"corvane-no-such-program"}, -ENOENT}, RunCase{{}, -EINVAL}));

}  // namespace
}  // namespace corvane
