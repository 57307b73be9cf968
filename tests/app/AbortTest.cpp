// Escape and closing the window during each long command, on the virtual decoder: one
// question that says what stopping leaves, then a clean end with nothing half saved.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "AppSupport.h"
#include "app/QtHost.h"
#include "app/Unit1.h"
#include "sim/VirtualDecoder.h"

using apptest::ModalScript;
using apptest::Press;
using apptest::Shown;

namespace {

enum class How { Escape, Close };

struct AbortCase {
  const char* name;
  int radio;              // 0-based model button
  const char* action;     // the menu item's object name
  qint64 inputSize;       // a write's input; 0 for a read
  const char* question;   // how the question starts
  bool asksToStart = false;  // a flash write says how long it takes and asks first
  const char* left = nullptr;  // after erasing: how the message that says what is left starts
  const char* restore = nullptr;  // backed up, stopped once erased: the answer to the offer
};

class AbortInWindow : public ::testing::TestWithParam<std::tuple<AbortCase, How>> {
 protected:
  void SetUp() override {
    const char* restore = std::get<0>(GetParam()).restore;
    if (restore) {  // a flash that holds something, for the backup to keep
      std::string error;
      ASSERT_TRUE(corvane::sim::VirtualDecoder::Open(dir.path().toStdString(), "TS1", &error)) << error;
      QFile flash(dir.filePath(QStringLiteral("TS1/flash.bin")));
      ASSERT_TRUE(flash.open(QIODevice::ReadWrite) && flash.write(QByteArray(0x20000, '\x3C')) == 0x20000);
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("logs")));
    form = apptest::WindowOnVirtualDecoders(dir.path(), dir.filePath(QStringLiteral("logs")));
    // Stopped during the write itself; with a backup, once it is made.
    form->BackUpBeforeWriting1->setChecked(restore != nullptr);
    form->FullWrite1->setChecked(true);  // the erase comes first, whatever the flash holds
    form->show();
  }
  QTemporaryDir dir;
  std::unique_ptr<TForm1> form;
};

TEST_P(AbortInWindow, AsksOnceStopsAndClosesCleanly) {
  const auto& [c, how] = GetParam();
  const QString file = dir.filePath(QStringLiteral("file.bin"));
  if (c.inputSize > 0) {
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    ASSERT_EQ(in.write(QByteArray(c.inputSize, '\x5A')), c.inputSize);
  }
  form->findChild<QRadioButton*>(QStringLiteral("RadioButton%1").arg(c.radio + 1))->click();

  const How request = how;
  TForm1* window = form.get();
  Shown question, start;
  // The user stops as the transfer starts.
  auto stop = [request, window] {
    if (request == How::Escape) {
      QCoreApplication::postEvent(window,
                                  new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    } else {
      QMetaObject::invokeMethod(window, "close", Qt::QueuedConnection);
    }
  };
  std::vector<ModalScript::Step> steps = {[&](QWidget* modal) {
    auto* box = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(box, nullptr);
    box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
    if (!c.asksToStart) stop();
    static_cast<QDialog*>(box)->accept();
  }};
  QTimer erased;  // with a backup: the user stops once it is made and the flash erased
  QObject::connect(&erased, &QTimer::timeout, [&] {
    if (!window->StatusBar1->Panel(0)->text().contains(QStringLiteral("Write: "))) return;
    erased.stop();
    stop();
  });
  if (c.asksToStart) {
    steps.push_back([&](QWidget* modal) {
      c.restore ? erased.start(1) : stop();
      Press(QStringLiteral("Yes"), &start)(modal);
    });
  }
  steps.push_back(Press(QStringLiteral("Yes"), &question));
  Shown whatIsLeft, offer, after;
  if (c.left) steps.push_back(Press(QStringLiteral("OK"), &whatIsLeft));
  const bool offered = c.restore && how == How::Escape, restored = offered && QLatin1String(c.restore) == "Yes";
  if (offered) steps.push_back(Press(QString::fromLatin1(c.restore), &offer));
  if (restored) steps.push_back(Press(QStringLiteral("Yes")));  // its estimate; no file dialog
  if (offered) steps.push_back(Press(QStringLiteral("OK"), &after));
  ModalScript script(std::move(steps));
  form->findChild<QAction*>(QString::fromLatin1(c.action))->trigger();

  ASSERT_TRUE(script.finished()) << "steps done: " << script.done();
  EXPECT_TRUE(question.text.startsWith(QString::fromLatin1(c.question))) << question.text.toStdString();
  EXPECT_EQ(question.icon, QMessageBox::Question);
  EXPECT_EQ(question.defaultButton, QStringLiteral("No")) << "Escape then Enter carries on";
  if (c.asksToStart) {
    EXPECT_TRUE(start.text.contains(QStringLiteral(" takes about "))) << start.text.toStdString();
    EXPECT_TRUE(start.text.endsWith(QStringLiteral("Start now?")));
  }
  EXPECT_EQ(question.text.endsWith(QStringLiteral("Yes stops and then closes Corvane; No carries on.")),
            how == How::Close);
  if (c.left) {
    EXPECT_TRUE(whatIsLeft.text.startsWith(QString::fromLatin1(c.left)))
        << whatIsLeft.text.toStdString();
    EXPECT_EQ(whatIsLeft.icon, QMessageBox::Warning);
  }
  EXPECT_FALSE(form->commandRunning());
  // Closing waited for the command; Escape leaves the window as it was.
  EXPECT_EQ(form->isVisible(), how == How::Escape);
  EXPECT_EQ(form->StatusBar1->Panel(0)->text(), QString());
  EXPECT_EQ(form->StatusBar1->Panel(2)->text(), QString()) << "no time left";
  EXPECT_EQ(form->windowTitle(), TForm1::Caption() + QStringLiteral(" — virtual decoder"));
  EXPECT_EQ(form->host().ProgressPosition(), 0);
  EXPECT_TRUE(form->WriteFirmware1->isEnabled());
  if (c.inputSize > 0) {
    EXPECT_EQ(QFile(file).size(), c.inputSize) << "the input is left alone";
  } else {
    EXPECT_FALSE(QFile::exists(file)) << "a stopped read saves nothing";
  }
  // No temporary file is left beside the chosen name.
  const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
  EXPECT_EQ(left, c.inputSize > 0 ? QStringList{QStringLiteral("file.bin")} : QStringList{});
  if (!c.restore) return;
  // One backup: the restore made none of the half-written flash. A close offers nothing.
  const QStringList backups = QDir(dir.filePath(QStringLiteral("logs"))).entryList({"backup-*"});
  ASSERT_EQ(backups.size(), 1);
  const QString backup = dir.filePath(QStringLiteral("logs/") + backups[0]);
  EXPECT_EQ(offer.text, offered ? "Write the backup back now? " + backup + " holds what the decoder held before "
                                  "this write. Yes writes it back; No leaves the decoder as it is." : QString());
  EXPECT_TRUE(after.text.startsWith(restored  ? QStringLiteral("Writing Flash completed")
                                    : offered ? "The decoder was left as it is. To put the old contents back "
                                                "later, write " + backup + " with Flash > Write Firmware."
                                              : QString())) << after.text.toStdString();
  QFile flash(dir.filePath(QStringLiteral("TS1/flash.bin"))), saved(backup);
  ASSERT_TRUE(flash.open(QIODevice::ReadOnly) && saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(flash.readAll() == saved.readAll(), restored);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(LongCommands, AbortInWindow, ::testing::Combine(::testing::Values(
    AbortCase{"WriteFirmware", 3, "WriteFirmware1", 0x200000, "Stop writing? The flash will be left partly written", true,
              "Writing was stopped. The flash is now erased from 7FE00000 to 7FFFFFFF and written from 7FE00000 up to "},
    AbortCase{"WriteFirmwareThenRestore", 3, "WriteFirmware1", 0x200000, "Stop writing? The flash will be left partly written", true,
              "Writing was stopped. The flash is now erased from 7FE00000 to 7FFFFFFF and written from 7FE00000 up to ", "Yes"},
    AbortCase{"WriteFirmwareLeftHalfWritten", 3, "WriteFirmware1", 0x200000, "Stop writing? The flash will be left partly written", true,
              "Writing was stopped. The flash is now erased from 7FE00000 to 7FFFFFFF and written from 7FE00000 up to ", "No"},
    AbortCase{"WriteFirmwareRamLoader", 2, "WriteFirmware1", 0x100000, "Stop copying the image to the decoder's RAM?", true},
    AbortCase{"WriteDataArea", 3, "WriteDataArea1", 0x80000, "Stop copying the image to the decoder's RAM?", true},
    AbortCase{"ReadFirmware", 3, "ReadFirmware1", 0, "Stop reading"},
    AbortCase{"ReadDataArea", 4, "ReadDataArea1", 0, "Stop reading the data area?"},
    AbortCase{"ReadEeprom", 2, "Read1", 0, "Stop reading the EEPROM?"},
    AbortCase{"WriteEeprom", 2, "Write1", 0x800, "Stop writing the EEPROM?", true},
    AbortCase{"RamDump", 5, "RamdumpTVNbox1", 0, "Stop reading"}),
    ::testing::Values(How::Escape, How::Close)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == How::Escape ? "Escape" : "Close");
    });
// clang-format on

}  // namespace
