#include "sim/VirtualPort.h"

#include <algorithm>

#include "sim/VirtualDecoder.h"

namespace corvane::sim {

void VirtualPort::Pins(uint8_t old, uint8_t value, int64_t now) {
  if (unplugged_) return;  // the lines end at the connector
  const uint8_t changed = old ^ value;
  // nStrobe is the inverse of bit 0: its rising edge ends Select.
  if ((changed & 0x01) && !(value & 0x01) && now >= selectAt_) selectAt_ = kNever;
  // nSelectIn is the inverse of bit 3: low holds the decoder in reset.
  if (changed & 0x08) {
    if (value & 0x08) {
      resetLowSince_ = now;
    } else {
      resetLowSince_ = kNever;
      resetHeld_ = false;  // the boot monitor starts afresh if the reset counted
    }
    Reschedule();
  }
  // nInit is bit 2 as written: the adapter strobes on its falling edge, if the port drives
  // the data lines. With nAutoFeed (inverse of bit 1) high it is an acknowledge.
  if ((changed & 0x04) && !(value & 0x04) && PortDrives()) {
    if (value & 0x02) {
      Latch(data_, now);
    } else {
      Acknowledge(now);
    }
  }
}

void VirtualPort::Latch(uint8_t byte, int64_t now) {
  // The adapter takes a byte only once it has passed on the one before: a strobe while that
  // byte is still going out on the serial link is lost.
  if (dead_ || now < adapterFreeAt_) return;
  adapterFreeAt_ = now + t_.byteUs;
  ++bytesLatched_;
  if (t_.deadAfterBytes != 0 && bytesLatched_ >= t_.deadAfterBytes) dead_ = true;
  // Pulled right after this byte went in: the decoder has it, the port sees open lines.
  if (t_.unplugAfterBytes != 0 && bytesLatched_ >= t_.unplugAfterBytes) unplugged_ = true;
  // A decoder in reset, running a loader or still sending does not take the byte.
  if (resetHeld_ || loaderPending_ || replying_) return;
  // Select stays up from an earlier byte until the read strobe takes it down.
  if (selectAt_ == kNever) selectAt_ = now + t_.byteUs;
  switch (link_.Take(byte)) {
    case BootLink::Result::None:
      break;
    case BootLink::Result::Reply:
      if (dead_) break;
      replying_ = true;
      replyIndex_ = 0;
      replyByte_ = ReplyByte(0);
      replyAt_ = adapterFreeAt_ + t_.byteUs;
      break;
    case BootLink::Result::Run:
      loaderPending_ = true;
      loaderDoneAt_ = adapterFreeAt_ + t_.loaderUs;
      Reschedule();
      break;
  }
}

void VirtualPort::Acknowledge(int64_t now) {
  if (now < replyAt_) return;  // no byte held: nothing to acknowledge
  if (++replyIndex_ < 4) {
    replyByte_ = ReplyByte(replyIndex_);
    replyAt_ = now + t_.byteUs;
  } else {
    replyAt_ = kNever;
    replying_ = false;
  }
}

uint8_t VirtualPort::ReplyByte(int index) {
  uint8_t b = link_.reply(index);
  ++repliesSent_;
  if (t_.flipEvery != 0 && repliesSent_ % t_.flipEvery == 0) {
    b ^= static_cast<uint8_t>(1u << ((repliesSent_ / t_.flipEvery) % 8));
  }
  return b;
}

void VirtualPort::AssertReset() {
  resetHeld_ = true;
  link_.Reset();
  decoder_.Reset();
  selectAt_ = replyAt_ = kNever;
  replying_ = false;
  loaderPending_ = false;  // the CPU stops: an unfinished copy never lands
  loaderDoneAt_ = kNever;
}

void VirtualPort::Service() {
  // Due events in time order: a loader that finished before the reset took hold lands.
  for (;;) {
    const int64_t now = clock_.now();
    const int64_t resetAt = resetLowSince_ != kNever && !resetHeld_
                                ? resetLowSince_ + kResetMinUs
                                : kNever;
    const int64_t loaderAt = loaderPending_ ? loaderDoneAt_ : kNever;
    if (loaderAt <= now && loaderAt <= resetAt) {
      loaderPending_ = false;
      loaderDoneAt_ = kNever;
      decoder_.RunLoader(link_.loader());
    } else if (resetAt <= now) {
      AssertReset();
    } else {
      break;
    }
  }
  Reschedule();
}

void VirtualPort::LetLoaderFinish() {
  Catch();
  if (!loaderPending_) return;
  loaderPending_ = false;
  loaderDoneAt_ = kNever;
  decoder_.RunLoader(link_.loader());
  Reschedule();
}

void VirtualPort::Reschedule() {
  const int64_t resetAt =
      resetLowSince_ != kNever && !resetHeld_ ? resetLowSince_ + kResetMinUs : kNever;
  nextEvent_ = std::min(resetAt, loaderPending_ ? loaderDoneAt_ : kNever);
}

}  // namespace corvane::sim
