#include "link/PpdevPortIo.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <cstdlib>

#include "link/corvane.h"

namespace corvane {

namespace {

constexpr uint8_t kControlLines = 0x0F;  // what PPWCONTROL drives
constexpr uint8_t kDirection = 0x20;     // not a line: PPDATADIR

// Refusals that mean another driver holds or registered the port.
bool HeldByAnother(int error) { return error == EBUSY || error == EAGAIN || error == ENXIO; }

}  // namespace

std::unique_ptr<PpdevPortIo> PpdevPortIo::Open(Sys& sys, const std::string& path, int* error) {
  int fd = sys.Open(path, O_RDWR);
  if (fd < 0) {
    *error = -fd;
    return nullptr;
  }
  int r = sys.Ioctl(fd, PPCLAIM, nullptr);
  if (r < 0 && HeldByAnother(-r)) {
    // The printer driver shares the port; ask for it alone. PPEXCL only works before the
    // first claim registers us, hence the fresh descriptor.
    sys.Close(fd);
    fd = sys.Open(path, O_RDWR);
    if (fd < 0) {
      *error = -fd;
      return nullptr;
    }
    r = sys.Ioctl(fd, PPEXCL, nullptr);
    if (r == 0) r = sys.Ioctl(fd, PPCLAIM, nullptr);
    if (r < 0 && HeldByAnother(-r)) r = -port_error::kPortHeld;
  }
  if (r < 0) {
    sys.Close(fd);
    *error = -r;
    return nullptr;
  }
  *error = 0;
  return std::unique_ptr<PpdevPortIo>(new PpdevPortIo(sys, fd, path));
}

PpdevPortIo::~PpdevPortIo() {
  sys_.Ioctl(fd_, PPRELEASE, nullptr);
  sys_.Close(fd_);
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
    case kEcrPort: {
      // ppdev has no ECR access; a claimed ECP port already sits in byte mode. Tell ppdev the
      // mode the link asks for and remember the value for the read that saves it.
      int mode = (value >> 5) == 1 ? IEEE1284_MODE_BYTE : IEEE1284_MODE_COMPAT;
      Request(PPSETMODE, &mode, "PPSETMODE");
      ecr_ = value;
      break;
    }
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

}  // namespace corvane
