#include "app/QtHost.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <utility>

#include "link/corvane.h"
#include "target/LinkCost.h"

using corvane::Answer;
using corvane::Buttons;
using corvane::Dialog;
using corvane::MessageKind;

namespace {

QString FolderKey(Dialog kind) {
  return kind == Dialog::Open ? QStringLiteral("dialogs/openFolder")
                              : QStringLiteral("dialogs/saveFolder");
}

constexpr QChar kZeroWidthSpace(0x200B);

}  // namespace

TFileDialog::TFileDialog(Dialog kind, const QString& name, QObject* parent)
    : QObject(parent), Filter(QString::fromLatin1(corvane::kRestingFilter)), kind_(kind) {
  setObjectName(name);
  const QString folder =
      QSettings(QStringLiteral("Corvane"), QStringLiteral("corvane")).value(FolderKey(kind)).toString();
  // A folder since removed (a stick taken out) would open the dialog nowhere in particular.
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) InitialDir = folder;
}

void TFileDialog::Remember(const QString& folder) {
  InitialDir = folder;
  QSettings(QStringLiteral("Corvane"), QStringLiteral("corvane")).setValue(FolderKey(kind_), folder);
}

QString QtFilterFromClassic(const std::string& classic) {
  const QStringList parts = QString::fromStdString(classic).split(QLatin1Char('|'));
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    // Qt reads the patterns from the last parentheses, so the classic hint goes.
    static const QRegularExpression hint(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    description.remove(hint);
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString pattern = p.trimmed();
      if (pattern.isEmpty()) continue;
      for (const QString& variant : {pattern.toLower(), pattern.toUpper()}) {
        if (!patterns.contains(variant)) patterns << variant;
      }
    }
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    entries << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
  }
  return entries.join(QStringLiteral(";;"));
}

QStringList DialogNameFilters(const std::string& classic) {
  QStringList shown;
  for (const QString& entry : QtFilterFromClassic(classic).split(QStringLiteral(";;"))) {
    if (!entry.endsWith(QStringLiteral("(*.bin *.BIN)"))) shown << entry;
  }
  return shown << QStringLiteral("Images (*.bin)") << QStringLiteral("All files (*)");
}

QString WithPathBreaks(const QString& text) {
  QStringList words = text.split(QLatin1Char(' '));
  for (QString& word : words) {
    if (word.size() > kWrapColumn) word.replace(QLatin1Char('/'), QStringLiteral("/") + kZeroWidthSpace);
  }
  return words.join(QLatin1Char(' '));
}

QtHost::QtHost(QWidget* window, QWidget* statusBar, QLabel* statusPanel, QLabel* timePanel,
               QProgressBar* progress, TFileDialog* openDialog, TFileDialog* saveDialog)
    : QObject(window),
      window_(window),
      statusBar_(statusBar),
      statusPanel_(statusPanel),
      timePanel_(timePanel),
      progress_(progress),
      openDialog_(openDialog),
      saveDialog_(saveDialog),
      now_([] {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
      }) {}

void QtHost::SetStatus(const std::string& text) {
  status_ = text;
  statusDirty_ = true;
}

void QtHost::SetPhase(const std::string& name, int sharePercent) {
  phase_ = name;
  phaseShare_ = sharePercent;
  statusDirty_ = true;
}

QString QtHost::StatusLine() const {
  const QString status = QString::fromStdString(status_);
  if (phase_.empty()) return status;
  QString name = QString::fromStdString(phase_);
  name[0] = name[0].toUpper();
  const QString share = QString::number(phaseShare_);
  const QString forms[] = {QStringLiteral("%1: %2 % of the time").arg(name, share),
                           QStringLiteral("%1: %2 %").arg(name, share), name};
  // The panel keeps the form's fixed width: the phase gives way to the status, which is
  // the word being written.
  const QFontMetrics metrics(statusPanel_->font());
  const int room = statusPanel_->contentsRect().width() - 2 * statusPanel_->indent();
  QString line;
  for (const QString& form : forms) {
    line = status.isEmpty() ? form : status + QStringLiteral("  \u00B7  ") + form;
    if (metrics.horizontalAdvance(line) <= room) break;
  }
  return line;
}

void QtHost::SetProgressRange(int minimum, int maximum) {
  progressMin_ = minimum;
  progressMax_ = maximum;
  progressDirty_ = true;
}

void QtHost::SetProgressPosition(int position) {
  progressPos_ = position;
  progressDirty_ = true;
}

bool QtHost::Due() {
  const int64_t now = now_();
  if (now < nextFrame_) return false;
  nextFrame_ = now + kFrameUs;
  return true;
}

void QtHost::Flush() {
  if (statusDirty_) {
    statusPanel_->setText(StatusLine());
    statusDirty_ = false;
  }
  if (progressDirty_) {
    // An empty range would make the bar run its busy animation; the classic bar stays empty.
    if (progressMax_ > progressMin_) {
      progress_->setRange(progressMin_, progressMax_);
      progress_->setValue(std::clamp(progressPos_, progressMin_, progressMax_));
    } else {
      progress_->setRange(0, 1);
      progress_->setValue(0);
    }
    progressDirty_ = false;
  }
  if (budgetClock_) {
    const int64_t left =
        timeLeft_.Left(budgetClock_->Now(), progressMin_, progressMax_, progressPos_);
    const std::string text = corvane::DurationText(left);
    if (text != leftShown_) {
      leftShown_ = text;
      window_->setWindowTitle(titleBefore_ + QStringLiteral(" — ") + QString::fromStdString(text) +
                              QStringLiteral(" left"));
      // The panel is narrow: "16 min".
      timePanel_->setText(QString::fromStdString(text).remove(QStringLiteral("about ")));
    }
  }
}

corvane::Answer QtHost::AnnounceDuration(const std::string& text, bool ask) {
  if (!ask) return corvane::Answer::Yes;
  return MessageBox(corvane::MessageKind::Confirmation, text + "\n\nStart now?",
                    corvane::Buttons::YesNo);
}

void QtHost::SetTimeBudget(int64_t phaseUs, corvane::Clock* clock, int64_t afterUs) {
  if (clock && !budgetClock_) titleBefore_ = window_->windowTitle();
  if (!clock && budgetClock_) window_->setWindowTitle(titleBefore_);
  if (!clock) timePanel_->clear();
  budgetClock_ = clock;
  leftShown_.clear();
  if (clock) {
    timeLeft_.Start(clock->Now(), phaseUs, afterUs);
  } else {
    timeLeft_.Stop();
  }
}

void QtHost::ShowNow() {
  Flush();
  statusBar_->repaint();
}

void QtHost::ServeEvents() {
  Flush();
  QCoreApplication::processEvents();
}

void QtHost::Repaint() {
  if (!Due()) return;
  ShowNow();
  // Transfers call Repaint and ProcessMessages per word: the frame Repaint took must still
  // give the event queue its run, or Escape and a close would wait for the whole transfer.
  eventsOwed_ = true;
}

void QtHost::ProcessMessages() {
  if (!eventsOwed_ && !Due()) return;
  eventsOwed_ = false;
  // The widgets' own update requests paint them in the event run: one paint a frame.
  ServeEvents();
}

Answer QtHost::MessageBox(MessageKind kind, const std::string& text, Buttons buttons) {
  Flush();
  if (window_->isVisible()) statusBar_->repaint();
  QMessageBox::Icon icon = QMessageBox::Information;
  switch (kind) {
    case MessageKind::Error: icon = QMessageBox::Critical; break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Confirmation: icon = QMessageBox::Question; break;
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
  }
  const QMessageBox::StandardButtons shown =
      buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok;
  const bool question = buttons == Buttons::YesNo && abortState_ == AbortState::Asked;
  QString shownText = QString::fromStdString(text);
  if (buttons == Buttons::Ok && kind == MessageKind::Information) ++informationShown_;
  if (question && closeRequested_) {
    shownText += QStringLiteral("\n\nYes stops and then closes Corvane; No carries on.");
  }
  // The program's title is the main window's; the toolkit keeps none of its own (it would
  // append it to every dialog's caption).
  QMessageBox box(icon, window_->windowTitle(), WithPathBreaks(shownText), shown, window_);
  box.setObjectName(QStringLiteral("MessageBox"));
  // Escape then Enter must not stop a write: the stop question defaults to carrying on.
  if (question) box.setDefaultButton(QMessageBox::No);
  // Ctrl+C copies the text as written, without the breaks: a copied path must work in a shell.
  QAction copy(&box);
  copy.setShortcut(QKeySequence::Copy);
  connect(&copy, &QAction::triggered, &box,
          [shownText] { QGuiApplication::clipboard()->setText(shownText); });
  box.addAction(&copy);
  const int result = box.exec();
  // Time spent in the box is not a reason to repaint at once afterwards, but it may be.
  nextFrame_ = 0;
  if (buttons == Buttons::Ok) return Answer::Ok;
  const Answer answer = result == QMessageBox::Yes ? Answer::Yes : Answer::No;
  if (question) {
    abortState_ = answer == Answer::Yes ? AbortState::Confirmed : AbortState::Declined;
    // No to a close keeps the program open; a later Escape answered Yes stops only the command.
    if (answer == Answer::No) closeRequested_ = false;
  }
  return answer;
}

TFileDialog* QtHost::DialogObject(Dialog dialog) const {
  return dialog == Dialog::Open ? openDialog_ : saveDialog_;
}

std::string QtHost::DialogFilter(Dialog dialog) const {
  return DialogObject(dialog)->Filter.toStdString();
}

void QtHost::SetDialogFilter(Dialog dialog, const std::string& filter) {
  DialogObject(dialog)->Filter = QString::fromStdString(filter);
}

std::optional<std::string> QtHost::RunDialog(Dialog dialog) {
  Flush();
  if (dialog == Dialog::Open && nextOpen_) return std::exchange(nextOpen_, std::nullopt);
  if (dialogAnswer_) return dialogAnswer_(dialog);
  TFileDialog* object = DialogObject(dialog);
  const bool save = dialog == Dialog::Save;
  QFileDialog box(window_, save ? QStringLiteral("Save As") : QStringLiteral("Open"),
                  object->InitialDir);
  box.setNameFilters(DialogNameFilters(object->Filter.toStdString()));
  box.setObjectName(object->objectName());
  box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Saving asks before it replaces a file: QFileDialog's own confirmation stays on.
  box.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const int result = box.exec();
  nextFrame_ = 0;
  if (result != QDialog::Accepted) return std::nullopt;
  const QStringList files = box.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  object->Remember(QFileInfo(files.first()).absolutePath());
  return files.first().toStdString();
}

void QtHost::RequestAbort(bool closing) {
  abortState_ = AbortState::Requested;
  if (closing) closeRequested_ = true;
}

bool QtHost::AbortRequested() {
  if (abortState_ != AbortState::Requested) return false;
  abortState_ = AbortState::Asked;
  return true;
}

WindowClock::WindowClock(corvane::Link& link, QtHost& host)
    : link_(link), inner_(link.clock()), host_(host) {
  link_.Rebind(link_.io(), *this);
}

WindowClock::~WindowClock() {
  if (&link_.clock() == this) link_.Rebind(link_.io(), inner_);
}

void WindowClock::SleepMilliseconds(int64_t ms) {
  // Erase polls sleep a millisecond at a time: those stay plain sleeps.
  if (ms * 1000 < QtHost::kFrameUs) {
    inner_.SleepMilliseconds(ms);
    return;
  }
  // Whatever the command set before it waits is what the user reads while it waits.
  host_.ShowNow();
  // Slices of the inner clock add up to the whole wait; time spent on events counts too,
  // so the wait ends when it would have.
  const int64_t end = inner_.Now() + ms * 1000;
  for (int64_t left = ms * 1000; left > 0; left = end - inner_.Now()) {
    inner_.SleepMilliseconds(std::min<int64_t>(kSliceMs, (left + 999) / 1000));
    host_.ServeEvents();
  }
}
