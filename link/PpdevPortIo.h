#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "link/PortIo.h"
#include "link/Sys.h"

namespace corvane {

// The parallel port through the Linux ppdev driver (/dev/parportN), for users in the lp
// group without root. The four registers map onto ppdev requests: data PPRDATA/PPWDATA,
// status PPRSTATUS, control PPRCONTROL/PPWCONTROL with the direction bit 0x20 through
// PPDATADIR, extended control PPSETMODE plus a shadow (ppdev cannot read the ECR).
class PpdevPortIo final : public PortIo {
 public:
  // Opens and claims the device; when the claim is refused because another driver (the
  // printer driver) holds the port, retries once with PPEXCL on a fresh descriptor.
  // Null with *error (-errno made positive, or port_error::kPortHeld) when it fails.
  static std::unique_ptr<PpdevPortIo> Open(Sys& sys, const std::string& path, int* error);
  // Releases the claim and closes the device.
  ~PpdevPortIo() override;
  PpdevPortIo(const PpdevPortIo&) = delete;
  PpdevPortIo& operator=(const PpdevPortIo&) = delete;

  // A failing request throws LinkError: the command in progress ends with its message.
  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;

  const std::string& path() const { return path_; }

  // What the ECR shadow answers before anything was written: byte mode with the FIFO empty,
  // the state ppdev leaves an ECP port in when it is claimed.
  static constexpr uint8_t kEcrAtClaim = 0x35;

 private:
  PpdevPortIo(Sys& sys, int fd, std::string path) : sys_(sys), fd_(fd), path_(std::move(path)) {}
  void Request(unsigned long request, void* arg, const char* what);

  Sys& sys_;
  int fd_;
  std::string path_;
  bool reverse_ = false;      // data lines are inputs (PPDATADIR)
  int control_ = -1;          // last control lines written (bits 0-3), -1 unknown
  uint8_t ecr_ = kEcrAtClaim;
};

// Finds the ppdev device of the port at `base` through /proc/sys/dev/parport/*/base-addr.
// 0 and *path on success, else an errno value or port_error::kNoPortAtBase / kNoPort.
int FindPpdevDevice(Sys& sys, uint16_t base, std::string* path);

}  // namespace corvane
