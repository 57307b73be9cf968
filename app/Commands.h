#pragma once
#include <functional>

#include "target/Session.h"

// The link commands of the window's menus.
enum class WindowCommand {
  WriteFirmware,
  WriteDataArea,
  ReadFirmware,
  ReadDataArea,
  ReadSignature,
  ReadEeprom,
  WriteEeprom,
  RamDump6071,
  RamDump6072,
  RamDumpBCT13,
  RamDumpDSI185,
  RamDumpTVNbox,
  VerifyFirmware,
  LinkTest,
};

using CommandRunner = std::function<void(WindowCommand, corvane::Session&)>;

// Runs the real command code, the same the command line runs.
void RunRealCommand(WindowCommand command, corvane::Session& session);
