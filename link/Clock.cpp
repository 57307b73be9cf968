#include "link/Clock.h"

#include <chrono>
#include <thread>

namespace corvane {

namespace {
int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

void RealClock::DelayMicroseconds(int64_t n) {
  SpinMicroseconds(n, 1000000000, SteadyNanoseconds);
}

void RealClock::SleepMilliseconds(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t RealClock::Now() { return SteadyNanoseconds() / 1000; }

}  // namespace corvane
