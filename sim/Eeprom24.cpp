#include "sim/Eeprom24.h"

#include <array>

namespace corvane::sim {

namespace {

constexpr size_t kSmallSize = 2048;  // 24C16: one address byte, block bits in the control byte
constexpr size_t kLargeSize = 8192;  // 24C64: two address bytes, device select pins tied low

enum class Phase {
  Idle,         // standby: waits for a start condition
  Control,      // receiving the control byte
  AddressHigh,  // receiving the high address byte (8 KB part)
  AddressLow,   // receiving the (low) address byte
  WriteData,    // receiving data bytes into the page buffer
  DeviceAck,    // holding SDA low through the 9th clock
  ReadData,     // shifting a byte out
  MasterAck,    // SDA released for the master's acknowledge on the 9th clock
};

}  // namespace

struct Eeprom24::State {
  State(std::vector<uint8_t>& c, VirtualClock& k, int64_t cycle, EepromFaults f)
      : contents(c), clock(k), faults(f) {
    if (contents.size() < kSmallSize) {
      contents.resize(kSmallSize, 0xFF);
    } else if (contents.size() > kSmallSize && contents.size() < kLargeSize) {
      contents.resize(kLargeSize, 0xFF);
    }
    wide = contents.size() > kSmallSize;
    mask = wide ? kLargeSize - 1 : kSmallSize - 1;
    pageSize = wide ? 32 : 16;
    writeCycleUs = cycle < 0 ? 0 : cycle;
  }

  std::vector<uint8_t>& contents;
  VirtualClock& clock;
  bool wide = false;
  uint32_t mask = 0;
  uint32_t pageSize = 16;
  int64_t writeCycleUs = 5000;
  EepromFaults faults;
  int64_t acksGiven = 0;

  // Lines as last driven by the master, and the device's own pull on SDA.
  bool scl = true, sdaMaster = true, sdaOut = true;
  bool dirty = false;
  int64_t busyUntil = 0;

  Phase phase = Phase::Idle;
  Phase afterAck = Phase::Idle;
  bool sampled = true;   // SDA latched on the last rising edge of SCL
  bool pending = false;  // a clock is high that no start or stop has claimed
  int bits = 0;          // bits completed in the current byte (counted on falling edges)
  uint8_t shift = 0;
  uint32_t address = 0;  // the device's address counter
  uint32_t highAddress = 0;
  bool reading = false;

  // The page buffer: bytes latched since the address phase, programmed by a stop.
  uint32_t pageBase = 0;
  std::array<int, 32> page{};  // -1: not loaded
  int pageCount = 0;

  bool Busy() const { return clock.now() < busyUntil; }
  bool Wire() const { return sdaMaster && sdaOut; }

  void ClearPage() {
    page.fill(-1);
    pageCount = 0;
  }

  void Start() {
    pending = false;
    ClearPage();
    sdaOut = true;
    bits = 0;
    shift = 0;
    // During the internal write cycle the inputs are ignored until the next start.
    phase = Busy() ? Phase::Idle : Phase::Control;
  }

  void Stop() {
    pending = false;
    // A stop right after the acknowledge of a data byte starts the write cycle; anywhere
    // else (inside a byte, or before any data) the loaded bytes are dropped.
    if (phase == Phase::WriteData && bits == 0 && pageCount > 0 && !Busy()) {
      for (uint32_t i = 0; i < pageSize; ++i) {
        if (page[i] >= 0) contents[pageBase + i] = static_cast<uint8_t>(page[i]);
      }
      dirty = true;
      busyUntil = faults.neverReady ? INT64_MAX : clock.now() + writeCycleUs;
    }
    ClearPage();
    sdaOut = true;
    phase = Phase::Idle;
  }

  void Acknowledge(Phase next) {
    if (faults.acks != 0 && acksGiven++ >= faults.acks) return Ignore();
    sdaOut = false;
    afterAck = next;
    phase = Phase::DeviceAck;
  }

  void Ignore() {
    sdaOut = true;
    phase = Phase::Idle;
  }

  void SetWordAddress(uint32_t a) {
    address = a & mask;
    pageBase = address & ~(pageSize - 1);
    ClearPage();
  }

  void ByteReceived(uint8_t value) {
    switch (phase) {
      case Phase::Control: {
        if ((value & 0xF0) != 0xA0 || Busy()) return Ignore();
        const uint32_t select = (value >> 1) & 7;
        if (wide && select != 0) return Ignore();  // A2..A0 are tied low
        reading = value & 1;
        if (!wide) {
          // The block bits are address bits 8-10.
          address = (select << 8) | (address & 0xFF);
        }
        if (reading) return Acknowledge(Phase::ReadData);
        return Acknowledge(wide ? Phase::AddressHigh : Phase::AddressLow);
      }
      case Phase::AddressHigh:
        highAddress = value & 0x1F;  // bits above 0x1FFF are "don't care"
        return Acknowledge(Phase::AddressLow);
      case Phase::AddressLow:
        SetWordAddress(wide ? (highAddress << 8) | value : (address & 0x700) | value);
        return Acknowledge(Phase::WriteData);
      case Phase::WriteData: {
        if (faults.writeProtect == WriteProtect::RefuseData) return Ignore();
        const uint32_t offset = address & (pageSize - 1);
        // With nothing loaded the stop starts no write cycle.
        if (faults.writeProtect == WriteProtect::Off) {
          if (page[offset] < 0) ++pageCount;
          page[offset] = value;
        }
        // The counter rolls over within the page.
        address = pageBase | ((offset + 1) & (pageSize - 1));
        return Acknowledge(Phase::WriteData);
      }
      default:
        return;
    }
  }

  void LoadReadByte() {
    shift = contents[address & mask];
    address = (address + 1) & mask;
    bits = 0;
    sdaOut = (shift & 0x80) != 0;
    phase = Phase::ReadData;
  }

  void Rising() {
    sampled = Wire();
    pending = true;
  }

  void Falling() {
    // The clock pulse of a start or stop condition carries no bit.
    if (!pending) return;
    pending = false;
    switch (phase) {
      case Phase::Control:
      case Phase::AddressHigh:
      case Phase::AddressLow:
      case Phase::WriteData:
        shift = static_cast<uint8_t>((shift << 1) | (sampled ? 1 : 0));
        if (++bits == 8) {
          bits = 0;
          ByteReceived(shift);
          shift = 0;
        }
        return;
      case Phase::DeviceAck:
        sdaOut = true;
        if (afterAck == Phase::ReadData) return LoadReadByte();
        phase = afterAck;
        bits = 0;
        shift = 0;
        return;
      case Phase::ReadData:
        if (++bits == 8) {
          sdaOut = true;
          phase = Phase::MasterAck;
          return;
        }
        sdaOut = ((shift << bits) & 0x80) != 0;
        return;
      case Phase::MasterAck:
        // The master's acknowledge asks for the next byte; a no-acknowledge ends the read.
        if (!sampled) return LoadReadByte();
        return Ignore();
      case Phase::Idle:
        return;
    }
  }

  void SdaChanged(bool sdaReleased) {
    const bool before = Wire();
    sdaMaster = sdaReleased;
    const bool after = Wire();
    if (!scl || before == after) return;
    if (!after) {
      Start();
    } else {
      Stop();
    }
  }

  void SclChanged(bool level) {
    scl = level;
    if (level) {
      Rising();
    } else {
      Falling();
    }
  }
};

Eeprom24::Eeprom24(std::vector<uint8_t>& contents, VirtualClock& clock, int64_t writeCycleUs,
                   EepromFaults faults)
    : s_(std::make_unique<State>(contents, clock, writeCycleUs, faults)) {
  s_->ClearPage();
}

Eeprom24::~Eeprom24() = default;

void Eeprom24::Drive(bool scl, bool sdaReleased) {
  State& s = *s_;
  // Both lines in one write: take it as data set up before a rising clock and held past a
  // falling one, so that no start or stop appears that the master did not mean.
  if (scl == s.scl) {
    if (sdaReleased != s.sdaMaster) s.SdaChanged(sdaReleased);
  } else if (scl) {
    if (sdaReleased != s.sdaMaster) s.SdaChanged(sdaReleased);
    s.SclChanged(true);
  } else {
    s.SclChanged(false);
    if (sdaReleased != s.sdaMaster) s.SdaChanged(sdaReleased);
  }
}

bool Eeprom24::SdaReleased() const {
  return s_->sdaOut;
}

bool Eeprom24::dirty() const {
  return s_->dirty;
}

}  // namespace corvane::sim
