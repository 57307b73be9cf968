#pragma once
#include <QApplication>
#include <QDialog>
#include <gtest/gtest.h>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "eeprom/corvane_ee.h"
#include "link/corvane.h"
#include "station/Backend.h"
#include "support/FakeDecoderPort.h"
#include "support/RecordingPort.h"

// Failures show the text, not its code units.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace apptest {

// A target over the ideal fake decoder, recording how the window brackets its link use.
class FakeTarget : public corvane::Backend {
 public:
  corvane::testing::FakeDecoderPort port;
  corvane::testing::ManualClock clock;
  corvane::Link linkObject{port, clock};
  corvane::EeBus eeObject{linkObject};

  bool isSimulated = false;
  std::string beginError;  // non-empty: Begin fails with it
  std::string endError;    // non-empty: End fails with it
  std::vector<corvane::Model> begun;
  int ended = 0;
  bool inside = false;

  FakeTarget() {
    // As an earlier command leaves it: the port in byte mode, the handshake lines at rest.
    linkObject.LinkOpen();
    port.transactions.clear();
    // A wait that never ends would hang the test; let time pass a little per look.
    clock.stepPerNow = 10;
  }

  bool Begin(corvane::Model model, std::string* error) override {
    if (!beginError.empty()) {
      *error = beginError;
      return false;
    }
    begun.push_back(model);
    inside = true;
    return true;
  }
  bool End(std::string* error) override {
    ++ended;
    inside = false;
    if (!endError.empty()) {
      *error = endError;
      return false;
    }
    return true;
  }
  corvane::Link& link() override { return linkObject; }
  corvane::EeBus& ee() override { return eeObject; }
  std::string loaderDir(corvane::Model) const override { return "/loaders"; }
  std::string linkCostPath(corvane::Model) const override { return {}; }
  bool simulated() const override { return isSimulated; }
};

// A port whose adapter never answers.
class DeadPort : public corvane::PortIo {
 public:
  uint8_t PortIn(uint16_t) override { return 0x00; }
  void PortOut(uint16_t, uint8_t) override {}
};

// Deals with modal windows as a user would: polls for the active modal widget and hands it
// to the next step of a script. Steps run in order, one per modal window that shows.
class ModalScript : public QObject {
 public:
  using Step = std::function<void(QWidget* modal)>;
  explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(5);
  }
  int done() const { return done_; }
  bool finished() const { return done_ == static_cast<int>(steps_.size()); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    // A script that cannot go on must fail the test, not hang it: after about ten seconds
    // without progress every modal window is shut.
    if (++idlePolls_ > 2000) {
      if (modal) {
        ADD_FAILURE() << "modal window left open: " << modal->metaObject()->className()
                      << " after step " << done_;
        if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
        else modal->close();
      }
      return;
    }
    if (!modal || modal == last_ || done_ >= static_cast<int>(steps_.size())) return;
    if (!modal->isVisible()) return;
    last_ = modal;
    idlePolls_ = 0;
    // Run the step from its own event: a step that opens a nested modal loop must not
    // hold up this timer, which has to see the next window.
    const int step = done_++;
    QPointer<QWidget> target(modal);
    QTimer::singleShot(0, this, [this, step, target] {
      if (target) steps_[step](target);
    });
  }
  std::vector<Step> steps_;
  int done_ = 0;
  int idlePolls_ = 0;
  QPointer<QWidget> last_;
  QTimer timer_;
};

// What a message box showed.
struct Shown {
  QString title, text;
  int icon = 0;
  std::vector<QString> buttons;
  QString defaultButton;
  int width = 0;
};
// A step that records a QMessageBox and presses the button with this text.
ModalScript::Step Press(const QString& button, Shown* shown = nullptr);

// The window as the program builds it, running the real commands on the virtual decoders
// kept under dir; logs and backups in logDir.
std::unique_ptr<TForm1> WindowOnVirtualDecoders(const QString& dir, const QString& logDir = {});

// Counts paint events of one widget.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override;
};

}  // namespace apptest
