#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/Station.h"
#include "target/Profiles.h"
#include "transfer/RamDump.h"

namespace corvane::cli {

enum class Verb {
  Help,
  Models,
  WriteFirmware,
  ReadFirmware,
  WriteDataArea,
  ReadDataArea,
  ReadSignature,
  ReadEeprom,
  WriteEeprom,
  RamDump,
  Poke,
  Peek,
  Script,
  VerifyFirmware,
  LinkTest,
};

struct CliOptions {
  TargetOptions target;
  ProfileSnapshot profile;
  std::optional<bool> answer;  // --yes / --no
  bool verify = true;
  bool stats = false;
  bool quiet = false;
  bool connect = false;
  // Back up before a write: nothing = --no-backup, "" = a new file beside the firmware log.
  std::optional<std::string> backup = std::string();
  int rounds = 1000;  // link-test

  Verb verb = Verb::Help;
  std::string file;  // the command's FILE (script: "-" is standard input)
  RamDumpKind ramdump = RamDumpKind::BCT13;
  uint32_t address = 0;
  uint32_t value = 0;
};

// The options, or the one-line reason of a usage error (without the program's name).
using ParsedArgs = std::variant<CliOptions, std::string>;

// args without the program name.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

// --help: every option on one line.
std::string UsageText();

// Whether the model offers the command: the window greys out what it does not, and the
// shell refuses it as a usage error, as it does the data-area commands that have nothing to
// move for the model.
bool CommandOffered(const Profile& profile, Verb verb);

// One script line: poke, peek or sleep.
struct ScriptStep {
  enum Kind { Poke, Peek, Sleep } kind;
  uint32_t address = 0;
  uint32_t value = 0;  // poke: the word; sleep: milliseconds
  int line = 0;
};
using ParsedScript = std::variant<std::vector<ScriptStep>, std::string>;

// The whole script, or "line N: reason" for the first bad line.
ParsedScript ParseScript(const std::string& text);

}  // namespace corvane::cli
