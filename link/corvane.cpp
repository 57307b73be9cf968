#include "link/corvane.h"

namespace corvane {

const char* const kLinkErrorMessage =
    "The decoder does not answer. Check that the adapter cable is plugged into the parallel "
    "port and the decoder, that the decoder is switched on, and that the right decoder type "
    "is selected.";

const char* const kNoAdapterMessage =
    "No adapter answers on the parallel port: its lines read as if nothing were plugged in. "
    "Check that the adapter cable is plugged into the parallel port and the decoder, and that "
    "the decoder is switched on.";

const char* LinkErrorText(const LinkError& error) {
  return dynamic_cast<const NoAdapterError*>(&error) ? kNoAdapterMessage : kLinkErrorMessage;
}

namespace {
constexpr uint8_t kReadStrobe = 0x01;
constexpr uint8_t kAckSelect = 0x02;
constexpr uint8_t kWriteStrobe = 0x04;
constexpr uint8_t kReset = 0x08;
constexpr uint8_t kDataInput = 0x20;
constexpr uint8_t kReceiveReady = 0x08;
constexpr uint8_t kSendDone = 0x10;
// The status of a port with nothing plugged in: QEMU's emulated port, and a bare connector
// (every input floats high, Busy reads inverted, the unused bits high).
constexpr uint8_t kOpenQemu = 0xD8, kOpenBare = 0x7F;
}  // namespace

void Link::SetControlBits(uint8_t mask) {
  ControlShadow |= mask;
  WriteControl();
}

void Link::ClearControlBits(uint8_t mask) {
  ControlShadow &= static_cast<uint8_t>(~mask);
  WriteControl();
}

void Link::LinkOpen() {
  const uint16_t ecr = PortBase + 0x402;
  SavedEcr = PortIn(ecr);
  PortOut(ecr, 0x35);
  ControlShadow = PortIn(PortBase + 2);
  SetControlBits(kDataInput);
  ClearControlBits(kReadStrobe | kAckSelect | kWriteStrobe);
  ClearControlBits(kReset);
}

void Link::LinkClose() {
  ClearControlBits(kDataInput);
  PortOut(PortBase + 0x402, SavedEcr);
}

void Link::ResetTarget() {
  SetControlBits(kReset);
  clock_->SleepMilliseconds(100);
  ClearControlBits(kReset);
}

void Link::SendByte(uint8_t value) {
  PortOut(PortBase, value);
  ClearControlBits(kDataInput);
  SetControlBits(kWriteStrobe);
  ClearControlBits(kWriteStrobe);
  SetControlBits(kDataInput);
}

uint8_t Link::ReceiveByte() {
  SetControlBits(kReadStrobe);
  const uint8_t value = PortIn(PortBase);
  ClearControlBits(kReadStrobe);
  return value;
}

void Link::AcknowledgeByte() {
  SetControlBits(kAckSelect);
  SendByte(0x00);
  ClearControlBits(kAckSelect);
}

// An open port reads every input high, so a wait alone would succeed at once and take
// 0xFF for the decoder's bytes. The adapter never raises the two flags together where
// `never` is given: while the PC sends it holds no byte from the decoder, and once the read
// strobe has cleared Select only a byte from the PC raises it again. Both flags alone are not
// enough: on a slow port a decoder answering out of turn shows them too (0xDF, the idle 0xC7
// with both), so the whole byte must be an open port's. Checking the value the wait reads
// anyway costs no port access.
void Link::WaitStatus(uint8_t bit, uint8_t never, const char* what) {
  auto done = [&](uint8_t status) {
    if (!(status & bit)) return false;
    if ((status & never) && (status == kOpenQemu || status == kOpenBare)) {
      throw NoAdapterError("status lines all high");
    }
    return true;
  };
  if (done(PortIn(PortBase + 1))) return;
  const int64_t start = clock_->Now();
  for (;;) {
    if (done(PortIn(PortBase + 1))) return;
    if (clock_->Now() - start > wait_limit_us) throw LinkError(what);
  }
}

uint8_t Link::WaitReceiveByte() {
  WaitStatus(kReceiveReady, 0, "no byte from the decoder");
  return ReceiveByte();
}

uint8_t Link::WaitSendDone() {
  WaitStatus(kSendDone, kReceiveReady, "the adapter did not take the byte");
  return ReceiveByte();
}

void Link::DelayMicroseconds(int64_t n) {
  if (n == 0) return;
  clock_->DelayMicroseconds(n);
}

void Link::Poke(uint32_t address, uint32_t value) {
  SendByte(0x00);
  WaitSendDone();
  for (int shift = 0; shift < 32; shift += 8) {
    SendByte(static_cast<uint8_t>(address >> shift));
    WaitSendDone();
  }
  for (int shift = 0; shift < 32; shift += 8) {
    SendByte(static_cast<uint8_t>(value >> shift));
    WaitSendDone();
  }
}

uint32_t Link::Peek(uint32_t address) {
  ++peeks;
  SendByte(0x01);
  WaitSendDone();
  for (int shift = 0; shift < 24; shift += 8) {
    SendByte(static_cast<uint8_t>(address >> shift));
    WaitSendDone();
  }
  SendByte(static_cast<uint8_t>(address >> 24));
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    // Select of the last address byte may still be up for the first reply byte; the read
    // strobe has cleared it before the others.
    WaitStatus(kReceiveReady, shift == 0 ? 0 : kSendDone, "no byte from the decoder");
    result |= static_cast<uint32_t>(ReceiveByte()) << shift;
    AcknowledgeByte();
  }
  return result;
}

}  // namespace corvane
