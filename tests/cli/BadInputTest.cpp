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
    args.insert(args.begin(), "--yes");
    return Unanswered(std::move(args));
  }
  // Questions get the shell's own answer (No without a terminal) unless args give one.
  Outcome Unanswered(std::vector<std::string> args) {
    args.insert(args.begin(), {"--simulate", dir.path()});
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
  long size;  // -1: missing; -2: a folder of that name; -3: a FIFO no one writes to
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
  if (c.size == -3) {
    ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
  }
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
    InputCase{"FirmwareFifo", "write-firmware", "TS1", -3,
              "corvane-cli: cannot open "},  // once hung in open()
    InputCase{"FirmwareShort", "write-firmware", "DSX6170", 0x3FFFFF, "The image file "},
    InputCase{"DataAreaMissing", "write-data-area", "TS1", -1, "corvane-cli: cannot open "},
    InputCase{"DataAreaEmpty", "write-data-area", "TS1", 0, "The data area file "},
    InputCase{"DataAreaShort", "write-data-area", "TS1", 0x7FFFF, "The data area file "},
    InputCase{"EepromMissing", "write-eeprom", "TS1", -1, "corvane-cli: cannot open "},
    InputCase{"EepromFolder", "write-eeprom", "TS1", -2, "corvane-cli: cannot open "},
    InputCase{"DataAreaFifo", "write-data-area", "DSX6070", -3, "corvane-cli: cannot open "},
    InputCase{"EepromShort", "write-eeprom", "TS1", 100, "The EEPROM file "}
), [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A longer file may be meant for another model: only the first part is written, and only
// when the user says so; the shell's answer is No unless --yes is given.
struct LongerCase {
  const char* verb;
  const char* model;
  const char* answer;  // --yes or --no
  uint64_t used;       // what the model takes
  int status;
  const char* lastLine;
};

class LongerFile : public BadInput, public ::testing::WithParamInterface<LongerCase> {};

TEST_P(LongerFile, IsUsedOnlyWhenTheUserSaysSo) {
  const LongerCase& c = GetParam();
  ASSERT_EQ(Sim({"--model", c.model, "--connect", "peek", "80000000"}).status, 0);
  const std::string folder = ModelFolderName(*ModelFromName(c.model));
  const bool eeprom = std::string(c.verb) == "write-eeprom";
  const std::string part = eeprom ? "/eeprom.bin" : "/flash.bin";
  const auto before = SimRig::ReadFile(dir / (folder + part));
  const bool verify = std::string(c.verb) == "verify-firmware";
  std::vector<uint8_t> file(2 * c.used, 0x00);
  for (size_t i = 0; i < c.used; ++i) file[i] = verify ? before[i] : static_cast<uint8_t>(i * 7);
  SimRig::WriteFile(Path("long.bin"), file);
  const Outcome o =
      Unanswered({"--model", c.model, c.answer, "--no-backup", c.verb, Path("long.bin")});
  EXPECT_EQ(o.status, c.status) << o.err;
  const std::string& text = c.status == 0 ? o.out : o.err;
  std::string expected = c.lastLine;
  if (const auto at = expected.find('@'); at != std::string::npos) expected.replace(at, 1, Path("long.bin"));
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), expected + "\n") << o.out << o.err;
  const auto after = SimRig::ReadFile(dir / (folder + part));
  ASSERT_EQ(after.size(), c.used);
  const std::vector<uint8_t> firstPart(file.begin(), file.begin() + static_cast<long>(c.used));
  EXPECT_EQ(after, c.status == 0 ? firstPart : before);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, LongerFile, ::testing::Values(
    LongerCase{"write-firmware", "DSX6070", "--yes", 0x100000, 0, "Writing Flash completed. Read back and verified: 1 MB."},
    LongerCase{"write-firmware", "TS1", "--no", 0x200000, 1,
               "Nothing was written to the decoder: the image file @ is 4194304 "
               "bytes, longer than the 2097152 bytes a TS1 takes. Check that the file is meant "
               "for this model."},
    LongerCase{"write-eeprom", "TS1", "--no", 0x2000, 1,
               "Nothing was written to the decoder: the EEPROM file @ is 16384 "
               "bytes, longer than the 8192 bytes a TS1 takes. Check that the file is meant for "
               "this model."},
    LongerCase{"verify-firmware", "DSX6070", "--no", 0x100000, 0,
               "Flash matches @. Only the first 1048576 bytes of the file's 2097152 were "
               "compared: a DSX6070 flash holds no more."}
));
// clang-format on

TEST_F(BadInput, AnOutputThatIsAnInputOrAnOldFileIsRefusedBeforeAnythingIsWritten) {
  const std::vector<uint8_t> image(0x100000, 0x5A);
  SimRig::WriteFile(Path("image.bin"), image);
  fs::create_symlink(Path("image.bin"), Path("link.bin"));
  fs::create_hard_link(Path("image.bin"), Path("hard.bin"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--trace", Path("link.bin"), "write-firmware", Path("image.bin")},
        {"--backup", Path("hard.bin"), "write-firmware", Path("image.bin")},
        {"--trace", Path("image.bin"), "read-firmware", Path("link.bin")},
        // Running the same write twice must not replace the first backup with the new image.
        {"--backup", Path("image.bin"), "write-data-area", Path("other.bin")}}) {
    std::vector<std::string> run = {"--model", "DSX6070"};
    run.insert(run.end(), args.begin(), args.end());
    const Outcome o = Sim(run);
    EXPECT_EQ(o.status, 2) << args[0] << ' ' << args[1] << ": " << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(SimRig::ReadFile(Path("image.bin")), image) << args[1];
  }
  EXPECT_FALSE(fs::exists(Path("DSX6070"))) << "no decoder was opened";
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
