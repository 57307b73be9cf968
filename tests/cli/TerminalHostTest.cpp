#include "eeprom/corvane_ee.h"
#include "cli/TerminalHost.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "support/RecordingPort.h"
#include "target/Session.h"

namespace corvane::cli {
namespace {

// A host over string streams and a hand-moved clock.
struct Rig {
  explicit Rig(TerminalHost::Settings settings = {}, std::string input = "") : in(input) {
    settings.now = [this] { return now; };
    host = std::make_unique<TerminalHost>(out, err, in, std::move(settings));
  }
  std::ostringstream out, err;
  std::istringstream in;
  int64_t now = 1000000;
  std::unique_ptr<TerminalHost> host;
};

TerminalHost::Settings Tty() {
  TerminalHost::Settings s;
  s.stderrIsTty = true;
  return s;
}

// ---- messages ---------------------------------------------------------------------------

TEST(TerminalMessages, ErrorsGoToStderrOthersToStdoutEachAsItsLines) {
  Rig rig;
  EXPECT_EQ(rig.host->MessageBox(MessageKind::Information, "Reading Flash completed.", Buttons::Ok),
            Answer::Ok);
  EXPECT_FALSE(rig.host->errorShown());
  rig.host->MessageBox(MessageKind::Information, "Manufacturer: AMD\nDevice: AM29F800BT", Buttons::Ok);
  rig.host->MessageBox(MessageKind::Error, "NO ACK1", Buttons::Ok);
  rig.host->MessageBox(MessageKind::Error, "first\r\nsecond", Buttons::Ok);
  EXPECT_EQ(rig.out.str(), "Reading Flash completed.\nManufacturer: AMD\nDevice: AM29F800BT\n");
  EXPECT_EQ(rig.err.str(), "NO ACK1\nfirst\nsecond\n");
  EXPECT_TRUE(rig.host->errorShown());
}

// The estimate is the command's first line, asked nothing; the time left follows the
// progress on the command's own clock, and goes when the command ends.
TEST(TerminalMessages, EstimateFirstThenTimeLeftOnTheProgressLine) {
  Rig rig(Tty());
  testing::ManualClock clock;
  EXPECT_EQ(rig.host->AnnounceDuration("Write Firmware on TS1 takes about 8 min.", true),
            Answer::Yes);
  rig.host->SetTimeBudget(300'000'000, &clock);
  rig.host->SetStatus("7FE00000");
  rig.host->SetProgressRange(0, 100);
  rig.host->SetProgressPosition(50);
  // Faster than the estimate: the rest goes as fast as the first half did.
  clock.now += 60'000'000;
  rig.host->Repaint();
  EXPECT_EQ(rig.host->progressLine(), "7FE00000  50%  about 60 s left");
  // Slower than said: never "about 1 s left" for the whole second half.
  clock.now += 400'000'000;
  rig.now += 1'000'000;
  rig.host->Repaint();
  EXPECT_EQ(rig.host->progressLine(), "7FE00000  50%  about 8 min left");
  // A new phase with the estimate's figure for it and for what follows, at the pace so far.
  rig.host->SetTimeBudget(100'000'000, &clock, 50'000'000);
  rig.host->SetProgressPosition(0);
  rig.now += 1'000'000;
  rig.host->Repaint();
  EXPECT_EQ(rig.host->progressLine(), "7FE00000  0%  about 3 min left");
  rig.host->SetProgressPosition(25);
  clock.now += 75'000'000;  // three times slower than its estimate
  rig.now += 1'000'000;
  rig.host->Repaint();
  EXPECT_EQ(rig.host->progressLine(), "7FE00000  25%  about 6 min left");
  rig.host->SetTimeBudget(0, nullptr);
  rig.now += 1'000'000;
  rig.host->Repaint();
  EXPECT_EQ(rig.host->progressLine(), "7FE00000  25%");
  EXPECT_EQ(rig.out.str(), "Write Firmware on TS1 takes about 8 min.\n");
}

// ---- questions --------------------------------------------------------------------------

struct QuestionCase {
  const char* name;
  std::optional<bool> answer;
  bool stdinIsTty;
  std::string input;
  Answer expected;
  std::string printed;   // after the question's own line
  std::string leftOver;  // what stays unread on stdin
};

class Questions : public ::testing::TestWithParam<QuestionCase> {};

TEST_P(Questions, AreAnsweredByOptionTerminalOrNo) {
  const QuestionCase& c = GetParam();
  TerminalHost::Settings s;
  s.answer = c.answer;
  s.stdinIsTty = c.stdinIsTty;
  Rig rig(s, c.input);
  EXPECT_EQ(rig.host->MessageBox(MessageKind::Confirmation, "Stop now?", Buttons::YesNo), c.expected);
  EXPECT_EQ(rig.out.str(), "Stop now?\n" + c.printed);
  std::string rest((std::istreambuf_iterator<char>(rig.in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rest, c.leftOver);
  EXPECT_TRUE(rig.err.str().empty());
  EXPECT_FALSE(rig.host->errorShown());
  EXPECT_FALSE(rig.host->stoppedByUser());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Questions,
    ::testing::Values(
        QuestionCase{"yes_option", true, true, "n\n", Answer::Yes, "[y/N] y (--yes)\n", "n\n"},
        QuestionCase{"no_option", false, true, "y\n", Answer::No, "[y/N] n (--no)\n", "y\n"},
        QuestionCase{"tty_y", std::nullopt, true, "y\nrest", Answer::Yes, "[y/N] ", "rest"},
        QuestionCase{"tty_yes_mixed_case", std::nullopt, true, " YeS \n", Answer::Yes, "[y/N] ", ""},
        QuestionCase{"tty_n", std::nullopt, true, "n\n", Answer::No, "[y/N] ", ""},
        QuestionCase{"tty_empty_line", std::nullopt, true, "\n", Answer::No, "[y/N] ", ""},
        QuestionCase{"tty_other_word", std::nullopt, true, "yep\n", Answer::No, "[y/N] ", ""},
        QuestionCase{"tty_end_of_input", std::nullopt, true, "", Answer::No, "[y/N] \n", ""},
        QuestionCase{"no_tty", std::nullopt, false, "y\n", Answer::No,
                     "[y/N] n (no terminal to ask; --yes answers Yes)\n", "y\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- dialogs ------------------------------------------------------------------------------

TEST(TerminalDialogs, ReturnTheCommandLineFileAndKeepFilters) {
  TerminalHost::Settings s;
  s.path = "out.bin";
  Rig rig(s);
  EXPECT_EQ(rig.host->DialogFilter(Dialog::Save), kRestingFilter);
  {
    FilterGuard guard(*rig.host, Dialog::Save, "Binary file (*.bin) | *.BIN");
    EXPECT_EQ(rig.host->DialogFilter(Dialog::Save), "Binary file (*.bin) | *.BIN");
    EXPECT_EQ(rig.host->DialogFilter(Dialog::Open), kRestingFilter);
    EXPECT_EQ(rig.host->RunDialog(Dialog::Save), std::optional<std::string>("out.bin"));
    EXPECT_EQ(rig.host->RunDialog(Dialog::Open), std::optional<std::string>("out.bin"));
  }
  EXPECT_EQ(rig.host->DialogFilter(Dialog::Save), kRestingFilter);
  // Nothing was asked about replacing the file.
  EXPECT_TRUE(rig.out.str().empty());

  Rig none;
  EXPECT_EQ(none.host->RunDialog(Dialog::Open), std::nullopt);
}

// ---- the progress line ----------------------------------------------------------------------

TEST(ProgressLine, DrawsNothingWhenStderrIsNotATerminalOrQuiet) {
  TerminalHost::Settings quiet = Tty();
  quiet.quiet = true;
  for (const auto& settings : {TerminalHost::Settings{}, quiet}) {
    Rig rig(settings);
    rig.host->SetStatus("Connecting...");
    rig.host->Repaint();
    rig.host->SetProgressRange(0, 100);
    for (int i = 0; i < 100; ++i) {
      rig.host->SetProgressPosition(i);
      rig.host->ProcessMessages();
      rig.now += 200000;
    }
    rig.host->SetStatus("");
    rig.host->Finish();
    EXPECT_EQ(rig.err.str(), "");
    EXPECT_EQ(rig.out.str(), "");
    EXPECT_EQ(rig.host->progressDraws(), 0);
  }
}

TEST(ProgressLine, RefreshesAtMostTenTimesASecondWithTheLatestStatus) {
  Rig rig(Tty());
  rig.host->SetStatus("Connecting...");
  rig.host->Repaint();
  EXPECT_EQ(rig.err.str(), "\rConnecting...\x1b[K");

  rig.host->SetStatus("Reading Firmware...");
  rig.host->SetProgressRange(0, 0x8000);
  // One second of words, 100 per millisecond of (hand-moved) wall time.
  int words = 0;
  for (int ms = 0; ms < 1000; ++ms) {
    for (int k = 0; k < 100; ++k, ++words) {
      rig.host->SetProgressPosition(words / 4);
      rig.host->SetStatus("7FF" + std::to_string(100000 + words));
      rig.host->ProcessMessages();
    }
    rig.now += 1000;
  }
  // The first draw plus one per 100 ms.
  EXPECT_GE(rig.host->progressDraws(), 10);
  EXPECT_LE(rig.host->progressDraws(), 11);
  rig.now += 100000;
  rig.host->ProcessMessages();
  // 24999 of 0x8000: 76 %.
  EXPECT_EQ(rig.host->progressLine(), "7FF199999  76%");
  EXPECT_NE(rig.err.str().find("\r7FF199999  76%\x1b[K"), std::string::npos);
  EXPECT_EQ(rig.err.str().find('\n'), std::string::npos);
}

TEST(ProgressLine, IsClearedByAnEmptyStatusAndBeforeAMessage) {
  Rig rig(Tty());
  rig.host->SetStatus("Reading Eeprom...");
  rig.host->Repaint();
  rig.host->MessageBox(MessageKind::Error, "NO ACK", Buttons::Ok);
  EXPECT_EQ(rig.err.str(), "\rReading Eeprom...\x1b[K\r\x1b[KNO ACK\n");

  // After a message the line comes back at once, not a refresh period later.
  rig.host->ProcessMessages();
  EXPECT_EQ(rig.host->progressDraws(), 2);
  rig.err.str("");
  rig.host->SetProgressPosition(0);
  rig.host->SetStatus("");
  EXPECT_EQ(rig.err.str(), "\r\x1b[K");
  // Without a status there is no line, whatever the progress bar holds.
  rig.host->SetProgressRange(0, 10);
  rig.now += 1000000;
  rig.host->ProcessMessages();
  rig.host->Finish();
  EXPECT_EQ(rig.err.str(), "\r\x1b[K");  // nothing drawn, nothing left to clear
}

TEST(ProgressLine, StaysOnOneTerminalLine) {
  Rig rig(Tty());
  rig.host->SetStatus(std::string(200, 'x') + "\nmore");
  rig.host->SetProgressRange(0, 10);
  rig.host->SetProgressPosition(20);  // beyond the range: shown as 100 %, never more
  rig.host->Repaint();
  EXPECT_EQ(rig.host->progressLine(), std::string(79, 'x'));
  rig.host->SetStatus("a\nb");
  rig.now += 1000000;
  rig.host->Repaint();
  EXPECT_EQ(rig.host->progressLine(), "a b  100%");
}

// ---- Ctrl-C -------------------------------------------------------------------------------

TEST(Interrupt, AsksTheCommandToStopOnceAndAnswersItsQuestionYes) {
  InterruptGuard guard;
  Rig rig;
  EXPECT_FALSE(rig.host->AbortRequested());
  std::raise(SIGINT);
  EXPECT_TRUE(rig.host->AbortRequested());
  EXPECT_FALSE(rig.host->AbortRequested());

  // The command's own question after the request: the user already said stop.
  EXPECT_EQ(rig.host->MessageBox(MessageKind::Confirmation, "Stop writing?", Buttons::YesNo),
            Answer::Yes);
  EXPECT_EQ(rig.out.str(), "Stop writing?\n[y/N] y (Ctrl-C)\n");
  EXPECT_TRUE(rig.host->stoppedByUser());
  // A later question is not answered by the same Ctrl-C.
  EXPECT_EQ(rig.host->MessageBox(MessageKind::Confirmation, "Another?", Buttons::YesNo), Answer::No);
}

TEST(Interrupt, StopsASessionBetweenWords) {
  InterruptGuard guard;
  Rig rig;
  testing::RecordingPort port;
  testing::ManualClock clock;
  Link link(port, clock);
  EeBus bus(link);
  Session session{link, bus, *rig.host, ProfileSnapshot{}, "", "", true, nullptr};
  EXPECT_NO_THROW(session.CheckAbort("Stop?"));
  std::raise(SIGINT);
  EXPECT_THROW(session.CheckAbort("Stop?"), AbortError);
}

// A kill or a closed terminal must not leave a temporary file and a claimed port behind:
// they stop the command between words like Ctrl-C.
class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, RequestsTheStopOnce) {
  InterruptGuard guard;
  Rig rig;
  std::raise(GetParam());
  EXPECT_TRUE(rig.host->AbortRequested());
  EXPECT_FALSE(rig.host->AbortRequested());
}

INSTANTIATE_TEST_SUITE_P(EverySignal, StopSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

}  // namespace
}  // namespace corvane::cli
