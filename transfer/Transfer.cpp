#include "transfer/Transfer.h"

#include "link/Text.h"

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

std::string CompletedText(const Session& s, const std::string& done, const std::string& backup) {
  std::string text = done;
  if (s.verifiedBytes != 0) text += " Read back and verified: " + SizeText(s.verifiedBytes) + ".";
  if (!backup.empty()) text += " What it held before is saved in " + backup + ".";
  if (s.linkNoise != 0) {
    text += " The link corrupted " + std::to_string(s.linkNoise) +
            (s.linkNoise == 1 ? " read" : " reads") +
            ", which were read again; check the cable with the link test (" + s.shellCommand +
            " link-test).";
  }
  return text;
}

}  // namespace corvane
