#include "target/Files.h"

#include <ctime>

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "target/Host.h"

namespace corvane {

namespace {

// A 4 MB image is a million four-byte reads: keep them out of the kernel.
constexpr size_t kBufferSize = size_t{1} << 20;
// Output goes to the disk in pieces small enough that a full disk stops a read early,
// large enough that words do not cost a system call each. A device gets each write as it
// comes: what cannot take a byte says so at the first.
constexpr size_t kWriteBufferSize = size_t{64} << 10;

std::string SystemText(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What an output or an input is when it is not a file; empty for a regular file.

// The mode a new file gets.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// NAME-n.EXT for NAME.EXT, NAME-n for a name without an extension.
std::string Numbered(const std::string& path, int n) {
  if (n < 2) return path;
  const size_t slash = path.find_last_of('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  const std::string suffix = "-" + std::to_string(n);
  if (dot == std::string::npos || dot <= start) return path + suffix;
  return path.substr(0, dot) + suffix + path.substr(dot);
}

// ".corvane-XXXXXX" made new in the open folder: short, so a name of NAME_MAX still has a
// temporary beside it, and exclusive, so nothing planted under that name is ever opened.
int CreateTemporaryAt(int folder, std::string* name) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6];
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
      // No entropy yet, early at boot: O_EXCL still keeps the name ours.
      timespec now{};
      ::clock_gettime(CLOCK_REALTIME, &now);
      uint64_t mix = (static_cast<uint64_t>(now.tv_nsec) * 2654435761u) ^
                     (static_cast<uint64_t>(::getpid()) << 20) ^ static_cast<uint64_t>(attempt);
      for (unsigned char& r : random) r = static_cast<unsigned char>(mix >>= 6);
    }
    std::string candidate = ".corvane-";
    for (unsigned char r : random) candidate += kLetters[r % 62];
    const int fd = ::openat(folder, candidate.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      *name = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

std::string CopyAll(int in, int out) {
  std::vector<char> buffer(kWriteBufferSize);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SystemText(errno);
    if (n == 0) return {};
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return SystemText(errno);
      done += w;
    }
  }
}

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Open(const std::string& path, std::string* error, Taken taken) {
  Discard();
  path_ = given_ = path;
  taken_ = taken;
  number_ = 1;
  failed_ = false;
  emptied_ = false;
  errno_ = 0;
  const auto fail = [&](const std::string& why) {
    if (error) *error = "Cannot create the file " + path + ": " + why;
    Discard();
    return false;
  };
  struct stat st;
  bool exists = ::lstat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return fail(SystemText(errno));
  if (exists && taken == Taken::Refuse) return fail(SystemText(EEXIST));
  while (exists && taken == Taken::Number) {
    path_ = Numbered(given_, ++number_);
    exists = ::lstat(path_.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return fail(SystemText(errno));
  }
  name_ = NameOf(path_);
  if (name_.empty()) return fail(SystemText(EISDIR));
  // A link named as the output is the user's choice: what it points to decides what is done.
  if (exists && S_ISLNK(st.st_mode) && ::stat(path_.c_str(), &st) != 0) {
    return fail(errno == ENOENT ? "it is a symbolic link to a file that does not exist"
                                : SystemText(errno));
  }
  if (exists && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) {
    // A device is written in place: a rename would replace the device node itself.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fail(SystemText(errno));
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
      const int e = errno;
      ::close(fd);
      return fail(SystemText(e));
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
  }
  if (exists && !NotAFile(st.st_mode).empty()) return fail(NotAFile(st.st_mode));
  // Refused as a shell redirect would refuse it, instead of replaced by the rename.
  if (exists && ::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0) {
    return fail(SystemText(errno));
  }
  folder_ = ::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) return fail(SystemText(errno));
  const int fd = CreateTemporaryAt(folder_, &temp_);
  if (fd < 0) return fail(SystemText(errno));
  (void)::fchmod(fd, exists ? st.st_mode & 0777 : NewFileMode());
  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int e = errno;
    ::close(fd);
    return fail(SystemText(e));
  }
  buffer_ = std::make_unique<char[]>(kWriteBufferSize);
  std::setvbuf(file_, buffer_.get(), _IOFBF, kWriteBufferSize);
  return true;
}

void AtomicFile::Write(const uint8_t* data, size_t size) {
  if (file_ == nullptr || failed_) return;
  if (std::fwrite(data, 1, size, file_) != size) {
    failed_ = true;
    errno_ = errno;
  }
}

bool AtomicFile::Commit(std::string* error) {
  if (file_ == nullptr) {
    if (error) *error = "Cannot write the file " + path_ + ": it is not open";
    return false;
  }
  int e = failed_ ? (errno_ != 0 ? errno_ : EIO) : 0;
  if (e == 0 && std::fflush(file_) != 0) e = errno;
  // The old file is replaced only by one that is known to be on the disk.
  if (e == 0 && !temp_.empty() && ::fsync(::fileno(file_)) != 0) e = errno;
  if (std::fclose(file_) != 0 && e == 0) e = errno;
  file_ = nullptr;
  buffer_.reset();
  const std::string why = e != 0 ? SystemText(e) : temp_.empty() ? std::string() : Publish();
  Close();
  if (!why.empty()) {
    if (error) *error = "Cannot write the file " + path_ + ": " + why;
    return false;
  }
  return true;
}

// Renamed within the folder onto the name, never by a path that could lead elsewhere.
std::string AtomicFile::Publish() {
  if (taken_ == Taken::Replace) {
    struct stat st;
    if (::fstatat(folder_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return WriteThrough();
    }
    if (::renameat(folder_, temp_.c_str(), folder_, name_.c_str()) != 0) return SystemText(errno);
    temp_.clear();
    return {};
  }
  for (;;) {
    if (::renameat2(folder_, temp_.c_str(), folder_, name_.c_str(), RENAME_NOREPLACE) == 0) {
      temp_.clear();
      return {};
    }
    int e = errno;
    // Filesystems without RENAME_NOREPLACE: a hard link never replaces a file either.
    if (e == EINVAL || e == ENOSYS || e == EOPNOTSUPP) {
      if (::linkat(folder_, temp_.c_str(), folder_, name_.c_str(), 0) == 0) return {};
      e = errno;
    }
    if (e != EEXIST || taken_ != Taken::Number) return SystemText(e);
    path_ = Numbered(given_, ++number_);
    name_ = NameOf(path_);
  }
}

// The finished bytes are copied into what the link points to, opened through the link, so
// the kernel's protected_symlinks and the file's permissions decide.
std::string AtomicFile::WriteThrough() {
  const int in = ::openat(folder_, temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return SystemText(errno);
  // O_NONBLOCK: a link re-pointed at a FIFO must not block the open.
  const int out =
      ::openat(folder_, name_.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return SystemText(e);
  }
  struct stat st;
  std::string why = ::fstat(out, &st) != 0 ? SystemText(errno) : NotAFile(st.st_mode);
  const bool truncated = why.empty();
  if (truncated) {
    (void)::fcntl(out, F_SETFL, ::fcntl(out, F_GETFL) & ~O_NONBLOCK);
    why = CopyAll(in, out);
    if (why.empty() && ::fsync(out) != 0) why = SystemText(errno);
  }
  if (::close(out) != 0 && why.empty()) why = SystemText(errno);
  ::close(in);
  emptied_ = truncated && !why.empty();
  return why;
}

void AtomicFile::Close() {
  if (!temp_.empty() && folder_ >= 0) ::unlinkat(folder_, temp_.c_str(), 0);
  temp_.clear();
  if (folder_ >= 0) ::close(folder_);
  folder_ = -1;
}

void AtomicFile::Discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  buffer_.reset();
  Close();
}

int CreateTemporaryBeside(const std::string& path, std::string* temp) {
  const std::string folder = FolderOf(path);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  std::string name;
  const int fd = CreateTemporaryAt(dir, &name);
  const int e = errno;
  ::close(dir);
  errno = e;
  if (fd >= 0) *temp = (folder == "/" ? "" : folder) + "/" + name;
  return fd;
}

ImageReader::~ImageReader() { Close(); }

bool ImageReader::Open(const std::string& path, std::string* error) {
  Close();
  const auto fail = [&](const std::string& why) {
    if (error) *error = "Cannot open the file " + path + ": " + why;
    return false;
  };
  // O_NONBLOCK: a FIFO must not block the open; it is refused below like any other non-file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0) {
    const int e = errno;
    // A socket cannot be opened at all.
    if (e == ENXIO && ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
      return fail(NotAFile(st.st_mode));
    }
    return fail(SystemText(e));
  }
  std::string why = ::fstat(fd, &st) != 0 ? SystemText(errno) : NotAFile(st.st_mode);
  if (why.empty() && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    why = SystemText(errno);
  }
  if (why.empty() && (file_ = ::fdopen(fd, "rb")) == nullptr) why = SystemText(errno);
  if (!why.empty()) {
    ::close(fd);
    return fail(why);
  }
  size_ = static_cast<uint64_t>(st.st_size);
  buffer_ = std::make_unique<char[]>(kBufferSize);
  std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferSize);
  return true;
}

bool ImageReader::Read(uint8_t* out, size_t count) {
  if (file_ == nullptr) return false;
  return std::fread(out, 1, count, file_) == count;
}

bool ImageReader::Seek(uint64_t offset) {
  if (file_ == nullptr) return false;
  return ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

void ImageReader::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  buffer_.reset();
  size_ = 0;
}

bool UseFirstPartOf(Host& host, const std::string& what, const std::string& path,
                    uint64_t size, uint64_t used, const std::string& model) {
  if (size <= used) return true;
  const std::string sizes = std::to_string(size) + " bytes, longer than the " +
                            std::to_string(used) + " bytes a " + model + " takes";
  if (host.MessageBox(MessageKind::Confirmation,
                      "The " + what + " " + path + " is " + sizes + ". Use only its first " +
                          std::to_string(used) + " bytes?",
                      Buttons::YesNo) == Answer::Yes) {
    return true;
  }
  host.MessageBox(MessageKind::Error,
                  "Nothing was written to the decoder: the " + what + " " + path + " is " +
                      sizes + ". Check that the file is meant for this model.",
                  Buttons::Ok);
  return false;
}

bool OpenOutput(Host& host, AtomicFile& out, const std::string& path) {
  std::string error;
  if (out.Open(path, &error)) return true;
  host.MessageBox(MessageKind::Error, error + ".", Buttons::Ok);
  return false;
}

bool CommitOutput(Host& host, AtomicFile& out) {
  std::string error;
  if (out.Commit(&error)) {
    host.FileWritten(out.path());
    return true;
  }
  if (out.emptied()) {
    host.MessageBox(MessageKind::Error,
                    error + ". The file that " + out.path() +
                        " links to was emptied first and may now be incomplete.",
                    Buttons::Ok);
    return false;
  }
  host.MessageBox(MessageKind::Error, error + ". An existing file of that name was left as it was.",
                  Buttons::Ok);
  return false;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  const std::string exe(buffer, static_cast<size_t>(n));
  const size_t slash = exe.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : exe.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/') {
      const std::string part = path.substr(0, at);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// $HOME, else the password database's home; empty when neither says.
std::string Home() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  const passwd* pw = ::getpwuid(::getuid());
  return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
}

// The XDG rules say a relative value is invalid and must be ignored.
std::string XdgFolder(const char* variable, const char* fallback) {
  const char* xdg = std::getenv(variable);
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/corvane";
  const std::string home = Home();
  if (home.empty()) return {};
  return home + fallback;
}

}  // namespace

std::string NotAFile(uint32_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return SystemText(EISDIR);
  if (S_ISFIFO(mode)) return "it is a pipe (FIFO), not a file";
  if (S_ISSOCK(mode)) return "it is a socket, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
  return "it is not a file";
}

std::string UserDataFolder() {
  std::string folder = XdgFolder("XDG_DATA_HOME", "/.local/share/corvane");
  // No home at all (no HOME, no passwd entry): the working folder, never a shared one where
  // another user could have made the folder first.
  if (folder.empty()) return ".";
  MakeFolders(folder);  // whoever writes there reports it if this failed
  return folder;
}

std::string UserConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", "/.config/corvane"); }

std::string TimeStamp(const char* format, bool utc) {
  const std::time_t now = std::time(nullptr);
  std::tm when{};
  utc ? gmtime_r(&now, &when) : localtime_r(&now, &when);
  char text[64];
  return std::strftime(text, sizeof text, format, &when) ? text : "";
}

}  // namespace corvane
