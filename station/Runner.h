#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "station/Backend.h"
#include "station/CommandTable.h"
#include "target/Session.h"

namespace corvane {

// One command to run, as a front end asks for it.
struct RunRequest {
  CommandId command = CommandId::ReadSignature;
  ProfileSnapshot profile;
  CommandArgs args;
  bool verify = true;
  // Erase and program the whole flash, even the sectors that already hold the image.
  bool fullWrite = false;
  // Save what a write overwrites first: nothing = no backup, "" = a new file named by
  // model, region and time beside the firmware log, else that file (which must not exist).
  std::optional<std::string> backup = std::string();
  // The firmware log's folder; empty: the user's data folder.
  std::string logDir;
  // Instead of the table row's runner (the Poke/Peek dialog, tests).
  std::function<void(Session&)> body;
  // Around the run (the window keeps its events going and its other commands off).
  std::function<void(const std::function<void()>& run)> around;
};

// What became of it, for the front end to say.
struct RunResult {
  bool begun = false;        // the backend was had for the model
  std::string beginError;    // why not
  std::string endError;      // what the command did could not be kept
  std::vector<std::string> details;  // lines for the shell's --stats
  // A write that failed or was stopped after changing the decoder, and its backup: writing
  // this file with the same command puts back what the decoder held.
  std::string restoreFrom;
};

// The one runner of every command, for the window, the shell and the bench: the backend
// begins for the model, a session is made with the request's choices and the port's
// measured link cost, the command runs, the backend ends. A dead link or a stop request
// ends the command with its message; nothing else unwinds out of it.
RunResult RunOne(Backend& backend, Host& host, const RunRequest& request);

}  // namespace corvane
