#include "station/Runner.h"

#include <exception>
#include <string>
#include <vector>

#include "link/Text.h"
#include "target/LinkCost.h"

namespace corvane {

namespace {

// Holds a command's closing "completed" message until the backend has kept what the
// command did: a virtual flash that cannot be saved must not first be reported written.
class CompletionHold final : public Host {
 public:
  explicit CompletionHold(Host& inner) : inner_(inner) {}
  void SetStatus(const std::string& text) override { inner_.SetStatus(text); }
  std::string Status() const override { return inner_.Status(); }
  void SetProgressRange(int minimum, int maximum) override {
    inner_.SetProgressRange(minimum, maximum);
  }
  void SetProgressPosition(int position) override { inner_.SetProgressPosition(position); }
  void Repaint() override { inner_.Repaint(); }
  void ProcessMessages() override { inner_.ProcessMessages(); }
  Answer MessageBox(MessageKind kind, const std::string& text, Buttons buttons) override {
    if (kind == MessageKind::Information && buttons == Buttons::Ok) {
      held_.push_back(text);
      return Answer::Ok;
    }
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
  void SetTimeBudget(int64_t phaseUs, Clock* clock, int64_t afterUs) override {
    inner_.SetTimeBudget(phaseUs, clock, afterUs);
  }
  void SetTimeAfter(int64_t afterUs) override { inner_.SetTimeAfter(afterUs); }
  void SetPhase(const std::string& name, int sharePercent) override {
    inner_.SetPhase(name, sharePercent);
  }
  void FileWritten(const std::string& path) override { inner_.FileWritten(path); }
  void Release() {
    for (const std::string& text : held_) inner_.MessageBox(MessageKind::Information, text, Buttons::Ok);
    held_.clear();
  }

 private:
  Host& inner_;
  std::vector<std::string> held_;
};

}  // namespace

RunResult RunOne(Backend& backend, Host& outer, const RunRequest& r) {
  RunResult result;
  const Model model = r.profile.model;
  if (!backend.Begin(model, &result.beginError)) return result;
  result.begun = true;
  CompletionHold host(outer);

  Session session{backend.link(), backend.ee(), host, r.profile, backend.loaderDir(model),
                  r.logDir};
  session.verifyAfterWrite = r.verify;
  session.fullWrite = r.fullWrite;
  session.backup = r.backup;
  session.linkCostPath = backend.linkCostPath(model);
  const std::string target = backend.ShellArgs();
  session.shellCommand = "corvane-cli" + (target.empty() ? "" : " " + target) + " --model " +
                         ShellQuoted(r.profile.profile().caption) +
                         (r.profile.reloaded ? " --reloaded" : "");
  LoadLinkCost(session.linkCostPath, &session.linkCost);

  auto run = [&] {
    try {
      if (r.body) {
        RunCommand(session, [&] { r.body(session); });
      } else {
        CommandOf(r.command).run(session, r.args);
      }
    } catch (const std::exception& e) {
      // The command's guards have closed up; the front end must not see it unwind.
      host.MessageBox(MessageKind::Error, e.what(), Buttons::Ok);
    }
  };
  if (r.around) {
    r.around(run);
  } else {
    run();
  }
  result.details = std::move(session.details);
  result.restoreFrom = session.restoreFrom;
  if (backend.End(&result.endError)) host.Release();
  return result;
}

}  // namespace corvane
