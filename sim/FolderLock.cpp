#include "sim/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace corvane::sim {

namespace {

// Who holds the lock, from the pid the holder wrote into the file.
std::string Holder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  size_t digits = 0;
  while (n > 0 && digits < static_cast<size_t>(n) && text[digits] >= '0' && text[digits] <= '9') {
    ++digits;
  }
  if (digits == 0) return "another process";
  return "pid " + std::string(text, digits);
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder, int waitMs,
                                             std::string* holder, std::string* error) {
  std::string scratchHolder, scratchError;
  if (!holder) holder = &scratchHolder;
  if (!error) error = &scratchError;
  holder->clear();
  const std::string path = folder + "/.lock";
  auto fail = [&](const std::string& what) -> std::unique_ptr<FolderLock> {
    *error = path + ": " + what + " (" + std::strerror(errno) + ")";
    return nullptr;
  };
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);  // the first command on a new decoder
  // O_NOFOLLOW: a link planted as .lock is refused, not followed to some other file.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return fail("cannot be opened");
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = path + " is not a file";
    return nullptr;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      const int saved = errno;
      ::close(fd);
      errno = saved;
      return fail("cannot be locked");
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      *holder = Holder(fd);
      ::close(fd);
      return nullptr;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        deadline - now, std::chrono::milliseconds(10)));
  }
  // Only for the message of whoever waits; the lock holds without it (on a full disk a
  // waiter names "another process").
  const std::string pid = std::to_string(::getpid()) + "\n";
  const bool written = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) > 0;
  static_cast<void>(written);
  return std::unique_ptr<FolderLock>(new FolderLock(fd, path));
}

// Closing the only descriptor of the open file releases the flock.
FolderLock::~FolderLock() { ::close(fd_); }

}  // namespace corvane::sim
