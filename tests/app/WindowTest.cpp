// The main window as it starts, its profiles, menus and how it runs commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <memory>
#include <utility>
#include <stdexcept>

#include "AppSupport.h"
#include "app/QtHost.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "link/Text.h"
#include "target/Connection.h"

using apptest::FakeTarget;
using apptest::ModalScript;
using apptest::Press;
using apptest::Shown;
using corvane::Model;

namespace {

struct WindowFixture : ::testing::Test {
  FakeTarget target;
  std::vector<corvane::CommandId> ran;
  std::function<void(corvane::Session&)> during;  // what the scripted command does
  std::unique_ptr<TForm1> form;

  void Make() {
    TForm1::Options options;
    options.target = &target;
    options.logDir = "/logs";
    options.commands = [this](corvane::CommandId c, corvane::Session& s) {
      ran.push_back(c);
      if (during) during(s);
    };
    form = std::make_unique<TForm1>(std::move(options));
  }
  void SetUp() override {
    QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
    Make();
  }
  template <class T>
  T* Find(const char* name) {
    T* w = form->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QRadioButton* Radio(int index) { return form->findChild<QRadioButton*>(QStringLiteral("RadioButton%1").arg(index + 1)); }
};

// ---- the window as it starts ----

TEST_F(WindowFixture, StartsWithTheCaptionTitleAndFixedClientArea) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Corvane 1.5C"));

  form->show();
  EXPECT_EQ(form->centralWidget()->size(), QSize(405, 202));
  EXPECT_EQ(form->centralWidget()->y(), form->menuBar()->height());
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
  const QPoint offCentre =
      form->frameGeometry().center() - form->screen()->availableGeometry().center();
  EXPECT_LE(offCentre.manhattanLength(), 1);
}

TEST_F(WindowFixture, AStartUpQuestionShowsOverWhereTheWindowWillBe) {
  TForm1::Options options;
  options.startTarget = [](corvane::Host& host) -> std::unique_ptr<corvane::Backend> {
    host.MessageBox(corvane::MessageKind::Confirmation, "Driver is not installed. Install it?",
                    corvane::Buttons::YesNo);
    return nullptr;
  };
  QRect box;
  ModalScript script({[&](QWidget* modal) {
    box = modal->frameGeometry();
    Press("No")(modal);
  }});
  form = std::make_unique<TForm1>(std::move(options));
  ASSERT_TRUE(script.finished());
  form->show();
  EXPECT_LE((box.center() - form->frameGeometry().center()).manhattanLength(), 2)
      << "box at " << box.x() << "," << box.y();
}

TEST_F(WindowFixture, VirtualDecoderIsMarkedInTheTitleButNotInAbout) {
  target.isSimulated = true;
  Make();
  EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Corvane 1.5C \u2014 virtual decoder"));
  // The toolkit appends its application name to every dialog's caption: it must have none.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QString());

  TForm2 about(form.get());
  form->SetForms(&about, nullptr);
  QString label;
  ModalScript script({[&](QWidget* modal) {
    EXPECT_EQ(modal, &about);
    label = about.Label1->text();
    about.Button1->click();
  }});
  form->About1Click();
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(label, QStringLiteral("Corvane 1.5C"));
  EXPECT_EQ(about.result(), QDialog::Rejected);
}

struct ControlRow {
  const char* name;
  const char* parent;
  QRect place;
  const char* text;
  bool hidden;
  bool checked;
};

class ControlTable : public WindowFixture, public ::testing::WithParamInterface<ControlRow> {};

TEST_P(ControlTable, SitsWhereTheFormPutsIt) {
  const ControlRow& row = GetParam();
  QWidget* w = Find<QWidget>(row.name);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(row.parent));
  EXPECT_EQ(w->geometry(), row.place);
  EXPECT_EQ(w->isHidden(), row.hidden);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    EXPECT_EQ(b->text(), QString::fromLatin1(row.text));
    EXPECT_EQ(b->isChecked(), row.checked);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    EXPECT_EQ(g->title(), QString::fromLatin1(row.text));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Form, ControlTable,
    ::testing::Values(
        ControlRow{"Bevel1", "ClientArea", {0, 0, 409, 9}, "", false, false},
        ControlRow{"StatusBar1", "ClientArea", {0, 183, 405, 19}, "", false, false},
        ControlRow{"GroupBox1", "ClientArea", {4, 8, 205, 169}, " Decoder Type ", false, false},
        ControlRow{"RadioButton1", "GroupBox1", {8, 32, 113, 17}, "DSX6071/6072", false, false},
        ControlRow{"RadioButton2", "GroupBox1", {8, 48, 113, 17}, "DSI185", false, false},
        ControlRow{"RadioButton3", "GroupBox1", {8, 64, 113, 17}, "BCT13", false, true},
        ControlRow{"RadioButton4", "GroupBox1", {8, 80, 113, 17}, "TS1", false, false},
        ControlRow{"RadioButton5", "GroupBox1", {8, 96, 113, 17}, "DSX6070", false, false},
        ControlRow{"RadioButton6", "GroupBox1", {8, 112, 113, 17}, "TVN box", false, false},
        ControlRow{"RadioButton7", "GroupBox1", {8, 128, 113, 17}, "STB3100", false, false},
        ControlRow{"RadioButton8", "GroupBox1", {8, 144, 113, 17}, "DSX6170", false, false},
        ControlRow{"GroupBox2", "ClientArea", {216, 8, 177, 169}, " Options ", false, false},
        // BCT13 at start: CheckBox1 stays visible (disabled) under CheckBox3, CheckBox2 hides.
        ControlRow{"CheckBox1", "GroupBox2", {16, 32, 97, 17}, "Erase Data Area", false, false},
        ControlRow{"CheckBox2", "GroupBox2", {16, 56, 97, 17}, "Write Data Area", true, true},
        ControlRow{"Button1", "GroupBox2", {8, 136, 99, 25}, "Read RAM 6072", true, false},
        ControlRow{"Button2", "GroupBox2", {64, 136, 97, 25}, "Read RAM 6071", true, false},
        ControlRow{"Button3", "GroupBox2", {104, 136, 59, 25}, "DSI185", true, false},
        ControlRow{"CheckBox3", "GroupBox2", {16, 32, 113, 17}, "BCT13 Reloaded !", false, false},
        ControlRow{"ProgressBar", "StatusBar1", {252, 2, 98, 17}, "", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowFixture, TabOrderFollowsTheTableInEachGroup) {
  auto chainWithin = [&](QGroupBox* group) {
    std::vector<QString> order;
    QWidget* w = group;
    for (int i = 0; i < 200; ++i) {
      w = w->nextInFocusChain();
      if (w == group) break;
      if (w->parentWidget() == group &&
          std::find(order.begin(), order.end(), w->objectName()) == order.end()) {
        order.push_back(w->objectName());
      }
    }
    return order;
  };
  EXPECT_EQ(chainWithin(form->GroupBox1),
            (std::vector<QString>{"RadioButton1", "RadioButton2", "RadioButton3", "RadioButton4",
                                  "RadioButton5", "RadioButton6", "RadioButton7", "RadioButton8"}));
  EXPECT_EQ(chainWithin(form->GroupBox2),
            (std::vector<QString>{"CheckBox1", "CheckBox2", "Button1", "Button2", "Button3",
                                  "CheckBox3"}));
}

TEST_F(WindowFixture, StatusBarHasThreeEmptyPanelsAndAnEmptyProgressBar) {
  const int widths[] = {250, 100, 50};
  // Each part after the first begins 2 pixels past the end of the one before.
  const QRect parts[] = {{0, 2, 250, 17}, {252, 2, 98, 17}, {352, 2, 48, 17}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(form->StatusBar1->PanelWidth(i), widths[i]);
    EXPECT_EQ(form->StatusBar1->Panel(i)->geometry(), parts[i]);
    EXPECT_TRUE(form->StatusBar1->Panel(i)->text().isEmpty());
  }
  // The bar covers panel 1 whole: none of the panel's frame shows beside or under it.
  EXPECT_EQ(form->ProgressBar->geometry(), form->StatusBar1->Panel(1)->geometry());
  EXPECT_EQ(form->ProgressBar->parentWidget(), form->StatusBar1);
  EXPECT_EQ(form->ProgressBar->parent(), form->StatusBar1);
  EXPECT_EQ(form->host().ProgressMaximum(), 0);
  EXPECT_EQ(form->host().ProgressPosition(), 0);
  EXPECT_EQ(form->ProgressBar->value(), 0);
}

// ---- menus ----

TEST_F(WindowFixture, MenuTreeWithAcceleratorsAndSeparators) {
  struct Item {
    const char* name;
    const char* text;  // "-" for a separator
  };
  const std::vector<std::pair<const char*, std::vector<Item>>> expected = {
      {"&Flash",
       {{"WriteFirmware1", "&Write Firmware"},
        {"WriteDataArea1", "Write &Data Area"},
        {"", "-"},
        {"ReadFirmware1", "&Read Firmware"},
        {"ReadDataArea1", "Read Data &Area"},
        {"ReadSignature1", "Read &Signature"},
        {"VerifyFirmware1", "Verify &Firmware..."},
        {"", "-"},
        {"SaveDecoder1", "Save De&coder..."},
        {"RestoreDecoder1", "Res&tore Decoder..."},
        {"", "-"},
        {"VerifyAfterWriting1", "&Verify after writing"},
        {"BackUpBeforeWriting1", "&Back up before writing"},
        {"FullWrite1", "Write every sector (f&ull write)"},
        {"", "-"},
        {"Exit1", "E&xit"}}},
      {"&Eeprom", {{"Read1", "&Read eeprom"}, {"Write1", "&Write eeprom"}}},
      {"Debug", {{"PassivePOKEPEEK1", "Passive POKE/PEEK"}, {"LinkTest1", "Link Test"}}},
      {"Ram",
       {{"Ramdump60711", "Ramdump 6071"},
        {"Ramdump60721", "Ramdump 6072"},
        {"RamdumpBCT131", "Ramdump BCT13"},
        {"RamdumpDSI1851", "Ramdump DSI185"},
        {"RamdumpTVNbox1", "Ramdump TVNbox"}}},
      {"&Help", {{"About1", "&About"}}},
  };
  EXPECT_EQ(form->menuBar()->objectName(), QStringLiteral("MainMenu1"));
  // Titles and drop-downs in one font, whatever size the form's controls had to take.
  EXPECT_EQ(form->menuBar()->font(), form->Flash1->font());
  const QList<QAction*> menus = form->menuBar()->actions();
  ASSERT_EQ(menus.size(), static_cast<qsizetype>(expected.size()));
  for (size_t m = 0; m < expected.size(); ++m) {
    SCOPED_TRACE(expected[m].first);
    EXPECT_EQ(menus[m]->text(), QString::fromLatin1(expected[m].first));
    const QList<QAction*> items = menus[m]->menu()->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].second.size()));
    for (qsizetype i = 0; i < items.size(); ++i) {
      const Item& want = expected[m].second[static_cast<size_t>(i)];
      if (std::string(want.text) == "-") {
        EXPECT_TRUE(items[i]->isSeparator());
      } else {
        EXPECT_FALSE(items[i]->isSeparator());
        EXPECT_EQ(items[i]->objectName(), QString::fromLatin1(want.name));
        EXPECT_EQ(items[i]->text(), QString::fromLatin1(want.text));
      }
    }
  }
}

struct Wiring {
  const char* action;
  corvane::CommandId command;
  Model model;  // the model selected when the item is chosen (items are only enabled for some)
};

class MenuWiring : public WindowFixture, public ::testing::WithParamInterface<Wiring> {};

TEST_P(MenuWiring, ItemRunsItsCommandOnceWithTheWindowsSnapshot) {
  const Wiring& w = GetParam();
  Radio(static_cast<int>(w.model))->click();
  form->CheckBox2->setChecked(false);
  corvane::ProfileSnapshot seen;
  std::string loaders, logs;
  during = [&](corvane::Session& s) {
    seen = s.profile;
    loaders = s.loaderDir;
    logs = s.logDir;
    EXPECT_TRUE(target.inside);
    EXPECT_EQ(&s.link, &target.linkObject);
    EXPECT_EQ(&s.ee, &target.eeObject);
    // The command talks to the window's own host (through the runner's completion hold).
    s.host.SetStatus("wired");
    EXPECT_EQ(form->host().Status(), "wired");
  };
  QAction* action = Find<QAction>(w.action);
  ASSERT_TRUE(action->isEnabled());
  action->trigger();
  EXPECT_EQ(ran, std::vector<corvane::CommandId>{w.command});
  EXPECT_EQ(target.begun, std::vector<Model>{w.model});
  EXPECT_EQ(target.ended, 1);
  EXPECT_EQ(seen.model, w.model);
  EXPECT_FALSE(seen.writeDataArea);
  EXPECT_EQ(loaders, "/loaders");
  EXPECT_EQ(logs, "/logs");
}

INSTANTIATE_TEST_SUITE_P(
    Menu, MenuWiring,
    ::testing::Values(Wiring{"WriteFirmware1", corvane::CommandId::WriteFirmware, Model::BCT13},
                      Wiring{"WriteDataArea1", corvane::CommandId::WriteDataArea, Model::DSI185},
                      Wiring{"ReadFirmware1", corvane::CommandId::ReadFirmware, Model::TS1},
                      Wiring{"ReadDataArea1", corvane::CommandId::ReadDataArea, Model::DSX6170},
                      Wiring{"ReadSignature1", corvane::CommandId::ReadSignature, Model::DSX6071_6072},
                      Wiring{"VerifyFirmware1", corvane::CommandId::VerifyFirmware, Model::DSX6170},
                      Wiring{"LinkTest1", corvane::CommandId::LinkTest, Model::DSX6070},
                      Wiring{"Read1", corvane::CommandId::ReadEeprom, Model::DSX6170},
                      Wiring{"Write1", corvane::CommandId::WriteEeprom, Model::STB3100},
                      // Three Ram items go through the hidden buttons' clicks.
                      Wiring{"Ramdump60711", corvane::CommandId::RamDump6071, Model::DSX6071_6072},
                      Wiring{"Ramdump60721", corvane::CommandId::RamDump6072, Model::DSX6071_6072},
                      Wiring{"RamdumpBCT131", corvane::CommandId::RamDumpBCT13, Model::BCT13},
                      Wiring{"RamdumpDSI1851", corvane::CommandId::RamDumpDSI185, Model::DSI185},
                      Wiring{"RamdumpTVNbox1", corvane::CommandId::RamDumpTVNbox, Model::TVNbox}),
    [](const auto& info) { return std::string(info.param.action); });

TEST_F(WindowFixture, ExitClosesTheIdleWindow) {
  form->show();
  form->Exit1->trigger();
  EXPECT_FALSE(form->isVisible());
}

// ---- profiles ----

struct ProfileRow {
  const char* caption;
  int type;
  bool cb1Enabled, cb1Visible, cb2Enabled, cb2Visible, cb3Visible;
  bool signature, readDataArea, writeDataArea;
  int wide;
  uint32_t last, pio;
};

// The decoder-type table as the window must show it, written out independently of kProfiles.
// The data-area items are offered only where something is moved: a loader writes it, or
// there is a region to read (TVN box has neither, DSX6170 no loader).
const ProfileRow kExpectedProfiles[] = {
    {"DSX6071/6072", 0, true, true, true, true, false, true, false, false, 0, 0x7FF, 0x2000D000},
    {"DSI185", 1, false, false, false, false, false, true, true, true, 0, 0x7FF, 0x2000D000},
    {"BCT13", 3, false, true, false, false, true, false, true, true, 0, 0x7FF, 0x2000D000},
    {"TS1", 4, false, false, false, false, false, true, true, true, 1, 0x1FFF, 0x2000F000},
    {"DSX6070", 5, false, false, false, false, false, true, true, true, 0, 0x7FF, 0x2000D000},
    {"TVN box", 6, false, false, false, false, false, true, false, false, 1, 0x1FFF, 0x2000D000},
    {"STB3100", 6, true, false, true, false, false, true, false, false, 1, 0x1FFF, 0x2000F000},
    {"DSX6170", 8, false, false, false, false, false, true, true, false, 1, 0x1FFF, 0x2000D000},
};

class ProfileTable : public WindowFixture, public ::testing::WithParamInterface<int> {};

TEST_P(ProfileTable, ClickAppliesTheRow) {
  const int i = GetParam();
  const ProfileRow& row = kExpectedProfiles[i];
  ASSERT_EQ(std::string(corvane::kProfiles[i].caption), row.caption);
  // Come from another model, so every field really changes hands.
  Radio((i + 1) % corvane::kModelCount)->click();
  Radio(i)->click();

  EXPECT_TRUE(Radio(i)->isChecked());
  EXPECT_EQ(form->SelectedModel(), corvane::kProfiles[i].model);
  EXPECT_EQ(form->DecoderType, row.type);
  EXPECT_EQ(form->CheckBox1->isEnabled(), row.cb1Enabled);
  EXPECT_EQ(!form->CheckBox1->isHidden(), row.cb1Visible);
  EXPECT_EQ(form->CheckBox2->isEnabled(), row.cb2Enabled);
  EXPECT_EQ(!form->CheckBox2->isHidden(), row.cb2Visible);
  EXPECT_EQ(!form->CheckBox3->isHidden(), row.cb3Visible);
  EXPECT_EQ(form->ReadSignature1->isEnabled(), row.signature);
  EXPECT_EQ(form->ReadDataArea1->isEnabled(), row.readDataArea);
  EXPECT_EQ(form->WriteDataArea1->isEnabled(), row.writeDataArea);
  EXPECT_EQ(form->EepromWideAddress, row.wide);
  EXPECT_EQ(form->EepromLastAddress, row.last);
  EXPECT_EQ(form->PioBase, row.pio);
  // No other item is ever disabled by a profile.
  for (QAction* a : {form->WriteFirmware1, form->ReadFirmware1, form->Read1, form->Write1,
                     form->PassivePOKEPEEK1, form->Ramdump60711, form->Ramdump60721,
                     form->RamdumpBCT131, form->RamdumpDSI1851, form->RamdumpTVNbox1,
                     form->About1, form->Exit1}) {
    EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, ProfileTable, ::testing::Range(0, corvane::kModelCount));

TEST_F(WindowFixture, StartsOnTheBct13ProfileWithoutAnyClick) {
  EXPECT_TRUE(form->RadioButton3->isChecked());
  EXPECT_EQ(form->DecoderType, 3);
  EXPECT_EQ(form->EepromWideAddress, 0);
  EXPECT_EQ(form->EepromLastAddress, 0x7FFu);
  EXPECT_EQ(form->PioBase, 0x2000D000u);
  EXPECT_FALSE(form->CheckBox3->isHidden());
  EXPECT_FALSE(form->ReadSignature1->isEnabled());
  const corvane::ProfileSnapshot s = form->Snapshot();
  EXPECT_EQ(s.model, Model::BCT13);
  EXPECT_FALSE(s.eraseDataArea);
  EXPECT_TRUE(s.writeDataArea);
  EXPECT_FALSE(s.reloaded);
}

TEST_F(WindowFixture, CheckBoxesKeepTheirStateAcrossModelSwitches) {
  form->RadioButton1->click();
  form->CheckBox1->click();  // Erase Data Area on
  form->CheckBox2->click();  // Write Data Area off
  form->RadioButton6->click();
  form->RadioButton3->click();
  form->CheckBox3->click();  // Reloaded on
  form->RadioButton2->click();
  form->RadioButton1->click();
  EXPECT_TRUE(form->CheckBox1->isChecked());
  EXPECT_FALSE(form->CheckBox2->isChecked());
  EXPECT_TRUE(form->CheckBox3->isChecked());
  const corvane::ProfileSnapshot s = form->Snapshot();
  EXPECT_TRUE(s.eraseDataArea);
  EXPECT_FALSE(s.writeDataArea);
  EXPECT_TRUE(s.reloaded);
}

TEST_F(WindowFixture, Stb3100EnablesButHidesTheDataAreaOptionsAndStillReadsThem) {
  form->RadioButton7->click();
  EXPECT_TRUE(form->CheckBox1->isEnabled());
  EXPECT_TRUE(form->CheckBox2->isEnabled());
  EXPECT_TRUE(form->CheckBox1->isHidden());
  EXPECT_TRUE(form->CheckBox2->isHidden());
  corvane::ProfileSnapshot seen;
  during = [&](corvane::Session& s) { seen = s.profile; };
  form->WriteFirmware1->trigger();
  EXPECT_EQ(seen.model, Model::STB3100);
  EXPECT_FALSE(seen.eraseDataArea);
  EXPECT_TRUE(seen.writeDataArea);
}

TEST_F(WindowFixture, Bct13LeavesEraseDataAreaVisibleButDisabledUnderReloaded) {
  form->RadioButton1->click();
  form->RadioButton3->click();
  form->show();
  EXPECT_TRUE(form->CheckBox1->isVisible());
  EXPECT_FALSE(form->CheckBox1->isEnabled());
  EXPECT_TRUE(form->CheckBox3->isVisible());
  EXPECT_EQ(form->CheckBox3->pos(), form->CheckBox1->pos());
  // CheckBox3 lies over CheckBox1: a click at their common corner reaches CheckBox3.
  EXPECT_EQ(form->GroupBox2->childAt(form->CheckBox1->geometry().center()), form->CheckBox3);
}

// ---- running a command ----

TEST_F(WindowFixture, VerifyAfterWritingIsCheckedByDefaultAndReachesTheCommand) {
  ASSERT_TRUE(form->VerifyAfterWriting1->isCheckable());
  EXPECT_TRUE(form->VerifyAfterWriting1->isChecked());
  std::vector<bool> seen;
  bool enabledInside = true;
  during = [&](corvane::Session& s) {
    seen.push_back(s.verifyAfterWrite);
    enabledInside = form->VerifyAfterWriting1->isEnabled();
    // A click while the command runs must not reach it.
    form->VerifyAfterWriting1->trigger();
    seen.push_back(s.verifyAfterWrite);
  };
  form->WriteFirmware1->trigger();
  form->VerifyAfterWriting1->trigger();  // off
  form->WriteFirmware1->trigger();
  EXPECT_EQ(seen, (std::vector<bool>{true, true, false, false}));
  EXPECT_FALSE(enabledInside);
  EXPECT_TRUE(form->VerifyAfterWriting1->isEnabled());
  EXPECT_FALSE(form->VerifyAfterWriting1->isChecked());
}

TEST_F(WindowFixture, WhileACommandRunsOtherCommandsModelsAndOptionsAreDisabled) {
  form->RadioButton1->click();  // DSX6071/6072: Read Data Area and Write Data Area are off
  std::vector<std::string> disabledInside;
  bool first = true;
  during = [&](corvane::Session&) {
    if (!std::exchange(first, false)) return;  // a second command got in
    for (QAction* a : {form->WriteFirmware1, form->WriteDataArea1, form->ReadFirmware1,
                       form->ReadDataArea1, form->ReadSignature1, form->Read1, form->Write1,
                       form->PassivePOKEPEEK1, form->Ramdump60711, form->Ramdump60721,
                       form->RamdumpBCT131, form->RamdumpDSI1851, form->RamdumpTVNbox1,
                       form->About1}) {
      if (!a->isEnabled()) disabledInside.push_back(a->objectName().toStdString());
    }
    for (int i = 0; i < corvane::kModelCount; ++i) {
      if (!Radio(i)->isEnabled()) disabledInside.push_back(Radio(i)->objectName().toStdString());
    }
    // The command took the options at its start: they are locked like the models.
    for (QCheckBox* c : {form->CheckBox1, form->CheckBox2, form->CheckBox3}) {
      if (!c->isEnabled()) disabledInside.push_back(c->objectName().toStdString());
    }
    EXPECT_TRUE(form->Exit1->isEnabled());
    EXPECT_TRUE(form->commandRunning());
    // A second request by any road is refused while the link is in use.
    form->ReadFirmware1->trigger();
    form->Button2->click();
    form->Read1Click();
    Radio(4)->click();
    form->CheckBox2->click();
  };
  form->ReadSignature1->trigger();
  EXPECT_EQ(disabledInside.size(), 14u + 8u + 3u);
  EXPECT_TRUE(form->CheckBox2->isChecked());
  EXPECT_EQ(ran, std::vector<corvane::CommandId>{corvane::CommandId::ReadSignature});
  EXPECT_EQ(target.begun.size(), 1u);
  EXPECT_EQ(target.ended, 1);
  // Afterwards everything is back, with the profile's own states.
  EXPECT_FALSE(form->commandRunning());
  EXPECT_TRUE(form->RadioButton1->isChecked());
  EXPECT_TRUE(form->ReadSignature1->isEnabled());
  EXPECT_FALSE(form->ReadDataArea1->isEnabled());
  EXPECT_FALSE(form->WriteDataArea1->isEnabled());
  EXPECT_TRUE(form->ReadFirmware1->isEnabled());
  EXPECT_TRUE(form->About1->isEnabled());
  for (int i = 0; i < corvane::kModelCount; ++i) EXPECT_TRUE(Radio(i)->isEnabled());
  for (QCheckBox* c : {form->CheckBox1, form->CheckBox2, form->CheckBox3}) {
    EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
  }
  // And where the profile disables an option, it stays so.
  form->RadioButton3->click();
  form->ReadFirmware1->trigger();
  EXPECT_FALSE(form->CheckBox1->isEnabled());
  EXPECT_TRUE(form->CheckBox3->isEnabled());
}

TEST_F(WindowFixture, AboutDuringACommandDoesNotHoldTheTransfer) {
  TForm2 about(form.get());
  form->SetForms(&about, nullptr);
  form->show();
  // Were About to open, its modal loop would hold the command until closed: this closes it.
  ModalScript watch({[](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); }});
  int64_t now = 0;
  form->host().SetTimeSource([&] { return now; });
  int framesAfterAbout = 0, last = -1;
  during = [&](corvane::Session& s) {
    s.host.SetProgressRange(0, 999);
    for (int i = 0; i < 1000; ++i) {
      if (i == 100) {  // Help > About, by the menu and by its handler
        QTimer::singleShot(0, form->About1, &QAction::trigger);
        QTimer::singleShot(0, form.get(), &TForm1::About1Click);
      }
      s.host.SetProgressPosition(i);
      s.host.Repaint();
      s.host.ProcessMessages();
      if (i > 100 && form->ProgressBar->value() != last) {
        last = form->ProgressBar->value();
        ++framesAfterAbout;
      }
      now += 1000;  // a word takes a millisecond
    }
  };
  form->WriteFirmware1->trigger();
  EXPECT_EQ(watch.done(), 0) << "About opened during the command";
  // The bar went on, a frame every 34 words, to the end.
  EXPECT_GE(framesAfterAbout, 25);
  EXPECT_GE(last, 999 - 34);
}

TEST_F(WindowFixture, EscapeDuringACommandAsksOnce) {
  form->show();
  std::vector<bool> answers;
  during = [&](corvane::Session& s) {
    answers.push_back(s.host.AbortRequested());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(form->CheckBox3, &escape);
    answers.push_back(s.host.AbortRequested());
    answers.push_back(s.host.AbortRequested());
  };
  form->ReadFirmware1->trigger();
  EXPECT_EQ(answers, (std::vector<bool>{false, true, false}));
  // Escape outside a command asks nothing of the next one.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(form.get(), &escape);
  answers.clear();
  during = [&](corvane::Session& s) { answers.push_back(s.host.AbortRequested()); };
  form->ReadFirmware1->trigger();
  EXPECT_EQ(answers, std::vector<bool>{false});
}

// A request to stop, by Escape or by closing the window, and the user's answer to the
// question the command asks next ("": the command ends before it looks).
struct StopRequest {
  bool close;
  const char* press;
};

struct StopCase {
  const char* name;
  std::vector<StopRequest> requests;
  bool closed;  // the window is gone after the command
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopDuringCommand : public WindowFixture, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopDuringCommand, OnlyAConfirmedCloseClosesAndOnlyOnceTheCommandHasEnded) {
  const StopCase& c = GetParam();
  const QString question = QStringLiteral("Stop now? The flash is left half written.");
  form->show();
  std::vector<Shown> shown(c.requests.size());
  std::vector<ModalScript::Step> steps;
  for (size_t i = 0; i < c.requests.size(); ++i) {
    if (*c.requests[i].press) steps.push_back(Press(c.requests[i].press, &shown[i]));
  }
  ModalScript script(steps);
  bool closeRefused = true, visibleInside = true;
  during = [&](corvane::Session& s) {
    for (const StopRequest& r : c.requests) {
      if (r.close) {
        closeRefused = closeRefused && !form->close();
        visibleInside = visibleInside && form->isVisible();
      } else {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &escape);
      }
      if (!*r.press) return;
      try {
        s.CheckAbort(question.toStdString());
      } catch (const corvane::AbortError&) {
        return;
      }
    }
  };
  form->WriteFirmware1->trigger();
  ASSERT_TRUE(script.finished()) << "questions answered: " << script.done();
  for (size_t i = 0; i < c.requests.size(); ++i) {
    if (!*c.requests[i].press) continue;
    EXPECT_TRUE(shown[i].text.startsWith(question)) << shown[i].text.toStdString();
    // Only the question a close led to says that Yes closes the program.
    EXPECT_EQ(shown[i].text.contains(QStringLiteral("closes Corvane")), c.requests[i].close) << i;
  }
  EXPECT_TRUE(closeRefused);
  EXPECT_TRUE(visibleInside);
  EXPECT_EQ(!form->isVisible(), c.closed);
  EXPECT_EQ(target.ended, 1);
  // Left open, the window is idle, and nothing of the earlier requests reaches the next command.
  EXPECT_FALSE(form->commandRunning());
  EXPECT_TRUE(form->WriteFirmware1->isEnabled());
  if (c.closed) return;
  bool askedAgain = true;
  during = [&](corvane::Session& s) { askedAgain = s.host.AbortRequested(); };
  form->ReadFirmware1->trigger();
  EXPECT_FALSE(askedAgain);
  EXPECT_TRUE(form->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, StopDuringCommand,
    ::testing::Values(
        StopCase{"CloseConfirmed", {{true, "Yes"}}, true},
        StopCase{"CloseDeclined", {{true, "No"}}, false},
        StopCase{"CloseDeclinedThenEscapeConfirmed", {{true, "No"}, {false, "Yes"}}, false},
        StopCase{"EscapeDeclinedThenCloseConfirmed", {{false, "No"}, {true, "Yes"}}, true},
        StopCase{"CommandEndedFirst", {{true, ""}}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowFixture, StatusAndProgressShowWhileRunningAndClearWhenTheCommandEnds) {
  form->show();
  QString shownWhileRunning;
  int barWhileRunning = -1;
  during = [&](corvane::Session& s) {
    corvane::StatusGuard status(s.host);
    s.host.SetStatus("Connecting...");
    s.host.SetProgressRange(0, 100);
    s.host.SetProgressPosition(40);
    s.host.Repaint();
    shownWhileRunning = form->StatusBar1->Panel(0)->text();
    barWhileRunning = form->ProgressBar->value();
  };
  form->ReadFirmware1->trigger();
  EXPECT_EQ(shownWhileRunning, QStringLiteral("Connecting..."));
  EXPECT_EQ(barWhileRunning, 40);
  EXPECT_EQ(form->StatusBar1->Panel(0)->text(), QString());
  EXPECT_EQ(form->ProgressBar->value(), 0);
}

TEST_F(WindowFixture, TheTextSetBeforeALongWaitIsOnScreenWhileTheWindowServesEvents) {
  form->show();
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
  // A frozen clock: after the first frame no Repaint is due, as on the word before a wait.
  form->host().SetTimeSource([] { return int64_t{0}; });
  target.clock.stepPerNow = 0;
  const QString waitText = QStringLiteral("Writing Flash ~10 secs...");
  QString panelInWait;
  int barInWait = -1, eventRuns = 0;
  bool screenShowsIt = false, escapeNoticed = false;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++eventRuns; });
  during = [&](corvane::Session& s) {
    s.host.SetProgressRange(0, 0x3FFFF);
    s.host.SetProgressPosition(0x3FFFF);
    s.host.SetStatus("80101FFC  FFFFFF");
    s.host.Repaint();
    s.host.SetProgressPosition(0);
    s.host.SetStatus(waitText.toStdString());
    s.host.Repaint();
    QTimer::singleShot(0, form.get(), [&] {
      panelInWait = form->StatusBar1->Panel(0)->text();
      barInWait = form->ProgressBar->value();
      // The screen holds what the status bar paints now, not an older frame.
      const QRect r(form->StatusBar1->mapTo(form.get(), QPoint()), form->StatusBar1->size());
      const QImage screen = form->screen()
                                ->grabWindow(form->winId(), r.x(), r.y(), r.width(), r.height())
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
      screenShowsIt = !screen.isNull() &&
                      screen == form->StatusBar1->grab().toImage().convertToFormat(QImage::Format_RGB32);
      QCoreApplication::postEvent(form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape,
                                                            Qt::NoModifier));
    });
    ticker.start(0);
    s.clock().SleepMilliseconds(10000);
    ticker.stop();
    escapeNoticed = s.host.AbortRequested();
  };
  form->WriteFirmware1->trigger();
  EXPECT_EQ(panelInWait, waitText);
  EXPECT_EQ(barInWait, 0);
  EXPECT_TRUE(screenShowsIt);
  EXPECT_TRUE(escapeNoticed) << "Escape pressed during the wait";
  // The events ran once per slice of the wait, and the wait kept its length.
  EXPECT_GE(eventRuns, 10000 / WindowClock::kSliceMs - 1);
  EXPECT_EQ(target.clock.sleptMs, 10000);
}

TEST_F(WindowFixture, AFailedConnectLeavesNoStatusBehind) {
  form->show();
  apptest::DeadPort dead;
  target.linkObject.Rebind(dead, target.clock);
  during = [](corvane::Session& s) { corvane::CommandOf(corvane::CommandId::WriteFirmware).run(s, {}); };
  Shown error;
  ModalScript script({Press("OK", &error)});
  form->WriteFirmware1->trigger();
  ASSERT_TRUE(script.finished());
  EXPECT_EQ(error.text.toStdString(), corvane::kLinkErrorMessage);
  EXPECT_EQ(form->StatusBar1->Panel(0)->text(), QString()) << "not \"Connecting...\"";
}

struct FailureCase {
  const char* name;
  std::string beginError, endError;
  bool throws;
  std::vector<std::string> messages;
  size_t commandsRun;
  std::string completion = {};  // the command's closing message, if it gets that far
};

class CommandFailures : public WindowFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CommandFailures, EachBecomesOneErrorBoxAndTheWindowRecovers) {
  const FailureCase& c = GetParam();
  target.beginError = c.beginError;
  target.endError = c.endError;
  if (c.throws) during = [](corvane::Session&) { throw std::runtime_error("disk full"); };
  if (!c.completion.empty()) {
    during = [&](corvane::Session& s) {
      s.host.MessageBox(corvane::MessageKind::Information, c.completion, corvane::Buttons::Ok);
    };
  }
  std::vector<Shown> shown(c.messages.size());
  std::vector<ModalScript::Step> steps;
  for (Shown& s : shown) steps.push_back(Press("OK", &s));
  ModalScript script(steps);
  form->ReadFirmware1->trigger();
  EXPECT_TRUE(script.finished());
  for (size_t i = 0; i < c.messages.size(); ++i) {
    EXPECT_EQ(shown[i].text.toStdString(), c.messages[i]);
    EXPECT_EQ(shown[i].icon, QMessageBox::Critical);
    EXPECT_EQ(shown[i].title, form->windowTitle());
  }
  EXPECT_EQ(ran.size(), c.commandsRun);
  EXPECT_FALSE(form->commandRunning());
  EXPECT_TRUE(form->ReadFirmware1->isEnabled());
  EXPECT_TRUE(form->RadioButton1->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CommandFailures,
    ::testing::Values(
        FailureCase{"TargetUnavailable", "Cannot open /dev/parport0: Permission denied", "", false,
                    {"Cannot open /dev/parport0: Permission denied"}, 0},
        FailureCase{"CommandThrows", "", "", true, {"disk full"}, 1},
        FailureCase{"DecoderNotSaved", "", "Cannot write flash.bin", false, {"Cannot write flash.bin"}, 1},
        // What could not be kept was never completed: the closing message is not shown.
        FailureCase{"CompletedButNotSaved", "", "Cannot write flash.bin", false,
                    {"Cannot write flash.bin"}, 1, "Reading Flash completed."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
