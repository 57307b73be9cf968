#pragma once
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "station/WordCommands.h"
#include "target/Profiles.h"
#include "target/Session.h"

namespace corvane {

// Every command of the window's menus and the shell's verbs.
enum class CommandId {
  WriteFirmware,
  WriteDataArea,
  ReadFirmware,
  ReadDataArea,
  ReadSignature,
  VerifyFirmware,
  ReadEeprom,
  WriteEeprom,
  LinkTest,
  RamDump6071,
  RamDump6072,
  RamDumpBCT13,
  RamDumpDSI185,
  RamDumpTVNbox,
  Poke,
  Peek,
  Script,
  SaveDecoder,
  RestoreDecoder,
};

// What a command's FILE is (a folder: a whole decoder's files).
enum class FileUse { None, Input, Output, Folder };

// What a command takes besides the session (the file comes through the host's dialogs).
struct CommandArgs {
  int rounds = 1000;                // link test
  std::vector<ScriptStep> steps;    // poke, peek, script
  bool connect = false;             // poke, peek, script: a command's opening and closing
  std::ostream* out = nullptr;      // where peeks print
};

// One command: its names in the shell and in the window, what it needs, who offers it and
// what runs it. The front ends build their verbs, menus, help and model listing from these.
struct CommandRow {
  CommandId id;
  const char* verb;      // the shell's verb; the Ram menu's dumps share "ramdump"
  const char* region;    // ramdump: the region's name ("6071"); else null
  const char* operands;  // for the shell's help and messages: "FILE", "ADDRESS VALUE"
  const char* help;      // the shell's description; a line feed starts its second line
  const char* menu;      // the window's menu ("Flash1"); null: the shell only
  int group;             // the window puts a separator between two groups of a menu
  const char* item;      // the window's menu item ("WriteFirmware1"), its handler + "Click"
  const char* caption;   // "&Write Firmware"
  FileUse file;
  bool writes;           // changes the decoder's flash, data area or EEPROM
  bool (*offered)(Model model);
  void (*run)(Session& session, const CommandArgs& args);
};

std::span<const CommandRow> CommandTable();
const CommandRow& CommandOf(CommandId id);
// Whether the model offers the command: the window greys out what it does not, the shell
// refuses it, and `models` lists it.
bool Offered(CommandId id, Model model);
// The rows of one shell verb (the five ramdump rows share one).
std::vector<const CommandRow*> RowsOfVerb(std::string_view verb);

}  // namespace corvane
