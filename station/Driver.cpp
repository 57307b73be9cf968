#include "station/Driver.h"

#include <cerrno>
#include <sstream>
#include <utility>
#include <vector>

#include "link/DirectPortIo.h"
#include "link/PpdevPortIo.h"
#include "target/Host.h"

namespace corvane {

namespace {

constexpr const char* kModule = "ppdev";

// Where modprobe reads its configuration, in its own order.
const char* const kModprobeDirs[] = {"/etc/modprobe.d", "/run/modprobe.d",
                                     "/usr/local/lib/modprobe.d", "/lib/modprobe.d",
                                     "/usr/lib/modprobe.d"};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool IsNoOpCommand(const std::string& command) {
  return command == "/bin/true" || command == "/bin/false" || command == "/usr/bin/true" ||
         command == "/usr/bin/false" || command == "true" || command == "false";
}

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

// "blacklist ppdev", or "install ppdev /bin/false" that turns every load into nothing: the
// line as it stands (blanks tidied), empty when the file has neither.
std::string DisablingLine(const std::string& text) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> w = Words(line);
    if ((w.size() >= 2 && w[0] == "blacklist" && w[1] == kModule) ||
        (w.size() >= 3 && w[0] == "install" && w[1] == kModule && IsNoOpCommand(w[2]))) {
      return Joined(w);
    }
  }
  return {};
}

// module_blacklist=a,ppdev on the kernel command line: the kernel refuses it outright.
// The word that says so, or empty.
std::string RefusingWord(const std::string& cmdline) {
  for (const std::string& word : Words(cmdline)) {
    for (const std::string key : {"module_blacklist=", "modprobe.blacklist="}) {
      if (word.compare(0, key.size(), key) != 0) continue;
      std::istringstream list(word.substr(key.size()));
      for (std::string name; std::getline(list, name, ',');) {
        if (name == kModule) return word;
      }
    }
  }
  return {};
}

// Where Debian and others keep them; /sbin is the same folder on merged-/usr systems. The
// programs are run by their full path: a caller's PATH may lead anywhere, and pkexec looks
// nothing up in it.
const char* const kModprobeCandidates[] = {"/usr/sbin/modprobe", "/sbin/modprobe",
                                           "/usr/bin/modprobe", "/bin/modprobe"};
const char* const kPkexecCandidates[] = {"/usr/bin/pkexec", "/bin/pkexec"};
const char* const kUdevadmCandidates[] = {"/usr/bin/udevadm", "/bin/udevadm", "/sbin/udevadm",
                                          "/usr/sbin/udevadm"};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Where usblp puts its devices (lp0, lp1, ...): a USB-to-parallel adapter that presents
// itself as a printer.
constexpr const char* kUsbDir = "/dev/usb";

bool IsUsbPrinterName(const std::string& name) {
  return name.size() > 2 && name.compare(0, 2, "lp") == 0 &&
         name.find_first_not_of("0123456789", 2) == std::string::npos;
}

bool IsUsbPrinter(const std::string& path) {
  const std::string dir = std::string(kUsbDir) + "/";
  return path.compare(0, dir.size(), dir) == 0 && IsUsbPrinterName(path.substr(dir.size()));
}

// The lowest-numbered /dev/usb/lpN, else empty.
std::string FindUsbPrinter(Sys& sys) {
  std::vector<std::string> names;
  if (sys.ListDirectory(kUsbDir, &names) < 0) return {};
  std::string found;
  for (const std::string& name : names) {
    if (!IsUsbPrinterName(name)) continue;
    // Numbers compared as text: the shorter is the lower.
    if (found.empty() || std::make_pair(name.size(), name) < std::make_pair(found.size(), found)) {
      found = name;
    }
  }
  return found.empty() ? found : std::string(kUsbDir) + "/" + found;
}

// It takes print jobs only: no ppdev requests, so no register access for the handshake.
std::string UsbPrinterText(const std::string& device) {
  return device +
         " is a USB printer adapter: it only emulates a printer and cannot drive the cable's "
         "handshake. Use a mainboard parallel port or a PCI/PCIe parallel card, which appears "
         "as /dev/parportN";
}

}  // namespace

Driver::Driver(Sys& sys, PortAccessOptions options) : sys_(sys), options_(std::move(options)) {}

Driver::~Driver() = default;

int Driver::StartDriverService() {
  // A registered character driver, loaded or built in, is listed in /proc/devices.
  std::string devices;
  const int r = sys_.ReadFile("/proc/devices", &devices);
  if (r < 0) return -r;
  std::istringstream in(devices);
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> w = Words(line);
    if (w.size() == 2 && w[1] == kModule) return 0;
  }

  disabledBy_.clear();
  std::string cmdline;
  if (sys_.ReadFile("/proc/cmdline", &cmdline) == 0) {
    const std::string word = RefusingWord(cmdline);
    if (!word.empty()) {
      disabledBy_ = "the kernel refuses ppdev: " + word +
                     " is on its command line (/proc/cmdline). Take ppdev out of it in the "
                     "boot loader (GRUB_CMDLINE_LINUX in /etc/default/grub, then sudo "
                     "update-grub) and restart";
      return port_error::kDisabled;
    }
  }
  for (const char* dir : kModprobeDirs) {
    std::vector<std::string> names;
    if (sys_.ListDirectory(dir, &names) < 0) continue;
    for (const std::string& name : names) {
      if (!EndsWith(name, ".conf")) continue;
      const std::string file = std::string(dir) + "/" + name;
      std::string text;
      if (sys_.ReadFile(file, &text) != 0) continue;
      const std::string line = DisablingLine(text);
      if (line.empty()) continue;
      // A blacklist only stops loading at boot; an install line stops every load.
      disabledBy_ = line.compare(0, 9, "blacklist") == 0
                        ? "ppdev is blacklisted in " + file + " (\"" + line +
                              "\"). Load it now with sudo modprobe ppdev; delete that line to "
                              "have it at every start"
                        : "ppdev is turned off in " + file + " (\"" + line +
                              "\"). Delete that line, then load it with sudo modprobe ppdev";
      return port_error::kDisabled;
    }
  }
  return port_error::kNotInstalled;
}

int Driver::StopDriverService() { return 0; }

std::string Driver::FindProgram(std::span<const char* const> candidates, const char* fallback) {
  for (const char* path : candidates) {
    if (sys_.Exists(path)) return path;
  }
  return fallback;
}

std::string Driver::ModprobePath() { return FindProgram(kModprobeCandidates, kModprobeCandidates[1]); }

int Driver::InstallDriverService() {
  const int r =
      sys_.Run({FindProgram(kPkexecCandidates, kPkexecCandidates[0]), ModprobePath(), kModule});
  if (r == -ENOENT) return port_error::kNoAdminPrompt;
  if (r < 0) return -r;  // pkexec could not start
  switch (r) {
    case 0:
      // The device node appears at once, but udev gives it to the lp group a moment later;
      // opening before that would be refused.
      sys_.Run({FindProgram(kUdevadmCandidates, kUdevadmCandidates[0]), "settle", "--timeout=5"});
      return 0;
    case 126: return ECANCELED;  // the user dismissed the password prompt
    case 127: return port_error::kNotAuthorised;
    default: return port_error::kLoadFailed;
  }
}

int Driver::OpenDriverDevice() {
  port_.reset();
  device_.clear();
  holder_.clear();
  usbPrinter_.clear();
  int error = 0;
  if (options_.directIo) {
    port_ = DirectPortIo::Open(sys_, &error);
    return error;
  }
  std::string path = options_.port;
  if (path.empty()) {
    error = FindPpdevDevice(sys_, kPortBase, &path);
    if (error == port_error::kNoPort) usbPrinter_ = FindUsbPrinter(sys_);
    if (error != 0) return error;
  }
  device_ = path;
  if (IsUsbPrinter(path)) {
    // What usblp answers to every ppdev request; nothing to gain from opening it.
    usbPrinter_ = path;
    return ENOTTY;
  }
  port_ = PpdevPortIo::Open(sys_, path, &error, &holder_);
  if (error == ENOENT || error == ENODEV || error == ENXIO) {
    // A device that is not there, on a machine that has no parallel port at all.
    std::string any;
    if (FindPpdevDevice(sys_, kPortBase, &any) == port_error::kNoPort) {
      usbPrinter_ = FindUsbPrinter(sys_);
    }
  }
  return error;
}

std::string Driver::SystemErrorText(int code) {
  switch (code) {
    case port_error::kDisabled:
      return disabledBy_.empty() ? "The ppdev driver is blacklisted or refused by the kernel"
                                 : disabledBy_;
    case port_error::kNotInstalled:
      return "The ppdev driver is not loaded";
    case port_error::kLoadFailed:
      return "modprobe could not load the ppdev driver";
    case port_error::kPortHeld:
      return PortInUseText(device_.empty() ? "The parallel port" : device_,
                           holder_.empty() ? "another driver" : holder_);
    case port_error::kNoPortAtBase:
      return "No parallel port at address 378; name the port with --port /dev/parportN";
    case port_error::kNoPort:
      return usbPrinter_.empty() ? "No parallel port found"
                                 : "No parallel port found; " + UsbPrinterText(usbPrinter_);
    case port_error::kNoAdminPrompt:
      return "pkexec is not installed; load the driver with sudo modprobe ppdev";
    case port_error::kNotAuthorised:
      return "Not authorised to load drivers; ask an administrator to run sudo modprobe ppdev";
    default:
      break;
  }
  std::string text = sys_.ErrorText(code);
  if (EndsWith(text, "\r\n")) {
    text.resize(text.size() - 2);
  } else if (EndsWith(text, "\n")) {
    text.resize(text.size() - 1);
  }
  // The device the open concerned, and what to do about the usual refusals.
  if (!device_.empty()) {
    if (device_ == usbPrinter_) return UsbPrinterText(device_);
    text = device_ + ": " + text;
    if (code == EACCES || code == EPERM) {
      text += "; add yourself to the lp group (sudo usermod -aG lp $USER) and log in again";
    } else if (code == ENOENT || code == ENODEV || code == ENXIO) {
      text += usbPrinter_.empty()
                  ? "; name an existing port with --port (ls /dev/parport* lists them)"
                  : "; " + UsbPrinterText(usbPrinter_);
    }
  }
  return text;
}

std::unique_ptr<PortIo> Driver::TakePort() { return std::move(port_); }

std::unique_ptr<PortIo> StartPortAccess(const PortAccessOptions& options, Host& host,
                                        std::string* device) {
  return StartPortAccess(options, host, SystemSys(), device);
}

std::unique_ptr<PortIo> StartPortAccess(const PortAccessOptions& options, Host& host, Sys& sys,
                                        std::string* device) {
  Driver driver(sys, options);
  if (!Driver::IsNtPlatform()) return nullptr;
  auto show = [&](const std::string& text) {
    host.MessageBox(MessageKind::Error, text, Buttons::Ok);
  };

  // ioperm needs no driver; only the device step applies.
  if (!options.directIo) {
    const int r = driver.StartDriverService();
    if (r == port_error::kDisabled) {
      // Someone turned it off on purpose: say where and how to undo it, once. Loading it
      // behind their back would ask for a password without saying why.
      show("Driver not started! (" + driver.SystemErrorText(r) + ") ");
      return nullptr;
    } else if (r == port_error::kNotInstalled) {
      if (host.MessageBox(MessageKind::Confirmation,
                          "Driver is not installed. Do you want to install now?",
                          Buttons::YesNo) != Answer::Yes) {
        return nullptr;
      }
      const int e = driver.InstallDriverService();
      if (e != 0) {
        show("Error installing driver:  (" + driver.SystemErrorText(e) + ") ");
      } else {
        const int s = driver.StartDriverService();
        if (s != 0) show("Error starting driver:  (" + driver.SystemErrorText(s) + ") ");
      }
    } else if (r != 0) {
      show("Driver not started! (" + driver.SystemErrorText(r) + ") ");
    }
  }

  const int o = driver.OpenDriverDevice();
  if (o != 0) show("Error loading driver! (" + driver.SystemErrorText(o) + ") ");
  if (device) *device = driver.device();
  return driver.TakePort();
}

}  // namespace corvane
