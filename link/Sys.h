#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane {

// The system calls behind real port access. Everything that touches the kernel goes
// through here so that every branch of the start-up can be scripted without a port.
// Calls that can fail return a negative errno value when they do.
class Sys {
 public:
  virtual ~Sys() = default;

  // A file descriptor, or -errno.
  virtual int Open(const std::string& path, int flags) = 0;
  virtual int Close(int fd) = 0;
  // 0 (or the request's non-negative result), or -errno.
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  // The same for a request that may sleep in the kernel: interrupted after timeoutMs,
  // then -EINTR.
  virtual int IoctlWithin(int fd, unsigned long request, void* arg, int timeoutMs) = 0;
  // Blocks the calling thread.
  virtual void Sleep(int milliseconds) = 0;

  // ioperm(2); 0 or -errno.
  virtual int Ioperm(unsigned long from, unsigned long count, bool on) = 0;
  virtual uint8_t Inb(uint16_t port) = 0;
  virtual void Outb(uint16_t port, uint8_t value) = 0;

  // A whole text file (/proc, /sys, /etc); 0 or -errno.
  virtual int ReadFile(const std::string& path, std::string* text) = 0;
  // Entry names of a directory without "." and ".."; 0 or -errno.
  virtual int ListDirectory(const std::string& path, std::vector<std::string>* names) = 0;
  virtual bool Exists(const std::string& path) = 0;

  // Runs a program (found on PATH) and waits for it: its exit status, 128 + signal when it
  // was killed, or -errno when it could not be started.
  virtual int Run(const std::vector<std::string>& argv) = 0;

  // The system's text for an errno value (strerror).
  virtual std::string ErrorText(int error) = 0;
};

// The real system.
Sys& SystemSys();

// Runs call (which returns 0 or -errno) and interrupts it with a signal if it is still
// sleeping in the kernel after timeoutMs; a call interrupted so returns -EINTR.
int CallWithin(int timeoutMs, const std::function<int()>& call);

// Codes of our own beside errno values (which stay far below these), for the states the
// start-up tells apart; Driver::SystemErrorText has a text for each.
namespace port_error {
inline constexpr int kDisabled = 1058;       // ppdev blacklisted, or refused by the kernel
inline constexpr int kNotInstalled = 1060;   // ppdev not loaded
inline constexpr int kLoadFailed = 1070;     // modprobe could not load ppdev
inline constexpr int kPortHeld = 1071;       // another driver holds the port, even for PPEXCL
inline constexpr int kNoPortAtBase = 1072;   // ports exist, none at 0x378
inline constexpr int kNoPort = 1073;         // no parallel port at all
inline constexpr int kNoAdminPrompt = 1074;  // pkexec is not installed
inline constexpr int kNotAuthorised = 1075;  // pkexec refused to run modprobe for us
}  // namespace port_error

}  // namespace corvane
