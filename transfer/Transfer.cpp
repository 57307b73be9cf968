#include "transfer/Transfer.h"

namespace corvane {

void StopTransfer(Session& s, const std::string& reason) {
  s.Log(reason);
  throw TransferError(reason);
}

CommandOpening::CommandOpening(Session& s, Dialog dialog, const char* filter,
                               bool repaintAfterConnect) {
  s.host.SetStatus("Connecting...");
  s.host.Repaint();
  if (!Connect(s)) return;
  status_.emplace(s.host);
  connection_.emplace(s);
  if (repaintAfterConnect) s.host.Repaint();
  filter_.emplace(s.host, dialog, filter);
  path_ = s.host.RunDialog(dialog);
}

std::string CompletedText(const std::string& done, const std::string& backup) {
  if (backup.empty()) return done;
  return done + " What it held before is saved in " + backup + ".";
}

}  // namespace corvane
