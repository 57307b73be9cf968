#include "target/TimeLeft.h"

#include <algorithm>

namespace corvane {

namespace {

// Below this share of a phase, or this long into it, a rate says little.
constexpr double kTrustedShare = 0.01;
constexpr int64_t kTrustedUs = 200'000;

}  // namespace

void TimeLeft::Start(int64_t now, int64_t phaseUs, int64_t afterUs) {
  running_ = true;
  start_ = now;
  phaseUs_ = std::max<int64_t>(phaseUs, 0);
  afterUs_ = std::max<int64_t>(afterUs, 0);
}

int64_t TimeLeft::Left(int64_t now, int minimum, int maximum, int position) const {
  if (!running_) return 0;
  const double elapsed = static_cast<double>(std::max<int64_t>(now - start_, 0));
  const double span = static_cast<double>(maximum) - minimum;
  const double done =
      span > 0 ? std::clamp((static_cast<double>(position) - minimum) / span, 0.0, 1.0) : 0.0;
  double phaseLeft, pace = 1.0;
  if (done >= kTrustedShare && elapsed >= kTrustedUs) {
    phaseLeft = elapsed * (1.0 - done) / done;
    // As much slower or faster than the estimate as this phase has been so far, within
    // reason: the later phases run on the same port.
    if (phaseUs_ > 0) pace = std::clamp(elapsed / (done * static_cast<double>(phaseUs_)), 0.25, 4.0);
  } else {
    phaseLeft = std::max(static_cast<double>(phaseUs_) - elapsed, 0.0);
    if (phaseUs_ > 0 && elapsed > static_cast<double>(phaseUs_)) {
      pace = std::min(elapsed / static_cast<double>(phaseUs_), 4.0);
    }
  }
  return static_cast<int64_t>(phaseLeft + static_cast<double>(afterUs_) * pace);
}

}  // namespace corvane
