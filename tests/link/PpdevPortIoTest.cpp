#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "FakeSys.h"
#include "link/PpdevPortIo.h"
#include "link/corvane.h"
#include "support/RecordingPort.h"

namespace corvane {
namespace {

using testing::FakeSys;
using Lines = std::vector<std::string>;

std::unique_ptr<PpdevPortIo> OpenPort(FakeSys& sys, int* error = nullptr) {
  int e = -1;
  auto port = PpdevPortIo::Open(sys, "/dev/parport0", &e);
  if (error) *error = e;
  return port;
}

TEST(PpdevClaim, OpensClaimsAndReleasesOnDestruction) {
  FakeSys sys;
  sys.LoadedWithPortAt378();
  {
    int error = -1;
    auto port = OpenPort(sys, &error);
    ASSERT_TRUE(port);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(port->path(), "/dev/parport0");
    EXPECT_EQ(sys.calls, (Lines{"open /dev/parport0 -> 3", "ioctl 3 PPCLAIM"}));
    sys.calls.clear();
  }
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPRELEASE", "close 3"}));
  EXPECT_TRUE(sys.openFds.empty());
}

TEST(PpdevClaim, ClaimRefusedByThePrinterDriverIsRetriedExclusively) {
  FakeSys sys;
  sys.LoadedWithPortAt378();
  sys.ioctlErrors["PPCLAIM"] = {EBUSY};
  int error = -1;
  auto port = OpenPort(sys, &error);
  ASSERT_TRUE(port);
  EXPECT_EQ(error, 0);
  // PPEXCL is only taken before the first claim, hence the fresh descriptor.
  EXPECT_EQ(sys.calls, (Lines{"open /dev/parport0 -> 3", "ioctl 3 PPCLAIM -> error 16",
                              "close 3", "open /dev/parport0 -> 4", "ioctl 4 PPEXCL",
                              "ioctl 4 PPCLAIM"}));
  EXPECT_EQ(sys.openFds, (std::set<int>{4}));
}

struct RefusalCase {
  std::string name;
  std::map<std::string, std::deque<int>> ioctlErrors;
  std::deque<int> openErrors;
  int expected;
  size_t opens;
};

class PpdevRefused : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PpdevRefused, ReportsOneCodeAndLeavesNothingOpen) {
  const RefusalCase& c = GetParam();
  FakeSys sys;
  sys.LoadedWithPortAt378();
  sys.ioctlErrors = c.ioctlErrors;
  sys.openErrors["/dev/parport0"] = c.openErrors;
  int error = 0;
  EXPECT_FALSE(OpenPort(sys, &error));
  EXPECT_EQ(error, c.expected);
  EXPECT_TRUE(sys.openFds.empty());
  EXPECT_EQ(sys.CallsWith("open ").size(), c.opens);
}

INSTANTIATE_TEST_SUITE_P(
    Claims, PpdevRefused,
    ::testing::Values(
        RefusalCase{"NotInTheLpGroup", {}, {EACCES}, EACCES, 1},
        RefusalCase{"StillHeldWhenExclusive", {{"PPCLAIM", {EBUSY, EBUSY}}}, {},
                    port_error::kPortHeld, 2},
        RefusalCase{"ExclusiveRegistrationRefused", {{"PPCLAIM", {EBUSY}}, {"PPEXCL", {ENXIO}}},
                    {}, port_error::kPortHeld, 2},
        RefusalCase{"AnotherExclusiveUser", {{"PPCLAIM", {ENXIO, ENXIO}}}, {},
                    port_error::kPortHeld, 2},
        RefusalCase{"PortVanishedBeforeTheRetry", {{"PPCLAIM", {EBUSY}}}, {0, ENODEV}, ENODEV, 2},
        RefusalCase{"OtherClaimErrorIsNotRetried", {{"PPCLAIM", {EINTR}}}, {}, EINTR, 1}),
    [](const auto& info) { return info.param.name; });

// Each access of the link's four registers and the ppdev requests it becomes.
struct MappingCase {
  std::string name;
  std::function<uint8_t(PortIo&)> access;  // returns what a read gave, 0 for writes
  uint8_t expectedRead;
  Lines expectedCalls;
};

class PpdevMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(PpdevMapping, BecomesTheseRequests) {
  FakeSys sys;
  sys.LoadedWithPortAt378();
  sys.data = 0xC3;
  sys.status = 0x5F;
  sys.control = 0x0C;
  auto port = OpenPort(sys);
  ASSERT_TRUE(port);
  sys.calls.clear();
  EXPECT_EQ(GetParam().access(*port), GetParam().expectedRead);
  EXPECT_EQ(sys.calls, GetParam().expectedCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Registers, PpdevMapping,
    ::testing::Values(
        MappingCase{"ReadData", [](PortIo& p) { return p.PortIn(0x378); }, 0xC3,
                    {"ioctl 3 PPRDATA"}},
        MappingCase{"WriteData", [](PortIo& p) { p.PortOut(0x378, 0xA5); return 0; }, 0,
                    {"ioctl 3 PPWDATA A5"}},
        MappingCase{"ReadStatus", [](PortIo& p) { return p.PortIn(0x379); }, 0x5F,
                    {"ioctl 3 PPRSTATUS"}},
        MappingCase{"ReadControlForward", [](PortIo& p) { return p.PortIn(0x37A); }, 0x0C,
                    {"ioctl 3 PPRCONTROL"}},
        // The register value goes to ppdev unchanged: the hardware inverts, not us.
        MappingCase{"WriteControlLines", [](PortIo& p) { p.PortOut(0x37A, 0x03); return 0; },
                    0, {"ioctl 3 PPWCONTROL 03"}},
        // Bit 5 never reaches PPWCONTROL; it turns the data lines round through PPDATADIR.
        MappingCase{"WriteControlWithDirection",
                    [](PortIo& p) { p.PortOut(0x37A, 0x2F); return 0; }, 0,
                    {"ioctl 3 PPWCONTROL 0F", "ioctl 3 PPDATADIR 1"}},
        MappingCase{"DirectionAloneIsOneRequest",
                    [](PortIo& p) {
                      p.PortOut(0x37A, 0x23);
                      p.PortOut(0x37A, 0x03);
                      return 0;
                    },
                    0, {"ioctl 3 PPWCONTROL 03", "ioctl 3 PPDATADIR 1", "ioctl 3 PPDATADIR 0"}},
        MappingCase{"ReadControlShowsDirection",
                    [](PortIo& p) {
                      p.PortOut(0x37A, 0x2B);
                      return p.PortIn(0x37A);
                    },
                    0x2B, {"ioctl 3 PPWCONTROL 0B", "ioctl 3 PPDATADIR 1", "ioctl 3 PPRCONTROL"}},
        // ppdev cannot read the ECR: a claimed port sits in byte mode, FIFO empty.
        MappingCase{"ReadEcrBeforeAnyWrite", [](PortIo& p) { return p.PortIn(0x77A); }, 0x35, {}},
        MappingCase{"EcrByteMode",
                    [](PortIo& p) {
                      p.PortOut(0x77A, 0x34);
                      return p.PortIn(0x77A);
                    },
                    0x34, {"ioctl 3 PPSETMODE BYTE"}},
        MappingCase{"EcrBackToStandardMode",
                    [](PortIo& p) {
                      p.PortOut(0x77A, 0x15);
                      return p.PortIn(0x77A);
                    },
                    0x15, {"ioctl 3 PPSETMODE COMPAT"}},
        MappingCase{"OtherAddressesTouchNothing",
                    [](PortIo& p) {
                      p.PortOut(0x37B, 0x00);
                      return p.PortIn(0x3BC);
                    },
                    0xFF, {}}),
    [](const auto& info) { return info.param.name; });

TEST(PpdevLink, HandshakeBecomesTheseRequests) {
  FakeSys sys;
  sys.LoadedWithPortAt378();
  auto port = OpenPort(sys);
  ASSERT_TRUE(port);
  testing::ManualClock clock;
  Link link(*port, clock);
  sys.calls.clear();
  link.LinkOpen();
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPSETMODE BYTE", "ioctl 3 PPRCONTROL",
                              "ioctl 3 PPWCONTROL 0F", "ioctl 3 PPDATADIR 1",
                              "ioctl 3 PPWCONTROL 0B", "ioctl 3 PPWCONTROL 03"}));
  EXPECT_EQ(link.SavedEcr, PpdevPortIo::kEcrAtClaim);
  sys.calls.clear();
  link.SendByte(0xA5);
  // Data written while the lines are inputs, driven, strobed, released.
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPWDATA A5", "ioctl 3 PPDATADIR 0",
                              "ioctl 3 PPWCONTROL 07", "ioctl 3 PPWCONTROL 03",
                              "ioctl 3 PPDATADIR 1"}));
  sys.calls.clear();
  link.LinkClose();
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPDATADIR 0", "ioctl 3 PPSETMODE BYTE"}));
}

TEST(PpdevLink, AFailingRequestEndsTheCommandAsADeadLink) {
  FakeSys sys;
  sys.LoadedWithPortAt378();
  auto port = OpenPort(sys);
  ASSERT_TRUE(port);
  sys.ioctlErrors["PPRSTATUS"] = {EIO};
  try {
    port->PortIn(0x379);
    FAIL() << "no LinkError";
  } catch (const LinkError& e) {
    EXPECT_EQ(std::string(e.what()),
              "parallel port /dev/parport0: PPRSTATUS failed: Input/output error");
  }
}

struct FindCase {
  std::string name;
  std::map<std::string, std::vector<std::string>> dirs;
  std::map<std::string, std::string> files;
  std::set<std::string> devices;
  int expected;
  std::string path;
};

class FindDevice : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindDevice, PicksThePortAt378) {
  const FindCase& c = GetParam();
  FakeSys sys;
  sys.dirs = c.dirs;
  sys.files = c.files;
  sys.devices = c.devices;
  std::string path = "unchanged";
  EXPECT_EQ(FindPpdevDevice(sys, 0x378, &path), c.expected);
  EXPECT_EQ(path, c.path);
}

const std::string kRoot = "/proc/sys/dev/parport";

INSTANTIATE_TEST_SUITE_P(
    BaseAddress, FindDevice,
    ::testing::Values(
        FindCase{"OnlyPort", {{kRoot, {"default", "parport0"}}},
                 {{kRoot + "/parport0/base-addr", "888\t1912\n"}}, {}, 0, "/dev/parport0"},
        // A PCI card took parport0; the motherboard port is parport1.
        FindCase{"PciCardFirst",
                 {{kRoot, {"parport0", "default", "parport1"}}},
                 {{kRoot + "/parport0/base-addr", "53248\t53256\n"},
                  {kRoot + "/parport1/base-addr", "888\t1912\n"}},
                 {}, 0, "/dev/parport1"},
        FindCase{"OnlyAPciCard", {{kRoot, {"default", "parport0"}}},
                 {{kRoot + "/parport0/base-addr", "53248\t53256\n"}}, {},
                 port_error::kNoPortAtBase, "unchanged"},
        FindCase{"UnreadableEntrySkipped", {{kRoot, {"parport0", "parport1"}}},
                 {{kRoot + "/parport1/base-addr", "888\t0\n"}}, {}, 0, "/dev/parport1"},
        FindCase{"NoPorts", {{kRoot, {"default"}}}, {}, {}, port_error::kNoPort, "unchanged"},
        // No parport information at all: the first device is the one at 0x378.
        FindCase{"NoProcFallsBackToFirstDevice", {}, {}, {"/dev/parport0"}, 0, "/dev/parport0"},
        FindCase{"NothingAnywhere", {}, {}, {}, port_error::kNoPort, "unchanged"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace corvane
