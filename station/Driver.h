#pragma once
#include <memory>
#include <span>
#include <string>

#include "link/PortIo.h"
#include "link/Sys.h"

namespace corvane {

class Host;

// The real-port options of the front ends (--simulate never comes here).
struct PortAccessOptions {
  std::string port;       // --port /dev/parportN; empty: the ppdev device of the port at 0x378
  bool directIo = false;  // --direct-io: ioperm and inb/outb instead of ppdev (root)
};

// Port access on Linux: the ppdev driver is the "driver service", /dev/parportN its device.
// Each operation returns 0 or an error code: an errno value or one of port_error's codes.
class Driver {
 public:
  Driver(Sys& sys, PortAccessOptions options);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Linux guards port I/O: always true.
  static bool IsNtPlatform() { return true; }

  // 0 when ppdev is loaded (or built in); port_error::kNotInstalled when it is not loaded;
  // port_error::kDisabled when it is blacklisted or the kernel refuses it; else errno.
  int StartDriverService();
  // Nothing to stop: a module that is not loaded holds nothing. Always 0.
  int StopDriverService();
  // Loads ppdev through the desktop's administrator prompt (pkexec /sbin/modprobe ppdev),
  // then waits for udev to set up the device's permissions.
  int InstallDriverService();
  // Opens and claims the port's device (ppdev), or gets ioperm permission (--direct-io).
  int OpenDriverDevice();
  // The system's text for a code, without a trailing line end; for the states of the last
  // start or open, what they concern (the device, the holder, the blacklist) and the fix.
  std::string SystemErrorText(int code);
  // modprobe by its full path: pkexec runs nothing from the caller's PATH, which for a
  // normal user has no sbin.
  std::string ModprobePath();
  // The first of these that exists, else fallback.
  std::string FindProgram(std::span<const char* const> candidates, const char* fallback);

  // The port OpenDriverDevice obtained, handed over once; null before or after.
  std::unique_ptr<PortIo> TakePort();
  // The device the last open tried ("/dev/parport0"); empty for --direct-io.
  const std::string& device() const { return device_; }

 private:
  Sys& sys_;
  PortAccessOptions options_;
  std::unique_ptr<PortIo> port_;
  std::string device_;      // the device the last open tried
  std::string holder_;      // who held it, when that was why
  std::string disabledBy_;  // where ppdev is turned off, when it is
  std::string usbPrinter_;  // the USB printer adapter that stands in for a missing port
};

// The port-access start-up, run once at program start (the window's FormCreate, the CLI
// before a real-port command). Questions and messages go through host. Returns the port
// to use, or null when none was obtained (the user has been told why, unless they declined
// to load the driver); the program goes on either way. *device: the ppdev device opened.
std::unique_ptr<PortIo> StartPortAccess(const PortAccessOptions& options, Host& host,
                                        std::string* device = nullptr);
std::unique_ptr<PortIo> StartPortAccess(const PortAccessOptions& options, Host& host, Sys& sys,
                                        std::string* device = nullptr);

}  // namespace corvane
