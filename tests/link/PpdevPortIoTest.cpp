#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "support/FakeSys.h"
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

const std::string kActive = "/proc/sys/dev/parport/parport0/devices/active";

TEST(PpdevClaim, ClaimsLetsGoOfTheResetLineAndReleasesOnDestruction) {
  FakeSys sys;
  sys.LoadedWithPortAt378();
  sys.active = {"none"};
  {
    int error = -1;
    auto port = OpenPort(sys, &error);
    ASSERT_TRUE(port);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(port->path(), "/dev/parport0");
    // The kernel's first claim leaves nSelectIn low (0C): the decoder's reset, let go at once.
    EXPECT_EQ(sys.calls, (Lines{"open /dev/parport0 -> 3", "read " + kActive,
                                "ioctl 3 PPCLAIM within 500 ms", "ioctl 3 PPRCONTROL",
                                "ioctl 3 PPWCONTROL 04"}));
    sys.calls.clear();
    port->Release();
    EXPECT_FALSE(port->claimed());
    // Claimed again, the kernel puts back our own lines: nothing to let go.
    EXPECT_EQ(port->ClaimCode(), 0);
    EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPRELEASE", "read " + kActive,
                                "ioctl 3 PPCLAIM within 500 ms", "ioctl 3 PPRCONTROL"}));
    EXPECT_EQ(port->ClaimCode(), 0) << "claimed already";
    sys.calls.clear();
  }
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPRELEASE", "close 3"}));
  EXPECT_TRUE(sys.openFds.empty());
}

struct ClaimCase {
  std::string name;
  std::deque<std::string> active;  // what devices/active says, read by read
  std::deque<int> claimErrors;
  std::deque<int> openErrors;
  int expected;
  std::string holder;
  size_t sleeps, claims;
};

class PpdevClaimOutcome : public ::testing::TestWithParam<ClaimCase> {};

// A port in use is answered within about a second, never by a claim that sleeps on it:
// while a claim sleeps, ppdev holds every other user's requests too.
TEST_P(PpdevClaimOutcome, ClaimsOrNamesTheHolderWithoutBlocking) {
  const ClaimCase& c = GetParam();
  FakeSys sys;
  sys.LoadedWithPortAt378();
  sys.active = c.active;
  sys.ioctlErrors["PPCLAIM"] = c.claimErrors;
  sys.openErrors["/dev/parport0"] = c.openErrors;
  int error = -1;
  std::string holder = "unchanged";
  auto port = PpdevPortIo::Open(sys, "/dev/parport0", &error, &holder);
  EXPECT_EQ(error, c.expected);
  EXPECT_EQ(static_cast<bool>(port), c.expected == 0);
  EXPECT_EQ(holder, c.holder);
  EXPECT_EQ(sys.CallsWith("sleep 20").size(), c.sleeps);
  EXPECT_LE(sys.CallsWith("sleep").size() * 20, 600u) << "about half a second at most";
  EXPECT_EQ(sys.CallsWith("PPCLAIM").size(), c.claims);
  if (!port) {
    EXPECT_TRUE(sys.openFds.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Claims, PpdevClaimOutcome,
    ::testing::Values(
        ClaimCase{"Free", {"none"}, {}, {}, 0, "unchanged", 0, 1},
        ClaimCase{"NoParportInformation", {}, {}, {}, 0, "unchanged", 0, 1},
        ClaimCase{"PrinterBetweenTwoJobs", {"lp0", "lp0", "none"}, {}, {}, 0, "unchanged", 2, 1},
        ClaimCase{"PrinterPrinting", {"lp0"}, {}, {}, port_error::kPortHeld, "lp0", 30, 0},
        ClaimCase{"SecondCorvane", {"ppdev0"}, {}, {}, port_error::kPortHeld, "ppdev0", 30, 0},
        ClaimCase{"TakenBetweenLookAndClaim", {"none", "ppdev0"}, {EINTR}, {},
                  port_error::kPortHeld, "ppdev0", 0, 1},
        ClaimCase{"ClaimSleptToItsLimit", {}, {EINTR}, {}, port_error::kPortHeld,
                  "another driver", 0, 1},
        ClaimCase{"ExclusiveDriverRegistered", {"parport_foo", "none", "parport_foo"}, {ENXIO},
                  {}, port_error::kPortHeld, "parport_foo", 1, 1},
        ClaimCase{"PortGone", {"none"}, {ENXIO}, {}, ENXIO, "unchanged", 0, 1},
        ClaimCase{"NotInTheLpGroup", {"none"}, {}, {EACCES}, EACCES, "unchanged", 0, 0}),
    [](const auto& info) { return info.param.name; });

TEST(PpdevClaim, TextNamesTheHolderAndWhatToDo) {
  EXPECT_EQ(PortInUseText("/dev/parport0", "lp0"),
            "/dev/parport0 is in use by lp0, the printer driver: let the printing end, or "
            "unload it with sudo modprobe -r lp");
  EXPECT_EQ(PortInUseText("/dev/parport1", "ppdev1"),
            "/dev/parport1 is in use by ppdev1, another program on the port (a second "
            "Corvane?): wait until it has finished, then try again");
  EXPECT_EQ(PortInUseText("/dev/parport0", "parport_foo"),
            "/dev/parport0 is in use by parport_foo: stop the program or unload the driver "
            "that uses the port");
}

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
  auto port = OpenPort(sys);
  ASSERT_TRUE(port);
  sys.control = 0x0C;
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
        // Only a shadow: PPSETMODE would change no wire, and a mode left behind makes ppdev
        // negotiate on the lines after we close.
        MappingCase{"EcrByteMode",
                    [](PortIo& p) {
                      p.PortOut(0x77A, 0x34);
                      return p.PortIn(0x77A);
                    },
                    0x34, {}},
        MappingCase{"EcrBackToStandardMode",
                    [](PortIo& p) {
                      p.PortOut(0x77A, 0x15);
                      return p.PortIn(0x77A);
                    },
                    0x15, {}},
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
  // The claim has let go of the reset line already (04); no mode request anywhere.
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPRCONTROL", "ioctl 3 PPWCONTROL 07",
                              "ioctl 3 PPDATADIR 1", "ioctl 3 PPWCONTROL 03"}));
  EXPECT_EQ(link.SavedEcr, PpdevPortIo::kEcrAtClaim);
  sys.calls.clear();
  link.SendByte(0xA5);
  // Data written while the lines are inputs, driven, strobed, released.
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPWDATA A5", "ioctl 3 PPDATADIR 0",
                              "ioctl 3 PPWCONTROL 07", "ioctl 3 PPWCONTROL 03",
                              "ioctl 3 PPDATADIR 1"}));
  sys.calls.clear();
  link.LinkClose();
  // The lines stay as LinkClose leaves them, for the kernel too.
  EXPECT_EQ(sys.calls, (Lines{"ioctl 3 PPDATADIR 0"}));
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
