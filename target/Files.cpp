#include "target/Files.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "target/Host.h"

namespace corvane {


namespace {

// A 4 MB image is a million four-byte reads: keep them out of the kernel.
constexpr size_t kBufferSize = size_t{1} << 20;
// Output goes to the disk in pieces small enough that a full disk stops a read early,
// large enough that words do not cost a system call each. A device or a pipe gets each
// write as it comes: what cannot take a byte says so at the first.
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

// Where the bytes must end up: the target of a symbolic link, so the link itself survives.
std::string ResolvedTarget(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

// The mode a newly created file gets, or the mode of the file it replaces.
mode_t ModeFor(const std::string& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Open(const std::string& path, std::string* error) {
  Discard();
  path_ = path;
  failed_ = false;
  errno_ = 0;
  const std::string target = ResolvedTarget(path);
  struct stat st;
  if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    if (error) *error = "Cannot create the file " + path + ": " + SystemText(EISDIR);
    return false;
  }
  if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    // A device or a pipe is written in place: renaming a temporary over it would replace
    // the device node itself.
    file_ = std::fopen(target.c_str(), "wb");
    if (file_ == nullptr) {
      if (error) *error = "Cannot create the file " + path + ": " + SystemText(errno);
      return false;
    }
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
  }
  std::string pattern = FolderOf(target) + "/." + NameOf(target) + ".XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    if (error) *error = "Cannot create the file " + path + ": " + SystemText(errno);
    return false;
  }
  temp_ = pattern;
  // mkstemp makes the file private; give it the mode the user's file would have had.
  (void)::fchmod(fd, ModeFor(target));
  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int e = errno;
    ::close(fd);
    ::unlink(temp_.c_str());
    temp_.clear();
    if (error) *error = "Cannot create the file " + path + ": " + SystemText(e);
    return false;
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
  if (e == 0 && !temp_.empty() && ::rename(temp_.c_str(), ResolvedTarget(path_).c_str()) != 0) e = errno;
  if (e != 0) {
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    if (error) *error = "Cannot write the file " + path_ + ": " + SystemText(e);
    return false;
  }
  temp_.clear();
  return true;
}

void AtomicFile::Discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  buffer_.reset();
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

ImageReader::~ImageReader() { Close(); }

bool ImageReader::Open(const std::string& path, std::string* error) {
  Close();
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    if (error) *error = "Cannot open the file " + path + ": " + SystemText(errno);
    return false;
  }
  struct stat st;
  int e = 0;
  if (::fstat(::fileno(file_), &st) != 0) {
    e = errno;
  } else if (S_ISDIR(st.st_mode)) {
    e = EISDIR;
  }
  if (e != 0) {
    Close();
    if (error) *error = "Cannot open the file " + path + ": " + SystemText(e);
    return false;
  }
  size_ = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
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

bool OpenOutput(Host& host, AtomicFile& out, const std::string& path) {
  std::string error;
  if (out.Open(path, &error)) return true;
  host.MessageBox(MessageKind::Error, error + ".", Buttons::Ok);
  return false;
}

bool CommitOutput(Host& host, AtomicFile& out) {
  std::string error;
  if (out.Commit(&error)) return true;
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

std::string UserDataFolder() {
  std::string folder = XdgFolder("XDG_DATA_HOME", "/.local/share/corvane");
  if (folder.empty()) folder = "/tmp/.local/share/corvane";
  MakeFolders(folder);  // whoever writes there reports it if this failed
  return folder;
}

std::string UserConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", "/.config/corvane"); }

}  // namespace corvane
