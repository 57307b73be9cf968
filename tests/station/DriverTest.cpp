#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/FakeSys.h"
#include "station/Driver.h"
#include "support/ScriptedHost.h"

namespace corvane {
namespace {

using testing::FakeSys;
using testing::ScriptedHost;
using Texts = std::vector<std::string>;

constexpr const char* kQuestion = "Driver is not installed. Do you want to install now?";

struct StartUp {
  FakeSys sys;
  ScriptedHost host;
  PortAccessOptions options;
  std::unique_ptr<PortIo> port;
  void Run() { port = StartPortAccess(options, host, sys); }
  size_t Opens() const { return sys.CallsWith("open /dev/parport").size(); }
  size_t Runs() const { return sys.CallsWith("run /usr/bin/pkexec").size(); }
};

// What loading the module does on this machine: ppdev registers and its device appears.
void LoadsOnInstall(FakeSys& sys) {
  sys.onRun = [&sys](const std::vector<std::string>& argv) {
    if (argv == std::vector<std::string>{"/usr/bin/pkexec", "/sbin/modprobe", "ppdev"}) {
      sys.LoadedWithPortAt378();
    }
  };
}

TEST(DriverStartUp, RunningDriverOpensTheDeviceWithoutAWord) {
  StartUp s;
  s.sys.LoadedWithPortAt378();
  s.Run();
  EXPECT_TRUE(s.host.messages.empty());
  ASSERT_TRUE(s.port);
  EXPECT_EQ(s.Opens(), 1u) << "opened once, and that is the port the link uses";
  EXPECT_EQ(s.Runs(), 0u);
  // The returned port is the claimed device.
  s.sys.status = 0x18;
  EXPECT_EQ(s.port->PortIn(kStatusPort), 0x18);
  s.port.reset();
  EXPECT_TRUE(s.sys.openFds.empty());
}

TEST(DriverStartUp, MissingAndDeclinedEndsQuietlyWithoutTheDevice) {
  StartUp s;
  s.sys.NotLoaded();
  s.host.answers = {Answer::No};
  s.Run();
  ASSERT_EQ(s.host.messages.size(), 1u);
  EXPECT_EQ(s.host.messages[0].text, kQuestion);
  EXPECT_EQ(s.host.messages[0].kind, MessageKind::Confirmation);
  EXPECT_EQ(s.host.messages[0].buttons, Buttons::YesNo);
  EXPECT_FALSE(s.port);
  EXPECT_EQ(s.Opens(), 0u);
  EXPECT_EQ(s.Runs(), 0u);
}

TEST(DriverStartUp, MissingAcceptedLoadsThroughTheAdministratorPromptThenOpens) {
  StartUp s;
  s.sys.NotLoaded();
  LoadsOnInstall(s.sys);
  s.host.answers = {Answer::Yes};
  s.Run();
  EXPECT_EQ(s.host.MessageTexts(), Texts{kQuestion});
  EXPECT_EQ(s.sys.CallsWith("run "),
            (Texts{"run /usr/bin/pkexec /sbin/modprobe ppdev", "run /usr/bin/udevadm settle --timeout=5"}));
  EXPECT_TRUE(s.port);
}

// pkexec looks nothing up in the caller's PATH, which has no sbin for a normal user.
TEST(DriverStartUp, ConsentRunsModprobeByItsFullPath) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> machines = {
      {{"/usr/sbin/modprobe", "/sbin/modprobe"}, "/usr/sbin/modprobe"},  // merged /usr
      {{"/sbin/modprobe"}, "/sbin/modprobe"},
      {{"/usr/bin/modprobe"}, "/usr/bin/modprobe"},
      {{}, "/sbin/modprobe"},
  };
  for (const auto& [present, used] : machines) {
    StartUp s;
    s.sys.NotLoaded();
    for (const std::string& p : present) s.sys.files[p] = "";
    s.host.answers = {Answer::Yes};
    s.Run();
    EXPECT_EQ(s.sys.CallsWith("run /usr/bin/pkexec"), Texts{"run /usr/bin/pkexec " + used + " ppdev"});
  }
}

TEST(DriverStartUp, MissingAcceptedButStillNotStartedShowsTwoErrors) {
  StartUp s;
  s.sys.NotLoaded();  // modprobe succeeds, yet no ppdev and no port appear
  s.host.answers = {Answer::Yes};
  s.Run();
  EXPECT_EQ(s.host.MessageTexts(),
            (Texts{kQuestion, "Error starting driver:  (The ppdev driver is not loaded) ",
                   "Error loading driver! (No parallel port found) "}));
  EXPECT_EQ(s.host.messages[1].kind, MessageKind::Error);
  EXPECT_EQ(s.host.messages[1].buttons, Buttons::Ok);
  EXPECT_EQ(s.host.messages[2].kind, MessageKind::Error);
  EXPECT_FALSE(s.port);
}

struct InstallFailure {
  std::string name;
  int runResult;
  std::string text;
};

class DriverInstallFails : public ::testing::TestWithParam<InstallFailure> {};

// The install error is shown, starting is skipped and the device is still tried.
TEST_P(DriverInstallFails, ShowsWhyThenStillTriesTheDevice) {
  StartUp s;
  s.sys.NotLoaded();
  s.sys.runResults = {GetParam().runResult};
  s.host.answers = {Answer::Yes};
  s.Run();
  EXPECT_EQ(s.host.MessageTexts(),
            (Texts{kQuestion, "Error installing driver:  (" + GetParam().text + ") ",
                   "Error loading driver! (No parallel port found) "}));
  EXPECT_EQ(s.sys.CallsWith("read /proc/devices").size(), 1u) << "no second start";
  EXPECT_TRUE(s.sys.CallsWith("udevadm").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Pkexec, DriverInstallFails,
    ::testing::Values(InstallFailure{"PromptDismissed", 126, "Operation canceled"},
                      InstallFailure{"NotAuthorised", 127,
                                     "Not authorised to load drivers; ask an administrator to "
                                     "run sudo modprobe ppdev"},
                      InstallFailure{"PkexecMissing", -ENOENT,
                                     "pkexec is not installed; load the driver with sudo "
                                     "modprobe ppdev"},
                      InstallFailure{"PkexecCannotStart", -EACCES, "Permission denied"},
                      InstallFailure{"ModprobeFailed", 1,
                                     "modprobe could not load the ppdev driver"}),
    [](const auto& info) { return info.param.name; });

struct DisabledCase {
  std::string name;
  std::string file, text;
  std::string says;  // the one message, empty: not disabled, so the question comes
};

class DriverDisabled : public ::testing::TestWithParam<DisabledCase> {};

TEST_P(DriverDisabled, SaysWhereAndHowToUndoItOrAsks) {
  StartUp s;
  s.sys.NotLoaded();
  LoadsOnInstall(s.sys);
  const DisabledCase& c = GetParam();
  const std::string dir = c.file.substr(0, c.file.rfind('/'));
  if (dir == "/proc") {
    s.sys.files[c.file] = c.text;
  } else {
    s.sys.dirs[dir] = {"other.conf", c.file.substr(dir.size() + 1)};
    s.sys.files[dir + "/other.conf"] = "options snd index=0\n";
    s.sys.files[c.file] = c.text;
  }
  s.Run();
  if (!c.says.empty()) {
    // One message, no password prompt behind the user's back, no device to try.
    EXPECT_EQ(s.host.MessageTexts(), Texts{"Driver not started! (" + c.says + ") "});
    EXPECT_EQ(s.host.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(s.Runs(), 0u);
    EXPECT_EQ(s.Opens(), 0u);
    EXPECT_FALSE(s.port);
  } else {
    EXPECT_EQ(s.host.MessageTexts(), Texts{kQuestion});
    EXPECT_EQ(s.Runs(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ModuleState, DriverDisabled,
    ::testing::Values(
        DisabledCase{"Blacklisted", "/etc/modprobe.d/blacklist.conf",
                     "# printers\nblacklist lp\nblacklist  ppdev  \n",
                     "ppdev is blacklisted in /etc/modprobe.d/blacklist.conf (\"blacklist "
                     "ppdev\"). Load it now with sudo modprobe ppdev; delete that line to have it "
                     "at every start"},
        DisabledCase{"InstallFalse", "/lib/modprobe.d/no-pp.conf", "install ppdev /bin/false\n",
                     "ppdev is turned off in /lib/modprobe.d/no-pp.conf (\"install ppdev "
                     "/bin/false\"). Delete that line, then load it with sudo modprobe ppdev"},
        DisabledCase{"InstallTrue", "/usr/lib/modprobe.d/x.conf", "install ppdev /bin/true\n",
                     "ppdev is turned off in /usr/lib/modprobe.d/x.conf (\"install ppdev "
                     "/bin/true\"). Delete that line, then load it with sudo modprobe ppdev"},
        DisabledCase{"KernelRefuses", "/proc/cmdline", "ro quiet module_blacklist=lp,ppdev\n",
                     "the kernel refuses ppdev: module_blacklist=lp,ppdev is on its command "
                     "line (/proc/cmdline). Take ppdev out of it in the boot loader "
                     "(GRUB_CMDLINE_LINUX in /etc/default/grub, then sudo update-grub) and "
                     "restart"},
        DisabledCase{"ModprobeBlacklistOption", "/proc/cmdline",
                     "BOOT_IMAGE=/vmlinuz modprobe.blacklist=ppdev\n",
                     "the kernel refuses ppdev: modprobe.blacklist=ppdev is on its command line "
                     "(/proc/cmdline). Take ppdev out of it in the boot loader "
                     "(GRUB_CMDLINE_LINUX in /etc/default/grub, then sudo update-grub) and "
                     "restart"},
        DisabledCase{"OtherModuleBlacklisted", "/etc/modprobe.d/blacklist.conf",
                     "blacklist lp\nblacklist ppdevice\n", ""},
        DisabledCase{"CommentedOut", "/etc/modprobe.d/blacklist.conf", "# blacklist ppdev\n",
                     ""},
        DisabledCase{"RealInstallCommand", "/etc/modprobe.d/pp.conf",
                     "install ppdev /sbin/modprobe parport_pc; /sbin/modprobe --ignore-install "
                     "ppdev\n",
                     ""},
        DisabledCase{"NotAConfFile", "/etc/modprobe.d/blacklist.conf.orig", "blacklist ppdev\n",
                     ""}),
    [](const auto& info) { return info.param.name; });

TEST(DriverStartUp, UnreadableModuleStateIsNotStartedThenTheDeviceIsTried) {
  StartUp s;
  s.sys.LoadedWithPortAt378();
  s.sys.unreadable["/proc/devices"] = EACCES;
  s.Run();
  EXPECT_EQ(s.host.MessageTexts(), Texts{"Driver not started! (Permission denied) "});
  EXPECT_TRUE(s.port) << "the device step still runs and here succeeds";
}

struct OpenFailure {
  std::string name;
  std::function<void(FakeSys&)> script;
  std::string text;
  std::string port = {};  // --port
};

class DriverOpenFails : public ::testing::TestWithParam<OpenFailure> {};

const std::string kUsbPrinter = " is a USB printer adapter: it only emulates a printer and "
                                "cannot drive the cable's handshake. Use a mainboard parallel "
                                "port or a PCI/PCIe parallel card, which appears as /dev/parportN";

// No parallel port at all; /dev/usb holds these, and lp0 would open.
std::function<void(FakeSys&)> NoPortBut(std::vector<std::string> usb) {
  return [usb](FakeSys& sys) { sys.dirs = {{"/dev/usb", usb}}; sys.devices = {"/dev/usb/lp0"}; };
}

TEST_P(DriverOpenFails, ShowsErrorLoadingDriverWithTheReason) {
  StartUp s;
  s.sys.LoadedWithPortAt378();
  GetParam().script(s.sys);
  s.options.port = GetParam().port;
  s.Run();
  EXPECT_EQ(s.host.MessageTexts(), Texts{"Error loading driver! (" + GetParam().text + ") "});
  EXPECT_EQ(s.host.messages[0].kind, MessageKind::Error);
  EXPECT_FALSE(s.port);
  EXPECT_TRUE(s.sys.openFds.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Device, DriverOpenFails,
    ::testing::Values(
        OpenFailure{"NotInTheLpGroup",
                    [](FakeSys& sys) { sys.openErrors["/dev/parport0"] = {EACCES}; },
                    "/dev/parport0: Permission denied; add yourself to the lp group (sudo "
                    "usermod -aG lp $USER) and log in again"},
        OpenFailure{"HeldByThePrinterDriver", [](FakeSys& sys) { sys.active = {"lp0"}; },
                    "/dev/parport0 is in use by lp0, the printer driver: let the printing end, "
                    "or unload it with sudo modprobe -r lp"},
        OpenFailure{"HeldByAnotherCorvane", [](FakeSys& sys) { sys.active = {"ppdev0"}; },
                    "/dev/parport0 is in use by ppdev0, another program on the port (a second "
                    "Corvane?): wait until it has finished, then try again"},
        OpenFailure{"NoPortAt378",
                    [](FakeSys& sys) {
                      sys.files["/proc/sys/dev/parport/parport0/base-addr"] = "956\t0\n";
                      sys.dirs["/dev/usb"] = {"lp0"};  // unmentioned: there is a port
                    },
                    "No parallel port at address 378; name the port with --port /dev/parportN"},
        OpenFailure{"UsbPrinterInsteadOfAPort", NoPortBut({"hiddev0", "lp10", "lp2"}),
                    "No parallel port found; /dev/usb/lp2" + kUsbPrinter},
        OpenFailure{"NeitherPortNorUsbPrinter", NoPortBut({"hiddev0", "lpx"}),
                    "No parallel port found"},
        OpenFailure{"NamedPortMissingBesideAUsbPrinter", NoPortBut({"lp0"}),
                    "/dev/parport1: No such file or directory; /dev/usb/lp0" + kUsbPrinter,
                    "/dev/parport1"},
        OpenFailure{"UsbPrinterNamed", NoPortBut({"lp0"}), "/dev/usb/lp0" + kUsbPrinter,
                    "/dev/usb/lp0"},
        // The system's texts lose a trailing line end, CR LF or LF alone.
        OpenFailure{"TextEndingInCrLf",
                    [](FakeSys& sys) {
                      sys.openErrors["/dev/parport0"] = {EACCES};
                      sys.errorTexts[EACCES] = "Access is denied.\r\n";
                    },
                    "/dev/parport0: Access is denied.; add yourself to the lp group (sudo "
                    "usermod -aG lp $USER) and log in again"},
        OpenFailure{"TextEndingInLf",
                    [](FakeSys& sys) {
                      sys.openErrors["/dev/parport0"] = {EIO};
                      sys.errorTexts[EIO] = "I/O error\n";
                    },
                    "/dev/parport0: I/O error"},
        OpenFailure{"TextWithoutLineEndKept",
                    [](FakeSys& sys) {
                      sys.openErrors["/dev/parport0"] = {EIO};
                      sys.errorTexts[EIO] = "I/O error.";
                    },
                    "/dev/parport0: I/O error."}),
    [](const auto& info) { return info.param.name; });

TEST(DriverStartUp, NamedPortIsOpenedWithoutLookingForTheBaseAddress) {
  StartUp s;
  s.sys.LoadedWithPortAt378();
  s.sys.devices.insert("/dev/parport2");
  s.options.port = "/dev/parport2";
  s.Run();
  EXPECT_TRUE(s.host.messages.empty());
  ASSERT_TRUE(s.port);
  EXPECT_EQ(s.sys.CallsWith("open "), Texts{"open /dev/parport2 -> 3"});
  EXPECT_TRUE(s.sys.CallsWith("base-addr").empty());
}

TEST(DriverStartUp, DirectIoWithoutRootIsErrorLoadingDriver) {
  StartUp s;
  s.options.directIo = true;
  s.sys.iopermErrors = {EPERM};
  s.Run();
  EXPECT_EQ(s.host.MessageTexts(), Texts{"Error loading driver! (Operation not permitted) "});
  EXPECT_FALSE(s.port);
  EXPECT_TRUE(s.sys.CallsWith("/proc/devices").empty()) << "no driver needed for ioperm";
}

TEST(DriverStartUp, DirectIoGetsAllFourRegistersAndGivesThemBack) {
  StartUp s;
  s.options.directIo = true;
  s.Run();
  EXPECT_TRUE(s.host.messages.empty());
  ASSERT_TRUE(s.port);
  EXPECT_EQ(s.sys.calls, (Texts{"ioperm 378 3 on", "ioperm 77A 1 on"}));
  s.sys.calls.clear();
  s.sys.status = 0x58;
  EXPECT_EQ(s.port->PortIn(kStatusPort), 0x58);
  s.port->PortOut(kEcrPort, 0x35);
  s.port->PortOut(0x37B, 0x00);  // no permission there: never touched
  s.port.reset();
  EXPECT_EQ(s.sys.calls,
            (Texts{"inb 379", "outb 77A 35", "ioperm 77A 1 off", "ioperm 378 3 off"}));
}

TEST(DriverStartUp, DirectIoRefusedForTheEcrDropsTheFirstRange) {
  StartUp s;
  s.options.directIo = true;
  s.sys.iopermErrors = {0, EINVAL};
  s.Run();
  EXPECT_EQ(s.host.MessageTexts(), Texts{"Error loading driver! (Invalid argument) "});
  EXPECT_EQ(s.sys.calls, (Texts{"ioperm 378 3 on", "ioperm 77A 1 on -> error 22",
                                "ioperm 378 3 off"}));
}

}  // namespace
}  // namespace corvane
