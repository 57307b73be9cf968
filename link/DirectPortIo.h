#pragma once
#include <cstdint>
#include <memory>

#include "link/PortIo.h"
#include "link/Sys.h"

namespace corvane {

// The registers at 0x378-0x37A and 0x77A through ioperm and inb/outb: root only, and only
// for the motherboard port at its standard address.
class DirectPortIo final : public PortIo {
 public:
  // Null with *error (an errno value, EPERM without root) when permission is refused.
  static std::unique_ptr<DirectPortIo> Open(Sys& sys, int* error);
  // Gives the permission back.
  ~DirectPortIo() override;
  DirectPortIo(const DirectPortIo&) = delete;
  DirectPortIo& operator=(const DirectPortIo&) = delete;

  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;
  // No kernel to ask: probes the port, leaving its registers as they were.
  std::optional<bool> ReadsData(std::string* why) override;

 private:
  explicit DirectPortIo(Sys& sys) : sys_(sys) {}
  Sys& sys_;
};

}  // namespace corvane
