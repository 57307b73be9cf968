#include "link/Driver.h"

#include <cerrno>
#include <sstream>
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

// "blacklist ppdev", or "install ppdev /bin/false" that turns every load into nothing.
bool ConfigDisables(const std::string& text) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> w = Words(line);
    if (w.size() >= 2 && w[0] == "blacklist" && w[1] == kModule) return true;
    if (w.size() >= 3 && w[0] == "install" && w[1] == kModule && IsNoOpCommand(w[2])) return true;
  }
  return false;
}

// module_blacklist=a,ppdev on the kernel command line: the kernel refuses it outright.
bool CommandLineRefuses(const std::string& cmdline) {
  for (const std::string& word : Words(cmdline)) {
    for (const std::string key : {"module_blacklist=", "modprobe.blacklist="}) {
      if (word.compare(0, key.size(), key) != 0) continue;
      std::istringstream list(word.substr(key.size()));
      for (std::string name; std::getline(list, name, ',');) {
        if (name == kModule) return true;
      }
    }
  }
  return false;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
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

  std::string cmdline;
  if (sys_.ReadFile("/proc/cmdline", &cmdline) == 0 && CommandLineRefuses(cmdline)) {
    return port_error::kDisabled;
  }
  for (const char* dir : kModprobeDirs) {
    std::vector<std::string> names;
    if (sys_.ListDirectory(dir, &names) < 0) continue;
    for (const std::string& name : names) {
      if (!EndsWith(name, ".conf")) continue;
      std::string text;
      if (sys_.ReadFile(std::string(dir) + "/" + name, &text) == 0 && ConfigDisables(text)) {
        return port_error::kDisabled;
      }
    }
  }
  return port_error::kNotInstalled;
}

int Driver::StopDriverService() { return 0; }

int Driver::InstallDriverService() {
  const int r = sys_.Run({"pkexec", "modprobe", kModule});
  if (r == -ENOENT) return port_error::kNoAdminPrompt;
  if (r < 0) return -r;  // pkexec could not start
  switch (r) {
    case 0:
      // The device node appears at once, but udev gives it to the lp group a moment later;
      // opening before that would be refused.
      sys_.Run({"udevadm", "settle", "--timeout=5"});
      return 0;
    case 126: return ECANCELED;  // the user dismissed the password prompt
    case 127: return EACCES;     // not authorised
    default: return port_error::kLoadFailed;
  }
}

int Driver::OpenDriverDevice() {
  port_.reset();
  int error = 0;
  if (options_.directIo) {
    port_ = DirectPortIo::Open(sys_, &error);
    return error;
  }
  std::string path = options_.port;
  if (path.empty()) {
    error = FindPpdevDevice(sys_, kPortBase, &path);
    if (error != 0) return error;
  }
  port_ = PpdevPortIo::Open(sys_, path, &error);
  return error;
}

std::string Driver::SystemErrorText(int code) {
  switch (code) {
    case port_error::kDisabled:
      return "The ppdev driver is blacklisted or refused by the kernel";
    case port_error::kNotInstalled:
      return "The ppdev driver is not loaded";
    case port_error::kLoadFailed:
      return "modprobe could not load the ppdev driver";
    case port_error::kPortHeld:
      return "The parallel port is held by another driver, such as the printer driver lp";
    case port_error::kNoPortAtBase:
      return "No parallel port at address 378; name the port with --port /dev/parportN";
    case port_error::kNoPort:
      return "No parallel port found";
    case port_error::kNoAdminPrompt:
      return "pkexec is not installed; load the driver with sudo modprobe ppdev";
    default:
      break;
  }
  std::string text = sys_.ErrorText(code);
  if (EndsWith(text, "\r\n")) {
    text.resize(text.size() - 2);
  } else if (EndsWith(text, "\n")) {
    text.resize(text.size() - 1);
  }
  return text;
}

std::unique_ptr<PortIo> Driver::TakePort() { return std::move(port_); }

std::unique_ptr<PortIo> StartPortAccess(const PortAccessOptions& options, Host& host) {
  return StartPortAccess(options, host, SystemSys());
}

std::unique_ptr<PortIo> StartPortAccess(const PortAccessOptions& options, Host& host, Sys& sys) {
  Driver driver(sys, options);
  if (!Driver::IsNtPlatform()) return nullptr;
  auto show = [&](const std::string& text) {
    host.MessageBox(MessageKind::Error, text, Buttons::Ok);
  };

  // ioperm needs no driver; only the device step applies.
  if (!options.directIo) {
    const int r = driver.StartDriverService();
    if (r == port_error::kDisabled) {
      // As before: put it back silently; the device step reports what still fails.
      driver.StopDriverService();
      driver.InstallDriverService();
      driver.StartDriverService();
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
  return driver.TakePort();
}

}  // namespace corvane
