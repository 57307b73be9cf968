// Bad files for every command that reads or writes one, through corvane-cli on the virtual
// decoder: one clear error, exit status 1, nothing erased, nothing half saved.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Cli.h"
#include "support/SimRig.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;
using testing::SimRig;
using testing::TempDir;

struct Outcome {
  int status;
  std::string out, err;
};

class BadInput : public ::testing::Test {
 protected:
  Outcome Sim(std::vector<std::string> args) {
    args.insert(args.begin(), {"--simulate", dir.path(), "--yes"});
    std::ostringstream out, err;
    const int status = RunCli(args, out, err, Terminal{});
    return {status, out.str(), err.str()};
  }
  std::string Path(const std::string& name) const { return dir / name; }
  // The flash of a model's virtual decoder as it stands on disk.
  std::vector<uint8_t> Flash(const std::string& folder) {
    return SimRig::ReadFile(dir / (folder + "/flash.bin"));
  }
  TempDir dir;
};

// --- Input files ----------------------------------------------------------------------------

struct InputCase {
  const char* name;
  const char* verb;
  const char* model;
  long size;  // -1: missing; -2: a folder of that name
  const char* errorStart;
};

class BadInputFile : public BadInput, public ::testing::WithParamInterface<InputCase> {};

TEST_P(BadInputFile, IsRefusedBeforeTheDecoderIsTouched) {
  const InputCase& c = GetParam();
  // Make the decoder exist, then remember its flash.
  ASSERT_EQ(Sim({"--model", c.model, "peek", "0"}).status, 0);
  const std::string folder = ModelFolderName(*ModelFromName(c.model));
  const auto flashBefore = Flash(folder);
  const std::string input = Path("in.bin");
  if (c.size == -2) fs::create_directory(input);
  if (c.size >= 0) SimRig::WriteFile(input, std::vector<uint8_t>(static_cast<size_t>(c.size), 0));

  const Outcome o = Sim({"--model", c.model, c.verb, input});

  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err.rfind(c.errorStart, 0), 0u) << o.err;
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << "one message: " << o.err;
  EXPECT_EQ(Flash(folder), flashBefore) << "nothing erased";
  EXPECT_FALSE(fs::exists(Path("Firmware.log")));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, BadInputFile, ::testing::Values(
    InputCase{"FirmwareMissing", "write-firmware", "TS1", -1, "corvane-cli: cannot open "},
    InputCase{"FirmwareFolder", "write-firmware", "TS1", -2, "corvane-cli: cannot open "},
    InputCase{"FirmwareEmpty", "write-firmware", "TS1", 0, "The image file "},
    InputCase{"FirmwareShort", "write-firmware", "DSX6170", 0x3FFFFF, "The image file "},
    InputCase{"DataAreaMissing", "write-data-area", "TS1", -1, "corvane-cli: cannot open "},
    InputCase{"DataAreaEmpty", "write-data-area", "TS1", 0, "The data area file "},
    InputCase{"DataAreaShort", "write-data-area", "TS1", 0x7FFFF, "The data area file "},
    InputCase{"EepromMissing", "write-eeprom", "TS1", -1, "corvane-cli: cannot open "},
    InputCase{"EepromFolder", "write-eeprom", "TS1", -2, "corvane-cli: cannot open "},
    InputCase{"EepromShort", "write-eeprom", "TS1", 100, "The EEPROM file "}
), [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(BadInput, LongerFilesAreUsedUpToTheirSize) {
  // A longer image is written as far as the flash goes, and the read-back agrees.
  std::vector<uint8_t> image(0x100000 + 4096, 0xFF);
  image[0] = 0x12;
  image[0x100000] = 0x00;  // past the end: never sent
  SimRig::WriteFile(Path("long.bin"), image);
  const Outcome o = Sim({"--model", "DSX6070", "--no-backup", "write-firmware", Path("long.bin")});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.substr(o.out.find('\n') + 1), "Writing Flash completed.\n");
  const auto flash = Flash("DSX6070");
  ASSERT_EQ(flash.size(), 0x100000u);
  EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image.begin()));
}

TEST_F(BadInput, EmptyFileNamesAndControlCharactersAreUsageErrorsOnOneLine) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"read-firmware", ""}, {"write-eeprom", ""},
        {"ramdump", "TVNbox", ""}, {"--model", "TS\n1", "models"}}) {
    const Outcome o = Sim(args);
    EXPECT_EQ(o.status, 2) << args[0];
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(o.err.rfind("corvane-cli: ", 0), 0u) << o.err;
  }
}

// --- Output files ----------------------------------------------------------------------------

struct OutputCase {
  const char* name;
  std::vector<std::string> command;  // FILE is appended
};

class BadOutput : public BadInput, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(BadOutput, DeviceWithoutSpaceIsReportedAndKept) {
  std::vector<std::string> args = GetParam().command;
  args.push_back("/dev/full");
  const Outcome o = Sim(args);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Cannot write the file /dev/full: No space left on device. An existing file "
                   "of that name was left as it was.\n");
  struct stat st;
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device node is still there";
}

// A device that takes nothing ends the read at the first word instead of at the end of
// DSX6170's 524288.
TEST_F(BadInput, FullDeviceStopsTheReadAtTheFirstFailedWrite) {
  const Outcome o = Sim({"--model", "DSX6170", "--stats", "read-data-area", "/dev/full"});
  EXPECT_EQ(o.status, 1);
  const auto at = o.out.find("peeks: ");
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_EQ(std::stoul(o.out.substr(at + 7)), 1u) << o.out;
}

TEST_P(BadOutput, FolderWithoutWritePermissionIsReported) {
  // Root may write into any folder of its own, but nobody creates files in /proc.
  std::string folder = "/proc";
  if (::geteuid() != 0) {
    folder = Path("locked");
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  }
  std::vector<std::string> args = GetParam().command;
  args.push_back(folder + "/out.bin");
  const Outcome o = Sim(args);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.rfind("Cannot create the file " + folder + "/out.bin: ", 0), 0u) << o.err;
  EXPECT_FALSE(fs::exists(folder + "/out.bin"));
  if (folder != "/proc") fs::permissions(folder, fs::perms::owner_all);
}

TEST_P(BadOutput, FolderNameIsRefusedAndKept) {
  fs::create_directory(Path("taken"));
  std::vector<std::string> args = GetParam().command;
  args.push_back(Path("taken"));
  const Outcome o = Sim(args);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.rfind("Cannot create the file " + Path("taken") + ": Is a directory", 0), 0u)
      << o.err;
  EXPECT_TRUE(fs::is_directory(Path("taken")));
}

// Small outputs only: a case that is not stopped early runs its whole read.
INSTANTIATE_TEST_SUITE_P(Commands, BadOutput, ::testing::Values(
    OutputCase{"ReadEeprom", {"--model", "TS1", "read-eeprom"}},
    OutputCase{"ReadDataArea", {"--model", "DSX6070", "read-data-area"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvane::cli
