#include "link/Sys.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace corvane {

namespace {

class RealSys final : public Sys {
 public:
  int Open(const std::string& path, int flags) override {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
  }

  int Close(int fd) override { return ::close(fd) < 0 ? -errno : 0; }

  int Ioctl(int fd, unsigned long request, void* arg) override {
    const int r = ::ioctl(fd, request, arg);
    return r < 0 ? -errno : r;
  }

  int Ioperm(unsigned long from, unsigned long count, bool on) override {
    return ::ioperm(from, count, on ? 1 : 0) < 0 ? -errno : 0;
  }

  uint8_t Inb(uint16_t port) override { return ::inb(port); }
  void Outb(uint16_t port, uint8_t value) override { ::outb(value, port); }

  int ReadFile(const std::string& path, std::string* text) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    text->clear();
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int e = errno;
        ::close(fd);
        return -e;
      }
      if (n == 0) break;
      text->append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
  }

  int ListDirectory(const std::string& path, std::vector<std::string>* names) override {
    names->clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return -errno;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(dir);
    return 0;
  }

  bool Exists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  int Run(const std::vector<std::string>& argv) override {
    if (argv.empty()) return -EINVAL;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int e = ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
    if (e != 0) return -e;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return -errno;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -ECHILD;
  }

  std::string ErrorText(int error) override {
    char buffer[256];
    // The GNU strerror_r: returns the text, which may or may not be in buffer.
    return ::strerror_r(error, buffer, sizeof buffer);
  }
};

}  // namespace

Sys& SystemSys() {
  static RealSys sys;
  return sys;
}

}  // namespace corvane
