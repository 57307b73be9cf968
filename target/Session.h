#pragma once
#include <optional>
#include <string>
#include <vector>

#include "link/corvane.h"
#include "target/Host.h"
#include "target/LinkCost.h"
#include "target/Profiles.h"

namespace corvane {

class EeBus;

// Where the flash engine and the transfers write their log lines: the firmware log while a
// write runs.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void WriteLog(const std::string& text) = 0;
};

// Everything one command works with. Front ends build it when the command starts;
// the profile is a snapshot, so clicks during the command do not reach it.
struct Session {
  Link& link;
  EeBus& ee;
  Host& host;
  ProfileSnapshot profile;

  // Folder that holds the loader files (beside the executable, or the virtual decoder's).
  std::string loaderDir;
  // Folder for "Firmware.log" and the backups; empty: the user's data folder.
  std::string logDir;
  // Read back what a write put into the decoder.
  bool verifyAfterWrite = true;

  // The open firmware log while a write runs.
  LogSink* LogFile = nullptr;
  // Save what a write will overwrite before erasing: nothing = no backup, "" = a file
  // named by model and time in the log's folder, else that file.
  std::optional<std::string> backup = std::nullopt;
  // What a poke and a peek cost on this port, for time estimates; where a link test keeps
  // its measurement (empty: nowhere).
  LinkCost linkCost = {};
  std::string linkCostPath = {};
  // Details a command leaves for the shell's --stats (one line each).
  std::vector<std::string> details = {};
  // Reads that a read of the same word did not confirm: bits the link flipped.
  uint64_t linkNoise = 0;
  // What a write's read-back compared and found as written, in bytes.
  uint64_t verifiedBytes = 0;
  // The shell's words for this decoder and port ("corvane-cli --simulate vd --model TS1"),
  // for the commands a message tells the user to run.
  std::string shellCommand = "corvane-cli";
  // Erase and program the whole flash even where it already holds the image.
  bool fullWrite = false;
  // The running command's estimated time, for the phases' shares (0: none given).
  int64_t plannedUs = 0;
  // A write that failed or was stopped after changing the decoder: the backup that puts
  // back what it held (empty: none), for the front end to offer.
  std::string restoreFrom = {};

  Clock& clock() { return link.clock(); }
  Model model() const { return profile.model; }
  const Profile& profileRow() const { return profile.profile(); }
  // A line for the firmware log, when one is open.
  void Log(const std::string& text) {
    if (LogFile) LogFile->WriteLog(text);
  }
  // Asks the user when they pressed Escape or closed the window; throws AbortError on Yes.
  void CheckAbort(const std::string& question);
  // A word the link may have corrupted, taken once two reads agree (first is a read already
  // made, if any); nothing when no two of kAgreeReads reads do. The reads that disagreed
  // count as link noise unless the word may change by itself (a chip's toggling status).
  std::optional<uint32_t> PeekAgreed(uint32_t address, std::optional<uint32_t> first = {},
                                     bool countNoise = true);
  static constexpr int kAgreeReads = 8;
};

// Measures a stretch of nothing but peeks (a read, a backup, a read-back): what it cost
// becomes the session's link cost for the rest of the command, and is kept where the link
// test keeps its own for the next commands. Every command that reads so learns the port.
class ReadMeter {
 public:
  explicit ReadMeter(Session& session);
  ~ReadMeter() { Finish(); }
  ReadMeter(const ReadMeter&) = delete;
  ReadMeter& operator=(const ReadMeter&) = delete;
  // Takes the measurement once; true when the stretch was long enough to change the cost.
  bool Finish();

 private:
  Session& session_;
  uint64_t accesses_, peeks_;
  int64_t start_;
  bool done_ = false;
};

// Runs a command body: a dead link or an abort ends it with one clear message after the
// body's guards have closed what it opened.
template <class Body>
void RunCommand(Session& session, Body&& body);

}  // namespace corvane

#include "target/Session.inl"
