#include <gtest/gtest.h>

#include <linux/parport.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/FakeSys.h"
#include "link/DirectPortIo.h"
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
  Lines device;  // the opens and closes of the device
};

const Lines kOpenClose = {"open /dev/parport0 -> 3", "close 3"};
const Lines kReopened = {"open /dev/parport0 -> 3", "close 3", "open /dev/parport0 -> 4",
                         "close 4"};

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
  port.reset();
  Lines device;
  for (const std::string& call : sys.calls) {
    if (call.rfind("open ", 0) == 0 || call.rfind("close ", 0) == 0) device.push_back(call);
  }
  EXPECT_EQ(device, c.device);
  EXPECT_TRUE(sys.openFds.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Claims, PpdevClaimOutcome,
    ::testing::Values(
        ClaimCase{"Free", {"none"}, {}, {}, 0, "unchanged", 0, 1, kOpenClose},
        ClaimCase{"NoParportInformation", {}, {}, {}, 0, "unchanged", 0, 1, kOpenClose},
        ClaimCase{"PrinterBetweenTwoJobs", {"lp0", "lp0", "none"}, {}, {}, 0, "unchanged", 2, 1,
                  kOpenClose},
        ClaimCase{"PrinterPrinting", {"lp0"}, {}, {}, port_error::kPortHeld, "lp0", 30, 0,
                  kOpenClose},
        ClaimCase{"SecondCorvane", {"ppdev0"}, {}, {}, port_error::kPortHeld, "ppdev0", 30, 0,
                  kOpenClose},
        // A claim cut short waits on in the kernel until the device is closed: opened again.
        ClaimCase{"TakenBetweenLookAndClaim", {"none", "ppdev0"}, {EINTR}, {},
                  port_error::kPortHeld, "ppdev0", 0, 1, kReopened},
        ClaimCase{"ClaimSleptToItsLimit", {}, {EINTR}, {}, port_error::kPortHeld,
                  "another driver", 0, 1, kReopened},
        ClaimCase{"ReopenAfterTheCutRefused", {"none", "lp0"}, {EINTR}, {0, EACCES}, EACCES,
                  "unchanged", 0, 1,
                  {"open /dev/parport0 -> 3", "close 3", "open /dev/parport0 -> error 13"}},
        ClaimCase{"ExclusiveDriverRegistered", {"parport_foo", "none", "parport_foo"}, {ENXIO},
                  {}, port_error::kPortHeld, "parport_foo", 1, 1, kOpenClose},
        ClaimCase{"PortGone", {"none"}, {ENXIO}, {}, ENXIO, "unchanged", 0, 1, kOpenClose},
        ClaimCase{"NotInTheLpGroup", {"none"}, {}, {EACCES}, EACCES, "unchanged", 0, 0,
                  {"open /dev/parport0 -> error 13"}}),
    [](const auto& info) { return info.param.name; });

// A window keeps the device open between commands: a claim cut short there is dropped the
// same way, and a device that cannot be opened again is tried again at the next claim.
TEST(PpdevClaim, AClaimCutShortBetweenCommandsOpensTheDeviceAgain) {
  FakeSys sys;
  sys.LoadedWithPortAt378();
  auto port = OpenPort(sys);
  ASSERT_TRUE(port);
  port->Release();
  sys.calls.clear();
  sys.active = {"none", "lp0", "none"};
  sys.ioctlErrors["PPCLAIM"] = {EINTR, EINTR};
  sys.openErrors["/dev/parport0"] = {0, EACCES};
  std::string error;
  EXPECT_FALSE(port->Claim(&error));
  EXPECT_EQ(error, PortInUseText("/dev/parport0", "lp0"));
  EXPECT_FALSE(port->Claim(&error));
  EXPECT_EQ(error, "/dev/parport0 could not be opened again after a claim that gave up waiting: "
                   "Permission denied");
  EXPECT_TRUE(port->Claim(&error));
  EXPECT_EQ(sys.calls,
            (Lines{"read " + kActive, "ioctl 3 PPCLAIM -> error 4 within 500 ms", "close 3",
                   "open /dev/parport0 -> 4", "read " + kActive,
                   "read " + kActive, "ioctl 4 PPCLAIM -> error 4 within 500 ms", "close 4",
                   "open /dev/parport0 -> error 13",
                   "open /dev/parport0 -> 5", "read " + kActive, "ioctl 5 PPCLAIM within 500 ms",
                   "ioctl 5 PPRCONTROL"}));
}

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

// Whether the data lines can be read at all: ppdev asks the kernel, direct I/O probes the
// port and leaves its registers as they were.
struct ReadsDataCase {
  std::string name;
  bool direct;
  std::function<void(FakeSys&)> script;
  std::optional<bool> expected;
  std::string why;
  Lines calls;
};

class PortReadsData : public ::testing::TestWithParam<ReadsDataCase> {};

TEST_P(PortReadsData, AsTheKernelOrTheProbeSays) {
  const ReadsDataCase& c = GetParam();
  FakeSys sys;
  sys.LoadedWithPortAt378();
  sys.data = 0x3C;
  c.script(sys);
  int error = -1;
  std::unique_ptr<PortIo> port;
  if (c.direct) {
    port = DirectPortIo::Open(sys, &error);
  } else {
    port = OpenPort(sys, &error);
  }
  ASSERT_TRUE(port);
  const uint8_t data = sys.data, control = sys.control, ecr = sys.ecr;
  sys.calls.clear();
  std::string why = "unchanged";
  EXPECT_EQ(port->ReadsData(&why), c.expected);
  EXPECT_EQ(why, c.why);
  EXPECT_EQ(sys.calls, c.calls);
  EXPECT_EQ(std::vector<uint8_t>({sys.data, sys.control, sys.ecr}),
            std::vector<uint8_t>({data, control, ecr}));
}

const std::string kModes = "/proc/sys/dev/parport/parport0/modes";
const std::string kNoTristate = "the kernel lists no TRISTATE among its modes (PCSPP,COMPAT)";
// Byte mode, direction bit, 55 and AA each read back, then data, control and ECR put back.
const Lines kProbe = {"inb 77A",     "inb 37A",     "inb 378",     "outb 77A 35",
                      "outb 37A 2C", "outb 378 55", "inb 378",     "outb 378 AA",
                      "inb 378",     "outb 378 3C", "outb 37A 0C", "outb 77A 15"};

INSTANTIATE_TEST_SUITE_P(
    Ports, PortReadsData,
    ::testing::Values(
        ReadsDataCase{"PpdevTristate", false, [](FakeSys&) {}, true, "unchanged",
                      {"ioctl 3 PPGETMODES"}},
        ReadsDataCase{"PpdevSppOnly", false,
                      [](FakeSys& s) { s.modes = PARPORT_MODE_PCSPP | PARPORT_MODE_COMPAT; },
                      false, kNoTristate, {"ioctl 3 PPGETMODES"}},
        // A ppdev without PPGETMODES: the proc file names the same bits.
        ReadsDataCase{"ProcTristate", false,
                      [](FakeSys& s) {
                        s.ioctlErrors["PPGETMODES"] = {EINVAL};
                        s.files[kModes] = "PCSPP,TRISTATE,COMPAT,EPP,ECP\n";
                      },
                      true, "unchanged", {"ioctl 3 PPGETMODES -> error 22", "read " + kModes}},
        ReadsDataCase{"ProcSppOnly", false,
                      [](FakeSys& s) {
                        s.ioctlErrors["PPGETMODES"] = {EINVAL};
                        s.files[kModes] = "PCSPP,COMPAT\n";
                      },
                      false, kNoTristate, {"ioctl 3 PPGETMODES -> error 22", "read " + kModes}},
        ReadsDataCase{"NeitherTells", false,
                      [](FakeSys& s) { s.ioctlErrors["PPGETMODES"] = {EINVAL}; }, std::nullopt,
                      "unchanged", {"ioctl 3 PPGETMODES -> error 22", "read " + kModes}},
        ReadsDataCase{"DirectTurnsItsLinesRound", true, [](FakeSys&) {}, true, "unchanged",
                      kProbe},
        // Lines that float at the first byte are still no latch: the second byte tells.
        ReadsDataCase{"DirectLinesHoldingTheFirstByte", true, [](FakeSys& s) { s.lines = 0x55; },
                      true, "unchanged", kProbe},
        ReadsDataCase{"DirectReadsItsOwnLatch", true, [](FakeSys& s) { s.tristates = false; },
                      false,
                      "with the direction bit set in byte mode, the data register reads back "
                      "each byte written to it (55, AA): the port does not turn its data lines "
                      "to input",
                      kProbe}),
    [](const auto& info) { return info.param.name; });

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
