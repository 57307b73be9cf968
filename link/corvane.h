#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

#include "link/Clock.h"
#include "link/PortIo.h"

namespace corvane {

// The adapter or the decoder stopped answering: a handshake wait ran out.
class LinkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The lines read as if nothing were plugged into the port: the status byte of an open port,
// with flags up that the adapter's handshake never shows together.
class NoAdapterError : public LinkError {
 public:
  using LinkError::LinkError;
};

// The one text a command shows for a dead link, and the one for a missing adapter.
extern const char* const kLinkErrorMessage;
extern const char* const kNoAdapterMessage;
// What the user reads for a link error.
const char* LinkErrorText(const LinkError& error);

// The parallel-port link: the register handshake with the adapter and the boot link's
// peek and poke. One object per process holds the port state.
class Link {
 public:
  Link(PortIo& io, Clock& clock) : io_(&io), clock_(&clock) {}

  uint16_t PortBase = kPortBase;
  uint8_t ControlShadow = 0;
  uint8_t SavedEcr = 0;

  // How long a status wait may go without its bit before the link counts as dead.
  int64_t wait_limit_us = 1000000;

  // Port accesses so far: what a transfer costs is counted in them.
  uint64_t accesses = 0;
  // Peeks so far: with the accesses and the clock, what one costs on this port.
  uint64_t peeks = 0;

  uint8_t PortIn(uint16_t port) {
    ++accesses;
    return io_->PortIn(port);
  }
  void PortOut(uint16_t port, uint8_t value) {
    ++accesses;
    io_->PortOut(port, value);
  }

  void SetControlBits(uint8_t mask);
  void ClearControlBits(uint8_t mask);
  void LinkOpen();
  void LinkClose();
  void ResetTarget();
  void SendByte(uint8_t value);
  uint8_t ReceiveByte();
  void AcknowledgeByte();
  uint8_t WaitReceiveByte();
  uint8_t WaitSendDone();
  void DelayMicroseconds(int64_t n);

  void Poke(uint32_t address, uint32_t value);
  uint32_t Peek(uint32_t address);

  Clock& clock() { return *clock_; }
  PortIo& io() { return *io_; }
  // Swap the port or clock, e.g. when the window changes to another virtual decoder.
  void Rebind(PortIo& io, Clock& clock) {
    io_ = &io;
    clock_ = &clock;
  }

 private:
  // Waits for `bit`; with `never` high too and the status an open port's, nothing is
  // plugged in.
  void WaitStatus(uint8_t bit, uint8_t never, const char* what);
  void WriteControl() { PortOut(PortBase + 2, ControlShadow ^ 0x03); }

  PortIo* io_;
  Clock* clock_;
};

}  // namespace corvane
