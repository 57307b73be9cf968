#include "station/Runner.h"

#include <exception>

#include "link/Text.h"
#include "target/LinkCost.h"

namespace corvane {

RunResult RunOne(Backend& backend, Host& host, const RunRequest& r) {
  RunResult result;
  const Model model = r.profile.model;
  if (!backend.Begin(model, &result.beginError)) return result;
  result.begun = true;

  Session session{backend.link(), backend.ee(), host, r.profile, backend.loaderDir(model),
                  r.logDir};
  session.verifyAfterWrite = r.verify;
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
  backend.End(&result.endError);
  return result;
}

}  // namespace corvane
