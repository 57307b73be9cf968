#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/Sys.h"

namespace corvane::testing {

// A scripted system: a small file tree for /proc, /sys and /etc, device opens and ioctls
// that answer from a script, and a log of every call in a readable form
// ("open /dev/parport0 -> 3", "ioctl 3 PPWCONTROL 07", "run pkexec modprobe ppdev").
class FakeSys : public Sys {
 public:
  // Files and directories; a path in neither does not exist (ENOENT).
  std::map<std::string, std::string> files;
  std::map<std::string, int> unreadable;  // path -> errno
  std::map<std::string, std::vector<std::string>> dirs;
  std::set<std::string> devices;          // device nodes that Exists() and Open() find

  // Scripted failures, consumed in order; an empty queue succeeds.
  std::map<std::string, std::deque<int>> openErrors;          // path -> errno
  std::map<std::string, std::deque<int>> ioctlErrors;         // request name -> errno
  std::deque<int> iopermErrors;
  std::deque<int> runResults;                                 // exit status or -errno; empty: 0
  std::function<void(const std::vector<std::string>&)> onRun; // what the program did
  // The port's holder as /proc/sys/dev/parport/parport0/devices/active names it, one value
  // per read (the last one stays); empty: the file is missing.
  std::deque<std::string> active;

  // Registers behind ppdev and inb/outb. With the direction bit (control 0x20) set, a port
  // that tristates reads `lines` at 0x378, one that cannot its latch.
  uint8_t data = 0x00, status = 0x78, control = 0x0C, ecr = 0x15, lines = 0xFF;
  bool tristates = true;
  // What PPGETMODES answers: PCSPP, TRISTATE, EPP, ECP, COMPAT.
  unsigned int modes = 0x1F;

  // errno -> text; others: strerror.
  std::map<int, std::string> errorTexts;

  std::vector<std::string> calls;
  std::set<int> openFds;

  // The calls that name one of these words.
  std::vector<std::string> CallsWith(const std::string& word) const;

  int Open(const std::string& path, int flags) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* arg) override;
  // Logged with the bound; a scripted EINTR stands for a request that slept to the limit.
  int IoctlWithin(int fd, unsigned long request, void* arg, int timeoutMs) override;
  void Sleep(int milliseconds) override;
  int Ioperm(unsigned long from, unsigned long count, bool on) override;
  uint8_t Inb(uint16_t port) override;
  void Outb(uint16_t port, uint8_t value) override;
  int ReadFile(const std::string& path, std::string* text) override;
  int ListDirectory(const std::string& path, std::vector<std::string>* names) override;
  bool Exists(const std::string& path) override;
  int Run(const std::vector<std::string>& argv) override;
  std::string ErrorText(int error) override;

  // A machine with ppdev loaded and one port: parport0 at 0x378.
  void LoadedWithPortAt378();
  // ppdev not in /proc/devices.
  void NotLoaded();

 private:
  int nextFd_ = 3;
};

// The name of a ppdev request, as FakeSys logs it.
std::string RequestName(unsigned long request);

}  // namespace corvane::testing
