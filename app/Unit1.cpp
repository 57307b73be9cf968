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
#include <QMetaObject>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>
#include <exception>
#include <vector>

#include "app/QtHost.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "station/Runner.h"
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

std::unique_ptr<corvane::Backend> StartWindowBackend(const corvane::TargetOptions& options,
                                                     corvane::Host& host) {
  std::string error;
  auto backend = corvane::Backend::Start(options, host, &error);
  if (!backend) {
    return corvane::Backend::Unavailable(error.empty() ? "no access to the parallel port" : error,
                                         options.simulated());
  }
  // The window may stay open for hours: the port is ours only while a command runs.
  backend->ReleasePort();
  return backend;
}

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
  int separators = 0;
  auto separator = [&separators](QMenu* m) {
    m->addSeparator()->setObjectName(QStringLiteral("N%1").arg(++separators));
  };
  auto option = [this](QMenu* m, const char* name, const char* text) {
    QAction* a = m->addAction(QString::fromLatin1(text));
    a->setObjectName(QString::fromLatin1(name));
    a->setCheckable(true);
    a->setChecked(true);
    return a;
  };

  Flash1 = menu("Flash1", "&Flash");
  Eeprom1 = menu("Eeprom1", "&Eeprom");
  Debug1 = menu("Debug1", "Debug");
  Ram1 = menu("Ram1", "Ram");
  Help1 = menu("Help1", "&Help");
  PassivePOKEPEEK1 = item(Debug1, "PassivePOKEPEEK1", "Passive POKE/PEEK", &TForm1::PassivePOKEPEEK1Click);

  // The commands, in the table's order, each reaching its handler by name.
  std::vector<std::pair<QMenu*, int>> lastGroup;
  for (const corvane::CommandRow& row : corvane::CommandTable()) {
    if (!row.menu) continue;
    QMenu* m = findChild<QMenu*>(QString::fromLatin1(row.menu));
    auto last = std::find_if(lastGroup.begin(), lastGroup.end(), [m](const auto& e) { return e.first == m; });
    if (last == lastGroup.end()) {
      lastGroup.emplace_back(m, row.group);
    } else if (last->second != row.group) {
      separator(m);
      last->second = row.group;
    }
    QAction* a = m->addAction(QString::fromLatin1(row.caption));
    a->setObjectName(QString::fromLatin1(row.item));
    const QByteArray handler = QByteArray(row.item) + "Click";
    connect(a, &QAction::triggered, this, [this, handler] {
      QMetaObject::invokeMethod(this, handler.constData());
    });
    commandItems_.emplace_back(row.id, a);
  }

  separator(Flash1);
  VerifyAfterWriting1 = option(Flash1, "VerifyAfterWriting1", "&Verify after writing");
  BackUpBeforeWriting1 = option(Flash1, "BackUpBeforeWriting1", "&Back up before writing");
  FullWrite1 = option(Flash1, "FullWrite1", "Write every sector (f&ull write)");
  FullWrite1->setChecked(false);
  separator(Flash1);
  Exit1 = item(Flash1, "Exit1", "E&xit", &TForm1::Exit1Click);
  About1 = item(Help1, "About1", "&About", &TForm1::About1Click);

  auto action = [this](const char* name) { return findChild<QAction*>(QString::fromLatin1(name)); };
  WriteFirmware1 = action("WriteFirmware1");
  WriteDataArea1 = action("WriteDataArea1");
  ReadFirmware1 = action("ReadFirmware1");
  ReadDataArea1 = action("ReadDataArea1");
  ReadSignature1 = action("ReadSignature1");
  VerifyFirmware1 = action("VerifyFirmware1");
  Read1 = action("Read1");
  Write1 = action("Write1");
  LinkTest1 = action("LinkTest1");
  Ramdump60711 = action("Ramdump60711");
  Ramdump60721 = action("Ramdump60721");
  RamdumpBCT131 = action("RamdumpBCT131");
  RamdumpDSI1851 = action("RamdumpDSI1851");
  RamdumpTVNbox1 = action("RamdumpTVNbox1");
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

  host_ = new QtHost(this, StatusBar1, StatusBar1->Panel(0), StatusBar1->Panel(2), ProgressBar,
                     OpenDialog1, SaveDialog1);
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
  EnableCommandItems();
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

using corvane::CommandId;
void TForm1::WriteFirmware1Click() { Run(CommandId::WriteFirmware); }
void TForm1::WriteDataArea1Click() { Run(CommandId::WriteDataArea); }
void TForm1::ReadFirmware1Click() { Run(CommandId::ReadFirmware); }
void TForm1::ReadDataArea1Click() { Run(CommandId::ReadDataArea); }
void TForm1::ReadSignature1Click() { Run(CommandId::ReadSignature); }
void TForm1::VerifyFirmware1Click() { Run(CommandId::VerifyFirmware); }
void TForm1::LinkTest1Click() { Run(CommandId::LinkTest); }
void TForm1::Read1Click() { Run(CommandId::ReadEeprom); }
void TForm1::Write1Click() { Run(CommandId::WriteEeprom); }
void TForm1::SaveDecoder1Click() { Run(CommandId::SaveDecoder); }
void TForm1::RestoreDecoder1Click() { Run(CommandId::RestoreDecoder); }
void TForm1::Ramdump60711Click() { Button2->click(); }
void TForm1::Ramdump60721Click() { Button1->click(); }
void TForm1::RamdumpBCT131Click() { Run(CommandId::RamDumpBCT13); }
void TForm1::RamdumpDSI1851Click() { Button3->click(); }
void TForm1::RamdumpTVNbox1Click() { Run(CommandId::RamDumpTVNbox); }
void TForm1::Button1Click() { Run(CommandId::RamDump6072); }
void TForm1::Button2Click() { Run(CommandId::RamDump6071); }
void TForm1::Button3Click() { Run(CommandId::RamDumpDSI185); }

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

void TForm1::EnableCommandItems() {
  const Model model = SelectedModel();
  for (const auto& [id, action] : commandItems_) {
    action->setEnabled(!running_ && corvane::Offered(id, model));
  }
}

void TForm1::SetCommandsEnabled(bool enabled) {
  for (QAction* a : {PassivePOKEPEEK1, About1}) a->setEnabled(enabled);
  for (QRadioButton* r : radioButtons_) r->setEnabled(enabled);
  // The running command took its choices at the start; a click now would only mislead.
  VerifyAfterWriting1->setEnabled(enabled);
  BackUpBeforeWriting1->setEnabled(enabled);
  FullWrite1->setEnabled(enabled);
  for (QCheckBox* c : {CheckBox1, CheckBox2, CheckBox3}) c->setEnabled(enabled);
  if (enabled) {
    // The profile's own states for the controls it drives.
    const corvane::Profile& p = corvane::ProfileOf(SelectedModel());
    CheckBox1->setEnabled(p.checkBox1Enabled);
    CheckBox2->setEnabled(p.checkBox2Enabled);
  }
  EnableCommandItems();
}

void TForm1::Run(CommandId command) {
  // One user of the link at a time, whatever path the request came by.
  if (running_ || !target_) return;
  corvane::RunRequest request;
  request.command = command;
  request.profile = Snapshot();
  request.verify = VerifyAfterWriting1->isChecked();
  if (!BackUpBeforeWriting1->isChecked()) request.backup.reset();
  request.fullWrite = FullWrite1->isChecked();
  request.logDir = options_.logDir;
  if (options_.commands) {
    request.body = [this, command](corvane::Session& s) { options_.commands(command, s); };
  }
  corvane::RunResult result;
  if (!Execute(request, result)) {
    close();
    return;
  }
  if (!result.restoreFrom.empty()) OfferRestore(request, result.restoreFrom);
}

bool TForm1::Execute(const corvane::RunRequest& given, corvane::RunResult& result) {
  corvane::RunRequest request = given;
  request.around = [this](const std::function<void()>& run) {
    running_ = true;
    host_->ResetAbort();
    SetCommandsEnabled(false);
    qApp->installEventFilter(this);
    {
      WindowClock clock(target_->link(), *host_);
      run();
    }
    qApp->removeEventFilter(this);
  };
  result = corvane::RunOne(*target_, *host_, request);
  if (!result.begun) {
    host_->MessageBox(MessageKind::Error, result.beginError, Buttons::Ok);
    return true;
  }
  if (!result.endError.empty()) host_->MessageBox(MessageKind::Error, result.endError, Buttons::Ok);
  running_ = false;
  // Every command the menus offer opens the link before anything else.
  if (form3_) form3_->CommandRan();
  SetCommandsEnabled(true);
  // A command that could not connect leaves "Connecting..." behind; an idle window shows
  // nothing: no phase, no time left in the title or the panel.
  host_->SetStatus("");
  host_->SetPhase("", 0);
  host_->SetTimeBudget(0, nullptr);
  host_->SetProgressPosition(0);
  host_->Flush();
  StatusBar1->update();

  const bool closeNow = host_->closeRequested();
  host_->ResetAbort();
  return !closeNow;
}

void TForm1::OfferRestore(corvane::RunRequest request, const std::string& backup) {
  const corvane::CommandRow& row = corvane::CommandOf(request.command);
  const QString item = findChild<QMenu*>(QString::fromLatin1(row.menu))->title().remove(QLatin1Char('&')) +
                       QStringLiteral(" > ") + QString::fromLatin1(row.caption).remove(QLatin1Char('&'));
  const corvane::Answer answer = host_->MessageBox(
      MessageKind::Confirmation,
      "Write the backup back now? " + backup + " holds what the decoder held before this write. "
      "Yes writes it back; No leaves the decoder as it is.",
      Buttons::YesNo);
  if (answer == corvane::Answer::Yes) {
    // What the decoder holds now is half written: nothing worth a backup. Compared first,
    // only what differs from the backup is erased and written again.
    request.backup.reset();
    request.fullWrite = false;
    host_->AnswerNextOpen(backup);
    const int completions = host_->InformationShown();
    corvane::RunResult result;
    const bool stay = Execute(request, result);
    host_->AnswerNextOpen(std::nullopt);
    if (!stay) {
      close();
      return;
    }
    // Never offered again: the restore makes no backup, so a failed one has nothing new to
    // offer, and the user is told once more which file puts the decoder back.
    if (host_->InformationShown() > completions) return;
  }
  host_->MessageBox(MessageKind::Information,
                    "The decoder was left as it is. To put the old contents back later, write " +
                        backup + " with " + item.toStdString() + ".",
                    Buttons::Ok);
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
