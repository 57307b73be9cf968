// corvane-cli run in-process against the virtual decoder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Args.h"
#include "cli/Cli.h"
#include "link/Text.h"
#include "cli/JsonEvents.h"
#include "cli/TerminalHost.h"
#include "link/corvane.h"
#include "support/SimRig.h"
#include "link/Text.h"
#include "sim/FolderLock.h"
#include "target/Connection.h"
#include "target/Sha256.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;
using testing::SimRig;
using testing::TempDir;

struct Outcome {
  int status;
  std::string out, err;
};

class CliEndToEnd : public ::testing::Test {
 protected:
  Outcome Cli(std::vector<std::string> args, const std::string& input = "", bool stderrTty = false) {
    std::ostringstream out, err;
    std::istringstream in(input);
    Terminal terminal;
    terminal.in = &in;
    terminal.stderrIsTty = stderrTty;
    const int status = RunCli(args, out, err, terminal);
    return {status, out.str(), err.str()};
  }
  // The same with the virtual decoders under the test's folder.
  Outcome Sim(std::vector<std::string> args, const std::string& input = "", bool stderrTty = false) {
    args.insert(args.begin(), {"--simulate", dir.path()});
    return Cli(std::move(args), input, stderrTty);
  }
  std::string Path(const std::string& name) const { return dir / name; }
  // A decoder.conf key of an existing decoder folder.
  void SetConf(const std::string& folder, const std::string& key, const std::string& value) {
    const std::string path = dir / (folder + "/decoder.conf");
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::string text, line;
    bool found = false;
    while (std::getline(in, line)) {
      if (line.rfind(key + " ", 0) == 0 || line.rfind(key + "=", 0) == 0) {
        line = key + " = " + value;
        found = true;
      }
      text += line + "\n";
    }
    if (!found) text += key + " = " + value + "\n";
    std::ofstream(path) << text;
  }
  bool Empty(const std::string& path) const { return fs::is_empty(path); }

  TempDir dir;
};

// A dead link is noticed on the decoder's clock (a second of virtual time); the wall-time
// bound only proves there is no hang. Sanitizer builds run the wait loop far slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr auto kNoHang = std::chrono::seconds(10);
#else
constexpr auto kNoHang = std::chrono::seconds(2);
#endif

// ---- refused before anything reaches the decoder --------------------------------------------

struct Refusal {
  std::vector<std::string> args;
  int status;
  std::string err;
};

class Refused : public CliEndToEnd, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, WithOneLineAndNothingTouched) {
  const Refusal& r = GetParam();
  std::vector<std::string> args = r.args;
  for (auto& a : args) {
    if (a.rfind("@", 0) == 0) a = Path(a.substr(1));
  }
  const Outcome run = Sim(args);
  EXPECT_EQ(run.status, r.status);
  EXPECT_EQ(run.out, "");
  std::string expected = r.err;
  if (const auto at = expected.find('@'); at != std::string::npos) {
    expected.replace(at, 1, dir.path() + "/");
  }
  EXPECT_EQ(run.err, expected);
  // No decoder was opened, so no folder was made for it.
  EXPECT_TRUE(Empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Refused,
    ::testing::Values(
        Refusal{{"read-signature"}, 2, "corvane-cli: read-signature is not offered for BCT13\n"},
        Refusal{{"--model", "STB3100", "read-data-area", "f"}, 2,
                "corvane-cli: read-data-area is not offered for STB3100\n"},
        Refusal{{"--model", "TVN box", "read-data-area", "f"}, 2,
                "corvane-cli: read-data-area is not offered for TVN box\n"},
        Refusal{{"--model", "DSX6170", "write-data-area", "f"}, 2,
                "corvane-cli: write-data-area is not offered for DSX6170\n"},
        Refusal{{"--model", "nope", "models"}, 2,
                "corvane-cli: unknown model 'nope': DSX6071/6072, DSI185, BCT13, TS1, DSX6070, "
                "TVN box, STB3100 or DSX6170 (see: corvane-cli models)\n"},
        Refusal{{"write-eeprom", "@missing.bin"}, 2,
                "corvane-cli: write-eeprom changes the decoder: name its model with --model NAME "
                "(-m NAME); a wrong model's set-up and command values are wrong on the wire (see: "
                "corvane-cli models)\n"},
        Refusal{{"peek", "0x0"}, 2,
                "corvane-cli: invalid address '0x0' (1 to 8 hexadecimal digits, no prefix or sign)\n"},
        Refusal{{"ramdump", "6070", "f"}, 2,
                "corvane-cli: unknown ramdump '6070' (6071, 6072, BCT13, DSI185 or TVNbox)\n"},
        Refusal{{"write-eeprom"}, 2, "corvane-cli: write-eeprom needs FILE\n"},
        Refusal{{"--frob", "models"}, 2, "corvane-cli: unknown option '--frob' (see: corvane-cli --help)\n"},
        // Input files are checked before Connect resets the decoder.
        Refusal{{"-m", "TS1", "write-eeprom", "@missing.bin"}, 1,
                "corvane-cli: cannot open @missing.bin: No such file or directory\n"},
        Refusal{{"-mTS1", "write-firmware", "@"}, 1,
                "corvane-cli: cannot open @: Is a directory\n"},
        Refusal{{"script", "@missing.txt"}, 1,
                "corvane-cli: cannot open @missing.txt: No such file or directory\n"},
        // An output that is also an input would destroy it before it is read.
        Refusal{{"--trace", "@i.bin", "--model", "TS1", "write-firmware", "@i.bin"}, 2,
                "corvane-cli: '@i.bin' is both the command's input file and the --trace "
                "file: give them different files\n"},
        Refusal{{"--model", "TS1", "--backup", "@i.bin", "write-data-area", "@i.bin"}, 2,
                "corvane-cli: '@i.bin' is both the command's input file and the --backup "
                "file: give them different files\n"},
        Refusal{{"--bus-trace", "@o.bin", "read-eeprom", "@o.bin"}, 2,
                "corvane-cli: '@o.bin' is both the command's output file and the --bus-trace "
                "file: give them different files\n"}));

TEST_F(CliEndToEnd, ABadScriptLineStopsTheScriptBeforeAnythingIsSent) {
  const Outcome run = Sim({"--connect", "script", "-"}, "poke 80000000 1\npeek 80000000 extra\n");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "corvane-cli: line 2: unexpected 'extra' after peek ADDRESS\n");
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(Empty(dir.path()));
}

// ---- help and the model table ------------------------------------------------------------

TEST_F(CliEndToEnd, HelpAndModelsNeedNoDecoder) {
  Outcome help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, UsageText());

  EXPECT_EQ(Cli({"-V"}).out, "corvane-cli 1.5\n");

  Outcome models = Cli({"models"});
  EXPECT_EQ(models.status, 0);
  EXPECT_EQ(models.err, "");
  const std::string table = models.out.substr(0, models.out.find("Every model offers "));
  EXPECT_EQ(table,
            "Model         Flash             Data area                    EEPROM  Also offers\n"
            "DSX6071/6072  2 MB at 7FE00000  512 KB at 7FE00000 in flash  2 KB    read-signature\n"
            "DSI185        1 MB at 7FF00000  512 KB at FFF80000           2 KB    write-data-area, read-data-area, read-signature\n"
            "BCT13         1 MB at 7FF00000  512 KB at FFF80000           2 KB    write-data-area, read-data-area\n"
            "TS1           2 MB at 7FE00000  512 KB at C0000000           8 KB    write-data-area, read-data-area, read-signature\n"
            "DSX6070       1 MB at 7FF00000  512 KB at 50000000           2 KB    write-data-area, read-data-area, read-signature\n"
            "TVN box       2 MB at 7FE00000  none                         8 KB    read-signature\n"
            "STB3100       2 MB at 7FE00000  none                         8 KB    read-signature\n"
            "DSX6170       4 MB at 7FC00000  2 MB at 50000000             8 KB    read-data-area, read-signature\n");
  EXPECT_EQ(models.out.substr(table.size(), 50),
            "Every model offers write-firmware, read-firmware, ");
}

// ---- words by hand -------------------------------------------------------------------------

TEST_F(CliEndToEnd, PokeThenPeekInTheNextRunGivesTheWordBack) {
  Outcome poke = Sim({"--model", "TS1", "--connect", "poke", "80000000", "12345678"});
  EXPECT_EQ(poke.status, 0) << poke.err;
  EXPECT_EQ(poke.out, "");
  EXPECT_EQ(poke.err, "");

  Outcome peek = Sim({"--model", "ts1", "--connect", "peek", "80000000"});
  EXPECT_EQ(peek.status, 0) << peek.err;
  EXPECT_EQ(peek.out, "12345678\n");
}

// A real decoder stays switched on between runs: its set-up and its flash chips' command
// state last until decoder.state is deleted, which switches it off and on.
TEST_F(CliEndToEnd, TheDecoderKeepsItsStateFromOneRunToTheNext) {
  ASSERT_EQ(Sim({"--model", "TS1", "--connect", "poke", "80000000", "12345678"}).status, 0);
  EXPECT_EQ(Sim({"--model", "TS1", "peek", "80000000"}).out, "12345678\n");
  ASSERT_EQ(Sim({"--model", "TS1", "script", "-"},
                "poke 7FE01554 00AA00AA\npoke 7FE02AA8 00550055\npoke 7FE01554 00900090\n")
                .status,
            0);
  EXPECT_EQ(Sim({"--model", "TS1", "peek", "7FE00000"}).out, "00040004\n") << "maker codes";
  ASSERT_TRUE(fs::remove(Path("TS1/decoder.state")));
  EXPECT_EQ(Sim({"--model", "TS1", "peek", "80000000"}).out, "00000000\n");
}

// Two runs on one decoder folder would each work on their own copy of its files: the
// second is told who has it, as for a claimed port, and changes nothing.
TEST_F(CliEndToEnd, ASecondRunOnABusyFolderIsToldWhoHasIt) {
  ASSERT_EQ(Sim({"--model", "TS1", "--connect", "poke", "80000000", "11111111"}).status, 0);
  {
    std::string holder;
    const auto held = sim::FolderLock::Take(Path("TS1"), 0, &holder);
    ASSERT_TRUE(held);
    const Outcome busy = Sim({"--model", "TS1", "--connect", "poke", "80000000", "22222222"});
    EXPECT_EQ(busy.status, 1);
    EXPECT_EQ(busy.err, "corvane-cli: " + Path("TS1") + " is in use by pid " +
                            std::to_string(::getpid()) +
                            ", another program on the virtual decoder (a second Corvane?): wait "
                            "until it has finished, then try again\n");
  }
  EXPECT_EQ(Sim({"--model", "TS1", "peek", "80000000"}).out, "11111111\n");
}

// Without --connect nothing resets the decoder, but the port still has to be in byte mode
// for a reply to be read: a fresh run must not return the port's own latch.
TEST_F(CliEndToEnd, BarePeekReadsTheDecoderWithoutResettingIt) {
  // The PIO output register's reset value, on the chip itself: it answers without set-up.
  Outcome pio = Sim({"--model", "TS1", "--stats", "peek", "2000F000"});
  EXPECT_EQ(pio.status, 0) << pio.err;
  EXPECT_EQ(pio.out.substr(0, 9), "00000007\n");
  // No reset and no set-up went out: one peek and nothing else.
  EXPECT_NE(pio.out.find("pokes: 0\npeeks: 1\n"), std::string::npos) << pio.out;
}

TEST_F(CliEndToEnd, ScriptRunsInOrderOverOneLinkAndCountsItsTraffic) {
  const std::string script = Path("words.txt");
  std::ofstream(script) << "# two words\n"
                           "poke 80000000 cafebabe\n"
                           "poke 80000004 1\n"
                           "\n"
                           "sleep 2500\n"
                           "peek 80000000\n"
                           "peek 80000004   # the second\n";
  Outcome run = Sim({"--model", "TS1", "--connect", "--stats", "script", script});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");

  const size_t setup = MemoryInterfaceWrites(ProfileOf(Model::TS1).DecoderType, false).size();
  std::istringstream lines(run.out);
  std::string l1, l2, accesses, pokes, peeks, time;
  std::getline(lines, l1);
  std::getline(lines, l2);
  std::getline(lines, accesses);
  std::getline(lines, pokes);
  std::getline(lines, peeks);
  std::getline(lines, time);
  EXPECT_EQ(l1, "80000000 CAFEBABE");
  EXPECT_EQ(l2, "80000004 00000001");
  EXPECT_EQ(pokes, "pokes: " + std::to_string(setup + 2));
  EXPECT_EQ(peeks, "peeks: 2");
  ASSERT_EQ(accesses.rfind("port accesses: ", 0), 0u) << accesses;
  EXPECT_GT(std::stoull(accesses.substr(15)), 100u);
  // The sleep and the 100 ms reset pulse are in the decoder's time, not the test's.
  ASSERT_EQ(time.rfind("virtual time: ", 0), 0u) << time;
  ASSERT_EQ(time.substr(time.size() - 2), " s");
  const double seconds = std::stod(time.substr(14));
  EXPECT_GE(seconds, 2.6);
  EXPECT_LT(seconds, 4.0);
  EXPECT_EQ(time.find('.') + 4, time.size() - 2) << "three decimals: " << time;
}

TEST_F(CliEndToEnd, ScriptFromStandardInput) {
  Outcome run = Sim({"--model", "DSI185", "--connect", "script", "-"},
                "poke 80001000 00C0FFEE\npeek 80001000\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "80001000 00C0FFEE\n");
}

TEST_F(CliEndToEnd, ADeadAdapterEndsTheCommandWithOneErrorQuickly) {
  ASSERT_EQ(Sim({"--model", "TS1", "--connect", "poke", "80000000", "1"}).status, 0);
  SetConf("TS1", "dead_after_bytes", "40");

  const auto start = std::chrono::steady_clock::now();
  Outcome run = Sim({"--model", "TS1", "--connect", "script", "-"},
                "poke 80000000 2\npeek 80000000\npeek 80000004\n");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string(kLinkErrorMessage) + "\n");
  EXPECT_LT(elapsed, kNoHang);
}

// Nothing plugged in: bare words too end at once with exit 1 and print no value.
TEST_F(CliEndToEnd, NoCableEndsEveryWordCommandWithTheAdapterMessage) {
  ASSERT_EQ(Sim({"--model", "TS1", "models"}).status, 0);
  ASSERT_EQ(Sim({"--model", "TS1", "--connect", "poke", "80000000", "1"}).status, 0);
  SetConf("TS1", "cable", "unplugged");
  const std::vector<std::vector<std::string>> words = {
      {"peek", "80000000"},
      {"poke", "80000000", "2"},
      {"--connect", "peek", "80000000"},
      {"script", "-"},
  };
  for (const auto& w : words) {
    std::vector<std::string> args = {"--model", "TS1"};
    args.insert(args.end(), w.begin(), w.end());
    const auto start = std::chrono::steady_clock::now();
    Outcome run = Sim(args, "peek 80000000\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, kNoHang) << w[0];
    EXPECT_EQ(run.status, 1) << w[0];
    EXPECT_EQ(run.out, "") << w[0];
    EXPECT_EQ(run.err, std::string(kNoAdapterMessage) + "\n") << w[0];
  }
  SetConf("TS1", "cable", "plugged");
  Outcome back = Sim({"--model", "TS1", "--connect", "peek", "80000000"});
  EXPECT_EQ(back.out, "00000001\n") << "nothing reached the decoder meanwhile";
}

TEST_F(CliEndToEnd, TraceRecordsEveryPortAccess) {
  const std::string trace = Path("trace.txt");
  Outcome run = Sim({"--model", "TS1", "--trace", trace, "--connect", "--stats", "peek", "80000000"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::ifstream in(trace);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 3u);
  // LinkOpen: the extended control register is saved, then set to byte mode.
  EXPECT_EQ(lines[0].rfind("in 77A ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "out 77A 35");
  const std::string counted = "port accesses: " + std::to_string(lines.size()) + "\n";
  EXPECT_NE(run.out.find(counted), std::string::npos) << run.out;
}

// ---- commands through the window's code ------------------------------------------------------

TEST_F(CliEndToEnd, EepromWrittenFromAFileReadsBackIntoAReplacedFile) {
  std::vector<uint8_t> image(2048);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  const std::string source = Path("eeprom-in.bin");
  const std::string copy = Path("eeprom-out.bin");
  const std::string vcd = Path("bus.vcd");
  SimRig::WriteFile(source, image);
  SimRig::WriteFile(copy, std::vector<uint8_t>(10, 0xAA));  // replaced without a question

  Outcome write = Sim({"--model", "BCT13", "--quiet", "write-eeprom", source});
  EXPECT_EQ(write.status, 0) << write.err;
  EXPECT_NE(write.out.find("Writing Eeprom completed."), std::string::npos) << write.out;

  // Without --model a read says which model it uses, before it connects.
  Outcome read = Sim({"--bus-trace", vcd, "read-eeprom", copy});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, "Reading Eeprom completed.\n");
  EXPECT_EQ(read.err, "corvane-cli: no --model given: using BCT13\n");
  EXPECT_EQ(SimRig::ReadFile(copy), image);
  const auto trace = SimRig::ReadFile(vcd);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0], '$');  // a VCD header
}

TEST_F(CliEndToEnd, SignatureShowsBothLinesOnStdout) {
  Outcome run = Sim({"--model", "TS1", "read-signature"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("Manufacturer: ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\nDevice: "), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Unknown"), std::string::npos) << run.out;
}

TEST_F(CliEndToEnd, ProgressLineOnlyOnATerminalAndClearedAtTheEnd) {
  Outcome tty = Sim({"--model", "TS1", "--connect", "poke", "80000000", "1"}, "", true);
  EXPECT_EQ(tty.status, 0);
  EXPECT_EQ(tty.err.rfind("\rConnecting...\x1b[K", 0), 0u) << tty.err;
  EXPECT_EQ(tty.err.substr(tty.err.size() - 4), "\r\x1b[K");

  Outcome quiet = Sim({"--quiet", "--model", "TS1", "--connect", "poke", "80000000", "1"}, "", true);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
}

}  // namespace
}  // namespace corvane::cli

// ---- the safety net: backup, verify, time up front, link test --------------------------------

namespace corvane::cli {
namespace {

// A "key: value" line of the --stats block, as a number.
double StatsNumber(const std::string& out, const std::string& key) {
  const size_t at = out.find("\n" + key + ": ");
  if (at == std::string::npos) return -1;
  return std::stod(out.substr(at + key.size() + 3));
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return bytes;
}

struct WriteCase {
  const char* model;
  const char* folder;
  size_t size;
  std::vector<std::string> options = {};  // for the write and the verify
  std::vector<std::pair<std::string, std::string>> conf = {};
  size_t kept = 0;          // leading bytes the write leaves as they were
  std::string note = "";    // what verify says it did not compare
};

class SafetyNet : public CliEndToEnd, public ::testing::WithParamInterface<WriteCase> {};

// One whole write per model: the backup holds the old flash, the estimate said how long it
// would take, Verify Firmware agrees until one word of the flash changes, and the read's
// estimate holds too.
TEST_P(SafetyNet, BackupEstimateAndVerifyOnOneWrite) {
  const WriteCase& c = GetParam();
  // The log goes to the user's data folder, here the test's own.
  struct DataHome {
    const char* was = std::getenv("XDG_DATA_HOME");
    std::string saved = was ? was : "";
    ~DataHome() {
      was ? ::setenv("XDG_DATA_HOME", saved.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    }
  } restore;
  ::setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
  ASSERT_EQ(Sim({"--model", c.model, "models"}).status, 0);
  ASSERT_EQ(Sim({"--model", c.model, "--connect", "peek", "0"}).status, 0);  // makes the folder
  for (const auto& [key, value] : c.conf) SetConf(c.folder, key, value);
  const std::vector<uint8_t> old = RandomBytes(c.size, 1), image = RandomBytes(c.size, 2);
  SimRig::WriteFile(Path(std::string(c.folder) + "/flash.bin"), old);
  SimRig::WriteFile(Path("image.bin"), image);
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin() + 2, c.options.begin(), c.options.end());
    return args;
  };

  const Outcome write = Sim(with({"--model", c.model, "--stats", "--quiet", "--backup",
                                  Path("old.bin"), "write-firmware", Path("image.bin")}));
  ASSERT_EQ(write.status, 0) << write.err;
  EXPECT_EQ(write.out.rfind(std::string("Write Firmware on ") + c.model + " takes about ", 0), 0u)
      << "the estimate is the first line: " << write.out;
  EXPECT_NE(write.out.find("Writing Flash completed. Read back and verified: " + SizeText(c.size - c.kept) +
                           ". What it held before is saved in " + Path("old.bin") + "."),
            std::string::npos)
      << write.out;
  EXPECT_EQ(SimRig::ReadFile(Path("old.bin")), old) << "the backup holds the old flash";
  EXPECT_TRUE(fs::exists(Path("data/corvane/Firmware.log")));
  std::vector<uint8_t> written = image;
  std::copy(old.begin(), old.begin() + static_cast<long>(c.kept), written.begin());
  EXPECT_EQ(SimRig::ReadFile(Path(std::string(c.folder) + "/flash.bin")), written);
  const double took = StatsNumber(write.out, "virtual time");
  EXPECT_NEAR(StatsNumber(write.out, "estimate"), took, 0.05 * took);

  // Verify compares what the write wrote, and says what it left out.
  const Outcome same = Sim(with({"--model", c.model, "verify-firmware", Path("image.bin")}));
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_NE(same.out.find("\nFlash matches " + Path("image.bin") + "." + c.note + "\n"),
            std::string::npos)
      << same.out;

  // One word changed behind the tool's back, in the middle of the flash.
  std::vector<uint8_t> flash = image;
  flash[c.size / 2 + 5] ^= 0x10;
  SimRig::WriteFile(Path(std::string(c.folder) + "/flash.bin"), flash);
  const Outcome differs =
      Sim(with({"--model", c.model, "--stats", "--quiet", "verify-firmware", Path("image.bin")}));
  EXPECT_EQ(differs.status, 1);
  const uint32_t base = c.size == 0x400000 ? 0x7FC00000 : 0x7FE00000;
  EXPECT_EQ(differs.err, "1 word differs, first at " + Hex8(base + c.size / 2 + 4) + "." + c.note + "\n");
  EXPECT_NE(differs.out.find("differs: sector " + Hex8(base + c.size / 2) + ", 1 word"),
            std::string::npos)
      << differs.out;
  const double read = StatsNumber(differs.out, "virtual time");
  EXPECT_NEAR(StatsNumber(differs.out, "estimate"), read, 0.05 * read);
}

INSTANTIATE_TEST_SUITE_P(Models, SafetyNet,
                         ::testing::Values(
                             WriteCase{"DSX6170", "DSX6170", 0x400000},
                             // A link that flips a bit in every 150000 reply bytes: the backup
                             // still holds the old flash word for word.
                             WriteCase{"TS1", "TS1", 0x200000, {}, {{"flip_bits_every", "150000"}}},
                             WriteCase{"DSX6071/6072", "DSX60716072", 0x200000,
                                       {"--no-write-data-area"}, {}, 0x80000,
                                       " The data area, 7FE00000 to 7FE7FFFF, was not compared: "
                                       "without \"Write Data Area\" Write Firmware leaves it as it "
                                       "is."}),
                         [](const auto& info) { return std::string(info.param.folder); });

// A port whose data lines cannot turn to input reads only the PC's own latch: every command
// is refused before the decoder is reset, naming the port and what to set.
class PortCannotRead : public CliEndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(PortCannotRead, RefusesEveryCommandAndChangesNothing) {
  ASSERT_EQ(Sim({"--model", "TS1", "--connect", "peek", "0"}).status, 0);  // makes the folder
  SetConf("TS1", "bidirectional", "0");
  const std::vector<uint8_t> old = RandomBytes(0x200000, 5);
  SimRig::WriteFile(Path("TS1/flash.bin"), old);
  SimRig::WriteFile(Path("image.bin"), RandomBytes(0x200000, 6));
  const std::string file = std::string(GetParam()) == "write-firmware" ? Path("image.bin")
                                                                       : Path("out.bin");
  const Outcome run = Sim({"--model", "TS1", "--no-backup", GetParam(), file});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "corvane-cli: The virtual port of " + Path("TS1") +
                         " cannot read what the decoder sends: its data lines cannot be turned to "
                         "input (bidirectional = 0 in decoder.conf). Set the port to "
                         "bidirectional (PS/2, byte), EPP or ECP mode in the BIOS setup, or use a "
                         "card that has such a mode; SPP and Normal mode can only send. Nothing "
                         "was sent to the decoder.\n");
  EXPECT_EQ(SimRig::ReadFile(Path("TS1/flash.bin")), old);
  EXPECT_FALSE(fs::exists(Path("out.bin")));
}

INSTANTIATE_TEST_SUITE_P(Commands, PortCannotRead,
                         ::testing::Values("write-firmware", "read-firmware"),
                         [](const auto& info) {
                           return std::string(info.param) == "write-firmware" ? "Write" : "Read";
                         });

// A backup that cannot be made erases nothing.
TEST_F(CliEndToEnd, ABackupThatCannotBeMadeErasesNothing) {
  ASSERT_EQ(Sim({"--model", "DSX6070", "--connect", "peek", "0"}).status, 0);
  const std::vector<uint8_t> old = RandomBytes(0x100000, 3);
  SimRig::WriteFile(Path("DSX6070/flash.bin"), old);
  SimRig::WriteFile(Path("image.bin"), RandomBytes(0x100000, 4));
  const Outcome run = Sim({"--model", "DSX6070", "--backup", Path("no such folder/old.bin"),
                           "write-firmware", Path("image.bin")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Cannot save the backup: Cannot create the file " +
                         Path("no such folder/old.bin") +
                         ": No such file or directory. Nothing was erased or written.\n");
  EXPECT_EQ(run.out.find("completed"), std::string::npos);
  EXPECT_EQ(SimRig::ReadFile(Path("DSX6070/flash.bin")), old);
}

struct LinkCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> conf;
  int status;
  std::string says;
};

class LinkTestOnTheVirtualDecoder : public CliEndToEnd,
                                    public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkTestOnTheVirtualDecoder, NamesTheStageOrMeasuresThePort) {
  const LinkCase& c = GetParam();
  ASSERT_EQ(Sim({"--model", "TS1", "models"}).status, 0);
  ASSERT_EQ(Sim({"--model", "TS1", "--connect", "peek", "0"}).status, 0);
  for (const auto& [key, value] : c.conf) SetConf("TS1", key, value);
  const Outcome run = Sim({"--model", "TS1", "link-test", "400"});
  EXPECT_EQ(run.status, c.status) << run.out << run.err;
  EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  EXPECT_EQ(fs::exists(Path("TS1/link.measured")), c.status == 0) << "kept only when clean";
}

INSTANTIATE_TEST_SUITE_P(
    Stages, LinkTestOnTheVirtualDecoder,
    ::testing::Values(
        LinkCase{"Healthy", {}, 0, "400 round trips to 80002000, no errors. A port access takes 1.00 µs"},
        // Within 10 % of the decoder's own access time, whatever the adapter's pace.
        LinkCase{"SlowPort", {{"port_access_us", "3"}, {"link_byte_us", "20"}}, 0,
                 "A port access takes 3.00 µs"},
        LinkCase{"FlippedBits", {{"flip_bits_every", "50"}}, 1, "round trips to 80002000 came back wrong; the first, round trip"},
        LinkCase{"NoAdapter", {{"cable", "unplugged"}}, 1, "Link test: no adapter answers"},
        LinkCase{"NoDecoder", {{"dead_after_bytes", "1"}}, 1, "an adapter is on the port, but the decoder"},
        LinkCase{"DecoderGoesQuiet", {{"dead_after_bytes", "2000"}}, 1, "the decoder stopped answering after"}),
    [](const auto& info) { return std::string(info.param.name); });


// ---- --json ----------------------------------------------------------------------------------

// A strict JSON reader (RFC 8259, strings valid UTF-8): what a program reading --json gets.
struct Json {
  char kind = '?';    // n(ull), b(ool), d (number), s(tring), a(rray), o(bject); ?: absent
  double number = 0;  // a bool's 0 or 1
  std::string text;
  std::vector<std::pair<std::string, Json>> items;  // an array's keys are empty
  const Json& operator[](const std::string& key) const {
    static const Json absent;
    const auto it = std::find_if(items.begin(), items.end(), [&](auto& i) { return i.first == key; });
    return it == items.end() ? absent : it->second;
  }
};

// Blanks, then token if it is there.
bool Take(std::string_view& s, std::string_view token) {
  while (!s.empty() && std::string_view(" \t\r\n").find(s[0]) != s.npos) s.remove_prefix(1);
  return s.substr(0, token.size()) == token && (s.remove_prefix(token.size()), true);
}

bool ReadString(std::string_view& s, std::string& out) {
  if (!Take(s, "\"")) return false;
  for (size_t more = 0; !s.empty(); s.remove_prefix(1)) {
    const auto c = static_cast<unsigned char>(s[0]);
    if (more > 0 && (c & 0xC0) != 0x80) return false;  // UTF-8 continuation bytes
    if (more == 0 && c >= 0x80 && (c < 0xC2 || c > 0xF4)) return false;
    if (more > 0 || c >= 0x80) {
      more = more > 0 ? more - 1 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
      out += static_cast<char>(c);
    } else if (c == '"' || c < 0x20) {
      return c == '"' && (s.remove_prefix(1), true);
    } else if (c != '\\') {
      out += static_cast<char>(c);
    } else if (const size_t e = std::string_view("\"\\/bfnrt").find(s.substr(1, 1)); e < 8) {
      out += "\"\\/\b\f\n\r\t"[e];
      s.remove_prefix(1);
    } else if (s.size() > 5 && s.substr(1, 3) == "u00" &&  // only ASCII controls come escaped
               std::isxdigit(static_cast<unsigned char>(s[4])) &&
               std::isxdigit(static_cast<unsigned char>(s[5]))) {
      out += static_cast<char>(std::stoi(std::string(s.substr(4, 2)), nullptr, 16));
      s.remove_prefix(5);
    } else {
      return false;
    }
  }
  return false;
}

bool ReadValue(std::string_view& s, Json& v, int depth = 0) {
  if (depth > 32 || !Take(s, "")) return false;
  if (s.substr(0, 1) == "\"") return v.kind = 's', ReadString(s, v.text);
  for (const char* word : {"null", "true", "false"}) {
    if (Take(s, word)) return v.kind = word[0] == 'n' ? 'n' : 'b', v.number = word[0] == 't', true;
  }
  if (Take(s, "{") || Take(s, "[")) {
    const bool object = s.data()[-1] == '{';
    v.kind = object ? 'o' : 'a';
    if (Take(s, object ? "}" : "]")) return true;
    do {
      v.items.emplace_back();
      if (object && !(ReadString(s, v.items.back().first) && Take(s, ":"))) return false;
      if (!ReadValue(s, v.items.back().second, depth + 1)) return false;
    } while (Take(s, ","));
    return Take(s, object ? "}" : "]");
  }
  size_t i = s.substr(0, 1) == "-";
  const auto one = [&](std::string_view set) {
    return i < s.size() && set.find(s[i]) != set.npos && ++i;
  };
  const auto digits = [&] {
    const size_t from = i;
    while (one("0123456789")) {
    }
    return i > from;
  };
  if (!one("0") && !digits()) return false;
  if (one(".") && !digits()) return false;
  if (one("eE") && (one("+-"), !digits())) return false;
  v.kind = 'd';
  v.number = std::stod(std::string(s.substr(0, i)));
  return s.remove_prefix(i), true;
}

std::optional<Json> ParseJson(std::string_view s) {
  Json v;
  if (!ReadValue(s, v) || (Take(s, ""), !s.empty())) return std::nullopt;
  return v;
}

// Every line of a --json run's standard output, each one JSON object with an event.
std::vector<Json> Events(const std::string& out) {
  std::vector<Json> events;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    events.push_back(ParseJson(line).value_or(Json()));
    EXPECT_EQ(events.back()["event"].kind, 's') << line;
  }
  return events;
}

size_t First(const std::vector<Json>& events, const std::string& name) {
  size_t i = 0;
  while (i < events.size() && events[i]["event"].text != name) ++i;
  return i;
}

TEST(JsonText, EscapesWhatJsonForbidsAndKeepsOnlyValidUtf8) {
  const std::string bad = "\xEF\xBF\xBD";  // U+FFFD: a stray byte, a cut sequence, an
  const std::pair<std::string, std::string> rows[] = {  // overlong form, a surrogate
      {"a\"b\\c/\n\r\t\x01\x7f", R"("a\"b\\c/\n\r\t\u0001\u007f")"},
      {"1.00 \xC2\xB5s \xF0\x9F\x98\x80", "\"1.00 \xC2\xB5s \xF0\x9F\x98\x80\""},
      {"\xFF" "a\xC3", "\"" + bad + "a" + bad + "\""},
      {"\xC0\xAF\xED\xA0\x80", "\"" + bad + bad + bad + bad + bad + "\""}};
  for (const auto& [text, json] : rows) {
    EXPECT_EQ(JsonString(text), json);
    EXPECT_TRUE(ParseJson(JsonString(text))) << json;
  }
}

// A write, a read, a failure and a stop as a program reads them: every line one object, start
// first, end last with the exit status and each file's true size and SHA-256.
TEST_F(CliEndToEnd, JsonRunsAreOneObjectALineFromStartToEnd) {
  // What a command prints and the model table are events too.
  std::vector<Json> events = Events(Sim({"--json", "-m", "DSX6070", "--connect", "peek", "0"}).out);
  EXPECT_EQ(events.at(First(events, "output"))["text"].text, "00000000");
  events = Events(Cli({"--json", "models"}).out);
  EXPECT_EQ(First(events, "end"), 8u);
  EXPECT_EQ(events[0]["data_area"]["in_flash"].number, 1) << "DSX6071/6072's, in its flash";
  const std::vector<uint8_t> image = RandomBytes(0x100000, 7);
  SimRig::WriteFile(Path("image.bin"), image);
  const auto file = [&](const std::vector<Json>& events, const std::string& name) {
    std::string error;
    EXPECT_EQ(events.back()["files"].items.at(0).second["sha256"].text,
              Sha256OfFile(Path(name), &error).value_or(error));
    return events.back()["files"].items.at(0).second;
  };

  const Outcome write =
      Sim({"--json", "-m", "DSX6070", "-b", Path("old.bin"), "write-firmware", Path("image.bin")});
  EXPECT_EQ(write.status, 0) << write.err;
  events = Events(write.out);
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events[0]["event"].text + events[0]["command"].text + events[0]["model"].text,
            "startwrite-firmwareDSX6070");
  EXPECT_EQ(events[0]["text"].text.rfind("Write Firmware on DSX6070 takes about ", 0), 0u);
  EXPECT_NE(write.err.find(events[0]["text"].text + "\n"), std::string::npos) << "text on stderr";
  EXPECT_EQ(events[First(events, "phase")]["name"].text, "back-up");
  EXPECT_LT(First(events, "phase"), First(events, "progress"));
  EXPECT_EQ(events.back()["event"].text + events.back()["result"].text, "enddone");
  EXPECT_EQ(file(events, "old.bin")["path"].text, Path("old.bin"));
  char estimate[48];
  std::snprintf(estimate, sizeof estimate, "estimate: %.3f s", events[0]["estimate_s"].number);
  EXPECT_EQ(events.back()["details"].items.at(1).second.text, estimate);

  const Outcome read = Sim({"--json", "-v", "-m", "DSX6070", "read-firmware", Path("back.bin")});
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(SimRig::ReadFile(Path("back.bin")), image);
  events = Events(read.out);
  EXPECT_EQ(file(events, "back.bin")["bytes"].number, 0x100000);
  const std::string detail = events.back()["details"].items.at(0).second.text;
  EXPECT_NE(read.err.find("\n" + detail + "\n"), std::string::npos) << "-v: the details on stderr";

  SetConf("DSX6070", "cable", "unplugged");
  const Outcome failed = Sim({"--json", "-m", "DSX6070", "read-firmware", Path("none.bin")});
  events = Events(failed.out);
  EXPECT_EQ(events.at(First(events, "message"))["text"].text, kNoAdapterMessage);
  EXPECT_EQ(events.back()["result"].text, "failed");
  EXPECT_EQ(events.back()["exit"].number, 1);
  EXPECT_EQ(failed.status, 1);
  SetConf("DSX6070", "cable", "plugged");

  // Ctrl-C half way through a read: exit 3, no file. A word a millisecond: 2 s of progress.
  InterruptGuard guard;
  int64_t calls = 0;
  Terminal terminal;
  terminal.now = [&] {
    if (++calls == 2000) std::raise(SIGINT);
    return calls * 1000;
  };
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({"--simulate", dir.path(), "--json", "-m", "DSX6070", "read-firmware",
                    Path("stopped.bin")}, out, err, terminal), 3);
  events = Events(out.str());
  EXPECT_EQ(events.back()["result"].text, "stopped");
  const auto progress = std::count_if(events.begin(), events.end(),
                                      [](const Json& e) { return e["event"].text == "progress"; });
  EXPECT_TRUE(progress >= 4 && progress <= 2 * JsonEvents::kProgressPerSecond + 1) << progress;
  EXPECT_NE(err.str().find("corvane-cli: stopped by Ctrl-C\n"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(Path("stopped.bin")));
}

}  // namespace
}  // namespace corvane::cli
