#include "app/Unit2.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/HLLabel.h"

namespace {
QLabel* PlacedLabel(QWidget* parent, const char* name, int x, int y, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(x, y);
  label->adjustSize();
  return label;
}
}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  if (parent) setFont(parent->font());

  Label1 = PlacedLabel(this, "Label1", 16, 24, QString());
  Label2 = PlacedLabel(this, "Label2", 16, 48, QStringLiteral("Written by the Corvane developers"));
  Label3 = PlacedLabel(this, "Label3", 16, 64, QStringLiteral("Service tool for satellite decoders"));

  HyperLinkLabel1 = new THyperLinkLabel(this);
  HyperLinkLabel1->setObjectName(QStringLiteral("HyperLinkLabel1"));
  HyperLinkLabel1->setGeometry(16, 96, 202, 13);
  HyperLinkLabel1->setText(QString::fromLatin1(kWebAddress));
  HyperLinkLabel1->SetHyperlink(QString::fromLatin1(kWebAddress));
  HyperLinkLabel1->SetFontColour(QColor(0x00, 0x00, 0x80));  // navy at rest
  HyperLinkLabel1->SetFontStyle({});

  Button1 = new QPushButton(QStringLiteral("&Ok"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(88, 120, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
}

int TForm2::ShowModal() {
  Label1->adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  return exec();
}
