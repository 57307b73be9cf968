#include "link/DirectPortIo.h"

#include "link/Text.h"

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

// With the direction bit set in byte mode, a port that turns its data lines round reads the
// lines, which nothing drives now: they cannot follow both bytes. A port that cannot reads
// its own latch. The control lines keep their levels: no strobe, so the adapter takes
// neither byte.
std::optional<bool> DirectPortIo::ReadsData(std::string* why) {
  constexpr uint8_t kByteMode = 0x35, kDirection = 0x20, kFirst = 0x55, kSecond = 0xAA;
  const uint8_t ecr = sys_.Inb(kEcrPort);
  const uint8_t control = sys_.Inb(kControlPort);
  const uint8_t data = sys_.Inb(kDataPort);
  sys_.Outb(kEcrPort, kByteMode);
  sys_.Outb(kControlPort, control | kDirection);
  sys_.Outb(kDataPort, kFirst);
  const bool first = sys_.Inb(kDataPort) == kFirst;
  sys_.Outb(kDataPort, kSecond);
  const bool second = sys_.Inb(kDataPort) == kSecond;
  // The latch first, while the lines are still inputs: they go straight back to the old byte.
  sys_.Outb(kDataPort, data);
  sys_.Outb(kControlPort, control);
  sys_.Outb(kEcrPort, ecr);
  if (!first || !second) return true;
  if (why) {
    *why =
        "with the direction bit set in byte mode, the data register reads back each byte "
        "written to it (" +
        Hex(kFirst, 2) + ", " + Hex(kSecond, 2) +
        "): the port does not turn its data lines to input";
  }
  return false;
}

}  // namespace corvane
