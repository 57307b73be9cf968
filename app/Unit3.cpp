#include "app/Unit3.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <optional>

#include "link/Text.h"
#include "station/Runner.h"

using corvane::Buttons;
using corvane::MessageKind;

TForm3::TForm3(corvane::Host& host, corvane::Backend* target, std::function<corvane::Model()> model,
               QWidget* parent)
    : QDialog(parent), host_(host), target_(target), model_(std::move(model)) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Passive POKE/PEEK"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  if (parent) setFont(parent->font());

  auto edit = [this](const char* name, int y) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(40, y, 121, 21);
    e->setMaxLength(8);
    return e;
  };
  auto label = [this](const char* name, int y, const char* text) {
    auto* l = new QLabel(QString::fromLatin1(text), this);
    l->setObjectName(QString::fromLatin1(name));
    l->move(40, y);
    l->adjustSize();
    return l;
  };
  auto button = [this](const char* name, int y, const char* text) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(208, y, 75, 25);
    // Return in a field must not fire a poke by itself.
    b->setAutoDefault(false);
    return b;
  };
  Label1 = label("Label1", 24, "Address :");
  Edit1 = edit("Edit1", 40);
  Label2 = label("Label2", 72, "Data :");
  Edit2 = edit("Edit2", 88);
  Label1->setBuddy(Edit1);
  Label2->setBuddy(Edit2);
  Button1 = button("Button1", 40, "POKE");
  Button2 = button("Button2", 88, "PEEK");
  setTabOrder(Edit1, Edit2);
  setTabOrder(Edit2, Button1);
  setTabOrder(Button1, Button2);

  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
}

int TForm3::ShowModal() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  return exec();
}

template <class Op>
void TForm3::OnLink(Op&& op) {
  if (!target_) return;
  // Until a command has opened the link, the port's control lines are not where the
  // handshake expects them: the first write would strobe a stray byte into the decoder and
  // shift the frame, so the word would go to, or come from, another address.
  if (!commandRan_) {
    host_.MessageBox(MessageKind::Warning, kRunACommandFirst, Buttons::Ok);
    return;
  }
  // Through the one runner, with only the word as its body: no connect, no reset.
  corvane::RunRequest request;
  request.profile.model = model_ ? model_() : corvane::Model::BCT13;
  request.body = [&](corvane::Session& session) { op(session.link); };
  const corvane::RunResult result = corvane::RunOne(*target_, host_, request);
  if (!result.begun) {
    host_.MessageBox(MessageKind::Error, result.beginError, Buttons::Ok);
  } else if (!result.endError.empty()) {
    host_.MessageBox(MessageKind::Error, result.endError, Buttons::Ok);
  }
}

void TForm3::Button1Click() {
  const std::optional<uint32_t> address = corvane::ParseHexField(Edit1->text().toStdString());
  if (!address) {
    host_.MessageBox(MessageKind::Error, "Invalid Address Value!", Buttons::Ok);
    return;
  }
  const std::optional<uint32_t> data = corvane::ParseHexField(Edit2->text().toStdString());
  if (!data) {
    host_.MessageBox(MessageKind::Error, "Invalid Data Value!", Buttons::Ok);
    return;
  }
  OnLink([&](corvane::Link& link) { link.Poke(*address, *data); });
}

void TForm3::Button2Click() {
  const std::optional<uint32_t> address = corvane::ParseHexField(Edit1->text().toStdString());
  if (!address) {
    host_.MessageBox(MessageKind::Error, "Invalid Address Value!", Buttons::Ok);
    return;
  }
  OnLink([&](corvane::Link& link) {
    Edit2->setText(QString::fromStdString(corvane::Hex8(link.Peek(*address))));
  });
}
