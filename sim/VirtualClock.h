#pragma once
#include <cstdint>

#include "link/Clock.h"

namespace corvane::sim {

// The virtual decoder's time: waits advance it at once, every port access costs a little.
class VirtualClock final : public Clock {
 public:
  void DelayMicroseconds(int64_t n) override {
    if (n > 0) now_ += n;
  }
  void SleepMilliseconds(int64_t ms) override {
    if (ms > 0) now_ += ms * 1000;
  }
  int64_t Now() override { return now_; }
  int64_t now() const { return now_; }
  void Advance(int64_t us) { now_ += us; }

 private:
  int64_t now_ = 0;
};

}  // namespace corvane::sim
