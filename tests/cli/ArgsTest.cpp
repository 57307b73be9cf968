#include "cli/Args.h"

#include <gtest/gtest.h>

#include <functional>

namespace corvane::cli {
namespace {

using Args = std::vector<std::string>;

CliOptions Parse(const Args& args) {
  auto parsed = ParseArgs(args);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    ADD_FAILURE() << "usage error: " << *error;
    return {};
  }
  return std::get<CliOptions>(parsed);
}

// ---- accepted command lines -------------------------------------------------------------

struct Good {
  Args args;
  std::function<void(const CliOptions&)> check;
};

class GoodArgs : public ::testing::TestWithParam<Good> {};

TEST_P(GoodArgs, Parses) { GetParam().check(Parse(GetParam().args)); }

INSTANTIATE_TEST_SUITE_P(
    Table, GoodArgs,
    ::testing::Values(
        Good{{"read-firmware", "f.bin"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.command, CommandId::ReadFirmware);
               EXPECT_EQ(o.file, "f.bin");
               EXPECT_EQ(o.profile.model, Model::BCT13);  // the window's start-up model
               EXPECT_FALSE(o.profile.eraseDataArea);
               EXPECT_TRUE(o.profile.writeDataArea);
               EXPECT_FALSE(o.profile.reloaded);
               EXPECT_TRUE(o.verify);
               EXPECT_FALSE(o.answer.has_value());
               EXPECT_TRUE(o.target.simulateDir.empty());
               EXPECT_TRUE(o.target.port.empty());
               EXPECT_FALSE(o.target.directIo);
               EXPECT_FALSE(o.stats || o.quiet || o.connect || o.verbose || o.json || o.modelGiven);
             }},
        // The short forms, joined or not; a value is never read as an option.
        Good{{"-s", "d", "-mdsx6072", "-y", "-q", "-v", "-b", "-n", "write-firmware", "f"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.target.simulateDir + *o.backup, "d-n");
               EXPECT_EQ(o.profile.model, Model::DSX6071_6072);
               EXPECT_TRUE(o.modelGiven && o.quiet && o.verbose && *o.answer);
             }},
        Good{{"-p/dev/parport1", "-m", "tvn_box", "-n", "--json", "peek", "0"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.target.port, "/dev/parport1");
               EXPECT_EQ(o.profile.model, Model::TVNbox);
               EXPECT_TRUE(o.json && !*o.answer);
             }},
        Good{{"read-firmware", "-V"}, [](const CliOptions& o) { EXPECT_TRUE(o.version); }},
        Good{{"--simulate", "dir", "--model", "ts1", "poke", "80000000", "12345678", "--connect"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.command, CommandId::Poke);
               EXPECT_EQ(o.target.simulateDir, "dir");
               EXPECT_EQ(o.profile.model, Model::TS1);
               EXPECT_EQ(o.address, 0x80000000u);
               EXPECT_EQ(o.value, 0x12345678u);
               EXPECT_TRUE(o.connect);
             }},
        Good{{"--model=tvn BOX", "peek", "ffffffff"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.profile.model, Model::TVNbox);
               EXPECT_EQ(o.command, CommandId::Peek);
               EXPECT_EQ(o.address, 0xFFFFFFFFu);
             }},
        Good{{"poke", "2000d010", "0"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.address, 0x2000D010u);
               EXPECT_EQ(o.value, 0u);
             }},
        Good{{"--model", "DSX6071/6072", "--erase-data-area", "--no-write-data-area",
              "write-firmware", "image.bin"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.profile.model, Model::DSX6071_6072);
               EXPECT_TRUE(o.profile.eraseDataArea);
               EXPECT_FALSE(o.profile.writeDataArea);
               EXPECT_EQ(o.command, CommandId::WriteFirmware);
               EXPECT_EQ(o.file, "image.bin");
             }},
        Good{{"--reloaded", "--yes", "--no-verify", "--quiet", "read-eeprom", "e.bin"},
             [](const CliOptions& o) {
               EXPECT_TRUE(o.profile.reloaded);
               EXPECT_EQ(o.answer, std::optional<bool>(true));
               EXPECT_FALSE(o.verify);
               EXPECT_TRUE(o.quiet);
               EXPECT_EQ(o.command, CommandId::ReadEeprom);
             }},
        Good{{"--no", "--verify", "--port", "/dev/parport1", "--trace", "t.txt", "--model", "TS1",
              "write-eeprom", "e.bin"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.answer, std::optional<bool>(false));
               EXPECT_TRUE(o.verify);
               EXPECT_EQ(o.target.port, "/dev/parport1");
               EXPECT_EQ(o.target.traceFile, "t.txt");
               EXPECT_EQ(o.command, CommandId::WriteEeprom);
             }},
        Good{{"read-signature", "--direct-io", "--model", "DSX6170"},
             [](const CliOptions& o) {
               EXPECT_TRUE(o.target.directIo);
               EXPECT_EQ(o.command, CommandId::ReadSignature);
               EXPECT_EQ(o.profile.model, Model::DSX6170);
             }},
        Good{{"--simulate=d", "--bus-trace", "bus.vcd", "--stats", "ramdump", "6072", "out.bin"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.target.busTraceFile, "bus.vcd");
               EXPECT_TRUE(o.stats);
               EXPECT_EQ(o.command, CommandId::RamDump6072);
               EXPECT_EQ(o.file, "out.bin");
             }},
        Good{{"ramdump", "tvnbox", "x"},
             [](const CliOptions& o) { EXPECT_EQ(o.command, CommandId::RamDumpTVNbox); }},
        Good{{"ramdump", "6071", "x"},
             [](const CliOptions& o) { EXPECT_EQ(o.command, CommandId::RamDump6071); }},
        Good{{"--model", "DSI185", "ramdump", "DSI185", "x"},
             [](const CliOptions& o) { EXPECT_EQ(o.command, CommandId::RamDumpDSI185); }},
        Good{{"script", "-"},
             [](const CliOptions& o) {
               EXPECT_EQ(o.command, CommandId::Script);
               EXPECT_EQ(o.file, "-");
             }},
        // After "--" a file may look like an option.
        Good{{"--", "read-firmware", "--odd-name"},
             [](const CliOptions& o) { EXPECT_EQ(o.file, "--odd-name"); }},
        Good{{"models"}, [](const CliOptions& o) { EXPECT_TRUE(o.models); }},
        Good{{"help"}, [](const CliOptions& o) { EXPECT_TRUE(o.help); }},
        // --help wins over everything but an earlier unknown option.
        Good{{"read-firmware", "--help"}, [](const CliOptions& o) { EXPECT_TRUE(o.help); }},
        Good{{"-h"}, [](const CliOptions& o) { EXPECT_TRUE(o.help); }}));

// ---- usage errors: the one-line reason ------------------------------------------------

struct Bad {
  Args args;
  std::string message;
};

class BadArgs : public ::testing::TestWithParam<Bad> {};

TEST_P(BadArgs, GivesTheReason) {
  auto parsed = ParseArgs(GetParam().args);
  ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
  EXPECT_EQ(std::get<std::string>(parsed), GetParam().message);
}

const std::string kHexRule = " (1 to 8 hexadecimal digits, no prefix or sign)";

INSTANTIATE_TEST_SUITE_P(
    Table, BadArgs,
    ::testing::Values(
        Bad{{}, "no command given (see: corvane-cli --help)"},
        Bad{{"--quiet"}, "no command given (see: corvane-cli --help)"},
        Bad{{"--bogus", "models"}, "unknown option '--bogus' (see: corvane-cli --help)"},
        Bad{{"--bogus=1", "models"}, "unknown option '--bogus' (see: corvane-cli --help)"},
        Bad{{"-x", "models"}, "unknown option '-x' (see: corvane-cli --help)"},
        Bad{{"--simulate"}, "option --simulate needs a value"},
        Bad{{"--model=", "models"}, "option --model needs a value"},
        Bad{{"models", "--trace"}, "option --trace needs a value"},
        Bad{{"--yes=1", "models"}, "option --yes takes no value"},
        Bad{{"--model", "DSX6073", "models"},
            "unknown model 'DSX6073': DSX6071/6072, DSI185, BCT13, TS1, DSX6070, TVN box, STB3100 "
            "or DSX6170 (see: corvane-cli models)"},
        Bad{{"-m"}, "option -m needs a value"},
        Bad{{"-qy", "models"}, "unknown option '-qy' (see: corvane-cli --help)"},
        Bad{{"-m", "TS1", "-mTS1", "models"}, "option --model given twice"},
        Bad{{"--no-backup", "write-data-area", "f"},
            "write-data-area changes the decoder: name its model with --model NAME (-m NAME); a "
            "wrong model's set-up and command values are wrong on the wire (see: corvane-cli "
            "models)"},
        Bad{{"--model", "TS1", "--model", "BCT13", "models"}, "option --model given twice"},
        Bad{{"--simulate", "a", "--simulate", "b", "models"}, "option --simulate given twice"},
        Bad{{"frobnicate"}, "unknown command 'frobnicate' (see: corvane-cli --help)"},
        Bad{{"READ-FIRMWARE", "f"}, "unknown command 'READ-FIRMWARE' (see: corvane-cli --help)"},
        Bad{{"read-firmware"}, "read-firmware needs FILE"},
        Bad{{"write-data-area", "--model", "TS1"}, "write-data-area needs FILE"},
        Bad{{"read-firmware", "a", "b"}, "unexpected argument 'b' after read-firmware FILE"},
        Bad{{"read-signature", "--model", "TS1", "x"}, "unexpected argument 'x' after read-signature"},
        Bad{{"models", "x"}, "unexpected argument 'x' after models"},
        Bad{{"script"}, "script needs FILE|-"},
        Bad{{"ramdump", "6071"}, "ramdump needs 6071|6072|BCT13|DSI185|TVNbox FILE"},
        Bad{{"ramdump", "6073", "f"}, "unknown ramdump '6073' (6071, 6072, BCT13, DSI185 or TVNbox)"},
        Bad{{"ramdump", "TVN box", "f"},
            "unknown ramdump 'TVN box' (6071, 6072, BCT13, DSI185 or TVNbox)"},
        Bad{{"poke", "80000000"}, "poke needs ADDRESS VALUE"},
        Bad{{"poke", "0x80", "1"}, "invalid address '0x80'" + kHexRule},
        Bad{{"poke", "80000000", "1 2"}, "invalid value '1 2'" + kHexRule},
        Bad{{"poke", "80000000", "g"}, "invalid value 'g'" + kHexRule},
        Bad{{"peek", "123456789"}, "invalid address '123456789'" + kHexRule},
        Bad{{"peek", ""}, "invalid address ''" + kHexRule},
        Bad{{"peek", "+12"}, "invalid address '+12'" + kHexRule},
        Bad{{"peek", " 12"}, "invalid address ' 12'" + kHexRule},
        Bad{{"--yes", "--no", "models"}, "--yes and --no cannot be used together"},
        Bad{{"--verify", "--no-verify", "models"}, "--verify and --no-verify cannot be used together"},
        Bad{{"--simulate", "d", "--port", "/dev/parport0", "models"},
            "--simulate cannot be used with --port or --direct-io"},
        Bad{{"--simulate", "d", "--direct-io", "models"},
            "--simulate cannot be used with --port or --direct-io"},
        Bad{{"--port", "/dev/parport0", "--direct-io", "models"},
            "--port and --direct-io cannot be used together"},
        Bad{{"--bus-trace", "b.vcd", "read-eeprom", "e"},
            "--bus-trace needs --simulate (it records the virtual decoder's bus)"},
        Bad{{"--stats", "peek", "0"},
            "--stats needs --simulate (it counts the virtual decoder's traffic)"},
        Bad{{"--connect", "read-firmware", "f"},
            "--connect is for poke, peek and script (read-firmware connects by itself)"},
        Bad{{"read-signature"}, "read-signature is not offered for BCT13"}));

// ---- commands a model does not offer --------------------------------------------

struct Offered {
  const char* model;
  bool signature, readData, writeData;
};

class OfferedCommands : public ::testing::TestWithParam<Offered> {};

TEST_P(OfferedCommands, FollowTheWindowsMenu) {
  const Offered& row = GetParam();
  const auto check = [&](std::vector<std::string> args, bool offered) {
    args.insert(args.begin(), {"--model", row.model});
    auto parsed = ParseArgs(args);
    if (offered) {
      EXPECT_TRUE(std::holds_alternative<CliOptions>(parsed)) << args[2];
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << args[2];
      EXPECT_EQ(std::get<std::string>(parsed), args[2] + " is not offered for " + row.model);
    }
  };
  check({"read-signature"}, row.signature);
  check({"read-data-area", "f"}, row.readData);
  check({"write-data-area", "f"}, row.writeData);
  // Everything else is always there.
  for (auto args : std::vector<std::vector<std::string>>{{"read-firmware", "f"},
                                                          {"write-firmware", "f"},
                                                          {"read-eeprom", "f"},
                                                          {"write-eeprom", "f"},
                                                          {"ramdump", "BCT13", "f"}}) {
    check(args, true);
  }
}

INSTANTIATE_TEST_SUITE_P(Models, OfferedCommands,
                         ::testing::Values(Offered{"DSX6071/6072", true, false, false},
                                           Offered{"DSI185", true, true, true},
                                           Offered{"BCT13", false, true, true},
                                           Offered{"TS1", true, true, true},
                                           Offered{"DSX6070", true, true, true},
                                           // The window offers these, but nothing is
                                           // there to move.
                                           Offered{"TVN box", true, false, false},
                                           Offered{"STB3100", true, false, false},
                                           Offered{"DSX6170", true, true, false}));

// Model names as users write them; the window's --model reads them too.
TEST(ModelNames, AnyCaseBlanksDashesAndEitherHalfOfASharedCaption) {
  const std::pair<const char*, std::optional<Model>> rows[] = {
      {"DSX6071", Model::DSX6071_6072}, {"dsx6072", Model::DSX6071_6072},
      {"DSX 6071/6072", Model::DSX6071_6072}, {"TVNbox", Model::TVNbox}, {"tvn-box", Model::TVNbox},
      {"TVN_BOX", Model::TVNbox}, {"Ts-1", Model::TS1}, {"stb 3100", Model::STB3100},
      {"DSX6073", {}}, {"6072", {}}, {"DSX", {}}, {"", {}}, {"TS\n1", {}}, {"TS1.", {}}};
  for (const auto& [name, model] : rows) EXPECT_EQ(ModelFromName(name), model) << name;
}

TEST(Usage, NamesEveryOptionAndCommandOnItsOwnLine) {
  const std::string usage = UsageText();
  for (const char* word :
       {"--simulate DIR", "--port /dev/parportN", "--direct-io", "--model NAME, -m NAME",
        "--erase-data-area", "--no-write-data-area", "--reloaded", "--yes, -y", "--no, -n",
        "--verbose, -v", "--json", "--version, -V", "-s DIR, -p DEV", "--backup FILE, -b FILE",
        "--trace FILE", "--bus-trace FILE", "--stats", "--quiet", "--verify", "--no-verify",
        "--connect", "--help", "write-firmware FILE", "read-firmware FILE",
        "write-data-area FILE", "read-data-area FILE", "read-signature", "read-eeprom FILE",
        "write-eeprom FILE", "ramdump 6071|6072|BCT13|DSI185|TVNbox FILE",
        "poke ADDRESS VALUE", "peek ADDRESS", "script FILE|-", "models"}) {
    const auto at = usage.find("  " + std::string(word));
    ASSERT_NE(at, std::string::npos) << word;
    EXPECT_EQ(usage[at - 1], '\n') << word << " does not start its own line";
  }
  EXPECT_NE(usage.find("2 usage error (nothing was sent to the\ndecoder), 3 stopped by the user"),
            std::string::npos);
}

// ---- script lines --------------------------------------------------------------------------

TEST(Script, ReadsPokePeekSleepWithCommentsAndBlankLines) {
  const std::string text =
      "# set up\n"
      "\n"
      "poke 80000000 CAFEBABE   # first word\r\n"
      "  PEEK 80000000\n"
      "sleep 250\n"
      "\t\n"
      "Poke 2000d020 7\n"
      "peek ffffffff";  // no final line feed
  auto parsed = ParseScript(text);
  ASSERT_TRUE(std::holds_alternative<std::vector<ScriptStep>>(parsed)) << std::get<std::string>(parsed);
  const auto& steps = std::get<std::vector<ScriptStep>>(parsed);
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[0].kind, ScriptStep::Poke);
  EXPECT_EQ(steps[0].address, 0x80000000u);
  EXPECT_EQ(steps[0].value, 0xCAFEBABEu);
  EXPECT_EQ(steps[0].line, 3);
  EXPECT_EQ(steps[1].kind, ScriptStep::Peek);
  EXPECT_EQ(steps[1].address, 0x80000000u);
  EXPECT_EQ(steps[1].line, 4);
  EXPECT_EQ(steps[2].kind, ScriptStep::Sleep);
  EXPECT_EQ(steps[2].value, 250u);
  EXPECT_EQ(steps[3].address, 0x2000D020u);
  EXPECT_EQ(steps[3].value, 7u);
  EXPECT_EQ(steps[3].line, 7);
  EXPECT_EQ(steps[4].address, 0xFFFFFFFFu);
  EXPECT_EQ(steps[4].line, 8);
}

TEST(Script, EmptyOrOnlyCommentsIsNoSteps) {
  auto parsed = ParseScript("\n# nothing\n   \n");
  ASSERT_TRUE(std::holds_alternative<std::vector<ScriptStep>>(parsed));
  EXPECT_TRUE(std::get<std::vector<ScriptStep>>(parsed).empty());
}

struct BadScript {
  std::string text;
  std::string message;
};

class BadScripts : public ::testing::TestWithParam<BadScript> {};

TEST_P(BadScripts, NameTheFirstBadLine) {
  auto parsed = ParseScript(GetParam().text);
  ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
  EXPECT_EQ(std::get<std::string>(parsed), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadScripts,
    ::testing::Values(
        BadScript{"poke 0 0\npeek 0\npok 0 0\n", "line 3: unknown command 'pok' (poke, peek or sleep)"},
        BadScript{"poke 80000000\n", "line 1: poke needs ADDRESS VALUE"},
        BadScript{"peek\n", "line 1: peek needs ADDRESS"},
        BadScript{"sleep\n", "line 1: sleep needs MILLISECONDS"},
        BadScript{"# c\npoke 0 1 2\n", "line 2: unexpected '2' after poke ADDRESS VALUE"},
        BadScript{"peek 0 0\n", "line 1: unexpected '0' after peek ADDRESS"},
        BadScript{"\n\npoke 0x10 0\n", "line 3: invalid address '0x10'" + kHexRule},
        BadScript{"poke 10 -1\n", "line 1: invalid value '-1'" + kHexRule},
        BadScript{"peek 123456789\n", "line 1: invalid address '123456789'" + kHexRule},
        BadScript{"sleep 1.5\n", "line 1: invalid milliseconds '1.5' (a decimal number up to 86400000)"},
        BadScript{"sleep 86400001\n",
                  "line 1: invalid milliseconds '86400001' (a decimal number up to 86400000)"},
        BadScript{"sleep 9999999999\n",
                  "line 1: invalid milliseconds '9999999999' (a decimal number up to 86400000)"},
        // The first bad line is reported even when a later one is bad too.
        BadScript{"peek 0\nsleep x\npok\n",
                  "line 2: invalid milliseconds 'x' (a decimal number up to 86400000)"}));

}  // namespace
}  // namespace corvane::cli
