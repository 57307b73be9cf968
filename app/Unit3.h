#pragma once
#include <QDialog>
#include <functional>

#include "target/Host.h"
#include "target/Profiles.h"

class CommandTarget;
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
  TForm3(corvane::Host& host, CommandTarget* target, std::function<corvane::Model()> model,
         QWidget* parent = nullptr);

  QLabel* Label1;
  QLineEdit* Edit1;
  QLabel* Label2;
  QLineEdit* Edit2;
  QPushButton* Button1;
  QPushButton* Button2;

  int ShowModal();

 public slots:
  void Button1Click();  // POKE
  void Button2Click();  // PEEK

 private:
  template <class Op>
  void OnLink(Op&& op);

  corvane::Host& host_;
  CommandTarget* target_;
  std::function<corvane::Model()> model_;
};
