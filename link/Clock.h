#pragma once
#include <cstdint>

namespace corvane {

// Time as a command sees it. The real clock spins and sleeps; the virtual decoder's clock
// advances instantly, so simulated transfers run fast and still know their hardware time.
class Clock {
 public:
  virtual ~Clock() = default;
  // Busy-wait of n microseconds; n <= 0 returns at once.
  virtual void DelayMicroseconds(int64_t n) = 0;
  // Blocking sleep of the thread.
  virtual void SleepMilliseconds(int64_t ms) = 0;
  // Monotonic time in microseconds.
  virtual int64_t Now() = 0;
};

// Spin on a counter of `frequency` counts per second until n microseconds have elapsed,
// multiplying before dividing as a high-resolution counter needs.
template <class Counter>
void SpinMicroseconds(int64_t n, int64_t frequency, Counter&& count) {
  if (n == 0) return;
  const int64_t c0 = count();
  int64_t elapsed = 0;
  while (elapsed < n) {
    const int64_t c = count();
    elapsed = ((c - c0) * 1000000) / frequency;
  }
}

class RealClock final : public Clock {
 public:
  void DelayMicroseconds(int64_t n) override;
  void SleepMilliseconds(int64_t ms) override;
  int64_t Now() override;
};

}  // namespace corvane
