#include "link/PpdevPortIo.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "link/corvane.h"

namespace corvane {

namespace {

constexpr uint8_t kControlLines = 0x0F;  // what PPWCONTROL drives
constexpr uint8_t kDirection = 0x20;     // not a line: PPDATADIR
constexpr uint8_t kSelectIn = 0x08;      // nSelectIn: the decoder's reset line

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

}  // namespace

std::unique_ptr<PpdevPortIo> PpdevPortIo::Open(Sys& sys, const std::string& path, int* error,
                                               std::string* holder) {
  const int fd = sys.Open(path, O_RDWR);
  if (fd < 0) {
    *error = -fd;
    return nullptr;
  }
  std::unique_ptr<PpdevPortIo> port(new PpdevPortIo(sys, fd, path, O_RDWR));
  *error = port->ClaimCode();
  if (*error != 0) {
    if (holder && *error == port_error::kPortHeld) *holder = port->holder();
    return nullptr;
  }
  return port;
}

PpdevPortIo::~PpdevPortIo() {
  Release();
  if (fd_ >= 0) sys_.Close(fd_);
}

std::string PpdevPortIo::PortFile(const std::string& entry) {
  const size_t slash = path_.rfind('/');
  const std::string name = path_.substr(slash == std::string::npos ? 0 : slash + 1);
  if (name.compare(0, 7, "parport") != 0) return {};
  std::string text;
  if (sys_.ReadFile("/proc/sys/dev/parport/" + name + "/" + entry, &text) < 0) return {};
  return Trim(text);
}

int PpdevPortIo::Reopen() {
  if (fd_ >= 0) sys_.Close(fd_);
  reverse_ = false;  // a new device starts with the kernel's printer state
  control_ = -1;
  fd_ = sys_.Open(path_, flags_);
  if (fd_ >= 0) return 0;
  const int e = -fd_;
  fd_ = -1;
  return e;
}

bool PpdevPortIo::Claim(std::string* error) {
  const int e = ClaimCode();
  if (e == 0) return true;
  if (!error) return false;
  if (e == port_error::kPortHeld) {
    *error = PortInUseText(path_, holder_);
  } else if (fd_ < 0) {
    *error = path_ +
             " could not be opened again after a claim that gave up waiting: " + sys_.ErrorText(e);
  } else {
    *error = path_ + ": " + sys_.ErrorText(e);
  }
  return false;
}

int PpdevPortIo::ClaimCode() {
  if (claimed_) return 0;
  holder_.clear();
  if (fd_ < 0) {
    if (const int e = Reopen()) return e;
  }
  // Another holder may be between two print jobs: give it a moment, then say who it is.
  for (int poll = 0;; ++poll) {
    const std::string active = ActiveDevice();
    if (active.empty() || active == "none") break;
    if (poll == kPolls) {
      holder_ = active;
      return port_error::kPortHeld;
    }
    sys_.Sleep(kPollMs);
  }
  const int r = sys_.IoctlWithin(fd_, PPCLAIM, nullptr, kClaimLimitMs);
  if (r < 0) {
    // A claim cut short stays on the kernel's wait list, and the kernel would later hand
    // the port to it unasked: we would hold it, unknowing, and refuse every command. Only
    // closing the device takes it off the list.
    if (r == -EINTR) {
      if (const int e = Reopen()) return e;
    }
    // Taken between our look and the claim, or registered exclusively by another driver.
    const std::string active = ActiveDevice();
    if (r == -EINTR || (!active.empty() && active != "none")) {
      holder_ = active.empty() || active == "none" ? "another driver" : active;
      return port_error::kPortHeld;
    }
    return -r;
  }
  claimed_ = true;
  // A first claim puts the kernel's printer idle state on the lines, nSelectIn low among
  // them; on our cable that holds the decoder in reset, so let go of it at once.
  unsigned char lines = 0;
  if (sys_.Ioctl(fd_, PPRCONTROL, &lines) == 0 && (lines & kSelectIn)) {
    lines &= static_cast<unsigned char>(kControlLines & ~kSelectIn);
    if (sys_.Ioctl(fd_, PPWCONTROL, &lines) == 0) control_ = lines;
  }
  return 0;
}

void PpdevPortIo::Release() {
  if (!claimed_) return;
  sys_.Ioctl(fd_, PPRELEASE, nullptr);
  claimed_ = false;
  control_ = -1;  // another user may change the lines; the next claim puts ours back
}

std::optional<std::string> PpdevPortIo::Modes() {
  unsigned int bits = 0;
  if (sys_.Ioctl(fd_, PPGETMODES, &bits) != 0) {
    // A ppdev without PPGETMODES: the same bits, by name, in the proc file.
    std::string modes = PortFile("modes");
    if (modes.empty()) return std::nullopt;
    return modes;
  }
  static const std::pair<unsigned int, const char*> kNames[] = {
      {PARPORT_MODE_PCSPP, "PCSPP"},   {PARPORT_MODE_TRISTATE, "TRISTATE"},
      {PARPORT_MODE_COMPAT, "COMPAT"}, {PARPORT_MODE_EPP, "EPP"},
      {PARPORT_MODE_ECP, "ECP"},       {PARPORT_MODE_DMA, "DMA"}};
  std::string modes;
  for (const auto& [bit, name] : kNames) {
    if (bits & bit) modes += (modes.empty() ? "" : ",") + std::string(name);
  }
  return modes;
}

std::optional<bool> PpdevPortIo::ReadsData(std::string* why) {
  // TRISTATE is what parport_pc found when it probed the port: with the direction bit set,
  // the data lines stopped reading back the PC's latch. Without it the kernel also masks
  // the direction bit, so PPDATADIR changes nothing.
  const std::optional<std::string> modes = Modes();
  if (!modes) return std::nullopt;
  if (modes->find("TRISTATE") != std::string::npos) return true;
  if (why) {
    *why = "the kernel lists no TRISTATE among its modes (" +
           (modes->empty() ? std::string("none") : *modes) + ")";
  }
  return false;
}

void PpdevPortIo::Request(unsigned long request, void* arg, const char* what) {
  const int r = sys_.Ioctl(fd_, request, arg);
  if (r < 0) {
    throw LinkError(std::string("parallel port ") + path_ + ": " + what + " failed: " +
                    sys_.ErrorText(-r));
  }
}

uint8_t PpdevPortIo::PortIn(uint16_t port) {
  unsigned char value = 0xFF;
  switch (port) {
    case kDataPort:
      Request(PPRDATA, &value, "PPRDATA");
      break;
    case kStatusPort:
      Request(PPRSTATUS, &value, "PPRSTATUS");
      break;
    case kControlPort:
      // ppdev gives the lines only; the direction bit is ours.
      Request(PPRCONTROL, &value, "PPRCONTROL");
      control_ = value & kControlLines;
      value = static_cast<unsigned char>(control_ | (reverse_ ? kDirection : 0));
      break;
    case kEcrPort:
      value = ecr_;
      break;
    default:
      break;  // nothing there: an open bus reads high
  }
  return value;
}

void PpdevPortIo::PortOut(uint16_t port, uint8_t value) {
  switch (port) {
    case kDataPort: {
      unsigned char v = value;
      Request(PPWDATA, &v, "PPWDATA");
      break;
    }
    case kControlPort: {
      // The register value as the hardware takes it (ppdev inverts nothing). Bit 5 must not
      // reach PPWCONTROL: ppdev drops it there; direction is PPDATADIR's.
      const int lines = value & kControlLines;
      if (lines != control_) {
        unsigned char v = static_cast<unsigned char>(lines);
        Request(PPWCONTROL, &v, "PPWCONTROL");
        control_ = lines;
      }
      const bool reverse = (value & kDirection) != 0;
      if (reverse != reverse_) {
        int dir = reverse ? 1 : 0;
        Request(PPDATADIR, &dir, "PPDATADIR");
        reverse_ = reverse;
      }
      break;
    }
    case kEcrPort:
      // Only remembered for the read that saves it. PPSETMODE would change nothing on the
      // wires (it sets the kernel's IEEE 1284 state), and a mode other than compatibility
      // left at close makes ppdev run a 1284 termination on the lines after we let go.
      ecr_ = value;
      break;
    default:
      break;
  }
}

int FindPpdevDevice(Sys& sys, uint16_t base, std::string* path) {
  const std::string root = "/proc/sys/dev/parport";
  std::vector<std::string> names;
  const int r = sys.ListDirectory(root, &names);
  if (r < 0) {
    // No parport information (parport not loaded, or no sysctl): the first port is
    // traditionally the one at 0x378.
    if (sys.Exists("/dev/parport0")) {
      *path = "/dev/parport0";
      return 0;
    }
    return r == -ENOENT ? port_error::kNoPort : -r;
  }
  bool anyPort = false;
  for (const std::string& name : names) {
    if (name.size() <= 7 || name.compare(0, 7, "parport") != 0) continue;  // "default"
    if (name.find_first_not_of("0123456789", 7) != std::string::npos) continue;
    anyPort = true;
    std::string text;
    if (sys.ReadFile(root + "/" + name + "/base-addr", &text) < 0) continue;
    // "888\t0\n": the base address in decimal, then the upper base.
    char* end = nullptr;
    const unsigned long found = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str()) continue;
    if (found == base) {
      *path = "/dev/" + name;
      return 0;
    }
  }
  return anyPort ? port_error::kNoPortAtBase : port_error::kNoPort;
}

std::string PortInUseText(const std::string& path, const std::string& holder) {
  std::string text = path + " is in use by " + holder;
  if (holder.compare(0, 2, "lp") == 0) {
    return text + ", the printer driver: let the printing end, or unload it with "
                  "sudo modprobe -r lp";
  }
  if (holder.compare(0, 5, "ppdev") == 0) {
    return text + ", another program on the port (a second Corvane?): wait until it has "
                  "finished, then try again";
  }
  return text + ": stop the program or unload the driver that uses the port";
}

}  // namespace corvane
