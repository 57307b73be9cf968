#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/Clock.h"
#include "target/Host.h"
#include "target/TimeLeft.h"

namespace corvane {
class Link;
}

class QLabel;
class QProgressBar;
class QWidget;

// One of the window's file dialogs as an object that lives with the window: the filter is
// kept in the classic "Description|*.EXT" form and converted only when the dialog shows.
class TFileDialog : public QObject {
  Q_OBJECT
 public:
  TFileDialog(corvane::Dialog kind, const QString& name, QObject* parent);
  corvane::Dialog kind() const { return kind_; }
  QString Filter;
  // Where the dialog opens next time: the folder of the last chosen file, kept in the
  // settings for the next start.
  QString InitialDir;
  void Remember(const QString& folder);

 private:
  corvane::Dialog kind_;
};

// "Binary file (*.bin) | *.BIN" -> "Binary file (*.bin *.BIN)"; pairs become ";;"-separated
// entries. Both cases of every pattern are listed because Linux dialogs match case-sensitively
// where the classic ones did not.
QString QtFilterFromClassic(const std::string& classic);

// What the dialog offers for a command's classic filter: its own entries but one of .bin files
// only, which "Images (*.bin)" stands for; then "Images (*.bin)" and "All files (*)". The
// toolkit's own dialog matches without regard to case: "Images (*.bin)" shows IMAGE.BIN too.
QStringList DialogNameFilters(const std::string& classic);

// Line breaking keeps "/2024" or "/.local" together, so a long path can still widen a message
// box. In a word longer than kWrapColumn, a zero-width space after each '/' lets it wrap there.
inline constexpr int kWrapColumn = 60;
QString WithPathBreaks(const QString& text);

// The window as the commands see it. Status and progress calls only store the latest values;
// the widgets are updated, painted and the event queue run at most kFrameUs apart, so a
// transfer's per-word calls stay cheap.
class QtHost final : public QObject, public corvane::Host {
  Q_OBJECT
 public:
  static constexpr int64_t kFrameUs = 33'333;  // about 30 updates a second

  // statusPanel: the commands' status and the phase; timePanel: the time left.
  QtHost(QWidget* window, QWidget* statusBar, QLabel* statusPanel, QLabel* timePanel,
         QProgressBar* progress, TFileDialog* openDialog, TFileDialog* saveDialog);

  void SetStatus(const std::string& text) override;
  std::string Status() const override { return status_; }
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPosition(int position) override;
  void Repaint() override;
  void ProcessMessages() override;
  corvane::Answer MessageBox(corvane::MessageKind kind, const std::string& text,
                             corvane::Buttons buttons) override;
  std::string DialogFilter(corvane::Dialog dialog) const override;
  void SetDialogFilter(corvane::Dialog dialog, const std::string& filter) override;
  std::optional<std::string> RunDialog(corvane::Dialog dialog) override;
  bool AbortRequested() override;
  // A write's estimate is a Yes/No question; a read's shows only as the time left.
  corvane::Answer AnnounceDuration(const std::string& text, bool ask) override;
  // The time left goes into the window's title and, shorter, into the last status panel.
  void SetTimeBudget(int64_t phaseUs, corvane::Clock* clock, int64_t afterUs = 0) override;
  void SetTimeAfter(int64_t afterUs) override { timeLeft_.SetAfter(afterUs); }
  // Shown after the status: "Write: 84 % of the time", shortened as the panel needs.
  void SetPhase(const std::string& name, int sharePercent) override;

  int ProgressMinimum() const { return progressMin_; }
  int ProgressMaximum() const { return progressMax_; }
  int ProgressPosition() const { return progressPos_; }
  // Information boxes with OK shown so far: a write's completion is one.
  int InformationShown() const { return informationShown_; }

  // The next open dialog is not shown: this file is taken as chosen (writing a backup back).
  // Nothing: the dialog shows again.
  void AnswerNextOpen(std::optional<std::string> path) { nextOpen_ = std::move(path); }

  // Puts the latest status and progress into the widgets.
  void Flush();
  // Flush, and paint the status bar at once, whatever the throttle says.
  void ShowNow();
  // Flush, and run the window's pending events at once.
  void ServeEvents();

  // What became of the user's request to stop the running command.
  enum class AbortState { None, Requested, Asked, Confirmed, Declined };
  // Escape (closing = false) or closing the window: AbortRequested returns true once after
  // this. The question it leads to says when Yes also closes the program.
  void RequestAbort(bool closing = false);
  // The window is to close when the command ends: it was asked to, and the user did not
  // take that back by answering No.
  bool closeRequested() const { return closeRequested_; }
  void ResetAbort() {
    abortState_ = AbortState::None;
    closeRequested_ = false;
  }

  // Microseconds on a steady clock; tests drive the throttle with their own.
  void SetTimeSource(std::function<int64_t()> now) { now_ = std::move(now); }

  // Unattended runs (the benchmark): the file dialogs are answered by this instead of
  // being shown. Unset for users.
  using DialogAnswer = std::function<std::optional<std::string>(corvane::Dialog)>;
  void SetDialogAnswer(DialogAnswer answer) { dialogAnswer_ = std::move(answer); }

 private:
  bool Due();
  TFileDialog* DialogObject(corvane::Dialog dialog) const;
  QString StatusLine() const;

  QWidget* window_;
  QWidget* statusBar_;
  QLabel* statusPanel_;
  QLabel* timePanel_;
  QProgressBar* progress_;
  TFileDialog* openDialog_;
  TFileDialog* saveDialog_;

  std::string status_;
  bool statusDirty_ = false;
  std::string phase_;
  int phaseShare_ = 0;
  int progressMin_ = 0, progressMax_ = 0, progressPos_ = 0;
  bool progressDirty_ = false;

  std::function<int64_t()> now_;
  DialogAnswer dialogAnswer_;
  std::optional<std::string> nextOpen_;
  int informationShown_ = 0;
  int64_t nextFrame_ = 0;
  bool eventsOwed_ = false;  // Repaint took this frame; the next ProcessMessages runs events
  AbortState abortState_ = AbortState::None;
  bool closeRequested_ = false;
  corvane::Clock* budgetClock_ = nullptr;
  corvane::TimeLeft timeLeft_;
  QString titleBefore_;
  std::string leftShown_;
};

// The link's clock while the window runs a command. A sleep long enough to be seen (the RAM
// loader's 10 or 15 seconds, the reset pulse) first puts the latest status on the screen,
// then passes in short slices with the window's events run between them, so the window
// repaints and takes Escape or a close meanwhile. The command's sleeps, and so its link
// traffic and its virtual time, stay exactly as they were.
class WindowClock final : public corvane::Clock {
 public:
  static constexpr int64_t kSliceMs = 20;

  // Takes the link's clock for its own lifetime.
  WindowClock(corvane::Link& link, QtHost& host);
  ~WindowClock() override;
  WindowClock(const WindowClock&) = delete;
  WindowClock& operator=(const WindowClock&) = delete;

  void DelayMicroseconds(int64_t n) override { inner_.DelayMicroseconds(n); }
  void SleepMilliseconds(int64_t ms) override;
  int64_t Now() override { return inner_.Now(); }

 private:
  corvane::Link& link_;
  corvane::Clock& inner_;
  QtHost& host_;
};
