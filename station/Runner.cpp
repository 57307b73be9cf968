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
class CompletionHold final : public ForwardingHost {
 public:
  using ForwardingHost::ForwardingHost;
  Answer MessageBox(MessageKind kind, const std::string& text, Buttons buttons) override {
    if (kind == MessageKind::Information && buttons == Buttons::Ok) {
      held_.push_back(text);
      return Answer::Ok;
    }
    return inner_.MessageBox(kind, text, buttons);
  }
  void Release() {
    for (const std::string& text : held_) inner_.MessageBox(MessageKind::Information, text, Buttons::Ok);
    held_.clear();
  }

 private:
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
