#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "link/Clock.h"
#include "link/corvane.h"
#include "support/RecordingPort.h"

namespace corvane {
namespace {

struct SpinCase {
  std::string name;
  int64_t n;          // microseconds asked for
  int64_t frequency;  // counts per second
  int64_t step;       // counts between two reads
  int expectedReads;
};

class SpinTest : public ::testing::TestWithParam<SpinCase> {};

TEST_P(SpinTest, ReadsTheCounterUntilEnoughHasElapsed) {
  const SpinCase& c = GetParam();
  int reads = 0;
  int64_t count = 1000;  // the counter does not start at zero
  SpinMicroseconds(c.n, c.frequency, [&] {
    ++reads;
    const int64_t now = count;
    count += c.step;
    return now;
  });
  EXPECT_EQ(reads, c.expectedReads);
}

INSTANTIATE_TEST_SUITE_P(
    Counter, SpinTest,
    ::testing::Values(
        // Zero: returns before reading anything.
        SpinCase{"Zero", 0, 1000000, 1, 0},
        // Negative: the start count is read, the first comparison ends it.
        SpinCase{"Negative", -5, 1000000, 1, 1},
        // 10 us at 1 MHz, 3 counts a read: 3, 6, 9, 12 after the start.
        SpinCase{"MicrosecondCounter", 10, 1000000, 3, 5},
        // 3 counts per second: multiplying first sees 333333 us after one count, so one
        // second takes exactly three counts; dividing first would never get there.
        SpinCase{"SlowCounterMultipliesFirst", 1000000, 3, 1, 4},
        // 200 us on a nanosecond counter stepping 50 us.
        SpinCase{"NanosecondCounter", 200, 1000000000, 50000, 5}),
    [](const auto& info) { return info.param.name; });

TEST(RealClock, DelayWaitsAtLeastWhatWasAsked) {
  RealClock clock;
  const auto start = std::chrono::steady_clock::now();
  clock.DelayMicroseconds(300);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(300));
  const int64_t a = clock.Now();
  clock.SleepMilliseconds(2);
  EXPECT_GE(clock.Now() - a, 2000);
}

TEST(LinkDelay, ZeroNeverReachesTheClock) {
  struct CountingClock : testing::ManualClock {
    int delays = 0;
    void DelayMicroseconds(int64_t n) override {
      ++delays;
      ManualClock::DelayMicroseconds(n);
    }
  } clock;
  testing::RecordingPort port;
  Link link(port, clock);
  link.DelayMicroseconds(0);
  EXPECT_EQ(clock.delays, 0);
  link.DelayMicroseconds(200);
  EXPECT_EQ(clock.delays, 1);
  EXPECT_EQ(clock.delayedUs, 200);
  EXPECT_TRUE(port.log.empty()) << "a delay touches no register";
}

}  // namespace
}  // namespace corvane
