#include "transfer/FirmwareLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "target/Files.h"

namespace corvane {

namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

FirmwareLog::~FirmwareLog() {
  if (file_ != nullptr) std::fclose(file_);
}

std::unique_ptr<FirmwareLog> FirmwareLog::CreateLog(const std::string& path,
                                                    std::string* error) {
  std::string file = path;
  if (IsFolder(path)) file = (path.empty() || path.back() == '/' ? path : path + "/") + kLogFileName;
  // Never through a link: one planted under the log's name would aim the log at any file.
  const int fd =
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
  std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (f == nullptr) {
    const int e = errno;
    if (fd >= 0) ::close(fd);
    struct stat st;
    const bool link = e == ELOOP && ::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (error) {
      *error = "Cannot create the firmware log " + file + ": " +
               (link ? "it is a symbolic link, and the log is never written through one"
                     : std::strerror(e));
    }
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

std::string LogPath(const Session& session) { return LogPathFrom(session.logDir); }

std::string LogPathFrom(const std::string& logDir) {
  if (!logDir.empty()) return logDir;
  // Not beside the executable even when it is writable: installed in /usr/bin, a root run
  // would leave logs and megabytes of backups among the system's programs.
  return UserDataFolder();  // CreateLog reports it if it could not be made
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

WriteLogScope::~WriteLogScope() {
  if (!log_) return;
  log_->OnFirstFailure(nullptr);  // no box while the command unwinds
  log_->WriteLog("Stopped " + LocalDateTime());
  session_.LogFile = nullptr;
}

bool WriteLogScope::Open() {
  std::string error;
  log_ = FirmwareLog::CreateLog(LogPath(session_), &error);
  if (log_) {
    log_->WriteLog("Firmware log file " + LocalDateTime());
    if (log_->failed()) {
      error = "Cannot write the firmware log " + log_->path() + ": " + log_->failure();
      log_.reset();
    }
  }
  if (!log_) {
    session_.host.MessageBox(MessageKind::Error, error + ". Nothing was written to the decoder.",
                             Buttons::Ok);
    return false;
  }
  // Said when it happens, once: the write goes on, but its record is incomplete.
  log_->OnFirstFailure([this] {
    session_.host.MessageBox(MessageKind::Warning,
                             "Cannot write the firmware log " + log_->path() + ": " +
                                 log_->failure() +
                                 ". The write goes on; the log will miss what follows.",
                             Buttons::Ok);
  });
  session_.LogFile = log_.get();
  return true;
}

void WriteLogScope::Line(const std::string& text) {
  if (log_) log_->WriteLog(text);
}

void WriteLogScope::Finish() {
  if (!log_) return;
  log_->WriteLog("Done " + LocalDateTime());
  session_.LogFile = nullptr;
  log_.reset();
}

}  // namespace corvane
