#pragma once
#include <cstdint>

namespace corvane {

// The time a command has left, for the window's title and the shell's progress line. At
// the start of each phase the command gives the estimate's figure for that phase and for
// everything after it; within the phase the rate of its progress so far decides, so a port
// slower than the estimate assumed shows in the time left as soon as a few words are done.
class TimeLeft {
 public:
  // A phase starts at `now`.
  void Start(int64_t now, int64_t phaseUs, int64_t afterUs);
  void Stop() { running_ = false; }
  void SetAfter(int64_t afterUs) { afterUs_ = afterUs > 0 ? afterUs : 0; }
  bool running() const { return running_; }
  // With the progress bar's range and position within the phase.
  int64_t Left(int64_t now, int minimum, int maximum, int position) const;

 private:
  bool running_ = false;
  int64_t start_ = 0, phaseUs_ = 0, afterUs_ = 0;
};

}  // namespace corvane
