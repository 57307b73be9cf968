#include "transfer/FirmwareLog.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace corvane {

namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExecutableFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  const std::string exe(buffer, static_cast<size_t>(n));
  const size_t slash = exe.find_last_of('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : exe.substr(0, slash);
}

// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/') {
      const std::string part = path.substr(0, at);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return IsFolder(path);
}

std::string UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // The XDG rules say a relative value is invalid and must be ignored.
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/corvane";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw != nullptr ? pw->pw_dir : "/tmp";
  }
  return std::string(home) + "/.local/share/corvane";
}

}  // namespace

FirmwareLog::~FirmwareLog() {
  if (file_ != nullptr) std::fclose(file_);
}

std::unique_ptr<FirmwareLog> FirmwareLog::CreateLog(const std::string& path,
                                                    std::string* error) {
  std::string file = path;
  if (IsFolder(path)) file = (path.empty() || path.back() == '/' ? path : path + "/") + kLogFileName;
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) {
    if (error) *error = "Cannot create the firmware log " + file + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<FirmwareLog>(new FirmwareLog(f, file));
}

void FirmwareLog::WriteLog(const std::string& text) {
  // One write per line, flushed at once: the lines written so far survive a crash.
  std::string line;
  line.reserve(text.size() + 2);
  line += text;
  line += "\r\n";
  if (std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
      std::fflush(file_) == 0) {
    return;
  }
  if (failed_) return;
  failed_ = true;
  failure_ = std::strerror(errno);
  if (onFailure_) onFailure_();
}

std::string LogPath(const Session& session) {
  return LogPathFrom(session.logDir, ExecutableFolder());
}

std::string LogPathFrom(const std::string& logDir, const std::string& beside) {
  if (!logDir.empty()) return logDir;
  if (!beside.empty() && ::access(beside.c_str(), W_OK) == 0) return beside;
  const std::string data = UserDataFolder();
  MakeFolders(data);  // CreateLog reports it if this failed
  return data;
}

std::string LocalDateTime() {
  // %x and %X are the locale's date and time forms, the nearest to the short date and long
  // time formats; the front ends call setlocale(LC_ALL, "") so they follow the user.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char buffer[128];
  const size_t n = std::strftime(buffer, sizeof buffer, "%x %X", &local);
  return std::string(buffer, n);
}

}  // namespace corvane
