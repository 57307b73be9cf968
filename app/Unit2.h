#pragma once
#include <QDialog>

class QLabel;
class QPushButton;
class THyperLinkLabel;

// The About dialog.
class TForm2 : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 249, kClientHeight = 150;
  static constexpr const char* kWebAddress = "https://corvane.example.org";

  explicit TForm2(QWidget* parent = nullptr);

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  THyperLinkLabel* HyperLinkLabel1;
  QPushButton* Button1;

  // Centred on the screen, modal; Label1 is set by the caller before.
  int ShowModal();
};
