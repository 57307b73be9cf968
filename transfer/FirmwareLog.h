#pragma once
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "target/Session.h"

namespace corvane {

inline constexpr const char* kLogFileName = "Firmware.log";

// "Firmware.log": recreated by every firmware or data-area write; one line per entry,
// each ended by CR LF.
class FirmwareLog final : public LogSink {
 public:
  ~FirmwareLog() override;
  // Creates (empties) the log at path; a path that names a folder gets kLogFileName in it.
  static std::unique_ptr<FirmwareLog> CreateLog(const std::string& path, std::string* error);
  void WriteLog(const std::string& text) override;
  const std::string& path() const { return path_; }
  // A line could not be written (disk full, ...): the log is incomplete.
  bool failed() const { return failed_; }
  // The system's reason for the first line that could not be written.
  const std::string& failure() const { return failure_; }
  // Called once, at the first line that could not be written.
  void OnFirstFailure(std::function<void()> handler) { onFailure_ = std::move(handler); }

 private:
  FirmwareLog(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
  std::FILE* file_;
  std::string path_;
  bool failed_ = false;
  std::string failure_;
  std::function<void()> onFailure_;
};

// The firmware log of one write. Open() creates it with its header and hands it to the
// flash engine through session.LogFile; Finish() writes "Done ". Leaving any other way (an
// abort, a dead link, a file error) writes "Stopped " instead, so the log never claims a
// write that did not run to its end.
class WriteLogScope {
 public:
  explicit WriteLogScope(Session& session) : session_(session) {}
  ~WriteLogScope();
  WriteLogScope(const WriteLogScope&) = delete;
  WriteLogScope& operator=(const WriteLogScope&) = delete;

  // False after an error message when the log cannot be created.
  bool Open();
  void Line(const std::string& text);
  void Finish();

 private:
  Session& session_;
  std::unique_ptr<FirmwareLog> log_;
};

// The log's and the backups' folder: the session's logDir when set, else the user's data
// folder.
std::string LogPath(const Session& session);
// The same choice for a given logDir.
std::string LogPathFrom(const std::string& logDir);
// Local date and time in the locale's short date and long time formats.
std::string LocalDateTime();

}  // namespace corvane
