#include "app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <exception>
#include <vector>

#include "app/CommandTarget.h"
#include "app/QtHost.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "target/LinkCost.h"
#include "target/Session.h"

using corvane::Buttons;
using corvane::MessageKind;
using corvane::Model;

void TBevel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawLine(0, 0, width() - 1, 0);
  painter.setPen(palette().color(QPalette::Light));
  painter.drawLine(0, 1, width() - 1, 1);
}

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {
  // Laid out as the classic status bar lays out its parts: each part after the first begins
  // 2 pixels past the right edge of the one before, so the progress bar, placed 2 pixels
  // past panel 0, covers panel 1 exactly instead of overlapping its frame.
  int right = 0;
  for (int i = 0; i < 3; ++i) {
    auto* panel = new QLabel(this);
    panel->setObjectName(QStringLiteral("Panel%1").arg(i));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
    const int left = i == 0 ? 0 : right + 2;
    right += kPanelWidths[i];
    panel->setGeometry(left, 2, right - left, kHeight - 2);
    panels_[i] = panel;
  }
}

namespace {

// The classic form's 8-point system font is not on Linux. The desktop's own sans takes its
// place, at 8 points or as much smaller as it takes for every caption to fit the form's
// fixed pixel geometry (wide faces such as DejaVu Sans need it).
void FitFont(QWidget* form, const std::vector<QWidget*>& fixed) {
  QFont font = QApplication::font();
  for (double points = 8.0; points >= 6.0; points -= 0.5) {
    font.setPointSizeF(points);
    form->setFont(font);
    bool fits = true;
    for (QWidget* w : fixed) {
      // A size hint carries a pixel or two of margin past the text itself.
      const QSize need = w->sizeHint();
      if (need.width() > w->width() + 2 || need.height() > w->height() + 2) fits = false;
    }
    if (fits) return;
  }
}

void Centre(QWidget* w) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = w->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    w->move(frame.topLeft());
  }
}

}  // namespace

TForm1::TForm1(Options options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)), target_(options_.target) {
  setObjectName(QStringLiteral("Form1"));
  QString title = Caption();
  if (options_.simulated || (target_ && target_->simulated())) {
    title += QString::fromUtf8(" \u2014 virtual decoder");
  }
  setWindowTitle(title);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  BuildControls();
  BuildMenu();
  FitFont(this, {RadioButton1, RadioButton2, RadioButton3, RadioButton4, RadioButton5,
                 RadioButton6, RadioButton7, RadioButton8, CheckBox1, CheckBox2, CheckBox3});

  // The client area is the form's 405 x 202 below the menu bar.
  centralWidget()->setFixedSize(kClientWidth, kClientHeight);
  setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
  // Placed now, so that a question of the start-up shows over where the window will be.
  Centre(this);

  FormCreate();
}

TForm1::~TForm1() {
  if (running_) qApp->removeEventFilter(this);
}

void TForm1::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client);

  Bevel1 = new TBevel(client);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setGeometry(0, 0, 409, 9);

  StatusBar1 = new TStatusBar(client);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setGeometry(0, kClientHeight - TStatusBar::kHeight, kClientWidth, TStatusBar::kHeight);

  GroupBox1 = new QGroupBox(QStringLiteral(" Decoder Type "), client);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(4, 8, 205, 169);

  QRadioButton** radios[corvane::kModelCount] = {&RadioButton1, &RadioButton2, &RadioButton3,
                                                 &RadioButton4, &RadioButton5, &RadioButton6,
                                                 &RadioButton7, &RadioButton8};
  using Slot = void (TForm1::*)();
  const Slot clicks[corvane::kModelCount] = {
      &TForm1::RadioButton1Click, &TForm1::RadioButton2Click, &TForm1::RadioButton3Click,
      &TForm1::RadioButton4Click, &TForm1::RadioButton5Click, &TForm1::RadioButton6Click,
      &TForm1::RadioButton7Click, &TForm1::RadioButton8Click};
  for (int i = 0; i < corvane::kModelCount; ++i) {
    auto* radio = new QRadioButton(QString::fromLatin1(corvane::kProfiles[i].caption), GroupBox1);
    radio->setObjectName(QStringLiteral("RadioButton%1").arg(i + 1));
    radio->setGeometry(8, 32 + 16 * i, 113, 17);
    // Toggled, not clicked: the keyboard's arrows select a model too, and the profile
    // must always be the checked button's.
    const Slot click = clicks[i];
    connect(radio, &QRadioButton::toggled, this, [this, click](bool on) {
      if (on) (this->*click)();
    });
    *radios[i] = radio;
    radioButtons_[i] = radio;
  }
  RadioButton3->blockSignals(true);
  RadioButton3->setChecked(true);
  RadioButton3->blockSignals(false);

  GroupBox2 = new QGroupBox(QStringLiteral(" Options "), client);
  GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
  GroupBox2->setGeometry(216, 8, 177, 169);

  auto check = [this](const char* name, const char* text, QRect place, bool checked) {
    auto* box = new QCheckBox(QString::fromLatin1(text), GroupBox2);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(place);
    box->setChecked(checked);
    return box;
  };
  auto button = [this](const char* name, const char* text, QRect place) {
    auto* b = new QPushButton(QString::fromLatin1(text), GroupBox2);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(place);
    b->hide();
    return b;
  };
  CheckBox1 = check("CheckBox1", "Erase Data Area", {16, 32, 97, 17}, false);
  CheckBox2 = check("CheckBox2", "Write Data Area", {16, 56, 97, 17}, true);
  Button1 = button("Button1", "Read RAM 6072", {8, 136, 99, 25});
  Button2 = button("Button2", "Read RAM 6071", {64, 136, 97, 25});
  Button3 = button("Button3", "DSI185", {104, 136, 59, 25});
  CheckBox3 = check("CheckBox3", "BCT13 Reloaded !", {16, 32, 113, 17}, false);
  // It lies over CheckBox1 and hides it, as the classic control's opaque face did; a Qt
  // check box is see-through, so CheckBox1 does not paint while CheckBox3 covers it.
  CheckBox1->installEventFilter(this);
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);

  for (int i = 0; i + 1 < corvane::kModelCount; ++i) setTabOrder(radioButtons_[i], radioButtons_[i + 1]);
  setTabOrder(CheckBox1, CheckBox2);
  setTabOrder(CheckBox2, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, CheckBox3);

  OpenDialog1 = new TFileDialog(corvane::Dialog::Open, QStringLiteral("OpenDialog1"), this);
  SaveDialog1 = new TFileDialog(corvane::Dialog::Save, QStringLiteral("SaveDialog1"), this);
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  // The menu bar belongs to the window on every desktop, as the form has it.
  bar->setNativeMenuBar(false);
  // The menu titles in the font of their drop-downs, not in the form's fitted one.
  bar->setFont(QApplication::font(bar));

  auto menu = [bar](const char* name, const char* text) {
    QMenu* m = bar->addMenu(QString::fromLatin1(text));
    m->setObjectName(QString::fromLatin1(name));
    return m;
  };
  auto item = [this](QMenu* m, const char* name, const char* text, void (TForm1::*slot)()) {
    QAction* a = m->addAction(QString::fromLatin1(text));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  auto separator = [](QMenu* m, const char* name) { m->addSeparator()->setObjectName(QString::fromLatin1(name)); };

  Flash1 = menu("Flash1", "&Flash");
  WriteFirmware1 = item(Flash1, "WriteFirmware1", "&Write Firmware", &TForm1::WriteFirmware1Click);
  WriteDataArea1 = item(Flash1, "WriteDataArea1", "Write &Data Area", &TForm1::WriteDataArea1Click);
  separator(Flash1, "N1");
  ReadFirmware1 = item(Flash1, "ReadFirmware1", "&Read Firmware", &TForm1::ReadFirmware1Click);
  ReadDataArea1 = item(Flash1, "ReadDataArea1", "Read Data &Area", &TForm1::ReadDataArea1Click);
  ReadSignature1 = item(Flash1, "ReadSignature1", "Read &Signature", &TForm1::ReadSignature1Click);
  VerifyFirmware1 = item(Flash1, "VerifyFirmware1", "Verify &Firmware...", &TForm1::VerifyFirmware1Click);
  separator(Flash1, "N2");
  auto option = [this](QMenu* m, const char* name, const char* text) {
    QAction* a = m->addAction(QString::fromLatin1(text));
    a->setObjectName(QString::fromLatin1(name));
    a->setCheckable(true);
    a->setChecked(true);
    return a;
  };
  VerifyAfterWriting1 = option(Flash1, "VerifyAfterWriting1", "&Verify after writing");
  BackUpBeforeWriting1 = option(Flash1, "BackUpBeforeWriting1", "&Back up before writing");
  separator(Flash1, "N3");
  Exit1 = item(Flash1, "Exit1", "E&xit", &TForm1::Exit1Click);

  Eeprom1 = menu("Eeprom1", "&Eeprom");
  Read1 = item(Eeprom1, "Read1", "&Read eeprom", &TForm1::Read1Click);
  Write1 = item(Eeprom1, "Write1", "&Write eeprom", &TForm1::Write1Click);

  Debug1 = menu("Debug1", "Debug");
  PassivePOKEPEEK1 = item(Debug1, "PassivePOKEPEEK1", "Passive POKE/PEEK", &TForm1::PassivePOKEPEEK1Click);
  LinkTest1 = item(Debug1, "LinkTest1", "Link Test", &TForm1::LinkTest1Click);

  Ram1 = menu("Ram1", "Ram");
  Ramdump60711 = item(Ram1, "Ramdump60711", "Ramdump 6071", &TForm1::Ramdump60711Click);
  Ramdump60721 = item(Ram1, "Ramdump60721", "Ramdump 6072", &TForm1::Ramdump60721Click);
  RamdumpBCT131 = item(Ram1, "RamdumpBCT131", "Ramdump BCT13", &TForm1::RamdumpBCT131Click);
  RamdumpDSI1851 = item(Ram1, "RamdumpDSI1851", "Ramdump DSI185", &TForm1::RamdumpDSI1851Click);
  RamdumpTVNbox1 = item(Ram1, "RamdumpTVNbox1", "Ramdump TVNbox", &TForm1::RamdumpTVNbox1Click);

  Help1 = menu("Help1", "&Help");
  About1 = item(Help1, "About1", "&About", &TForm1::About1Click);
}

void TForm1::FormCreate() {
  // The application's title becomes the window's caption, which message boxes take as theirs.
  // The toolkit keeps no application name: it would append one to every dialog's caption,
  // "Passive POKE/PEEK" followed by the window's.
  QGuiApplication::setApplicationDisplayName(QString());

  ProgressBar = new QProgressBar(StatusBar1);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setGeometry(StatusBar1->PanelWidth(0) + 2, 2, StatusBar1->PanelWidth(1) - 2,
                           TStatusBar::kHeight - 2);
  ProgressBar->setTextVisible(false);

  host_ = new QtHost(this, StatusBar1, StatusBar1->Panel(0), ProgressBar, OpenDialog1, SaveDialog1);
  host_->SetProgressRange(0, 0);
  host_->SetProgressPosition(0);
  host_->Flush();

  RadioButton3Click();

  if (!target_ && options_.startTarget) {
    ownedTarget_ = options_.startTarget(*host_);
    target_ = ownedTarget_.get();
  }
}

void TForm1::SetForms(TForm2* form2, TForm3* form3) {
  form2_ = form2;
  form3_ = form3;
}

Model TForm1::SelectedModel() const {
  for (int i = 0; i < corvane::kModelCount; ++i) {
    if (radioButtons_[i]->isChecked()) return corvane::kProfiles[i].model;
  }
  return Model::BCT13;
}

corvane::ProfileSnapshot TForm1::Snapshot() const {
  corvane::ProfileSnapshot s;
  s.model = SelectedModel();
  s.eraseDataArea = CheckBox1->isChecked();
  s.writeDataArea = CheckBox2->isChecked();
  s.reloaded = CheckBox3->isChecked();
  return s;
}

void TForm1::ApplyProfile(Model model) {
  const corvane::Profile& p = corvane::ProfileOf(model);
  DecoderType = p.DecoderType;
  CheckBox1->setEnabled(p.checkBox1Enabled);
  CheckBox2->setEnabled(p.checkBox2Enabled);
  CheckBox1->setVisible(p.checkBox1Visible);
  CheckBox2->setVisible(p.checkBox2Visible);
  CheckBox3->setVisible(p.checkBox3Visible);
  ReadSignature1->setEnabled(p.readSignature && !running_);
  ReadDataArea1->setEnabled(p.readDataArea && !running_);
  WriteDataArea1->setEnabled(p.writeDataArea && !running_);
  EepromWideAddress = p.EepromWideAddress;
  EepromLastAddress = p.EepromLastAddress;
  PioBase = p.PioBase;
}

void TForm1::RadioButton1Click() { ApplyProfile(Model::DSX6071_6072); }
void TForm1::RadioButton2Click() { ApplyProfile(Model::DSI185); }
void TForm1::RadioButton3Click() { ApplyProfile(Model::BCT13); }
void TForm1::RadioButton4Click() { ApplyProfile(Model::TS1); }
void TForm1::RadioButton5Click() { ApplyProfile(Model::DSX6070); }
void TForm1::RadioButton6Click() { ApplyProfile(Model::TVNbox); }
void TForm1::RadioButton7Click() { ApplyProfile(Model::STB3100); }
void TForm1::RadioButton8Click() { ApplyProfile(Model::DSX6170); }

void TForm1::WriteFirmware1Click() { Run(WindowCommand::WriteFirmware); }
void TForm1::WriteDataArea1Click() { Run(WindowCommand::WriteDataArea); }
void TForm1::ReadFirmware1Click() { Run(WindowCommand::ReadFirmware); }
void TForm1::ReadDataArea1Click() { Run(WindowCommand::ReadDataArea); }
void TForm1::ReadSignature1Click() { Run(WindowCommand::ReadSignature); }
void TForm1::VerifyFirmware1Click() { Run(WindowCommand::VerifyFirmware); }
void TForm1::LinkTest1Click() { Run(WindowCommand::LinkTest); }
void TForm1::Read1Click() { Run(WindowCommand::ReadEeprom); }
void TForm1::Write1Click() { Run(WindowCommand::WriteEeprom); }
void TForm1::Ramdump60711Click() { Button2->click(); }
void TForm1::Ramdump60721Click() { Button1->click(); }
void TForm1::RamdumpBCT131Click() { Run(WindowCommand::RamDumpBCT13); }
void TForm1::RamdumpDSI1851Click() { Button3->click(); }
void TForm1::RamdumpTVNbox1Click() { Run(WindowCommand::RamDumpTVNbox); }
void TForm1::Button1Click() { Run(WindowCommand::RamDump6072); }
void TForm1::Button2Click() { Run(WindowCommand::RamDump6071); }
void TForm1::Button3Click() { Run(WindowCommand::RamDumpDSI185); }

void TForm1::Exit1Click() { close(); }

void TForm1::PassivePOKEPEEK1Click() {
  if (running_ || !form3_) return;
  form3_->ShowModal();
}

void TForm1::About1Click() {
  // Its modal loop would hold the running command until the dialog is closed.
  if (running_ || !form2_) return;
  form2_->Label1->setText(Caption());
  form2_->ShowModal();
}

void TForm1::SetCommandsEnabled(bool enabled) {
  for (QAction* a : {WriteFirmware1, WriteDataArea1, ReadFirmware1, ReadDataArea1, ReadSignature1,
                     VerifyFirmware1, Read1, Write1, PassivePOKEPEEK1, LinkTest1, Ramdump60711,
                     Ramdump60721, RamdumpBCT131, RamdumpDSI1851, RamdumpTVNbox1, About1}) {
    a->setEnabled(enabled);
  }
  for (QRadioButton* r : radioButtons_) r->setEnabled(enabled);
  // The running command took its choices at the start; a click now would only mislead.
  VerifyAfterWriting1->setEnabled(enabled);
  BackUpBeforeWriting1->setEnabled(enabled);
  for (QCheckBox* c : {CheckBox1, CheckBox2, CheckBox3}) c->setEnabled(enabled);
  if (enabled) {
    // The profile's own states for the controls it drives.
    const corvane::Profile& p = corvane::ProfileOf(SelectedModel());
    ReadSignature1->setEnabled(p.readSignature);
    ReadDataArea1->setEnabled(p.readDataArea);
    WriteDataArea1->setEnabled(p.writeDataArea);
    CheckBox1->setEnabled(p.checkBox1Enabled);
    CheckBox2->setEnabled(p.checkBox2Enabled);
  }
}

void TForm1::Run(WindowCommand command) {
  // One user of the link at a time, whatever path the request came by.
  if (running_ || !options_.commands || !target_) return;
  const corvane::ProfileSnapshot snapshot = Snapshot();
  std::string error;
  if (!target_->Begin(snapshot.model, &error)) {
    host_->MessageBox(MessageKind::Error, error, Buttons::Ok);
    return;
  }

  running_ = true;
  host_->ResetAbort();
  SetCommandsEnabled(false);
  qApp->installEventFilter(this);

  corvane::Session session{target_->link(), target_->ee(), *host_, snapshot,
                           target_->loaderDir(), target_->logDir()};
  session.verifyAfterWrite = VerifyAfterWriting1->isChecked();
  if (BackUpBeforeWriting1->isChecked()) session.backup = std::string();
  session.linkCostPath = target_->linkCostPath();
  corvane::LoadLinkCost(session.linkCostPath, &session.linkCost);
  {
    WindowClock clock(target_->link(), *host_);
    try {
      options_.commands(command, session);
    } catch (const std::exception& e) {
      // Nothing may unwind into the event loop; the command's guards have closed up.
      host_->MessageBox(MessageKind::Error, e.what(), Buttons::Ok);
    }
  }

  qApp->removeEventFilter(this);
  std::string endError;
  if (!target_->End(&endError)) host_->MessageBox(MessageKind::Error, endError, Buttons::Ok);
  running_ = false;
  // Every command the menus offer opens the link before anything else.
  if (form3_) form3_->CommandRan();
  SetCommandsEnabled(true);
  // A command that could not connect leaves "Connecting..." behind; an idle window shows
  // nothing.
  host_->SetStatus("");
  host_->SetProgressPosition(0);
  host_->Flush();
  StatusBar1->update();

  const bool closeNow = host_->closeRequested();
  host_->ResetAbort();
  if (closeNow) close();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Centred once its size is final, as the form opens at the centre of the screen.
  if (!placed_) {
    placed_ = true;
    Centre(this);
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!running_) {
    event->accept();
    return;
  }
  // Destroying the window under a running command would pull its host away: ask the
  // command to stop, and close once it has.
  event->ignore();
  host_->RequestAbort(true);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == CheckBox1 && event->type() == QEvent::Paint && !CheckBox3->isHidden() &&
      CheckBox3->geometry().contains(CheckBox1->geometry())) {
    return true;
  }
  if (running_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    host_->RequestAbort();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}
