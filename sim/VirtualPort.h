#pragma once
#include <cstdint>
#include <limits>

#include "link/PortIo.h"
#include "sim/BootLink.h"
#include "sim/Decoder.h"
#include "sim/VirtualClock.h"
#include "sim/VirtualDecoder.h"

namespace corvane::sim {


// The PC's parallel port and the adapter cable, at pin level. Register writes become pin
// levels as on a real port; the adapter moves bytes between the pins and the boot link,
// taking virtual time for each byte on the serial side.
//
// Status register levels other than the adapter's two: bits 0-2 are not implemented on the
// port and read 1; nAck (0x40) is left pulled up; PaperOut (0x20) and Busy are tied low by
// the adapter, so PaperOut reads 0 and the port's inverted Busy bit (0x80) reads 1.
class VirtualPort {
 public:
  struct Timing {
    int64_t accessUs = 1;        // one register access
    int64_t byteUs = 3;          // one byte on the serial link
    int64_t loaderUs = 3000000;  // a loader's run
    uint64_t deadAfterBytes = 0;
    uint64_t flipEvery = 0;
    bool unplugged = false;         // no cable from the start
    uint64_t unplugAfterBytes = 0;  // the cable comes out after this many bytes (0 = never)
    bool bidirectional = true;      // false: the data lines never turn to input
  };

  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
  static constexpr int64_t kResetMinUs = 1000;  // the reset supervisor ignores shorter pulses
  static constexpr uint8_t kStatusIdle = 0xC7;
  // Nothing on the connector: every status input floats high (Busy high reads 0 in bit 7).
  static constexpr uint8_t kStatusOpen = 0x7F;
  static constexpr uint8_t kNError = 0x08, kSelect = 0x10;

  VirtualPort(VirtualClock& clock, BootLink& link, Decoder& decoder, Stats& stats, Timing t)
      : clock_(clock), link_(link), decoder_(decoder), stats_(stats), t_(t),
        unplugged_(t.unplugged) {
    // The port comes up as a printer port left it: nInit high, nSelectIn low (0x0C).
    resetLowSince_ = clock_.now();
    nextEvent_ = resetLowSince_ + kResetMinUs;
  }

  uint8_t In(uint16_t port) {
    const int64_t now = Tick();
    ecrJustRead_ = port == kEcrPort;
    switch (port) {
      case kStatusPort: {
        if (unplugged_) return kStatusOpen;
        uint8_t s = kStatusIdle;
        if (now >= selectAt_) s |= kSelect;
        if (now >= replyAt_) s |= kNError;
        return s;
      }
      case kDataPort:
        if (PortDrives()) return data_;
        return !unplugged_ && now >= replyAt_ ? replyByte_ : 0xFF;  // nothing drives: pull-ups
      case kControlPort:
        return control_;
      case kEcrPort:
        return ecr_;
      default:
        return 0xFF;
    }
  }

  void Out(uint16_t port, uint8_t value) {
    const int64_t now = Tick();
    const bool afterEcrRead = ecrJustRead_;
    ecrJustRead_ = false;
    switch (port) {
      case kDataPort:
        data_ = value;
        break;
      case kControlPort: {
        const uint8_t old = control_;
        control_ = value;
        if ((old ^ value) & 0x0D) Pins(old, value, now);
        break;
      }
      case kEcrPort:
        ecr_ = static_cast<uint8_t>((value & 0xFC) | 0x01);  // FIFO status bits: empty
        held_ = afterEcrRead;
        break;
      default:
        break;
    }
  }

  // The link has let go of the port: it wrote the mode back since it last read the mode and
  // then set its own. (The mode itself cannot tell: the port is in byte mode before and
  // after a command too.)
  bool Released() const { return !held_; }
  bool decoderInReset() const { return resetHeld_; }
  bool loaderRunning() const { return loaderPending_; }
  bool unplugged() const { return unplugged_; }
  // Runs what is due by now (loader completion, reset assertion) without an access.
  void Catch() {
    if (clock_.now() >= nextEvent_) Service();
  }
  // The program has let go; the decoder stays switched on, so a loader still running
  // finishes its copy.
  void LetLoaderFinish();

 private:
  int64_t Tick() {
    ++stats_.portAccesses;
    clock_.Advance(t_.accessUs);
    const int64_t now = clock_.now();
    if (now >= nextEvent_) Service();
    return now;
  }
  // Control bit 5 turns the data lines around only in byte mode, and only on a port whose
  // line drivers can be switched off: an SPP-only port always drives, and reads its latch.
  bool PortDrives() const {
    return !t_.bidirectional || !((control_ & 0x20) && (ecr_ & 0xE0) == 0x20);
  }

  void Pins(uint8_t old, uint8_t now_value, int64_t now);
  void Service();
  void Latch(uint8_t byte, int64_t now);
  void Acknowledge(int64_t now);
  uint8_t ReplyByte(int index);
  void AssertReset();
  void Reschedule();

  VirtualClock& clock_;
  BootLink& link_;
  Decoder& decoder_;
  Stats& stats_;
  Timing t_;

  // The port as the PC holds it for us: through ppdev the kernel keeps an ECP port in byte
  // mode (0x34, read back with the FIFO empty bit) for as long as it is claimed.
  uint8_t data_ = 0, control_ = 0x0C, ecr_ = 0x35;
  bool ecrJustRead_ = false;  // the last access read the ECR
  bool held_ = false;

  int64_t selectAt_ = kNever;  // Select is high from then until the read strobe
  int64_t replyAt_ = kNever;   // nError and the reply byte on the lines from then until acknowledged
  uint8_t replyByte_ = 0;
  int replyIndex_ = 0;
  bool replying_ = false;
  uint64_t repliesSent_ = 0;

  int64_t adapterFreeAt_ = 0;  // the adapter is passing a byte on until then
  uint64_t bytesLatched_ = 0;
  bool dead_ = false;
  bool unplugged_;  // the adapter no longer sees the port's lines, nor the port its

  int64_t resetLowSince_ = kNever;
  bool resetHeld_ = false;
  bool loaderPending_ = false;
  int64_t loaderDoneAt_ = kNever;
  int64_t nextEvent_ = kNever;
};

}  // namespace corvane::sim
