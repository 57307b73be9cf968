// The window's Host: dialogs, message boxes, and updates throttled to the screen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>

#include "AppSupport.h"
#include "app/QtHost.h"
#include "app/Unit1.h"
#include "link/Text.h"
#include "link/corvane.h"
#include "support/RecordingPort.h"

using apptest::ModalScript;
using apptest::PaintCounter;
using apptest::Press;
using apptest::Shown;
using corvane::Answer;
using corvane::Buttons;
using corvane::Dialog;
using corvane::MessageKind;

namespace {

struct FilterCase {
  const char* classic;
  const char* qt;
};

class FilterConversion : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterConversion, ClassicFormBecomesQtForm) {
  EXPECT_EQ(QtFilterFromClassic(GetParam().classic), QString::fromLatin1(GetParam().qt));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterConversion,
    ::testing::Values(
        FilterCase{"Binary file (*.bin) | *.BIN", "Binary file (*.bin *.BIN)"},
        FilterCase{"VAR2a files (*.dvb)|*.DVB", "VAR2a files (*.dvb *.DVB)"},
        FilterCase{"Images|*.bin;*.img|All files (*.*)|*.*",
                   "Images (*.bin *.BIN *.img *.IMG);;All files (*.*)"},
        FilterCase{"Eeprom|", "Eeprom (*)"}));

struct HostFixture : ::testing::Test {
  std::unique_ptr<TForm1> form = std::make_unique<TForm1>(TForm1::Options{});
  QtHost& host = form->host();
  QLabel* panel = form->StatusBar1->Panel(0);

  // Shown, with its first exposure painted, so that only the host's own paints are counted.
  void ShowSettled() {
    form->show();
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
  }
};

struct BoxCase {
  MessageKind kind;
  Buttons buttons;
  const char* press;
  Answer answer;
  QMessageBox::Icon icon;
  const char* text = "Writing Flash completed.";
};

class MessageBoxes : public HostFixture, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxes, IconButtonsTitleAndAnswer) {
  const BoxCase& c = GetParam();
  Shown shown;
  ModalScript script({Press(c.press, &shown)});
  EXPECT_EQ(host.MessageBox(c.kind, c.text, c.buttons), c.answer);
  ASSERT_TRUE(script.finished());
  EXPECT_EQ(shown.text, QString::fromLatin1(c.text));
  // No wider than the toolkit lets a box whose text wraps be: a long path wraps too.
  EXPECT_LE(shown.width, std::min(form->screen()->availableGeometry().width() / 2, 500));
  EXPECT_EQ(shown.icon, c.icon);
  EXPECT_EQ(shown.title, QStringLiteral("Corvane 1.5C"));
  EXPECT_EQ(shown.buttons.size(), c.buttons == Buttons::Ok ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MessageBoxes,
    ::testing::Values(
        BoxCase{MessageKind::Error, Buttons::Ok, "OK", Answer::Ok, QMessageBox::Critical},
        BoxCase{MessageKind::Information, Buttons::Ok, "OK", Answer::Ok, QMessageBox::Information},
        BoxCase{MessageKind::Warning, Buttons::Ok, "OK", Answer::Ok, QMessageBox::Warning},
        BoxCase{MessageKind::Confirmation, Buttons::YesNo, "Yes", Answer::Yes, QMessageBox::Question},
        BoxCase{MessageKind::Confirmation, Buttons::YesNo, "No", Answer::No, QMessageBox::Question},
        BoxCase{MessageKind::Information, Buttons::Ok, "OK", Answer::Ok, QMessageBox::Information,
                "Writing Flash completed. What it held before is saved in /home/technician/.local/share/"
                "corvane/customers/kowalski/2024/06/11/14.22.33/2024.06.11/14.22.33/0001/"
                "20240611.142233.DSX6170.firmware.bin."}));

TEST_F(HostFixture, MessageBoxShowsTheLatestStatusFirst) {
  form->show();
  host.SetStatus("7FE01554");
  QString behind;
  ModalScript script({[&](QWidget* modal) {
    behind = panel->text();
    static_cast<QMessageBox*>(modal)->accept();
  }});
  host.MessageBox(MessageKind::Information, "done", Buttons::Ok);
  EXPECT_EQ(behind, QStringLiteral("7FE01554"));
}

// ---- file dialogs ----

struct DialogFixture : HostFixture {
  QTemporaryDir dir;
  QString Path(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
  // Types the name as a user would; the dialog's own model loads in the background and
  // must not be raced.
  static void Type(QFileDialog* box, const QString& path) {
    auto* edit = box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(path);
  }
};

TEST_F(DialogFixture, OpenDialogShowsTheConvertedFilterAndReturnsTheChosenFile) {
  QFile file(Path("image.bin"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  corvane::FilterGuard filter(host, Dialog::Open, "Binary file (*.bin) | *.BIN");
  QStringList filters;
  QString title;
  ModalScript script({[&](QWidget* modal) {
    auto* box = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(box, nullptr);
    filters = box->nameFilters();
    title = box->windowTitle();
    EXPECT_EQ(box->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(box->fileMode(), QFileDialog::ExistingFile);
    Type(box, Path("image.bin"));
    static_cast<QDialog*>(box)->accept();
  }});
  const std::optional<std::string> chosen = host.RunDialog(Dialog::Open);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(QString::fromStdString(*chosen), Path("image.bin"));
  EXPECT_EQ(filters, (QStringList{"Images (*.bin)", "All files (*)"}));
  EXPECT_EQ(title, QStringLiteral("Open"));
  // The next opening starts where this one ended, in the next run of the program too.
  EXPECT_EQ(form->OpenDialog1->InitialDir, dir.path());
  EXPECT_EQ(TForm1(TForm1::Options{}).OpenDialog1->InitialDir, dir.path());
}

TEST_F(DialogFixture, CancelReturnsNothing) {
  ModalScript script({[](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); }});
  EXPECT_FALSE(host.RunDialog(Dialog::Save));
  EXPECT_TRUE(script.finished());
}

TEST_F(DialogFixture, SaveDialogAsksBeforeReplacingAFile) {
  QFile file(Path("dump.bin"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  QFileDialog* saveBox = nullptr;
  Shown question;
  ModalScript script({
      [&](QWidget* modal) {
        saveBox = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(saveBox, nullptr);
        EXPECT_EQ(saveBox->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(saveBox->testOption(QFileDialog::DontConfirmOverwrite));
        Type(saveBox, Path("dump.bin"));
        static_cast<QDialog*>(saveBox)->accept();  // the file exists: the dialog asks
      },
      [&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        question.text = box->text();
        box->button(QMessageBox::No)->click();  // keep the old file
      },
      [&](QWidget* modal) {
        EXPECT_EQ(modal, saveBox) << "the dialog is still open after No";
        static_cast<QDialog*>(modal)->reject();
      },
  });
  EXPECT_FALSE(host.RunDialog(Dialog::Save));
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(question.text.contains(QStringLiteral("dump.bin")));
}

// ---- throttling ----

// The time left of a running command goes into the title and the last panel; its phase
// follows the status, shortened to fit the panel.
TEST_F(HostFixture, TimeLeftShowsInTheTitleWhileACommandRuns) {
  form->setWindowTitle(QStringLiteral("Corvane 1.5C"));
  corvane::testing::ManualClock clock;
  host.SetTimeBudget(960'000'000, &clock);
  host.SetStatus("7FE01554  A5C3E1");
  host.SetPhase("erase and write", 100);
  host.Flush();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Corvane 1.5C — about 16 min left"));
  EXPECT_EQ(form->StatusBar1->Panel(2)->text(), QStringLiteral("16 min"));
  EXPECT_TRUE(panel->text().startsWith(QStringLiteral("7FE01554  A5C3E1  ·  Erase and write")));
  EXPECT_LE(panel->sizeHint().width(), panel->width());
  clock.now += 900'000'000;
  host.Flush();
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Corvane 1.5C — about 60 s left"));
  host.SetTimeBudget(0, nullptr);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Corvane 1.5C"));
}

TEST_F(HostFixture, UpdatesAreThrottledToAboutThirtyASecondOfTheClock) {
  ShowSettled();
  PaintCounter paints(panel);
  int64_t now = 0;
  host.SetTimeSource([&] { return now; });
  // 10000 words at 1 ms each: 10 seconds of transfer.
  for (int i = 0; i < 10000; ++i) {
    host.SetStatus(corvane::Hex8(0x7FE00000u + 4u * i));
    host.SetProgressPosition(i);
    host.ProcessMessages();
    now += 1000;
  }
  const int frames = static_cast<int>(10'000'000 / QtHost::kFrameUs) + 1;
  EXPECT_LE(paints.paints, frames);
  // The first frames may go before the offscreen window is exposed.
  EXPECT_GE(paints.paints, frames * 9 / 10);
  // What shows is never more than one frame old.
  EXPECT_GE(panel->text().toUInt(nullptr, 16), 0x7FE00000u + 4u * (10000 - 34));
}

TEST_F(HostFixture, HundredThousandCallsOnTheRealClockStayUnderThirtyPaintsASecond) {
  ShowSettled();
  host.SetProgressRange(0, 100000);
  PaintCounter paints(panel);
  const auto start = std::chrono::steady_clock::now();
  std::string last;
  for (int i = 0; i < 100000; ++i) {
    last = corvane::Hex8(static_cast<uint32_t>(i));
    host.SetStatus(last);
    host.SetProgressPosition(i);
    host.ProcessMessages();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LE(paints.paints, static_cast<int>(seconds * 1e6 / QtHost::kFrameUs) + 1);
  EXPECT_GE(paints.paints, 1);
  EXPECT_EQ(host.Status(), last);
  host.Flush();
  EXPECT_EQ(panel->text().toStdString(), last);
  EXPECT_EQ(form->ProgressBar->value(), 99999);
}

// What a transfer calls per word: reads only process messages; writes repaint first.
struct PerWord {
  const char* name;
  bool repaintFirst;
};
void PrintTo(const PerWord& w, std::ostream* os) { *os << w.name; }

struct AbortLatency : HostFixture, ::testing::WithParamInterface<PerWord> {};

TEST_P(AbortLatency, AnAbortRequestIsNoticedWithinFiftyMilliseconds) {
  ShowSettled();
  PaintCounter paints(panel);
  int64_t now = 0;
  host.SetTimeSource([&] { return now; });
  host.ProcessMessages();  // a frame has just gone by
  now += 1000;
  // The user's Escape arrives as an event while the transfer runs.
  QTimer::singleShot(0, form.get(), [&] { host.RequestAbort(); });
  const int64_t posted = now;
  while (!host.AbortRequested()) {
    ASSERT_LT(now - posted, 1'000'000) << "never noticed";
    host.SetStatus(corvane::Hex8(static_cast<uint32_t>(now)));
    if (GetParam().repaintFirst) host.Repaint();
    host.ProcessMessages();
    now += 1000;  // a word takes a millisecond
  }
  EXPECT_LE(now - posted, 50'000);
  EXPECT_FALSE(host.AbortRequested()) << "one request, one question";
  // The event run that noticed it did not add a paint to the frame's own.
  EXPECT_LE(paints.paints, static_cast<int>((now - posted) / QtHost::kFrameUs) + 2);
}

INSTANTIATE_TEST_SUITE_P(Transfers, AbortLatency,
                         ::testing::Values(PerWord{"ProcessMessages", false},
                                           PerWord{"RepaintThenProcessMessages", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- long waits ----

TEST_F(HostFixture, ALongSleepOnTheRealClockKeepsServingEventsAndItsLength) {
  ShowSettled();
  apptest::DeadPort port;
  corvane::RealClock real;
  corvane::Link link(port, real);
  std::vector<int64_t> runs{real.Now()};  // the start, then each run of the window's events
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { runs.push_back(real.Now()); });
  ticker.start(0);
  {
    WindowClock clock(link, host);
    link.clock().SleepMilliseconds(300);
    runs.push_back(real.Now());
    const size_t before = runs.size();
    link.clock().SleepMilliseconds(5);  // an erase poll's sleep stays a plain sleep
    EXPECT_EQ(runs.size(), before);
  }
  EXPECT_EQ(&link.clock(), &real) << "the link gets its own clock back";
  EXPECT_GE(runs.back() - runs.front(), 300'000);
  EXPECT_LT(runs.back() - runs.front(), 500'000);
  int64_t longest = 0;
  for (size_t i = 1; i < runs.size(); ++i) longest = std::max(longest, runs[i] - runs[i - 1]);
  EXPECT_LE(longest, 100'000) << "slices of " << WindowClock::kSliceMs << " ms";
}

TEST_F(HostFixture, EmptyProgressRangeShowsAnEmptyBarNotABusyOne) {
  host.SetProgressRange(0, 0);
  host.SetProgressPosition(0);
  host.Flush();
  EXPECT_GT(form->ProgressBar->maximum(), form->ProgressBar->minimum());
  EXPECT_EQ(form->ProgressBar->value(), form->ProgressBar->minimum());
  host.SetProgressRange(0, 0x80000);
  host.SetProgressPosition(0x7FFFF);
  host.Flush();
  EXPECT_EQ(form->ProgressBar->maximum(), 0x80000);
  EXPECT_EQ(form->ProgressBar->value(), 0x7FFFF);
}

}  // namespace
