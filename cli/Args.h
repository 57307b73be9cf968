#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "station/CommandTable.h"
#include "station/TargetOptions.h"
#include "target/Profiles.h"

namespace corvane::cli {

struct CliOptions {
  TargetOptions target;
  ProfileSnapshot profile;
  std::optional<bool> answer;  // --yes / --no
  bool verify = true;
  bool fullWrite = false;
  bool stats = false;
  bool quiet = false;
  bool verbose = false;  // --verbose: the estimate's and the comparison's figures on stderr
  bool json = false;     // --json: events on standard output, text on standard error
  bool connect = false;
  // Back up before a write: nothing = --no-backup, "" = a new file beside the firmware log.
  std::optional<std::string> backup = std::string();
  int rounds = 1000;  // link-test

  bool help = false;        // --help, help
  bool version = false;     // --version
  bool models = false;      // models
  bool modelGiven = false;  // --model: without it a write is refused, and others say the model
  CommandId command = CommandId::ReadSignature;
  std::string file;  // the command's FILE (script: "-" is standard input)
  uint32_t address = 0;
  uint32_t value = 0;
};

// The options, or the one-line reason of a usage error (without the program's name).
using ParsedArgs = std::variant<CliOptions, std::string>;

// args without the program name.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

// --help: every option and command on a line of its own.
std::string UsageText();

// What a technician needs of a model, for `models`.
struct ModelFacts {
  const Profile* profile;
  uint32_t flashBase, flashBytes;
  uint32_t dataStart, dataBytes;  // 0 bytes: no data area
  bool dataInFlash;               // the flash's first sectors, written with the firmware
  uint32_t eepromBytes;
  std::vector<std::string> verbs;  // the shell's verbs it offers, in the table's order
};
std::vector<ModelFacts> AllModelFacts();

// The `models` table: one row per model, then the verbs every model offers.
std::string ModelsTable();

// Whether the command line asks for --json, even when it is otherwise wrong: a usage error
// is then an event too.
bool WantsJson(const std::vector<std::string>& args);

}  // namespace corvane::cli
