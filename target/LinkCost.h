#pragma once
#include <cstdint>
#include <string>

namespace corvane {

// What one poke and one peek cost on a port: the register accesses the handshake takes,
// with the status polls the adapter's pace adds, and the time one access takes. Without a
// measurement: about 1 µs an access, as on a motherboard port, and one poll for each byte
// the adapter passes on (nine bytes a poke; five sent and four received a peek).
struct LinkCost {
  double usPerAccess = 1.0;
  double accessesPerPoke = 90.0;
  double accessesPerPeek = 93.0;
  bool measured = false;
  bool byReads = false;   // measured by a command's own reads, not by a link test
  bool unusable = false;  // a stored measurement was there but out of bounds or incomplete

  double PokeUs() const { return usPerAccess * accessesPerPoke; }
  double PeekUs() const { return usPerAccess * accessesPerPeek; }
};

// Reads a measurement a link test stored; false (cost unchanged) when there is none, and
// with cost->unusable set when the file holds no usable one.
bool LoadLinkCost(const std::string& path, LinkCost* cost);
bool SaveLinkCost(const std::string& path, const LinkCost& cost, std::string* error);

// Takes what a stretch of nothing but peeks cost: `accesses` port accesses for `peeks` peeks
// in `us` microseconds. A stretch too short to tell, or figures out of bounds, change
// nothing (false). The poke's accesses follow the peek's: both gain the same polls when
// the port gets faster than the adapter.
bool TakeReadMeasurement(LinkCost* cost, uint64_t accesses, uint64_t peeks, int64_t us);

// "about 16 min", "about 45 s", "about 1 h 5 min".
std::string DurationText(int64_t microseconds);

}  // namespace corvane
