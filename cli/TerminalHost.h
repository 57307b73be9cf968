#pragma once
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "target/Host.h"
#include "target/TimeLeft.h"

namespace corvane::cli {

class JsonEvents;

// The shell's side of a command: messages are printed, questions answered from the
// options or asked on the terminal, the dialog returns the path from the command line.
class TerminalHost final : public Host {
 public:
  struct Settings {
    std::optional<bool> answer;   // --yes / --no
    bool stdinIsTty = false;      // questions may be asked
    bool stderrIsTty = false;     // the progress line may be drawn
    bool quiet = false;           // --quiet: no progress line
    std::optional<std::string> path;  // what either dialog returns
    // Wall time in microseconds for throttling the progress line; steady clock when empty.
    std::function<int64_t()> now;
    // --json: where the run's events go as well (out is then standard error).
    JsonEvents* events = nullptr;
    // Standard output when the command's results go there and not to out (--json): watched
    // for loss as out is.
    std::ostream* data = nullptr;
  };

  TerminalHost(std::ostream& out, std::ostream& err, std::istream& in, Settings settings);
  ~TerminalHost() override;

  void SetStatus(const std::string& text) override;
  std::string Status() const override { return status_; }
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPosition(int position) override;
  void Repaint() override { Refresh(); }
  void ProcessMessages() override { Refresh(); }
  Answer MessageBox(MessageKind kind, const std::string& text, Buttons buttons) override;
  std::string DialogFilter(Dialog dialog) const override;
  void SetDialogFilter(Dialog dialog, const std::string& filter) override;
  std::optional<std::string> RunDialog(Dialog dialog) override;
  bool AbortRequested() override;
  // The shell asks nothing: a bench script runs on; the estimate is the command's first line.
  Answer AnnounceDuration(const std::string& text, bool ask) override;
  void SetTimeBudget(int64_t phaseUs, Clock* clock, int64_t afterUs = 0) override;
  void SetTimeAfter(int64_t afterUs) override { timeLeft_.SetAfter(afterUs); }
  void SetPhase(const std::string& name, int sharePercent) override;
  void FileWritten(const std::string& path) override;

  // Removes the progress line, if one is shown.
  void Finish();

  bool errorShown() const { return errorShown_; }
  // The user pressed Ctrl-C (or sent SIGTERM or SIGHUP), or standard output was lost, and
  // the command agreed to stop.
  bool stoppedByUser() const { return stoppedByUser_; }
  // Stopped by the user, not by a lost output: exit status 3.
  bool stoppedBySignal() const { return stoppedByUser_ && !outputLost_; }
  // What stopped it: "stopped by Ctrl-C", "stopped by SIGTERM", ...
  std::string stoppedText() const;
  // Standard output could not be written (a closed pipe, a full disk).
  bool outputLost() const { return outputLost_; }
  // The line last drawn (without the carriage return), for tests.
  const std::string& progressLine() const { return line_; }
  int progressDraws() const { return draws_; }

  // At most this many progress-line refreshes per second.
  static constexpr int kRefreshPerSecond = 10;

 private:
  void Refresh();
  void Draw(bool force);
  void ClearLine();
  std::string Compose() const;
  std::optional<int> Percent() const;
  Answer Ask(const std::string& text);

  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  Settings settings_;
  std::string status_;
  int minimum_ = 0, maximum_ = 0, position_ = 0;
  std::string openFilter_ = kRestingFilter, saveFilter_ = kRestingFilter;
  bool lineShown_ = false;
  std::string line_;
  int draws_ = 0;
  int64_t nextDraw_ = INT64_MIN;
  bool abortPending_ = false;
  bool errorShown_ = false;
  bool stoppedByUser_ = false;
  int stopSignal_ = 0;
  bool outputLost_ = false;
  Clock* budgetClock_ = nullptr;  // set while a time budget runs
  TimeLeft timeLeft_;             // on budgetClock_
};

// Ctrl-C while installed asks the running command to stop between words (the command's
// own Yes/No question is then answered Yes); a second Ctrl-C before the command noticed
// the first ends the program at once.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// Wall time in µs: the progress line's and the progress events' pace.
int64_t SteadyMicroseconds();

// The stop signal received since the last call (SIGINT, SIGTERM, SIGHUP), or 0.
int TakeInterrupt();
// "stopped by Ctrl-C", "stopped by SIGTERM", "stopped by SIGHUP, the terminal was closed".
std::string StoppedText(int signo);

}  // namespace corvane::cli
