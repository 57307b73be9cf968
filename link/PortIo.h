#pragma once
#include <cstdint>
#include <optional>
#include <string>

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

  // A port shared with other drivers is ours only from Claim to Release. False, with the
  // reason for the user in *error, when it cannot be had now. Ports that are not shared
  // have nothing to claim.
  virtual bool Claim(std::string* error) {
    (void)error;
    return true;
  }
  virtual void Release() {}

  // Whether the port can turn its data lines to input (a bidirectional, byte-mode port):
  // every byte from the decoder depends on it. False, with what shows it in *why ("the
  // kernel lists no TRISTATE among its modes (PCSPP,COMPAT)"); nothing when the port cannot
  // tell.
  virtual std::optional<bool> ReadsData(std::string* why) {
    (void)why;
    return std::nullopt;
  }

  // The port's hardware modes as the kernel found them, in its names and order
  // ("PCSPP,TRISTATE,COMPAT,EPP,ECP"); nothing when the port cannot tell.
  virtual std::optional<std::string> Modes() { return std::nullopt; }
};

}  // namespace corvane
