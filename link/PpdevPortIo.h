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
// PPDATADIR. The extended control register is a shadow: ppdev cannot reach it, and the
// kernel already holds an ECP port in byte mode while it is claimed.
class PpdevPortIo final : public PortIo {
 public:
  // Opens the device and claims the port. Null with *error (-errno made positive, or
  // port_error::kPortHeld with *holder naming who has the port) when it fails.
  static std::unique_ptr<PpdevPortIo> Open(Sys& sys, const std::string& path, int* error,
                                           std::string* holder = nullptr);
  // Releases the claim and closes the device.
  ~PpdevPortIo() override;
  PpdevPortIo(const PpdevPortIo&) = delete;
  PpdevPortIo& operator=(const PpdevPortIo&) = delete;

  // Claims the port for a command, never by waiting on another holder for long: the claim
  // request sleeps until the port is free and, while it sleeps, every other ppdev user's
  // requests wait too. 0 when claimed (or already), port_error::kPortHeld with holder()
  // naming the holder, or an errno value (also when the device could not be opened again
  // after a claim that gave up; the next claim tries again).
  int ClaimCode();
  // The same, with the reason in words.
  bool Claim(std::string* error) override;
  // Lets other drivers and programs have the port; the kernel keeps its lines as they are.
  void Release() override;
  bool claimed() const { return claimed_; }
  // Who held the port when the last claim gave up ("lp0", "ppdev0"), as the kernel names it.
  const std::string& holder() const { return holder_; }

  // A failing request throws LinkError: the command in progress ends with its message.
  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;

  // Whether the kernel's modes list TRISTATE.
  std::optional<bool> ReadsData(std::string* why) override;
  // What the kernel says: PPGETMODES, or the port's modes file where ppdev lacks it.
  std::optional<std::string> Modes() override;

  const std::string& path() const { return path_; }

  // What the ECR shadow answers before anything was written: byte mode with the FIFO empty,
  // the state the kernel puts an ECP port in when it is claimed.
  static constexpr uint8_t kEcrAtClaim = 0x35;
  // How long a claim looks for the port to come free, in polls of kPollMs; then how long
  // the claim request itself may sleep.
  static constexpr int kPolls = 30, kPollMs = 20, kClaimLimitMs = 500;

 private:
  PpdevPortIo(Sys& sys, int fd, std::string path, int flags)
      : sys_(sys), fd_(fd), path_(std::move(path)), flags_(flags) {}
  void Request(unsigned long request, void* arg, const char* what);
  // A file of the port's /proc/sys/dev/parport/parportN directory, trimmed; empty when it
  // cannot be read.
  std::string PortFile(const std::string& entry);
  // The kernel's name for the device that holds the port, "none" when free, empty when
  // unknown.
  std::string ActiveDevice() { return PortFile("devices/active"); }
  // Opens the device again; 0 or an errno value, fd_ -1 then.
  int Reopen();

  Sys& sys_;
  int fd_;  // -1 after a reopen that failed
  std::string path_;
  int flags_;
  bool claimed_ = false;
  std::string holder_;
  bool reverse_ = false;      // data lines are inputs (PPDATADIR)
  int control_ = -1;          // last control lines written (bits 0-3), -1 unknown
  uint8_t ecr_ = kEcrAtClaim;
};

// Finds the ppdev device of the port at `base` through /proc/sys/dev/parport/*/base-addr.
// 0 and *path on success, else an errno value or port_error::kNoPortAtBase / kNoPort.
int FindPpdevDevice(Sys& sys, uint16_t base, std::string* path);

// What to tell the user when `holder` (the kernel's name) has the port at `path`.
std::string PortInUseText(const std::string& path, const std::string& holder);

}  // namespace corvane
