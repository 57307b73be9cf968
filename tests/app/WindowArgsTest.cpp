// The window's command line: the CLI's target options and nothing else.
#include <gtest/gtest.h>

#include "app/WindowArgs.h"

namespace {

struct ArgsCase {
  std::vector<std::string> args;
  std::string error;  // empty: accepted
  std::string simulate, port, trace;
  bool directIo = false, help = false;
};

class WindowArgsTable : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(WindowArgsTable, ParsesOrSaysWhy) {
  const ArgsCase& c = GetParam();
  const auto parsed = ParseWindowArgs(WithoutToolkitOptions(c.args));
  if (!c.error.empty()) {
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_EQ(std::get<std::string>(parsed), c.error);
    return;
  }
  ASSERT_TRUE(std::holds_alternative<WindowArgs>(parsed)) << std::get<std::string>(parsed);
  const WindowArgs& a = std::get<WindowArgs>(parsed);
  EXPECT_EQ(a.target.simulateDir, c.simulate);
  EXPECT_EQ(a.target.port, c.port);
  EXPECT_EQ(a.target.traceFile, c.trace);
  EXPECT_EQ(a.target.directIo, c.directIo);
  EXPECT_EQ(a.help, c.help);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WindowArgsTable,
    ::testing::Values(
        ArgsCase{{}, "", "", "", ""},
        ArgsCase{{"--simulate", "/tmp/vd"}, "", "/tmp/vd", "", ""},
        ArgsCase{{"--simulate=/tmp/vd", "--trace", "t.txt"}, "", "/tmp/vd", "", "t.txt"},
        ArgsCase{{"--port", "/dev/parport1"}, "", "", "/dev/parport1", ""},
        ArgsCase{{"--direct-io"}, "", "", "", "", true},
        ArgsCase{{"--help"}, "", "", "", "", false, true},
        ArgsCase{{"-h"}, "", "", "", "", false, true},
        // The toolkit's options pass through untouched.
        ArgsCase{{"-platform", "offscreen", "--simulate", "d", "-reverse"}, "", "d", "", ""},
        ArgsCase{{"-style=fusion", "--port", "/dev/parport0"}, "", "", "/dev/parport0", ""},
        // The shell's own words for the same mistakes.
        ArgsCase{{"--simulate"}, "option --simulate needs a value", "", "", ""},
        ArgsCase{{"--simulate="}, "option --simulate needs a value", "", "", ""},
        ArgsCase{{"--trace"}, "option --trace needs a value", "", "", ""},
        ArgsCase{{"--direct-io=yes"}, "option --direct-io takes no value", "", "", ""},
        ArgsCase{{"--simulate", "a", "--simulate", "b"}, "option --simulate given twice", "", "", ""},
        ArgsCase{{"--model", "BCT13"}, "unknown option '--model' (see: corvane --help)", "", "", ""},
        ArgsCase{{"read-firmware"}, "unexpected argument 'read-firmware' (see: corvane --help)", "", "", ""},
        ArgsCase{{"--simulate", "d", "--port", "/dev/parport0"},
                 "--simulate cannot be used with --port or --direct-io", "", "", ""},
        ArgsCase{{"--simulate", "d", "--direct-io"},
                 "--simulate cannot be used with --port or --direct-io", "", "", ""},
        ArgsCase{{"--port", "/dev/parport0", "--direct-io"},
                 "--port and --direct-io cannot be used together", "", "", ""}));

TEST(WindowUsage, OneLinePerOption) {
  const std::string usage = WindowUsage();
  for (const char* option : {"--simulate DIR", "--port /dev/parportN", "--direct-io", "--trace FILE", "--help"}) {
    size_t lines = 0;
    for (size_t at = usage.find(std::string("\n  ") + option); at != std::string::npos;
         at = usage.find(std::string("\n  ") + option, at + 1)) {
      ++lines;
    }
    EXPECT_EQ(lines, 1u) << option;
  }
}

}  // namespace
