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
  bool connect = false;
  // Back up before a write: nothing = --no-backup, "" = a new file beside the firmware log.
  std::optional<std::string> backup = std::string();
  int rounds = 1000;  // link-test

  bool help = false;    // --help, help
  bool models = false;  // models
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

// The `models` table: each model's profile and what it offers.
std::string ModelsTable();

}  // namespace corvane::cli
