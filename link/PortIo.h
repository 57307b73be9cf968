#pragma once
#include <cstdint>

namespace corvane {

// The four registers of the parallel port, at the standard addresses the link always uses.
// Backends for another port map these offsets onto their own device.
inline constexpr uint16_t kPortBase = 0x378;
inline constexpr uint16_t kDataPort = kPortBase + 0;
inline constexpr uint16_t kStatusPort = kPortBase + 1;
inline constexpr uint16_t kControlPort = kPortBase + 2;
inline constexpr uint16_t kEcrPort = kPortBase + 0x402;

class PortIo {
 public:
  virtual ~PortIo() = default;
  virtual uint8_t PortIn(uint16_t port) = 0;
  virtual void PortOut(uint16_t port, uint8_t value) = 0;
};

}  // namespace corvane
