// Every command against the virtual decoder's faults: each one ends, says exactly what
// happened, lets go of the port, and loses nothing. Faults strike early so the table stays
// quick; at most one whole-image transfer per model.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "eeprom/EepromCommands.h"
#include "flash/Signature.h"
#include "link/corvane.h"
#include "support/SimRig.h"
#include "transfer/DataArea.h"
#include "transfer/Firmware.h"
#include "transfer/RamDump.h"
#include "transfer/TransferTestKit.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::SimRig;

enum class Cmd { WriteFirmware, ReadFirmware, WriteDataArea, ReadDataArea, ReadSignature,
                 ReadEeprom, WriteEeprom, RamDumpTVNbox };

bool Writes(Cmd c) { return c == Cmd::WriteFirmware || c == Cmd::WriteDataArea || c == Cmd::WriteEeprom; }
bool Saves(Cmd c) { return c == Cmd::ReadFirmware || c == Cmd::ReadDataArea || c == Cmd::ReadEeprom || c == Cmd::RamDumpTVNbox; }

void RunCmd(Cmd c, Session& s) {
  switch (c) {
    case Cmd::WriteFirmware: return WriteFirmware(s);
    case Cmd::ReadFirmware: return ReadFirmware(s);
    case Cmd::WriteDataArea: return WriteDataArea(s);
    case Cmd::ReadDataArea: return ReadDataArea(s);
    case Cmd::ReadSignature: return ReadSignature(s);
    case Cmd::ReadEeprom: return ReadEeprom(s);
    case Cmd::WriteEeprom: return WriteEeprom(s);
    case Cmd::RamDumpTVNbox: return RamDump(s, *RamRegionNamed("TVNbox"));
  }
}

// The input a write command reads: erased but for a few words, so the write is quick.
std::vector<uint8_t> InputFor(Cmd c, Model m) {
  size_t size = 0;
  if (c == Cmd::WriteFirmware) {
    size = m == Model::DSX6170 ? 0x400000
           : (m == Model::DSI185 || m == Model::BCT13 || m == Model::DSX6070) ? 0x100000
                                                                                : 0x200000;
  } else if (c == Cmd::WriteDataArea) {
    size = 0x80000;
  } else {
    size = ProfileOf(m).EepromLastAddress + 1;
  }
  std::vector<uint8_t> bytes(size, 0xFF);
  for (size_t i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  return bytes;
}

enum class Log { None, Stopped, Done };

struct FaultCase {
  const char* name;
  Cmd cmd;
  Model model;
  std::string conf = "";  // decoder.conf lines
  std::vector<std::string> messages;
  Log log = Log::None;
  bool saved = false;        // a read command's output is complete under the chosen name
  bool verify = true;
  double maxVirtualSeconds = 5;
  std::vector<Answer> answers = {};
  bool usedFlash = false;  // the flash holds zeros, not erased words
  bool holdsImage = false;  // the loader's copy lands: the flash or data area holds the input
  bool fullDevice = false;  // a read saves to /dev/full, a write logs to it
  bool untouched = false;   // the flash ends as it began
  bool fullWrite = true;    // false: only the sectors that differ from the input are written
};

const std::string kDead = kLinkErrorMessage;
const std::string kNoAdapter = kNoAdapterMessage;
const std::string kStillWriting =
    "It may still be writing: leave it switched on for a few minutes, then read back what it "
    "holds before you try again.";
const std::string kFull =
    "Cannot write the file /dev/full: No space left on device. An existing file of that name "
    "was left as it was.";
const std::string kNoBackup =
    "\nNo backup was made before this write: put back a file saved with Read Firmware before.";
const std::string kMayNotStart = ": the decoder may not start until a complete image is written.";
const std::string kDeadWriting =
    "The decoder stopped answering during the write: check the cable and the decoder's power. "
    "The flash may now be partly erased from ";

class FaultSuite : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultSuite, EndsSaysWhatHappenedLetsGoAndLosesNothing) {
  const FaultCase& c = GetParam();
  SimRig rig(c.model, c.conf);
  if (c.usedFlash) {
    SimRig::WriteFile(rig.decoderDir() + "/flash.bin",
                      std::vector<uint8_t>(SimRig::ReadFile(rig.decoderDir() + "/flash.bin").size()));
    rig.Reopen();
  }
  rig.session.verifyAfterWrite = c.verify;
  rig.session.fullWrite = c.fullWrite;
  for (Answer a : c.answers) rig.host.answers.push_back(a);
  const std::string in = rig.path("in.bin"), out = rig.path("out.bin");
  const std::vector<uint8_t> previous = {'o', 'l', 'd'};
  const bool keepsOut = Saves(c.cmd) && !c.fullDevice;
  if (Writes(c.cmd)) {
    SimRig::WriteFile(in, InputFor(c.cmd, c.model));
    rig.host.dialogPaths.push_back(in);
    if (c.fullDevice) rig.session.logDir = "/dev/full";
  } else if (Saves(c.cmd)) {
    if (keepsOut) SimRig::WriteFile(out, previous);
    rig.host.dialogPaths.push_back(c.fullDevice ? "/dev/full" : out);
  }

  const auto flashBefore = SimRig::ReadFile(rig.decoderDir() + "/flash.bin");
  const auto wallStart = std::chrono::steady_clock::now();
  RunCmd(c.cmd, rig.session);
  const auto wall = std::chrono::steady_clock::now() - wallStart;

  EXPECT_EQ(rig.host.MessageTexts(), c.messages);
  // Bounded: a silent decoder costs about a second per wait, never a hang.
  EXPECT_LT(rig.vd().stats().virtualTimeUs, c.maxVirtualSeconds * 1e6);
  EXPECT_LT(wall, std::chrono::seconds(120));
  EXPECT_TRUE(rig.vd().PortReleased()) << "the port is handed back";
  EXPECT_EQ(rig.host.progressPosition, 0);

  // The folder holds the input, the old or the complete output, the log: no temporaries.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(rig.dir.path())) {
    if (!e.is_directory()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected;
  if (c.log != Log::None) expected.push_back("Firmware.log");
  if (Writes(c.cmd)) expected.push_back("in.bin");
  if (keepsOut) expected.push_back("out.bin");
  EXPECT_EQ(names, expected);
  if (keepsOut) {
    const auto bytes = SimRig::ReadFile(out);
    if (c.saved) EXPECT_GT(bytes.size(), previous.size());
    else EXPECT_EQ(bytes, previous) << "an existing file keeps its contents";
  }
  if (c.holdsImage) {
    ASSERT_TRUE(rig.vd().Save());
    const auto input = SimRig::ReadFile(in);
    const auto held = SimRig::ReadFile(
        rig.decoderDir() + (c.cmd == Cmd::WriteFirmware ? "/flash.bin" : "/data.bin"));
    EXPECT_TRUE(held == input) << "the loader's copy is in place";
  }
  if (c.untouched) {
    ASSERT_TRUE(rig.vd().Save());
    EXPECT_TRUE(SimRig::ReadFile(rig.decoderDir() + "/flash.bin") == flashBefore) << "nothing erased";
  }
  if (c.log != Log::None) {
    const auto lines = testing::kit::LogLines(rig.path("Firmware.log"));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(testing::kit::StartsWith(lines.front(), "Firmware log file "));
    EXPECT_TRUE(testing::kit::StartsWith(lines.back(), c.log == Log::Done ? "Done " : "Stopped "))
        << lines.back();
  }
}

// dead_after_bytes: the set-up pokes take a few hundred bytes, so 600 strikes inside the
// command's transfer; 20 inside Connect.
const std::string kDeadEarly = "dead_after_bytes = 20";
const std::string kDeadLater = "dead_after_bytes = 600";
// No cable: the open lines are recognised at the first byte; pulled at byte 600 inside the
// command's own transfer. Either way within a fraction of a second.
const std::string kUnplugged = "cable = unplugged";
const std::string kPulled = "unplug_after_bytes = 600";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, FaultSuite, ::testing::Values(
    // The adapter goes silent during Connect: one message, nothing asked, nothing opened.
    FaultCase{"DeadAtConnectWriteFirmware", Cmd::WriteFirmware, Model::TS1, kDeadEarly, {kDead}},
    FaultCase{"DeadAtConnectReadFirmware", Cmd::ReadFirmware, Model::TS1, kDeadEarly, {kDead}},
    FaultCase{"DeadAtConnectWriteEeprom", Cmd::WriteEeprom, Model::TS1, kDeadEarly, {kDead}},
    // The adapter goes silent half-way through each command; once an erase has begun, the
    // message says what the flash may hold now.
    FaultCase{"DeadWriteFirmwareChipErase", Cmd::WriteFirmware, Model::TS1, kDeadLater,
              {kDeadWriting + "7FE00000 to 7FFFFFFF" + kMayNotStart + kNoBackup}, Log::Stopped},
    FaultCase{"DeadWriteFirmwareBlocks", Cmd::WriteFirmware, Model::DSI185, kDeadLater,
              {kDeadWriting + "7FF00000 to 7FF07FFF" + kMayNotStart + kNoBackup}, Log::Stopped},
    // Written sector by sector: silent while comparing is before anything is erased, silent
    // later names only the sector erased so far.
    FaultCase{.name = "DeadWriteFirmwareComparing", .cmd = Cmd::WriteFirmware, .model = Model::TS1,
              .conf = kDeadLater, .messages = {kDead}, .untouched = true, .fullWrite = false},
    FaultCase{.name = "DeadWriteFirmwareSector", .cmd = Cmd::WriteFirmware, .model = Model::TS1,
              .conf = "dead_after_bytes = 2584000",
              .messages = {kDeadWriting + "7FE00000 to 7FE07FFF; every other sector holds the image" +
                           kMayNotStart + kNoBackup},
              .log = Log::Stopped, .maxVirtualSeconds = 55, .fullWrite = false},
    FaultCase{"DeadWriteFirmwareRamLoader", Cmd::WriteFirmware, Model::BCT13, kDeadLater, {kDead}, Log::Stopped},
    FaultCase{"DeadReadFirmware", Cmd::ReadFirmware, Model::TS1, kDeadLater, {kDead}},
    FaultCase{"DeadWriteDataArea", Cmd::WriteDataArea, Model::TS1, kDeadLater, {kDead}, Log::Stopped},
    FaultCase{"DeadReadDataArea", Cmd::ReadDataArea, Model::DSX6070, kDeadLater, {kDead}},
    FaultCase{"DeadReadSignature", Cmd::ReadSignature, Model::DSX6170, "dead_after_bytes = 250", {kDead}},
    FaultCase{"DeadReadEeprom", Cmd::ReadEeprom, Model::TS1, kDeadLater, {kDead}},
    FaultCase{"DeadWriteEeprom", Cmd::WriteEeprom, Model::TS1, kDeadLater, {kDead}},
    FaultCase{"DeadRamDump", Cmd::RamDumpTVNbox, Model::TVNbox, kDeadLater, {kDead}},
    // Nothing plugged into the port, every command.
    FaultCase{"UnpluggedWriteFirmware", Cmd::WriteFirmware, Model::DSX6071_6072, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"UnpluggedReadFirmware", Cmd::ReadFirmware, Model::TS1, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"UnpluggedWriteDataArea", Cmd::WriteDataArea, Model::TS1, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"UnpluggedReadDataArea", Cmd::ReadDataArea, Model::DSI185, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"UnpluggedReadSignature", Cmd::ReadSignature, Model::DSX6170, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"UnpluggedReadEeprom", Cmd::ReadEeprom, Model::BCT13, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"UnpluggedWriteEeprom", Cmd::WriteEeprom, Model::STB3100, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"UnpluggedRamDump", Cmd::RamDumpTVNbox, Model::TVNbox, kUnplugged, {kNoAdapter}, Log::None, false, true, 0.2},
    // The cable pulled during each command.
    FaultCase{"PulledWriteFirmwareChipErase", Cmd::WriteFirmware, Model::TS1, kPulled,
              {"No adapter answers any more: the port's lines read as if nothing were plugged "
               "in. Check the cable's plugs. The flash may now be partly erased from 7FE00000 to "
               "7FFFFFFF" + kMayNotStart + kNoBackup},
              Log::Stopped, false, true, 0.2},
    FaultCase{"PulledWriteFirmwareRamLoader", Cmd::WriteFirmware, Model::BCT13, kPulled, {kNoAdapter}, Log::Stopped, false, true, 0.2},
    FaultCase{"PulledReadFirmware", Cmd::ReadFirmware, Model::DSX6070, kPulled, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"PulledWriteDataArea", Cmd::WriteDataArea, Model::BCT13, kPulled, {kNoAdapter}, Log::Stopped, false, true, 0.2},
    FaultCase{"PulledReadDataArea", Cmd::ReadDataArea, Model::TS1, kPulled, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"PulledReadSignature", Cmd::ReadSignature, Model::TS1, "unplug_after_bytes = 250", {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"PulledReadEeprom", Cmd::ReadEeprom, Model::DSX6170, kPulled, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"PulledWriteEeprom", Cmd::WriteEeprom, Model::DSI185, kPulled, {kNoAdapter}, Log::None, false, true, 0.2},
    FaultCase{"PulledRamDump", Cmd::RamDumpTVNbox, Model::TVNbox, kPulled, {kNoAdapter}, Log::None, false, true, 0.2},
    // No EEPROM on the bus: nothing read is nothing saved; nothing written is no completion.
    FaultCase{"NoEepromRead", Cmd::ReadEeprom, Model::DSI185, "eeprom_present = 0", {"NO ACK"},
              Log::None, false, true, 10},
    FaultCase{"NoEepromWrite", Cmd::WriteEeprom, Model::STB3100, "eeprom_present = 0", {"NO ACK1"}},
    // An EEPROM that falls silent after its control byte: the address byte that follows is
    // the one refused, the high one on the 8 KB part, the only one on the 2 KB part.
    FaultCase{.name = "EepromSilentAtHighAddress", .cmd = Cmd::WriteEeprom, .model = Model::TS1,
              .conf = "eeprom_acks = 1", .messages = {"NO ACK2"}},
    FaultCase{.name = "EepromSilentAtAddress", .cmd = Cmd::WriteEeprom, .model = Model::BCT13,
              .conf = "eeprom_acks = 1", .messages = {"NO ACK3"}},
    // Write-protected: every page refuses its data; the second in a row ends the write.
    FaultCase{.name = "EepromWriteProtected", .cmd = Cmd::WriteEeprom, .model = Model::TS1,
              .conf = "eeprom_write_protect = 1", .messages = {"NO ACK4"},
              .maxVirtualSeconds = 15},
    // A write cycle that never ends: acknowledge polling gives up after the first page.
    FaultCase{.name = "EepromNeverReady", .cmd = Cmd::WriteEeprom, .model = Model::BCT13,
              .conf = "eeprom_never_ready = 1", .messages = {"POLL FAIL"},
              .maxVirtualSeconds = 20},
    // Outputs that take nothing stop a read at the first write, long before its end; a log
    // that takes nothing stops a write before the decoder is touched.
    FaultCase{.name = "EepromReadToFullDevice", .cmd = Cmd::ReadEeprom, .model = Model::TS1,
              .messages = {kFull}, .maxVirtualSeconds = 0.5, .fullDevice = true},
    FaultCase{.name = "DataAreaReadToFullDevice", .cmd = Cmd::ReadDataArea,
              .model = Model::DSX6070, .messages = {kFull}, .maxVirtualSeconds = 0.5,
              .fullDevice = true},
    FaultCase{.name = "LogToFullDevice", .cmd = Cmd::WriteFirmware, .model = Model::TS1,
              .messages = {"Cannot write the firmware log /dev/full: No space left on device. "
                           "Nothing was written to the decoder."},
              .maxVirtualSeconds = 0.5, .fullDevice = true},
    // A write cycle 200 times the usual: the acknowledge polling waits it out, page by page.
    FaultCase{"SlowEepromWrite", Cmd::WriteEeprom, Model::BCT13, "eeprom_busy_ms = 1000",
              {"Writing Eeprom completed. Read back and verified: 2 KB."}, Log::None, false, true, 200},
    // A loader slower than the tool's fixed wait: the tool waits for the decoder to answer
    // again, a bounded time, with or without a read-back to follow; the decoder finishes
    // its copy either way.
    FaultCase{"LateLoaderFirmware", Cmd::WriteFirmware, Model::BCT13, "loader_seconds = 12",
              {"Writing Flash completed. Read back and verified: 1 MB."}, Log::Done, false, true, 90, {}, false, true},
    FaultCase{"SlowLoaderFirmware", Cmd::WriteFirmware, Model::BCT13, "loader_seconds = 90",
              {"The decoder has not come back after the loader TRAP.BIN: it has not answered "
               "for 70 s. " + kStillWriting + " The decoder's loader may have written part of "
               "the flash" + kMayNotStart + kNoBackup},
              Log::Stopped, false, false, 100, {}, false, true},
    FaultCase{"SlowLoaderDataArea", Cmd::WriteDataArea, Model::DSX6070, "loader_seconds = 90",
              {"The decoder has not come back after the loader TRAP6070.bin: it has not "
               "answered for 75 s. " + kStillWriting +
               "\nNo backup was made before this write: put back a file saved with Read Data "
               "Area before."},
              Log::Stopped, false, true, 100, {}, false, true},
    // The cable pulled while the loader runs (at the first byte after the fixed wait) is
    // the cable, not a slow loader.
    FaultCase{"PulledDuringLoaderWait", Cmd::WriteFirmware, Model::BCT13,
              "loader_seconds = 30\nunplug_after_bytes = 2359550", {kNoAdapter}, Log::Stopped,
              false, true, 40},
    // Bits that never program, and a sector that ignores erase and program: the read-back
    // names the first wrong word.
    FaultCase{"StuckBit", Cmd::WriteFirmware, Model::DSI185, "stuck_bits = 0x7FF00004:0x00010000",
              {"Verify failed: 1 word differs, first at 7FF00004. " + kNoBackup.substr(1)},
              Log::Done, false, true, 600},
    // A sector that ignores program: a run of failed words ends the write there, saying what
    // the flash holds now.
    FaultCase{"ProtectedSectorKept", Cmd::WriteFirmware, Model::DSX6170,
              "protected_sectors = 0x7FC00000",
              {"Programming the flash failed at 7FC00000: 8 words in a row do not take their "
               "values (the sector may be protected or failing). The flash is now erased from "
               "7FC00000 to 7FFFFFFF and written from 7FC00000 up to 7FC0001F" + kMayNotStart +
               kNoBackup},
              Log::Stopped, false, true, 120},
    // Chips that answer no known part: nothing is erased, and what they answered is said.
    FaultCase{"UnknownChips", Cmd::WriteFirmware, Model::TS1, "flash_id = 0x0001:0x1234",
              {"Nothing was erased: the flash chips answered maker 01000100 and device "
               "34123412, which is no part Corvane knows on a TS1 (it knows AM29LV800BT, "
               "AM29LV800BB, AM29F800BT, AM29F800BB, AM29LV160DT, AM29LV160DB, M29W800AT, "
               "M29W800AB, M29W800DT, M29W800DB, MBM29F800TA, MBM29F800BA, HY29F800T, "
               "HY29F800B). Check that the right decoder type is selected."},
              Log::None, false, true, 5, {}, true, false, false, true},
    // A protected block the user chose to write anyway: its erase fails and the write ends
    // there, in seconds instead of hours.
    FaultCase{"ProtectedBlockAnsweredNo", Cmd::WriteFirmware, Model::DSX6071_6072,
              "protected_sectors = 0x7FE20000",
              {"Sector 7FE20000 is protected. Do you want to skip this sector?",
               "Erasing the flash failed at 7FE20000: it does not read erased (the sector may be "
               "protected). The flash may now be partly erased from 7FE00000 to 7FE3FFFF and "
               "written from 7FE00000 up to 7FE1FFFF" + kMayNotStart + kNoBackup},
              Log::Stopped, false, true, 60, {Answer::No}, true},
    // Corrupted reply bytes are the link's, not the flash's: the words are read again, the
    // write goes on and ends with the image in place, and the user is told.
    FaultCase{"FlippedBitsDataArea", Cmd::WriteDataArea, Model::TS1, "flip_bits_every = 100000",
              {"Writing Data Area completed. Read back and verified: 512 KB. The link corrupted 5 reads, which were read again; "
               "check the cable with the link test (corvane-cli link-test)."},
              Log::Done, false, true, 600, {}, false, true},
    FaultCase{"FlippedBitsFirmware", Cmd::WriteFirmware, Model::DSX6070, "flip_bits_every = 5000",
              {"Writing Flash completed. Read back and verified: 1 MB. The link corrupted 210 reads, which were read again; "
               "check the cable with the link test (corvane-cli link-test)."},
              Log::Done, false, true, 600, {}, false, true}
), [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace corvane
