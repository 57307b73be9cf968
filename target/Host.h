#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace corvane {

class Clock;

enum class MessageKind { Error, Information, Confirmation, Warning };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };
enum class Dialog { Open, Save };

// A dialog filter in the window's classic form, "VAR2a files (*.dvb)|*.DVB".
inline constexpr const char* kRestingFilter = "VAR2a files (*.dvb)|*.DVB";

// The commands' only view of the user. QtHost is the window, TerminalHost the shell,
// ScriptedHost the tests.
class Host {
 public:
  virtual ~Host() = default;

  // Status bar panel 0.
  virtual void SetStatus(const std::string& text) = 0;
  virtual std::string Status() const = 0;
  // The progress bar in panel 1.
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  // Show the latest status and progress now.
  virtual void Repaint() = 0;
  // Let the user act between words; cheap to call once per word.
  virtual void ProcessMessages() = 0;
  virtual Answer MessageBox(MessageKind kind, const std::string& text, Buttons buttons) = 0;

  // The window's two file dialogs, each with its own filter that commands change for
  // their duration.
  virtual std::string DialogFilter(Dialog dialog) const = 0;
  virtual void SetDialogFilter(Dialog dialog, const std::string& filter) = 0;
  // Shows the dialog; the chosen path, or nothing when the user cancels. The save dialog
  // confirms before it returns an existing file.
  virtual std::optional<std::string> RunDialog(Dialog dialog) = 0;

  // True once after the user asked to stop the running command (Escape, closing the window).
  virtual bool AbortRequested() = 0;

  // Before a long command starts its work: how long it will take. With ask, the window
  // asks whether to go on (Yes/No); the shell prints the text as its first line and goes on.
  virtual Answer AnnounceDuration(const std::string& text, bool ask) {
    (void)text;
    (void)ask;
    return Answer::Yes;
  }
  // While it runs, at the start of each phase: the time the estimate gives the phase and
  // everything after it, measured on clock, for a time-left display that follows the
  // phase's progress (TimeLeft); a null clock ends the display.
  virtual void SetTimeBudget(int64_t phaseUs, Clock* clock, int64_t afterUs = 0) {
    (void)phaseUs;
    (void)clock;
    (void)afterUs;
  }
  // Within a phase: what comes after it, as the phase has learnt it so far.
  virtual void SetTimeAfter(int64_t afterUs) { (void)afterUs; }
  // The phase a long command enters ("back-up", "erase", "write", "read-back", ...) and its
  // share of the command's estimated time, in percent; "" when the command has no phases
  // left (it ended).
  virtual void SetPhase(const std::string& name, int sharePercent) {
    (void)name;
    (void)sharePercent;
  }
  // A file the command has just published under its final name (an output, a backup).
  virtual void FileWritten(const std::string& path) { (void)path; }
};

// Passes everything to another host: the base of the hosts that change one thing on the
// way (hold the completion, feed a file to a dialog, watch the time left).
class ForwardingHost : public Host {
 public:
  explicit ForwardingHost(Host& inner) : inner_(inner) {}
  void SetStatus(const std::string& text) override { inner_.SetStatus(text); }
  std::string Status() const override { return inner_.Status(); }
  void SetProgressRange(int minimum, int maximum) override {
    inner_.SetProgressRange(minimum, maximum);
  }
  void SetProgressPosition(int position) override { inner_.SetProgressPosition(position); }
  void Repaint() override { inner_.Repaint(); }
  void ProcessMessages() override { inner_.ProcessMessages(); }
  Answer MessageBox(MessageKind kind, const std::string& text, Buttons buttons) override {
    return inner_.MessageBox(kind, text, buttons);
  }
  std::string DialogFilter(Dialog dialog) const override { return inner_.DialogFilter(dialog); }
  void SetDialogFilter(Dialog dialog, const std::string& filter) override {
    inner_.SetDialogFilter(dialog, filter);
  }
  std::optional<std::string> RunDialog(Dialog dialog) override { return inner_.RunDialog(dialog); }
  bool AbortRequested() override { return inner_.AbortRequested(); }
  Answer AnnounceDuration(const std::string& text, bool ask) override {
    return inner_.AnnounceDuration(text, ask);
  }
  void SetTimeBudget(int64_t phaseUs, Clock* clock, int64_t afterUs = 0) override {
    inner_.SetTimeBudget(phaseUs, clock, afterUs);
  }
  void SetTimeAfter(int64_t afterUs) override { inner_.SetTimeAfter(afterUs); }
  void SetPhase(const std::string& name, int sharePercent) override {
    inner_.SetPhase(name, sharePercent);
  }
  void FileWritten(const std::string& path) override { inner_.FileWritten(path); }

 protected:
  Host& inner_;
};

// Thrown by a command that the user chose to stop; the command's closing still runs.
class AbortError : public std::runtime_error {
 public:
  AbortError() : std::runtime_error("aborted") {}
};

// Puts a dialog's filter back on every path out of a command.
class FilterGuard {
 public:
  FilterGuard(Host& host, Dialog dialog, const std::string& filter)
      : host_(host), dialog_(dialog), saved_(host.DialogFilter(dialog)) {
    host_.SetDialogFilter(dialog_, filter);
  }
  ~FilterGuard() { host_.SetDialogFilter(dialog_, saved_); }
  FilterGuard(const FilterGuard&) = delete;
  FilterGuard& operator=(const FilterGuard&) = delete;

 private:
  Host& host_;
  Dialog dialog_;
  std::string saved_;
};

}  // namespace corvane
