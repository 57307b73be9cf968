#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace corvane::sim {

// SCL and SDA as the wire sees them, with virtual timestamps, as a VCD file that
// sigrok and PulseView open.
class VcdWriter {
 public:
  ~VcdWriter();
  bool Open(const std::string& path, std::string* error);
  // Records the lines at timeUs (virtual microseconds); unchanged levels write nothing.
  void Change(int64_t timeUs, bool scl, bool sda);
  void Close();

 private:
  std::FILE* file_ = nullptr;
  int lastScl_ = -1, lastSda_ = -1;
  int64_t lastTime_ = -1;
};

}  // namespace corvane::sim
