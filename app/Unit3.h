#pragma once
#include <QDialog>
#include <functional>

#include "station/Backend.h"
#include "target/Host.h"
#include "target/Profiles.h"

class QLabel;
class QLineEdit;
class QPushButton;

// The Passive POKE/PEEK dialog: one poke or peek over the link as it stands, without
// connecting, resetting or setting up the decoder.
class TForm3 : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 307, kClientHeight = 170;

  // model tells which decoder the target should lead to (the window's checked model).
  TForm3(corvane::Host& host, corvane::Backend* target, std::function<corvane::Model()> model,
         QWidget* parent = nullptr);

  QLabel* Label1;
  QLineEdit* Edit1;
  QLabel* Label2;
  QLineEdit* Edit2;
  QPushButton* Button1;
  QPushButton* Button2;

  int ShowModal();
  // A command has run since the program started: it opened the link and left the port's
  // lines as a poke or peek expects them.
  void CommandRan() { commandRan_ = true; }

  // POKE and PEEK before any command: nothing is sent.
  static constexpr const char* kRunACommandFirst =
      "No command has run yet. Passive POKE/PEEK uses the link as the last command left it: it "
      "neither opens the link nor resets the decoder or sets up its memory. Run a command "
      "first (cancelling its file dialog is enough), then POKE or PEEK again.";

 public slots:
  void Button1Click();  // POKE
  void Button2Click();  // PEEK

 private:
  template <class Op>
  void OnLink(Op&& op);

  corvane::Host& host_;
  corvane::Backend* target_;
  std::function<corvane::Model()> model_;
  bool commandRan_ = false;
};
