// The window on the virtual decoder: menu, dialogs, the real command, the Station behind.
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
#include <memory>

#include "AppSupport.h"
#include "app/QtHost.h"
#include "app/Unit1.h"
#include "link/corvane.h"
#include "sim/VirtualDecoder.h"

using apptest::ModalScript;
using apptest::Press;
using apptest::Shown;

namespace {

struct OnVirtualDecoder : ::testing::Test {
  QTemporaryDir dir;
  QByteArray eeprom;
  std::unique_ptr<TForm1> form;

  void SetUp() override {
    // A BCT13 whose 2 KB EEPROM holds a known pattern.
    std::string error;
    ASSERT_TRUE(corvane::sim::VirtualDecoder::Open(dir.path().toStdString(), "BCT13", &error)) << error;
    for (int i = 0; i < 0x800; ++i) eeprom.append(static_cast<char>((i * 7 + 3) & 0xFF));
    QFile file(dir.filePath(QStringLiteral("BCT13/eeprom.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(eeprom), eeprom.size());
    file.close();

    form = apptest::WindowOnVirtualDecoders(dir.path());
    form->show();
  }

  QString Out() const { return dir.filePath(QStringLiteral("read.bin")); }
  ModalScript::Step SaveAs(const QString& path, std::function<void()> then = {}) {
    return [path, then](QWidget* modal) {
      auto* box = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(box, nullptr);
      box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
      if (then) then();
      static_cast<QDialog*>(box)->accept();
    };
  }
};

TEST_F(OnVirtualDecoder, ReadEepromThroughTheMenuSavesWhatTheDecoderHolds) {
  ASSERT_NE(form->target(), nullptr);
  EXPECT_TRUE(form->target()->simulated());
  Shown done;
  ModalScript script({SaveAs(Out()), Press("OK", &done)});
  form->Read1->trigger();
  ASSERT_TRUE(script.finished());
  EXPECT_EQ(done.text, QStringLiteral("Reading Eeprom completed."));
  EXPECT_EQ(done.icon, QMessageBox::Information);
  QFile out(Out());
  ASSERT_TRUE(out.open(QIODevice::ReadOnly));
  EXPECT_TRUE(out.readAll() == eeprom);
  // The closing reached the screen: status empty, bar at 0, commands back.
  EXPECT_EQ(form->StatusBar1->Panel(0)->text(), QString());
  EXPECT_EQ(form->host().ProgressPosition(), 0);
  EXPECT_TRUE(form->Read1->isEnabled());
  EXPECT_TRUE(form->RadioButton1->isEnabled());
}

TEST_F(OnVirtualDecoder, EscapeStopsTheReadAfterTheQuestionAndLeavesNoFile) {
  Shown question;
  ModalScript script({SaveAs(Out(),
                             [this] {
                               // The user presses Escape as the transfer starts.
                               QCoreApplication::postEvent(
                                   form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape,
                                                             Qt::NoModifier));
                             }),
                      Press("Yes", &question)});
  form->Read1->trigger();
  ASSERT_TRUE(script.finished());
  EXPECT_TRUE(question.text.startsWith(QStringLiteral("Stop reading the EEPROM?")))
      << question.text.toStdString();
  EXPECT_EQ(question.icon, QMessageBox::Question);
  EXPECT_FALSE(QFile::exists(Out()));
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->StatusBar1->Panel(0)->text(), QString());
}

TEST_F(OnVirtualDecoder, NothingPluggedInEndsTheCommandWithOneMessageAndNoDialog) {
  QFile conf(dir.filePath(QStringLiteral("BCT13/decoder.conf")));
  ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
  QByteArray text = conf.readAll();
  conf.close();
  ASSERT_TRUE(text.contains("\ncable = plugged\n"));
  text.replace("\ncable = plugged\n", "\ncable = unplugged\n");
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
  conf.write(text);
  conf.close();
  Shown error;
  ModalScript script({Press("OK", &error)});  // no save dialog before it
  form->Read1->trigger();
  ASSERT_TRUE(script.finished());
  EXPECT_EQ(error.text, QString::fromUtf8(corvane::kNoAdapterMessage));
  EXPECT_EQ(error.icon, QMessageBox::Critical);
  EXPECT_TRUE(form->Read1->isEnabled());
}

// A write says how long it takes before anything is erased; No leaves the flash alone, and
// the backup it would have made is not made either.
TEST_F(OnVirtualDecoder, WriteFirmwareAsksWithItsEstimateAndNoChangesNothing) {
  const QString image = dir.filePath(QStringLiteral("image.bin"));
  QFile in(image);
  ASSERT_TRUE(in.open(QIODevice::WriteOnly));
  ASSERT_EQ(in.write(QByteArray(0x100000, '\x11')), 0x100000);
  in.close();
  ASSERT_TRUE(form->BackUpBeforeWriting1->isChecked());
  Shown ask;
  ModalScript script({[&](QWidget* modal) {
                        auto* box = qobject_cast<QFileDialog*>(modal);
                        ASSERT_NE(box, nullptr);
                        box->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(image);
                        static_cast<QDialog*>(box)->accept();
                      },
                      Press("No", &ask)});
  form->WriteFirmware1->trigger();
  ASSERT_TRUE(script.finished());
  EXPECT_TRUE(ask.text.startsWith(QStringLiteral("Write Firmware on BCT13 takes about ")))
      << ask.text.toStdString();
  EXPECT_TRUE(ask.text.contains(QStringLiteral("back-up about ")));
  EXPECT_TRUE(ask.text.endsWith(QStringLiteral("Start now?")));
  EXPECT_EQ(ask.icon, QMessageBox::Question);
  QFile flash(dir.filePath(QStringLiteral("BCT13/flash.bin")));
  ASSERT_TRUE(flash.open(QIODevice::ReadOnly));
  EXPECT_EQ(flash.readAll(), QByteArray(0x100000, '\xFF')) << "still erased";
  EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("backup-*")}, QDir::Files), QStringList());
  EXPECT_EQ(form->windowTitle(), TForm1::Caption() + QStringLiteral(" — virtual decoder"));
}

TEST_F(OnVirtualDecoder, EachModelGetsItsOwnDecoderFolder) {
  ModalScript script({[](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); }});
  form->RadioButton6->click();  // TVN box
  form->Read1->trigger();       // connects, then the user cancels the dialog
  ASSERT_TRUE(script.finished());
  EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("TVNbox/decoder.conf"))));
  EXPECT_EQ(form->target()->loaderDir(corvane::Model::TVNbox), dir.filePath(QStringLiteral("TVNbox")).toStdString());
}

}  // namespace
