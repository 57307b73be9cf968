#include "app/Commands.h"

#include "eeprom/EepromCommands.h"
#include "flash/Signature.h"
#include "target/LinkTest.h"
#include "transfer/DataArea.h"
#include "transfer/Firmware.h"
#include "transfer/RamDump.h"

void RunRealCommand(WindowCommand command, corvane::Session& s) {
  using corvane::RamDumpKind;
  switch (command) {
    case WindowCommand::WriteFirmware: return corvane::WriteFirmware(s);
    case WindowCommand::WriteDataArea: return corvane::WriteDataArea(s);
    case WindowCommand::ReadFirmware: return corvane::ReadFirmware(s);
    case WindowCommand::ReadDataArea: return corvane::ReadDataArea(s);
    case WindowCommand::ReadSignature: return corvane::ReadSignature(s);
    case WindowCommand::ReadEeprom: return corvane::ReadEeprom(s);
    case WindowCommand::WriteEeprom: return corvane::WriteEeprom(s);
    case WindowCommand::RamDump6071: return corvane::RamDump(s, RamDumpKind::Dump6071);
    case WindowCommand::RamDump6072: return corvane::RamDump(s, RamDumpKind::Dump6072);
    case WindowCommand::RamDumpBCT13: return corvane::RamDump(s, RamDumpKind::BCT13);
    case WindowCommand::RamDumpDSI185: return corvane::RamDump(s, RamDumpKind::DSI185);
    case WindowCommand::RamDumpTVNbox: return corvane::RamDump(s, RamDumpKind::TVNbox);
    case WindowCommand::VerifyFirmware: return corvane::VerifyFirmware(s);
    case WindowCommand::LinkTest: return corvane::LinkTest(s, corvane::kLinkTestRounds);
  }
}
