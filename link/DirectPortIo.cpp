#include "link/DirectPortIo.h"

namespace corvane {

std::unique_ptr<DirectPortIo> DirectPortIo::Open(Sys& sys, int* error) {
  int r = sys.Ioperm(kDataPort, 3, true);
  if (r == 0) {
    r = sys.Ioperm(kEcrPort, 1, true);
    if (r < 0) sys.Ioperm(kDataPort, 3, false);
  }
  if (r < 0) {
    *error = -r;
    return nullptr;
  }
  *error = 0;
  return std::unique_ptr<DirectPortIo>(new DirectPortIo(sys));
}

DirectPortIo::~DirectPortIo() {
  sys_.Ioperm(kEcrPort, 1, false);
  sys_.Ioperm(kDataPort, 3, false);
}

namespace {
bool Granted(uint16_t port) {
  return port == kDataPort || port == kStatusPort || port == kControlPort || port == kEcrPort;
}
}  // namespace

// Only the four registers we hold permission for; anything else would fault the process.
uint8_t DirectPortIo::PortIn(uint16_t port) { return Granted(port) ? sys_.Inb(port) : 0xFF; }

void DirectPortIo::PortOut(uint16_t port, uint8_t value) {
  if (Granted(port)) sys_.Outb(port, value);
}

}  // namespace corvane
