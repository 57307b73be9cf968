#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/Decoder.h"
#include "sim/VirtualLoader.h"

namespace corvane::sim {

struct Stats;

// The decoder's boot monitor on its serial link: the first byte of a frame says what
// follows (0 poke, 1 peek, n >= 2 a block of n code bytes to load and run).
class BootLink {
 public:
  enum class Result { None, Reply, Run };

  BootLink(Decoder& decoder, Stats& stats) : decoder_(decoder), stats_(stats) {}

  // Back to waiting for the first byte of a frame.
  void Reset() { need_ = have_ = 0; }
  // A frame begun and not finished, which a powered decoder still waits to complete; and
  // taking it back, false when the words are no such frame.
  std::vector<uint32_t> State() const;
  bool Restore(std::span<const uint32_t> state);
  // One byte from the PC. Reply: a peek's four bytes are ready in reply(). Run: a loader
  // that fits the board was loaded and starts (loader()).
  Result Take(uint8_t byte);
  uint8_t reply(int i) const { return static_cast<uint8_t>(reply_ >> (8 * i)); }
  const VirtualLoader& loader() const { return loader_; }

 private:
  Result Complete();
  uint32_t U32(int at) const {
    return buf_[at] | (uint32_t{buf_[at + 1]} << 8) | (uint32_t{buf_[at + 2]} << 16) |
           (uint32_t{buf_[at + 3]} << 24);
  }

  Decoder& decoder_;
  Stats& stats_;
  uint8_t kind_ = 0;  // the frame's first byte
  int need_ = 0;      // bytes still expected after the first; 0: between frames
  int have_ = 0;
  uint8_t buf_[255] = {};
  uint32_t reply_ = 0;
  VirtualLoader loader_;
};

}  // namespace corvane::sim
