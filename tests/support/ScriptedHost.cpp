#include "support/ScriptedHost.h"

namespace corvane::testing {

void ScriptedHost::SetStatus(const std::string& text) {
  status = text;
  if (recordStatusHistory) statusHistory.push_back(text);
}

void ScriptedHost::SetProgressRange(int minimum, int maximum) {
  progressMin = minimum;
  progressMax = maximum;
}

void ScriptedHost::SetProgressPosition(int position) {
  progressPosition = position;
  if (position > maxProgressPosition) maxProgressPosition = position;
}

void ScriptedHost::ProcessMessages() {
  ++processMessagesCalls;
  if (abortAfterMessages != 0 && processMessagesCalls == abortAfterMessages) abortPending_ = true;
  if (!abortAtStatus.empty() && status == abortAtStatus) {
    abortPending_ = true;
    abortAtStatus.clear();
  }
}

Answer ScriptedHost::MessageBox(MessageKind kind, const std::string& text, Buttons buttons) {
  messages.push_back({kind, text, buttons});
  if (buttons == Buttons::Ok) return Answer::Ok;
  if (answers.empty()) return Answer::No;
  const Answer a = answers.front();
  answers.pop_front();
  return a;
}

std::string ScriptedHost::DialogFilter(Dialog dialog) const {
  return dialog == Dialog::Open ? openFilter : saveFilter;
}

void ScriptedHost::SetDialogFilter(Dialog dialog, const std::string& filter) {
  (dialog == Dialog::Open ? openFilter : saveFilter) = filter;
}

std::optional<std::string> ScriptedHost::RunDialog(Dialog dialog) {
  dialogsRun.push_back(dialog);
  dialogFilters.push_back(DialogFilter(dialog));
  if (dialogPaths.empty()) return std::nullopt;
  auto path = dialogPaths.front();
  dialogPaths.pop_front();
  return path;
}

bool ScriptedHost::AbortRequested() {
  const bool pending = abortPending_;
  abortPending_ = false;
  return pending;
}

std::vector<std::string> ScriptedHost::MessageTexts() const {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

}  // namespace corvane::testing
