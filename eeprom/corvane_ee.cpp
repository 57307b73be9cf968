#include "eeprom/corvane_ee.h"

namespace corvane {

namespace {
constexpr int64_t kStepUs = 15;
constexpr int64_t kAckSampleUs = 100;
constexpr uint32_t kOutputRegister = 0x00;
constexpr uint32_t kInputRegister = 0x10;
constexpr uint8_t kSdaBits = 0x03;  // both SDA drive bits, always written equal
constexpr uint8_t kSclBit = 0x04;
constexpr int kPollAttempts = 1000;
}  // namespace

void EeBus::EeWritePins() {
  link_->Poke(EePioBase + kOutputRegister, EePinShadow);
}

void EeBus::EeSetSda(int level) {
  if (level & 1) {
    EePinShadow |= kSdaBits;
  } else {
    EePinShadow &= static_cast<uint8_t>(~kSdaBits);
  }
  EeWritePins();
}

void EeBus::EeSetScl(int level) {
  if (level & 1) {
    EePinShadow |= kSclBit;
  } else {
    EePinShadow &= static_cast<uint8_t>(~kSclBit);
  }
  EeWritePins();
}

bool EeBus::EeReadSda() {
  return (link_->Peek(EePioBase + kInputRegister) & 1) != 0;
}

void EeBus::EeStart() {
  Delay(kStepUs);
  EeSetSda(1);
  Delay(kStepUs);
  EeSetScl(1);
  Delay(kStepUs);
  EeSetSda(0);
  Delay(kStepUs);
  EeSetScl(0);
  Delay(kStepUs);
}

void EeBus::EeStop() {
  Delay(kStepUs);
  EeSetSda(0);
  Delay(kStepUs);
  EeSetScl(1);
  Delay(kStepUs);
  EeSetSda(1);
  Delay(kStepUs);
  EeSetScl(0);
  Delay(kStepUs);
}

void EeBus::EeAck() {
  Delay(kStepUs);
  EeSetSda(0);
  Delay(kStepUs);
  EeSetScl(1);
  Delay(kStepUs);
  EeSetScl(0);
  Delay(kStepUs);
}

void EeBus::EeNoAck() {
  Delay(kStepUs);
  EeSetSda(1);
  Delay(kStepUs);
  EeSetScl(1);
  Delay(kStepUs);
  EeSetScl(0);
  Delay(kStepUs);
}

void EeBus::EeSendByte(uint8_t value) {
  Delay(kStepUs);
  for (int bit = 7; bit >= 0; --bit) {
    EeSetSda((value >> bit) & 1);
    Delay(kStepUs);
    // The clock's high time is one poke on the link; no delay needed in between.
    EeSetScl(1);
    EeSetScl(0);
  }
}

bool EeBus::EeWaitAck(int32_t tries) {
  Delay(kStepUs);
  EeSetSda(1);
  Delay(kStepUs);
  EeSetScl(1);
  Delay(kStepUs);
  bool acknowledged = false;
  for (int32_t count = 1;; ++count) {
    Delay(kAckSampleUs);
    if (count > tries) break;
    if (!EeReadSda()) {
      acknowledged = true;
      break;
    }
  }
  EeSetScl(0);
  Delay(kStepUs);
  return acknowledged;
}

uint8_t EeBus::EeReceiveByte() {
  uint32_t value = 0;
  for (int i = 0; i < 8; ++i) {
    value <<= 1;
    EeSetSda(1);
    Delay(kStepUs);
    EeSetScl(1);
    Delay(kStepUs);
    if (EeReadSda()) value |= 1;
    Delay(kStepUs);
    EeSetScl(0);
    Delay(kStepUs);
  }
  return static_cast<uint8_t>(value);
}

bool EeBus::EePollReady(int mode, uint8_t deviceBits, uint16_t address) {
  uint8_t control = static_cast<uint8_t>(0xA1 | ((deviceBits & 7) << 1));
  if (mode == 0) control |= static_cast<uint8_t>(((address >> 8) & 7) << 1);
  for (int attempt = 1;; ++attempt) {
    EeStart();
    EeSendByte(control);
    if (attempt > kPollAttempts) return true;
    EeSetSda(1);
    EeSetScl(1);
    const bool acknowledged = !EeReadSda();
    EeSetScl(0);
    EeReceiveByte();
    EeStop();
    if (acknowledged) return false;
  }
}

}  // namespace corvane
