#include "link/Sys.h"

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
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

  int IoctlWithin(int fd, unsigned long request, void* arg, int timeoutMs) override {
    return CallWithin(timeoutMs, [&] { return ::ioctl(fd, request, arg) < 0 ? -errno : 0; });
  }

  void Sleep(int milliseconds) override {
    timespec t {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
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

int CallWithin(int timeoutMs, const std::function<int()>& call) {
  // A timer aimed at this thread alone interrupts the sleeping call. Its handler does
  // nothing and is installed without SA_RESTART, so the call returns EINTR. The timer fires
  // again every few milliseconds in case the first signal came just before the call went to
  // sleep.
  const int signal = SIGRTMIN + 3;
  struct sigaction quiet {}, saved {};
  quiet.sa_handler = [](int) {};
  sigemptyset(&quiet.sa_mask);
  if (::sigaction(signal, &quiet, &saved) != 0) return -errno;
  sigset_t only, mask;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, &mask);
  sigevent event {};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = signal;
  event._sigev_un._tid = ::gettid();
  timer_t timer {};
  int r = 0;
  if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) {
    r = -errno;
  } else {
    itimerspec when {};
    when.it_value.tv_sec = timeoutMs / 1000;
    when.it_value.tv_nsec = (timeoutMs % 1000) * 1000000L + 1;
    when.it_interval.tv_nsec = 5 * 1000000L;
    ::timer_settime(timer, 0, &when, nullptr);
    r = call();
    ::timer_delete(timer);
  }
  // A signal still pending must not meet the default action, which ends the process.
  ::pthread_sigmask(SIG_BLOCK, &only, nullptr);
  const timespec none {};
  while (::sigtimedwait(&only, nullptr, &none) == signal) {
  }
  ::sigaction(signal, &saved, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  return r;
}

Sys& SystemSys() {
  static RealSys sys;
  return sys;
}

}  // namespace corvane
