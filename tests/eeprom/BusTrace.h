#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/Text.h"
#include "sim/Eeprom24.h"
#include "sim/VirtualClock.h"
#include "support/FakeRig.h"

namespace corvane::testing {

inline std::string Hex2(uint32_t v) {
  return Hex(v & 0xFF, 2);
}

// Reads the link traffic to the PIO block back as two-wire bus events, the way a logic
// analyser would: "S" start, "P" stop, and one token per byte of 9 clocks: two hex digits
// (SDA at each rising clock edge, or what was peeked while SCL was high) followed by the
// 9th clock: "a" sampled low (device acknowledged), "n" sampled high, "k" master drove it
// low, nothing when released and not sampled. A byte cut short by a start or stop (or the
// end of the traffic) shows as "XX?" after 8 clocks, "~n" after n others.
struct BusTrace {
  std::vector<std::string> tokens;
  int starts = 0, stops = 0;
  size_t outputPokes = 0, inputPeeks = 0;
  // Every output word had both SDA bits equal and nothing above SCL.
  bool wellFormed = true;
  std::vector<uint32_t> outputValues;

  BusTrace(const std::vector<FakeDecoderPort::Transaction>& traffic, uint32_t pioBase) {
    for (const auto& t : traffic) {
      if (t.kind == FakeDecoderPort::Kind::Poke && t.address == pioBase) {
        ++outputPokes;
        outputValues.push_back(t.value);
        if (((t.value & 1) != ((t.value >> 1) & 1)) || (t.value & ~7u)) wellFormed = false;
        Drive((t.value & 4) != 0, (t.value & 1) != 0);
      } else if (t.kind == FakeDecoderPort::Kind::Peek && t.address == pioBase + 0x10) {
        ++inputPeeks;
        if (scl_) {
          sampled_ = true;
          sample_ = (t.value & 1) != 0;
        }
      }
    }
    Flush();
  }

  size_t Count(const std::string& token) const {
    size_t n = 0;
    for (const auto& t : tokens) n += t == token;
    return n;
  }
  // Index of the first place where `run` appears, or npos.
  size_t Find(const std::vector<std::string>& run, size_t from = 0) const {
    for (size_t i = from; i + run.size() <= tokens.size(); ++i) {
      bool match = true;
      for (size_t j = 0; j < run.size() && match; ++j) match = tokens[i + j] == run[j];
      if (match) return i;
    }
    return std::string::npos;
  }

 private:
  void Drive(bool scl, bool sda) {
    if (scl_ && scl && sda != sda_) {
      Flush();
      if (!sda) {
        tokens.push_back("S");
        ++starts;
        inFrame_ = true;
      } else {
        tokens.push_back("P");
        ++stops;
        inFrame_ = false;
      }
      // The clock that carried the condition is no data bit.
      pending_ = false;
    } else if (!scl_ && scl) {
      sampled_ = false;
      pending_ = true;
      level_ = sda;
    } else if (scl_ && !scl) {
      if (inFrame_ && pending_) Bit(sampled_ ? sample_ : level_, sampled_, level_);
      pending_ = false;
    }
    scl_ = scl;
    sda_ = sda;
  }

  void Bit(bool value, bool sampled, bool master) {
    if (bits_.size() < 8) {
      bits_.push_back(value);
      return;
    }
    std::string t = Hex2(Byte());
    if (sampled) {
      t += value ? "n" : "a";
    } else if (!master) {
      t += "k";
    }
    tokens.push_back(t);
    bits_.clear();
  }

  uint32_t Byte() const {
    uint32_t b = 0;
    for (bool v : bits_) b = (b << 1) | (v ? 1 : 0);
    return b;
  }

  void Flush() {
    if (bits_.size() == 8) {
      tokens.push_back(Hex2(Byte()) + "?");
    } else if (!bits_.empty()) {
      tokens.push_back("~" + std::to_string(bits_.size()));
    }
    bits_.clear();
  }

  bool scl_ = true, sda_ = true, level_ = true;
  bool sampled_ = false, sample_ = true, pending_ = false;
  bool inFrame_ = false;
  std::vector<bool> bits_;
};

// A real 24-series device on the fake decoder's PIO pins, so command tests see the bus
// behave as on hardware while they assert the exact traffic.
struct WiredEeprom {
  WiredEeprom(FakeRig& rig, uint32_t pioBase, size_t size, int64_t writeCycleUs = 5000)
      : contents(size, 0xFF), device(contents, clock, writeCycleUs) {
    rig.port.onPoke = [this, &rig, pioBase](uint32_t a, uint32_t v) {
      if (a != pioBase) return;
      clock.Advance(rig.clock.now - clock.now());
      masterSda = (v & 1) != 0;
      device.Drive((v & 4) != 0, masterSda);
    };
    rig.port.onPeek = [this, pioBase](uint32_t a) -> uint32_t {
      if (a != pioBase + 0x10) return 0;
      return masterSda && device.SdaReleased() ? 1 : 0;
    };
  }
  std::vector<uint8_t> contents;
  sim::VirtualClock clock;
  sim::Eeprom24 device;
  bool masterSda = true;
};

}  // namespace corvane::testing
