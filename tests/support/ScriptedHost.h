#pragma once
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "target/Host.h"

namespace corvane::testing {

// A Host that answers from a script and records what the command showed.
class ScriptedHost : public Host {
 public:
  struct Message {
    MessageKind kind;
    std::string text;
    Buttons buttons;
  };

  // Script.
  std::deque<Answer> answers;                          // for YesNo boxes; empty: No
  std::deque<std::optional<std::string>> dialogPaths;  // empty: cancel
  // Request an abort on the n-th ProcessMessages call (1-based); 0: never.
  long abortAfterMessages = 0;
  // Or at the first ProcessMessages call while the status reads this text.
  std::string abortAtStatus;
  // Keep every status text (costly for whole-flash transfers).
  bool recordStatusHistory = false;

  // Record.
  std::vector<Message> messages;
  std::vector<std::string> statusHistory;
  std::vector<std::string> dialogFilters;  // filter in force at each RunDialog
  std::vector<Dialog> dialogsRun;
  std::string status;
  int progressMin = 0, progressMax = 0, progressPosition = 0;
  int maxProgressPosition = 0;
  long processMessagesCalls = 0, repaintCalls = 0;
  std::string openFilter = kRestingFilter, saveFilter = kRestingFilter;

  void SetStatus(const std::string& text) override;
  std::string Status() const override { return status; }
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPosition(int position) override;
  void Repaint() override { ++repaintCalls; }
  void ProcessMessages() override;
  Answer MessageBox(MessageKind kind, const std::string& text, Buttons buttons) override;
  std::string DialogFilter(Dialog dialog) const override;
  void SetDialogFilter(Dialog dialog, const std::string& filter) override;
  std::optional<std::string> RunDialog(Dialog dialog) override;
  bool AbortRequested() override;

  // Texts of the messages, in order.
  std::vector<std::string> MessageTexts() const;

 private:
  bool abortPending_ = false;
};

}  // namespace corvane::testing
