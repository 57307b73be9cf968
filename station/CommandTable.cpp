#include "station/CommandTable.h"

#include "station/DecoderFolder.h"

#include <iostream>

#include "eeprom/EepromCommands.h"
#include "flash/FlashModels.h"
#include "flash/Signature.h"
#include "target/LinkTest.h"
#include "transfer/DataArea.h"
#include "transfer/Firmware.h"
#include "transfer/RamDump.h"

namespace corvane {

namespace {

bool Always(Model) { return true; }
bool SignatureOffered(Model m) { return FlashModelOf(m).commanded; }
// Only where something is moved: a loader writes it, or there is a region to read.
bool WriteDataAreaOffered(Model m) { return ProfileOf(m).dataArea.loader != nullptr; }
bool ReadDataAreaOffered(Model m) { return ProfileOf(m).dataArea.readBytes != 0; }

template <void (*Command)(Session&)>
void Plain(Session& s, const CommandArgs&) {
  Command(s);
}

template <const char* Name>
void Dump(Session& s, const CommandArgs&) {
  if (const RamRegion* region = RamRegionNamed(Name)) RamDump(s, *region);
}

constexpr char k6071[] = "6071", k6072[] = "6072", kBct13[] = "BCT13", kDsi185[] = "DSI185",
               kTvnbox[] = "TVNbox";

void RunLinkTest(Session& s, const CommandArgs& a) { LinkTest(s, a.rounds); }
void RunPokePeek(Session& s, const CommandArgs& a) {
  RunWords(s, a.steps, a.connect, false, a.out ? *a.out : std::cout);
}
void RunScript(Session& s, const CommandArgs& a) {
  RunWords(s, a.steps, a.connect, true, a.out ? *a.out : std::cout);
}

using F = FileUse;

// clang-format off
constexpr CommandRow kCommands[] = {
  {CommandId::WriteFirmware, "write-firmware", nullptr, "FILE", "write the image FILE (only the sectors that differ)",
   "Flash1", 0, "WriteFirmware1", "&Write Firmware", F::Input, true, Always, Plain<WriteFirmware>},
  {CommandId::WriteDataArea, "write-data-area", nullptr, "FILE", "write FILE into the data area",
   "Flash1", 0, "WriteDataArea1", "Write &Data Area", F::Input, true, WriteDataAreaOffered,
   Plain<WriteDataArea>},
  {CommandId::ReadFirmware, "read-firmware", nullptr, "FILE", "save the whole flash to FILE",
   "Flash1", 1, "ReadFirmware1", "&Read Firmware", F::Output, false, Always, Plain<ReadFirmware>},
  {CommandId::ReadDataArea, "read-data-area", nullptr, "FILE", "save the data area to FILE",
   "Flash1", 1, "ReadDataArea1", "Read Data &Area", F::Output, false, ReadDataAreaOffered,
   Plain<ReadDataArea>},
  {CommandId::ReadSignature, "read-signature", nullptr, "", "show the maker and type of the flash",
   "Flash1", 1, "ReadSignature1", "Read &Signature", F::None, false, SignatureOffered,
   Plain<ReadSignature>},
  {CommandId::VerifyFirmware, "verify-firmware", nullptr, "FILE", "compare the flash with FILE; change nothing",
   "Flash1", 1, "VerifyFirmware1", "Verify &Firmware...", F::Input, false, Always, Plain<VerifyFirmware>},
  {CommandId::ReadEeprom, "read-eeprom", nullptr, "FILE", "save the serial EEPROM to FILE",
   "Eeprom1", 0, "Read1", "&Read eeprom", F::Output, false, Always, Plain<ReadEeprom>},
  {CommandId::WriteEeprom, "write-eeprom", nullptr, "FILE", "write FILE into the serial EEPROM",
   "Eeprom1", 0, "Write1", "&Write eeprom", F::Input, true, Always, Plain<WriteEeprom>},
  {CommandId::LinkTest, "link-test", nullptr, "[ROUNDS]",
   "connect and write/read a RAM word ROUNDS times (1000):\ntells a bad cable from a bad "
   "decoder, measures the port",
   "Debug1", 0, "LinkTest1", "Link Test", F::None, false, Always, RunLinkTest},
  {CommandId::RamDump6071, "ramdump", k6071, "NAME FILE", "save a fixed memory region to FILE",
   "Ram1", 0, "Ramdump60711", "Ramdump 6071", F::Output, false, Always, Dump<k6071>},
  {CommandId::RamDump6072, "ramdump", k6072, "NAME FILE", "save a fixed memory region to FILE",
   "Ram1", 0, "Ramdump60721", "Ramdump 6072", F::Output, false, Always, Dump<k6072>},
  {CommandId::RamDumpBCT13, "ramdump", kBct13, "NAME FILE", "save a fixed memory region to FILE",
   "Ram1", 0, "RamdumpBCT131", "Ramdump BCT13", F::Output, false, Always, Dump<kBct13>},
  {CommandId::RamDumpDSI185, "ramdump", kDsi185, "NAME FILE", "save a fixed memory region to FILE",
   "Ram1", 0, "RamdumpDSI1851", "Ramdump DSI185", F::Output, false, Always, Dump<kDsi185>},
  {CommandId::RamDumpTVNbox, "ramdump", kTvnbox, "NAME FILE", "save a fixed memory region to FILE",
   "Ram1", 0, "RamdumpTVNbox1", "Ramdump TVNbox", F::Output, false, Always, Dump<kTvnbox>},
  {CommandId::Poke, "poke", nullptr, "ADDRESS VALUE", "write one word (hexadecimal, 1 to 8 digits)",
   nullptr, 0, nullptr, nullptr, F::None, false, Always, RunPokePeek},
  {CommandId::Peek, "peek", nullptr, "ADDRESS", "read one word and print it",
   nullptr, 0, nullptr, nullptr, F::None, false, Always, RunPokePeek},
  {CommandId::Script, "script", nullptr, "FILE|-", "run poke, peek and sleep lines from FILE or standard input",
   nullptr, 0, nullptr, nullptr, F::None, false, Always, RunScript},
  {CommandId::SaveDecoder, "save-decoder", nullptr, "DIR",
   "save the firmware, data area and EEPROM into the new folder DIR,\nwith a manifest of their sizes and SHA-256",
   "Flash1", 2, "SaveDecoder1", "Save De&coder...", F::Folder, false, Always, Plain<SaveDecoder>},
  {CommandId::RestoreDecoder, "restore-decoder", nullptr, "DIR",
   "check DIR against its manifest and the decoder, then write back\nwhat differs and verify it",
   "Flash1", 2, "RestoreDecoder1", "Res&tore Decoder...", F::Folder, true, Always,
   Plain<RestoreDecoder>},
};
// clang-format on

constexpr bool RowsInIdOrder() {
  for (size_t i = 0; i < std::size(kCommands); ++i) {
    if (static_cast<size_t>(kCommands[i].id) != i) return false;
  }
  return true;
}
static_assert(RowsInIdOrder(), "one row per command, in the order of CommandId");

}  // namespace

std::span<const CommandRow> CommandTable() { return kCommands; }

const CommandRow& CommandOf(CommandId id) { return kCommands[static_cast<size_t>(id)]; }

bool Offered(CommandId id, Model model) { return CommandOf(id).offered(model); }

std::vector<const CommandRow*> RowsOfVerb(std::string_view verb) {
  std::vector<const CommandRow*> rows;
  for (const CommandRow& row : kCommands) {
    if (verb == row.verb) rows.push_back(&row);
  }
  return rows;
}

}  // namespace corvane
