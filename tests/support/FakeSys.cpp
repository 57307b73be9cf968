#include "support/FakeSys.h"

#include <linux/parport.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <cstring>

#include "link/Text.h"

namespace corvane::testing {

namespace {
int Next(std::deque<int>& queue) {
  if (queue.empty()) return 0;
  const int v = queue.front();
  queue.pop_front();
  return v;
}
}  // namespace

std::string RequestName(unsigned long request) {
  switch (request) {
    case PPCLAIM: return "PPCLAIM";
    case PPRELEASE: return "PPRELEASE";
    case PPEXCL: return "PPEXCL";
    case PPRDATA: return "PPRDATA";
    case PPWDATA: return "PPWDATA";
    case PPRSTATUS: return "PPRSTATUS";
    case PPRCONTROL: return "PPRCONTROL";
    case PPWCONTROL: return "PPWCONTROL";
    case PPDATADIR: return "PPDATADIR";
    case PPSETMODE: return "PPSETMODE";
    case PPGETMODES: return "PPGETMODES";
    default: return "request " + Hex(static_cast<uint32_t>(request), 8);
  }
}

std::vector<std::string> FakeSys::CallsWith(const std::string& word) const {
  std::vector<std::string> out;
  for (const std::string& c : calls) {
    if (c.find(word) != std::string::npos) out.push_back(c);
  }
  return out;
}

int FakeSys::Open(const std::string& path, int) {
  int e = Next(openErrors[path]);
  if (e == 0 && !devices.count(path)) e = ENOENT;
  if (e != 0) {
    calls.push_back("open " + path + " -> error " + std::to_string(e));
    return -e;
  }
  const int fd = nextFd_++;
  openFds.insert(fd);
  calls.push_back("open " + path + " -> " + std::to_string(fd));
  return fd;
}

int FakeSys::Close(int fd) {
  calls.push_back("close " + std::to_string(fd));
  return openFds.erase(fd) ? 0 : -EBADF;
}

int FakeSys::Ioctl(int fd, unsigned long request, void* arg) {
  const std::string name = RequestName(request);
  std::string line = "ioctl " + std::to_string(fd) + " " + name;
  if (!openFds.count(fd)) {
    calls.push_back(line + " on a closed descriptor");
    return -EBADF;
  }
  const int e = Next(ioctlErrors[name]);
  auto* byte = static_cast<unsigned char*>(arg);
  auto* word = static_cast<int*>(arg);
  switch (request) {
    case PPWDATA:
    case PPWCONTROL:
      line += " " + Hex(*byte, 2);
      break;
    case PPDATADIR:
      line += " " + std::to_string(*word);
      break;
    case PPSETMODE:
      line += *word == IEEE1284_MODE_BYTE     ? " BYTE"
              : *word == IEEE1284_MODE_COMPAT ? " COMPAT"
                                              : " mode " + std::to_string(*word);
      break;
    default:
      break;
  }
  if (e != 0) {
    calls.push_back(line + " -> error " + std::to_string(e));
    return -e;
  }
  switch (request) {
    case PPRDATA: *byte = data; break;
    case PPRSTATUS: *byte = status; break;
    case PPRCONTROL: *byte = control; break;
    case PPWDATA: data = *byte; break;
    case PPWCONTROL: control = *byte; break;
    case PPGETMODES: *static_cast<unsigned int*>(arg) = modes; break;
    default: break;
  }
  calls.push_back(line);
  return 0;
}

int FakeSys::IoctlWithin(int fd, unsigned long request, void* arg, int timeoutMs) {
  const int r = Ioctl(fd, request, arg);
  calls.back() += " within " + std::to_string(timeoutMs) + " ms";
  return r;
}

void FakeSys::Sleep(int milliseconds) { calls.push_back("sleep " + std::to_string(milliseconds)); }

int FakeSys::Ioperm(unsigned long from, unsigned long count, bool on) {
  const int e = on ? Next(iopermErrors) : 0;
  calls.push_back("ioperm " + Hex(static_cast<uint32_t>(from), 3) + " " + std::to_string(count) +
                  (on ? " on" : " off") + (e ? " -> error " + std::to_string(e) : ""));
  return -e;
}

uint8_t FakeSys::Inb(uint16_t port) {
  calls.push_back("inb " + Hex(port, 3));
  switch (port) {
    case 0x378: return (control & 0x20) && tristates ? lines : data;
    case 0x379: return status;
    case 0x37A: return control;
    case 0x77A: return ecr;
    default: return 0xFF;
  }
}

void FakeSys::Outb(uint16_t port, uint8_t value) {
  calls.push_back("outb " + Hex(port, 3) + " " + Hex(value, 2));
  if (port == 0x378) data = value;
  if (port == 0x37A) control = value;
  if (port == 0x77A) ecr = value;
}

int FakeSys::ReadFile(const std::string& path, std::string* text) {
  calls.push_back("read " + path);
  if (auto u = unreadable.find(path); u != unreadable.end()) return -u->second;
  if (path == "/proc/sys/dev/parport/parport0/devices/active" && !active.empty()) {
    *text = active.front() + "\n";
    if (active.size() > 1) active.pop_front();
    return 0;
  }
  auto f = files.find(path);
  if (f == files.end()) return -ENOENT;
  *text = f->second;
  return 0;
}

int FakeSys::ListDirectory(const std::string& path, std::vector<std::string>* names) {
  calls.push_back("list " + path);
  auto d = dirs.find(path);
  if (d == dirs.end()) return -ENOENT;
  *names = d->second;
  return 0;
}

bool FakeSys::Exists(const std::string& path) {
  return devices.count(path) || files.count(path) || dirs.count(path);
}

int FakeSys::Run(const std::vector<std::string>& argv) {
  std::string line = "run";
  for (const std::string& a : argv) line += " " + a;
  calls.push_back(line);
  const int r = Next(runResults);
  if (r == 0 && onRun) onRun(argv);
  return r;
}

std::string FakeSys::ErrorText(int error) {
  auto t = errorTexts.find(error);
  return t != errorTexts.end() ? t->second : std::string(std::strerror(error));
}

void FakeSys::LoadedWithPortAt378() {
  files["/proc/devices"] = "Character devices:\n  1 mem\n  6 lp\n 99 ppdev\n";
  dirs["/proc/sys/dev/parport"] = {"default", "parport0"};
  files["/proc/sys/dev/parport/parport0/base-addr"] = "888\t1912\n";
  devices.insert("/dev/parport0");
}

void FakeSys::NotLoaded() { files["/proc/devices"] = "Character devices:\n  1 mem\n  4 tty\n"; }

}  // namespace corvane::testing
