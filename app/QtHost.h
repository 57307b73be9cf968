#pragma once
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "target/Host.h"

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
  // Where the dialog opens next time: the folder of the last chosen file.
  QString InitialDir;

 private:
  corvane::Dialog kind_;
};

// "Binary file (*.bin) | *.BIN" -> "Binary file (*.bin *.BIN)"; pairs become ";;"-separated
// entries. Both cases of every pattern are listed because Linux dialogs match case-sensitively
// where the classic ones did not.
QString QtFilterFromClassic(const std::string& classic);

// The window as the commands see it. Status and progress calls only store the latest values;
// the widgets are updated, painted and the event queue run at most kFrameUs apart, so a
// transfer's per-word calls stay cheap.
class QtHost final : public QObject, public corvane::Host {
  Q_OBJECT
 public:
  static constexpr int64_t kFrameUs = 33'333;  // about 30 updates a second

  QtHost(QWidget* window, QWidget* statusBar, QLabel* statusPanel, QProgressBar* progress,
         TFileDialog* openDialog, TFileDialog* saveDialog);

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

  int ProgressMinimum() const { return progressMin_; }
  int ProgressMaximum() const { return progressMax_; }
  int ProgressPosition() const { return progressPos_; }

  // Puts the latest status and progress on the screen now.
  void Flush();

  // What became of the user's request to stop the running command.
  enum class AbortState { None, Requested, Asked, Confirmed, Declined };
  // Escape or closing the window: AbortRequested returns true once after this.
  void RequestAbort();
  AbortState abortState() const { return abortState_; }
  void ResetAbort() { abortState_ = AbortState::None; }

  // Microseconds on a steady clock; tests drive the throttle with their own.
  void SetTimeSource(std::function<int64_t()> now) { now_ = std::move(now); }

  // Unattended runs (the benchmark): the file dialogs are answered by this instead of
  // being shown. Unset for users.
  using DialogAnswer = std::function<std::optional<std::string>(corvane::Dialog)>;
  void SetDialogAnswer(DialogAnswer answer) { dialogAnswer_ = std::move(answer); }

 private:
  bool Due();
  void Paint();
  TFileDialog* DialogObject(corvane::Dialog dialog) const;

  QWidget* window_;
  QWidget* statusBar_;
  QLabel* statusPanel_;
  QProgressBar* progress_;
  TFileDialog* openDialog_;
  TFileDialog* saveDialog_;

  std::string status_;
  bool statusDirty_ = false;
  int progressMin_ = 0, progressMax_ = 0, progressPos_ = 0;
  bool progressDirty_ = false;

  std::function<int64_t()> now_;
  DialogAnswer dialogAnswer_;
  int64_t nextFrame_ = 0;
  bool eventsOwed_ = false;  // Repaint took this frame; the next ProcessMessages runs events
  AbortState abortState_ = AbortState::None;
};
