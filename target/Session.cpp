#include "target/Session.h"

namespace corvane {

void Session::CheckAbort(const std::string& question) {
  if (!host.AbortRequested()) return;
  if (host.MessageBox(MessageKind::Confirmation, question, Buttons::YesNo) == Answer::Yes) {
    throw AbortError();
  }
}

}  // namespace corvane
