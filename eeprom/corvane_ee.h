#pragma once
#include <cstdint>

#include "link/corvane.h"

namespace corvane {

// The decoder's serial EEPROM bus, bit-banged through its PIO pins over the link.
// One object per process: the pin shadow carries over from one command to the next.
class EeBus {
 public:
  explicit EeBus(Link& link) : link_(&link) {}

  uint32_t EePioBase = 0;
  uint8_t EePinShadow = 0x07;

  void EeWritePins();
  void EeSetSda(int level);
  void EeSetScl(int level);
  bool EeReadSda();
  void EeStart();
  void EeStop();
  void EeAck();
  void EeNoAck();
  void EeSendByte(uint8_t value);
  bool EeWaitAck(int32_t tries);
  uint8_t EeReceiveByte();
  bool EePollReady(int mode, uint8_t deviceBits, uint16_t address);

  Link& link() { return *link_; }

 private:
  void Delay(int64_t us) { link_->DelayMicroseconds(us); }
  Link* link_;
};

}  // namespace corvane
