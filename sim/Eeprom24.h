#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/VirtualClock.h"

namespace corvane::sim {

// What a part does with its write-protect pin tied high.
enum class WriteProtect : uint8_t {
  Off,
  RefuseData,  // control and address bytes acknowledged, data bytes not
  IgnoreData,  // every byte acknowledged, the write ignored
};

// Parts that fail as parts on the bench do.
struct EepromFaults {
  WriteProtect writeProtect = WriteProtect::Off;
  bool neverReady = false;    // the first write cycle never ends
  int64_t acks = 0;           // acknowledges only this many bytes, then nothing; 0 = no limit
};

// A 24-series serial EEPROM on a two-wire bus, bit by bit. The master drives SCL and
// releases or pulls SDA; the device pulls SDA low to acknowledge or to send a 0.
class Eeprom24 {
 public:
  // contents.size() is 2048 (one address byte, block bits in the control byte, 16-byte
  // pages) or 8192 (two address bytes, 32-byte pages).
  Eeprom24(std::vector<uint8_t>& contents, VirtualClock& clock, int64_t writeCycleUs = 5000,
           EepromFaults faults = {});
  ~Eeprom24();

  // The master's levels after a change of the PIO output register.
  void Drive(bool scl, bool sdaReleased);
  // The device's side of SDA: false while it pulls the line low.
  bool SdaReleased() const;
  bool dirty() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace corvane::sim
