// Seeded random inputs for every parser that takes what a user types: the Poke/Peek field,
// the command line and script lines. Each must answer (a value or a reason), never crash,
// and agree with a plain model of what it accepts. Bounded in count and time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cli/Args.h"
#include "link/Text.h"

namespace corvane::cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kInputs = 20000;
constexpr auto kBudget = std::chrono::seconds(2);

// Characters a user or a script could produce, weighted towards the interesting ones.
std::string RandomText(std::mt19937& rng, size_t maxLength) {
  static const std::string kAlphabet =
      "0123456789abcdefABCDEFxXgG-+= \t\n/.:,_~\x01\x7f\xff\xc3\xa9";
  std::uniform_int_distribution<size_t> length(0, maxLength);
  std::uniform_int_distribution<size_t> pick(0, kAlphabet.size() - 1);
  std::string s(length(rng), ' ');
  for (char& c : s) c = kAlphabet[pick(rng)];
  return s;
}

// What a field should be: 1 to maxDigits hexadecimal digits and nothing else, read by the
// C library's own conversion rather than a second copy of the parser.
std::optional<uint32_t> FieldModel(const std::string& s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  if (s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
  return static_cast<uint32_t>(std::strtoull(s.c_str(), nullptr, 16));
}

TEST(ParserFuzz, HexFieldAgreesWithItsModel) {
  std::mt19937 rng(20240611);
  const auto start = Clock::now();
  int n = 0;
  for (; n < kInputs && Clock::now() - start < kBudget; ++n) {
    const std::string s = RandomText(rng, 12);
    for (size_t maxDigits : {4u, 8u}) {
      ASSERT_EQ(ParseHexField(s, maxDigits), FieldModel(s, maxDigits)) << '"' << s << '"';
    }
  }
  EXPECT_GT(n, 1000);
}

// Tokens the command line is made of, mixed with random ones.
const std::vector<std::string> kTokens = {
    "--simulate", "--port", "--direct-io", "--model", "--erase-data-area", "--no-write-data-area",
    "--reloaded", "--yes", "--no", "--trace", "--bus-trace", "--stats", "--quiet", "--verify",
    "--no-verify", "--connect", "--help", "-h", "--", "-", "--model=TS1", "--simulate=",
    "--verify=1", "write-firmware", "read-firmware", "write-data-area", "read-data-area",
    "read-signature", "read-eeprom", "write-eeprom", "ramdump", "poke", "peek", "script", "models",
    "6071", "BCT13", "tvnbox", "DSX6071/6072", "tvn box", "80000000", "123456789", "fffffffff",
    "0", "x", "", "dir", "file.bin"};

TEST(ParserFuzz, CommandLineAlwaysGivesOptionsOrOneLineReason) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> count(0, 7), token(0, kTokens.size() - 1), coin(0, 3);
  const auto start = Clock::now();
  int n = 0, accepted = 0;
  for (; n < kInputs && Clock::now() - start < kBudget; ++n) {
    std::vector<std::string> args(count(rng));
    for (auto& a : args) a = coin(rng) == 0 ? RandomText(rng, 10) : kTokens[token(rng)];
    const ParsedArgs parsed = ParseArgs(args);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
      ASSERT_FALSE(reason->empty());
      ASSERT_EQ(reason->find('\n'), std::string::npos) << *reason;
      continue;
    }
    ++accepted;
    const CliOptions& o = std::get<CliOptions>(parsed);
    if (o.help || o.models) continue;
    // What was accepted is consistent: one target, and a command with its operands.
    ASSERT_FALSE(!o.target.simulateDir.empty() && (!o.target.port.empty() || o.target.directIo));
    const bool takesFile =
        CommandOf(o.command).file != FileUse::None || o.command == CommandId::Script;
    if (takesFile) {
      ASSERT_FALSE(o.file.empty());
    }
  }
  EXPECT_GT(n, 1000);
  EXPECT_GT(accepted, 0) << "the token mix reaches accepted command lines too";
}

TEST(ParserFuzz, PokeAndPeekOperandsFollowTheFieldRules) {
  std::mt19937 rng(99);
  const auto start = Clock::now();
  int n = 0;
  for (; n < kInputs && Clock::now() - start < kBudget; ++n) {
    const std::string address = RandomText(rng, 10), value = RandomText(rng, 10);
    // A leading '-' would be an option; those are the option parser's business.
    if (!address.empty() && address[0] == '-') continue;
    if (!value.empty() && value[0] == '-') continue;
    const ParsedArgs parsed = ParseArgs({"--simulate", "d", "poke", address, value});
    const auto a = FieldModel(address, 8), v = FieldModel(value, 8);
    if (const auto* o = std::get_if<CliOptions>(&parsed)) {
      ASSERT_TRUE(a && v) << '"' << address << "\" \"" << value << '"';
      EXPECT_EQ(o->address, *a);
      EXPECT_EQ(o->value, *v);
    } else {
      ASSERT_FALSE(a && v) << std::get<std::string>(parsed);
    }
  }
  EXPECT_GT(n, 1000);
}

TEST(ParserFuzz, ScriptsAreRunWholeOrRefusedWithTheirLine) {
  std::mt19937 rng(3);
  static const std::vector<std::string> kWords = {"poke", "peek", "sleep", "#", "80000000",
                                                  "10", "fffffffff", "-1", "", "\t"};
  std::uniform_int_distribution<size_t> lines(0, 6), words(0, 4), word(0, kWords.size() - 1),
      coin(0, 4);
  const auto start = Clock::now();
  int n = 0;
  for (; n < kInputs && Clock::now() - start < kBudget; ++n) {
    std::string text;
    const size_t lineCount = lines(rng);
    for (size_t l = 0; l < lineCount; ++l) {
      const size_t w = words(rng);
      for (size_t i = 0; i < w; ++i) {
        text += coin(rng) == 0 ? RandomText(rng, 6) : kWords[word(rng)];
        text += ' ';
      }
      text += '\n';
    }
    const ParsedScript parsed = ParseScript(text);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
      ASSERT_EQ(reason->rfind("line ", 0), 0u) << *reason;
      continue;
    }
    const auto total = std::count(text.begin(), text.end(), '\n');
    for (const ScriptStep& step : std::get<std::vector<ScriptStep>>(parsed)) {
      ASSERT_GE(step.line, 1);
      ASSERT_LE(step.line, total);
    }
  }
  EXPECT_GT(n, 1000);
}

}  // namespace
}  // namespace corvane::cli
