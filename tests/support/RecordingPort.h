#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/PortIo.h"

namespace corvane::testing {

// A port that records every access and answers reads from a script.
class RecordingPort : public PortIo {
 public:
  struct Access {
    bool out;
    uint16_t port;
    uint8_t value;
    bool operator==(const Access&) const = default;
  };

  // Values returned by reads, per register, in order; when a queue is empty the
  // register's default answers.
  std::deque<uint8_t> dataReads, statusReads, controlReads, ecrReads;
  uint8_t dataDefault = 0, statusDefault = 0x18, controlDefault = 0x0C, ecrDefault = 0x15;

  std::vector<Access> log;

  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;

  // "out 37A 2F" / "in 379 18", one per access.
  std::vector<std::string> Lines() const;
  void Clear() { log.clear(); }
};

inline RecordingPort::Access Out(uint16_t port, uint8_t value) { return {true, port, value}; }
inline RecordingPort::Access In(uint16_t port, uint8_t value) { return {false, port, value}; }

// A clock that only counts: time moves when told to, or by a fixed step per Now().
class ManualClock : public Clock {
 public:
  int64_t now = 0;
  int64_t stepPerNow = 0;
  int64_t delayedUs = 0, sleptMs = 0, nowCalls = 0;
  void DelayMicroseconds(int64_t n) override {
    if (n > 0) {
      delayedUs += n;
      now += n;
    }
  }
  void SleepMilliseconds(int64_t ms) override {
    if (ms > 0) {
      sleptMs += ms;
      now += ms * 1000;
    }
  }
  int64_t Now() override {
    ++nowCalls;
    now += stepPerNow;
    return now;
  }
};

}  // namespace corvane::testing
