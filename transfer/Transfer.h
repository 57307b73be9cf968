#pragma once
#include <optional>
#include <stdexcept>
#include <string>

#include "target/Connection.h"
#include "target/Session.h"

// How a transfer command opens, fails and ends.
namespace corvane {

// A transfer cannot go on (a file failed half-way, the flash refuses a sector, the decoder
// stays silent after its loader): the command stops and says so once.
class TransferError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the reason into the firmware log when one is open, then throws it.
[[noreturn]] void StopTransfer(Session& session, const std::string& reason);

// RunCommand that also turns a TransferError into one error message after the body's
// guards have closed what it opened.
template <class Body>
void RunTransfer(Session& session, Body&& body) {
  RunCommand(session, [&] {
    try {
      body();
    } catch (const TransferError& e) {
      session.host.MessageBox(MessageKind::Error, e.what(), Buttons::Ok);
    }
  });
}

// The common opening of a transfer: "Connecting...", Connect, the guards that close it again
// (filter back, then Disconnect, then progress 0 and status empty) and the file dialog.
// When Connect fails nothing is guarded, so "Connecting..." stays.
class CommandOpening {
 public:
  CommandOpening(Session& s, Dialog dialog, const char* filter, bool repaintAfterConnect);
  // The chosen file; nothing when the decoder did not answer or the user cancelled.
  const std::optional<std::string>& path() const { return path_; }

 private:
  std::optional<StatusGuard> status_;
  std::optional<ConnectionGuard> connection_;
  std::optional<FilterGuard> filter_;
  std::optional<std::string> path_;
};

// "Writing Flash completed." and, after a backup, where the old contents are; when the link
// corrupted reads on the way, that too.
std::string CompletedText(const Session& session, const std::string& done,
                          const std::string& backup);

}  // namespace corvane
