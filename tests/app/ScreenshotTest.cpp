// Pictures of the window and its dialogs. In the suite they go to a temporary folder and
// must come out whole; for the documentation:
//   QT_QPA_PLATFORM=xcb CORVANE_SCREENSHOTS=docs/screenshots
//   xvfb-run -s "-screen 0 1024x768x24" test_app --gtest_filter='Screenshots.*'
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QLabel>
#include <QRadioButton>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>

#include "AppSupport.h"
#include "app/QtHost.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "support/ScriptedHost.h"
#include "transfer/Duration.h"
#include "transfer/RamLoader.h"

namespace {

QString Folder() {
  static QTemporaryDir scratch;
  const QString asked = qEnvironmentVariable("CORVANE_SCREENSHOTS");
  return asked.isEmpty() ? scratch.path() : asked;
}

void Save(QWidget* w, const char* name) {
  w->show();
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  const QString path = QDir(Folder()).filePath(QString::fromLatin1(name));
  const QPixmap picture = w->grab();
  ASSERT_TRUE(picture.save(path)) << path.toStdString();
  const QImage back(path);
  EXPECT_EQ(back.size(), w->size() * picture.devicePixelRatio()) << name;
}

TEST(Screenshots, WindowAndDialogs) {
  apptest::FakeTarget target;
  target.isSimulated = true;
  QTemporaryDir loaders;
  QFile trap(QDir(loaders.path()).filePath(QStringLiteral("TRAP.BIN")));
  ASSERT_TRUE(trap.open(QIODevice::WriteOnly));
  trap.write(QByteArray(64, '\x5A'));
  trap.close();
  TForm1* window = nullptr;
  QString waitShown;
  TForm1 form({&target,
               [&](corvane::CommandId command, corvane::Session& s) {
                 if (command == corvane::CommandId::VerifyFirmware) {
                   // What a whole 4 MB write asks before it erases anything.
                   corvane::Duration d(s.linkCost);
                   d.Add("back-up", d.Peeks(0x100000));
                   d.Add("erase", d.Erase(18e6, 6));
                   d.Add("write", 0x100000 * d.ProgramWord(4));
                   d.Add("read-back", d.Peeks(0x100000));
                   QTimer::singleShot(50, window, [&] {
                     QWidget* box = QApplication::activeModalWidget();
                     ASSERT_NE(box, nullptr);
                     Save(box, "estimate.png");
                     static_cast<QDialog*>(box)->done(0);
                   });
                   s.host.AnnounceDuration(d.Text("Write Firmware", corvane::Model::DSX6170), true);
                   return;
                 }
                 if (command == corvane::CommandId::WriteFirmware) {
                   // The RAM loader runs on the decoder: the window waits, and stays live.
                   s.loaderDir = loaders.path().toStdString();
                   QTimer::singleShot(0, window, [&] {
                     waitShown = window->StatusBar1->Panel(0)->text();
                     Save(window, "main-window-loader-wait.png");
                   });
                   corvane::UploadTrapRoutine(s, "TRAP.BIN", 10000, "Writing Flash ~10 secs...");
                   return;
                 }
                 if (command == corvane::CommandId::WriteDataArea) {
                   // Writing: the word, the phase and the time left; then stopped after
                   // erasing, which offers the backup back.
                   s.host.SetTimeBudget(300'000'000, &s.clock());
                   s.host.SetPhase("write", 84);
                   s.host.SetStatus("7FE9A2C4  5A5A5A");
                   s.host.SetProgressRange(0, 0x80000);
                   s.host.SetProgressPosition(0x1D400);
                   window->host().Flush();
                   Save(window, "main-window-writing.png");
                   s.restoreFrom = "/home/technician/.local/share/corvane/backup-BCT13-firmware-20240611-142233.bin";
                   return;
                 }
                 // Half way through a firmware read: status, progress, the rest disabled.
                 s.host.SetStatus("7FE9A2C4");
                 s.host.SetProgressRange(0, 0x80000);
                 s.host.SetProgressPosition(0x34D00);
                 window->host().Flush();
                 Save(window, "main-window-busy.png");
               },
               nullptr, false, {}});
  window = &form;
  Save(&form, "main-window.png");
  form.menuBar()->setActiveAction(form.Flash1->menuAction());
  Save(form.Flash1, "flash-menu.png");
  form.Flash1->close();
  apptest::ModalScript offer({[](QWidget* box) { Save(box, "restore-offer.png"); apptest::Press("No")(box); },
                              apptest::Press("OK")});
  form.WriteDataArea1->trigger();
  EXPECT_TRUE(offer.finished());
  form.ReadFirmware1->trigger();
  form.WriteFirmware1->trigger();
  EXPECT_EQ(waitShown, QStringLiteral("Writing Flash ~10 secs..."));
  form.VerifyFirmware1->trigger();
  form.RadioButton1->click();
  form.CheckBox1->setChecked(true);
  Save(&form, "main-window-dsx6071.png");
  form.hide();

  TForm2 about(&form);
  about.Label1->setText(TForm1::Caption());
  about.Label1->adjustSize();
  Save(&about, "about.png");
  about.hide();

  corvane::testing::ScriptedHost host;
  TForm3 pokePeek(host, &target, [] { return corvane::Model::BCT13; }, &form);
  pokePeek.Edit1->setText(QStringLiteral("2000D010"));
  pokePeek.Edit2->setText(QStringLiteral("00000007"));
  Save(&pokePeek, "poke-peek.png");
}

}  // namespace
