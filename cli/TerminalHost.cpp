#include "cli/TerminalHost.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <istream>
#include <ostream>

#include "cli/JsonEvents.h"
#include "link/Clock.h"
#include "link/Text.h"
#include "target/LinkCost.h"

namespace corvane::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;  // the signal, 0: none

extern "C" void OnInterrupt(int signo) {
  if (g_interrupted) {
    // The command has not reached a point where it can stop; the user insists.
    std::signal(signo, SIG_DFL);
    std::raise(signo);
    return;
  }
  g_interrupted = signo;
}

// Ctrl-C, a closed terminal and a plain kill all stop a transfer between words, so the
// temporary output file is removed and the port handed back.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

// A terminal line that does not wrap, so "\r" can redraw it.
constexpr size_t kLineWidth = 79;

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

// A message box's text as terminal lines: CR LF and lone CR become line feeds.
std::string AsLines(const std::string& text) {
  std::string lines;
  lines.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      lines += '\n';
    } else {
      lines += text[i];
    }
  }
  return lines;
}

}  // namespace

int64_t SteadyMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read or write that blocks (a terminal question, a slow pipe) ends with
  // EINTR, so one Ctrl-C is enough.
  action.sa_flags = 0;
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &action, &g_previous[i]);
}

InterruptGuard::~InterruptGuard() {
  for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
  g_interrupted = 0;
}

int TakeInterrupt() {
  const int signo = g_interrupted;
  g_interrupted = 0;
  return signo;
}

namespace {
std::string SignalName(int signo) {
  switch (signo) {
    case SIGINT: return "Ctrl-C";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP, the terminal was closed";
    default: return "signal " + std::to_string(signo);
  }
}
}  // namespace

std::string StoppedText(int signo) { return "stopped by " + SignalName(signo); }

std::string TerminalHost::stoppedText() const {
  return outputLost_ ? "stopped: standard output could not be written" : StoppedText(stopSignal_);
}

TerminalHost::TerminalHost(std::ostream& out, std::ostream& err, std::istream& in,
                           Settings settings)
    : out_(out), err_(err), in_(in), settings_(std::move(settings)) {
  if (!settings_.now) settings_.now = SteadyMicroseconds;
  if (settings_.quiet) settings_.stderrIsTty = false;
}

TerminalHost::~TerminalHost() { Finish(); }

void TerminalHost::SetStatus(const std::string& text) {
  status_ = text;
  // An empty status ends the command's display.
  if (text.empty()) ClearLine();
}

void TerminalHost::SetProgressRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
}

void TerminalHost::SetProgressPosition(int position) { position_ = position; }

std::optional<int> TerminalHost::Percent() const {
  if (maximum_ <= minimum_) return std::nullopt;
  const int64_t percent = (int64_t{position_} - minimum_) * 100 / (int64_t{maximum_} - minimum_);
  return static_cast<int>(std::clamp<int64_t>(percent, 0, 100));
}

std::string TerminalHost::Compose() const {
  // The line lives as long as the status text: commands clear it when they end.
  if (status_.empty()) return "";
  std::string line = status_;
  if (const auto percent = Percent()) line += "  " + std::to_string(*percent) + "%";
  if (budgetClock_) {
    line += "  " + DurationText(timeLeft_.Left(budgetClock_->Now(), minimum_, maximum_, position_)) +
            " left";
  }
  for (char& c : line) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  if (line.size() > kLineWidth) line.resize(kLineWidth);
  return line;
}

void TerminalHost::Refresh() {
  Draw(false);
  JsonEvents* events = settings_.events;
  if (!events || status_.empty() || !events->ProgressDue()) return;
  std::optional<int64_t> left;
  if (budgetClock_) left = timeLeft_.Left(budgetClock_->Now(), minimum_, maximum_, position_);
  events->Progress(Percent(), left, status_);
}

void TerminalHost::Draw(bool force) {
  if (!settings_.stderrIsTty) return;
  const int64_t now = settings_.now();
  if (!force && now < nextDraw_) return;
  nextDraw_ = now + 1000000 / kRefreshPerSecond;
  std::string line = Compose();
  if (line.empty()) {
    ClearLine();
    return;
  }
  if (lineShown_ && line == line_) return;
  err_ << '\r' << line << "\x1b[K" << std::flush;
  line_ = std::move(line);
  lineShown_ = true;
  ++draws_;
}

void TerminalHost::ClearLine() {
  if (!lineShown_) return;
  err_ << "\r\x1b[K" << std::flush;
  lineShown_ = false;
  // The next status shows at once, not a refresh period later.
  nextDraw_ = INT64_MIN;
}

void TerminalHost::Finish() { ClearLine(); }

Answer TerminalHost::AnnounceDuration(const std::string& text, bool) {
  if (settings_.events) settings_.events->Announce(text);
  ClearLine();
  out_ << AsLines(text) << '\n' << std::flush;
  return Answer::Yes;
}

void TerminalHost::SetTimeBudget(int64_t phaseUs, Clock* clock, int64_t afterUs) {
  budgetClock_ = clock;
  if (clock) {
    if (settings_.events) settings_.events->Budget(phaseUs + afterUs);
    timeLeft_.Start(clock->Now(), phaseUs, afterUs);
  } else {
    timeLeft_.Stop();
  }
}

void TerminalHost::SetPhase(const std::string& name, int sharePercent) {
  if (settings_.events) settings_.events->Phase(name, sharePercent);
}

void TerminalHost::FileWritten(const std::string& path) {
  if (settings_.events) settings_.events->FileWritten(path);
}

Answer TerminalHost::MessageBox(MessageKind kind, const std::string& text, Buttons buttons) {
  ClearLine();
  if (buttons == Buttons::YesNo) {
    const Answer answer = Ask(text);
    if (settings_.events) settings_.events->Question(text, answer == Answer::Yes);
    return answer;
  }
  if (settings_.events) {
    settings_.events->Message(kind == MessageKind::Error     ? "error"
                              : kind == MessageKind::Warning ? "warning"
                                                             : "information",
                              text);
  }
  if (kind == MessageKind::Error) {
    errorShown_ = true;
    err_ << AsLines(text) << '\n' << std::flush;
  } else {
    out_ << AsLines(text) << '\n' << std::flush;
  }
  return Answer::Ok;
}

Answer TerminalHost::Ask(const std::string& text) {
  out_ << AsLines(text) << '\n';
  Answer answer = Answer::No;
  if (abortPending_) {
    // Ctrl-C (or a lost standard output) was the answer to the stop question before it was
    // asked.
    abortPending_ = false;
    stoppedByUser_ = true;
    out_ << "[y/N] y (" << (outputLost_ ? "standard output lost" : SignalName(stopSignal_)) << ")\n";
    answer = Answer::Yes;
  } else if (settings_.answer) {
    answer = *settings_.answer ? Answer::Yes : Answer::No;
    out_ << (*settings_.answer ? "[y/N] y (--yes)\n" : "[y/N] n (--no)\n");
  } else if (settings_.stdinIsTty) {
    out_ << "[y/N] " << std::flush;
    std::string reply;
    if (!std::getline(in_, reply)) out_ << '\n';
    reply = Trim(reply);
    answer = EqualsNoCase(reply, "y") || EqualsNoCase(reply, "yes") ? Answer::Yes : Answer::No;
  } else {
    out_ << "[y/N] n (no terminal to ask; --yes answers Yes)\n";
  }
  out_ << std::flush;
  return answer;
}

std::string TerminalHost::DialogFilter(Dialog dialog) const {
  return dialog == Dialog::Open ? openFilter_ : saveFilter_;
}

void TerminalHost::SetDialogFilter(Dialog dialog, const std::string& filter) {
  (dialog == Dialog::Open ? openFilter_ : saveFilter_) = filter;
}

// The user named the file on the command line; naming an existing one is the consent
// that the window's replace question would ask for.
std::optional<std::string> TerminalHost::RunDialog(Dialog) { return settings_.path; }

bool TerminalHost::AbortRequested() {
  // Output nobody can read any more is as good as a Ctrl-C: the command stops cleanly.
  if (!outputLost_ && (!out_ || (settings_.data && !*settings_.data))) outputLost_ = true;
  if (outputLost_ && !abortPending_ && !stoppedByUser_) {
    abortPending_ = true;
    return true;
  }
  const int signo = TakeInterrupt();
  if (signo == 0) return false;
  stopSignal_ = signo;
  abortPending_ = true;
  return true;
}

}  // namespace corvane::cli
