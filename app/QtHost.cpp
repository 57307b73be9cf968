#include "app/QtHost.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <chrono>

using corvane::Answer;
using corvane::Buttons;
using corvane::Dialog;
using corvane::MessageKind;

TFileDialog::TFileDialog(Dialog kind, const QString& name, QObject* parent)
    : QObject(parent), Filter(QString::fromLatin1(corvane::kRestingFilter)), kind_(kind) {
  setObjectName(name);
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

QtHost::QtHost(QWidget* window, QWidget* statusBar, QLabel* statusPanel, QProgressBar* progress,
               TFileDialog* openDialog, TFileDialog* saveDialog)
    : QObject(window),
      window_(window),
      statusBar_(statusBar),
      statusPanel_(statusPanel),
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
    statusPanel_->setText(QString::fromStdString(status_));
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
}

void QtHost::Paint() {
  Flush();
  statusBar_->repaint();
}

void QtHost::Repaint() {
  if (!Due()) return;
  Paint();
  // Transfers call Repaint and ProcessMessages per word: the frame Repaint took must still
  // give the event queue its run, or Escape and a close would wait for the whole transfer.
  eventsOwed_ = true;
}

void QtHost::ProcessMessages() {
  if (!eventsOwed_ && !Due()) return;
  eventsOwed_ = false;
  // The widgets' own update requests paint them in the event run: one paint a frame.
  Flush();
  QCoreApplication::processEvents();
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
  QMessageBox box(icon, QGuiApplication::applicationDisplayName(), QString::fromStdString(text),
                  shown, window_);
  box.setObjectName(QStringLiteral("MessageBox"));
  const int result = box.exec();
  // Time spent in the box is not a reason to repaint at once afterwards, but it may be.
  nextFrame_ = 0;
  if (buttons == Buttons::Ok) return Answer::Ok;
  const Answer answer = result == QMessageBox::Yes ? Answer::Yes : Answer::No;
  if (abortState_ == AbortState::Asked) {
    abortState_ = answer == Answer::Yes ? AbortState::Confirmed : AbortState::Declined;
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
  if (dialogAnswer_) return dialogAnswer_(dialog);
  TFileDialog* object = DialogObject(dialog);
  const bool save = dialog == Dialog::Save;
  QFileDialog box(window_, save ? QStringLiteral("Save As") : QStringLiteral("Open"),
                  object->InitialDir, QtFilterFromClassic(object->Filter.toStdString()));
  box.setObjectName(object->objectName());
  box.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // Saving asks before it replaces a file: QFileDialog's own confirmation stays on.
  box.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const int result = box.exec();
  nextFrame_ = 0;
  if (result != QDialog::Accepted) return std::nullopt;
  const QStringList files = box.selectedFiles();
  if (files.isEmpty() || files.first().isEmpty()) return std::nullopt;
  object->InitialDir = QFileInfo(files.first()).absolutePath();
  return files.first().toStdString();
}

void QtHost::RequestAbort() { abortState_ = AbortState::Requested; }

bool QtHost::AbortRequested() {
  if (abortState_ != AbortState::Requested) return false;
  abortState_ = AbortState::Asked;
  return true;
}
