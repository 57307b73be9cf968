#include "link/corvane.h"

namespace corvane {

const char* const kLinkErrorMessage =
    "The decoder does not answer. Check that the adapter cable is plugged into the parallel "
    "port and the decoder, that the decoder is switched on, and that the right decoder type "
    "is selected.";

namespace {
constexpr uint8_t kReadStrobe = 0x01;
constexpr uint8_t kAckSelect = 0x02;
constexpr uint8_t kWriteStrobe = 0x04;
constexpr uint8_t kReset = 0x08;
constexpr uint8_t kDataInput = 0x20;
constexpr uint8_t kReceiveReady = 0x08;
constexpr uint8_t kSendDone = 0x10;
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

void Link::WaitStatus(uint8_t bit, const char* what) {
  if (PortIn(PortBase + 1) & bit) return;
  const int64_t start = clock_->Now();
  for (;;) {
    if (PortIn(PortBase + 1) & bit) return;
    if (clock_->Now() - start > wait_limit_us) throw LinkError(what);
  }
}

uint8_t Link::WaitReceiveByte() {
  WaitStatus(kReceiveReady, "no byte from the decoder");
  return ReceiveByte();
}

uint8_t Link::WaitSendDone() {
  WaitStatus(kSendDone, "the adapter did not take the byte");
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
  SendByte(0x01);
  WaitSendDone();
  for (int shift = 0; shift < 24; shift += 8) {
    SendByte(static_cast<uint8_t>(address >> shift));
    WaitSendDone();
  }
  SendByte(static_cast<uint8_t>(address >> 24));
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    result |= static_cast<uint32_t>(WaitReceiveByte()) << shift;
    AcknowledgeByte();
  }
  return result;
}

}  // namespace corvane
