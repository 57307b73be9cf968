// The Passive POKE/PEEK dialog: field rules and the exact link traffic of its two buttons.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>
#include <utility>

#include "AppSupport.h"
#include "app/QtHost.h"
#include "app/Unit1.h"
#include "app/Unit3.h"
#include "link/Text.h"
#include "support/ScriptedHost.h"

using apptest::FakeTarget;
using apptest::ModalScript;
using apptest::Shown;
using corvane::Model;

namespace {

struct PokePeekFixture : ::testing::Test {
  FakeTarget target;
  corvane::testing::ScriptedHost host;
  Model model = Model::TS1;
  TForm3 form{host, &target, [this] { return model; }};
  // As after a command: the link has been opened once.
  PokePeekFixture() { form.CommandRan(); }
};

struct FieldCase {
  const char* address;
  const char* data;
  std::vector<std::string> traffic;  // the link transactions sent
  std::string message;               // the error shown instead, if any
};

class PokeFields : public PokePeekFixture, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(PokeFields, PokeSendsExactlyWhatTheFieldsSay) {
  const FieldCase& c = GetParam();
  form.Edit1->setText(QString::fromLatin1(c.address));
  form.Edit2->setText(QString::fromLatin1(c.data));
  form.Button1->click();
  EXPECT_EQ(target.port.Lines(), c.traffic);
  if (c.message.empty()) {
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(target.begun, std::vector<Model>{Model::TS1});
    EXPECT_EQ(target.ended, 1);
  } else {
    EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{c.message});
    EXPECT_EQ(host.messages[0].kind, corvane::MessageKind::Error);
    EXPECT_EQ(host.messages[0].buttons, corvane::Buttons::Ok);
    EXPECT_TRUE(target.begun.empty()) << "nothing may reach the link";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PokeFields,
    ::testing::Values(
        FieldCase{"2000d010", "0", {"poke 2000D010 00000000"}, ""},
        FieldCase{"FFFFFFFF", "12345678", {"poke FFFFFFFF 12345678"}, ""},
        FieldCase{"abcdef01", "deadBEEF", {"poke ABCDEF01 DEADBEEF"}, ""},
        FieldCase{"7", "00000001", {"poke 00000007 00000001"}, ""},
        FieldCase{"", "1", {}, "Invalid Address Value!"},
        FieldCase{" 10", "1", {}, "Invalid Address Value!"},
        FieldCase{"10 ", "1", {}, "Invalid Address Value!"},
        FieldCase{"1 0", "1", {}, "Invalid Address Value!"},
        FieldCase{"0x10", "1", {}, "Invalid Address Value!"},
        FieldCase{"-1", "1", {}, "Invalid Address Value!"},
        FieldCase{"+1", "1", {}, "Invalid Address Value!"},
        FieldCase{"$10", "1", {}, "Invalid Address Value!"},
        FieldCase{"12G4", "1", {}, "Invalid Address Value!"},
        // The address is checked first; the data field only once the address passed.
        FieldCase{"", "", {}, "Invalid Address Value!"},
        FieldCase{"10", "", {}, "Invalid Data Value!"},
        FieldCase{"10", "0x1", {}, "Invalid Data Value!"},
        FieldCase{"10", "-5", {}, "Invalid Data Value!"},
        FieldCase{"10", " 5", {}, "Invalid Data Value!"}));

TEST_F(PokePeekFixture, FieldsTakeAtMostEightCharacters) {
  form.Edit1->setText(QStringLiteral("123456789"));
  form.Edit2->setText(QStringLiteral("ABCDEF012"));
  EXPECT_EQ(form.Edit1->text(), QStringLiteral("12345678"));
  EXPECT_EQ(form.Edit2->text(), QStringLiteral("ABCDEF01"));
}

struct PeekCase {
  const char* address;
  uint32_t answer;
  const char* shown;  // Edit2 afterwards
};

class PeekFields : public PokePeekFixture, public ::testing::WithParamInterface<PeekCase> {};

TEST_P(PeekFields, PeekFillsTheDataFieldWithEightUpperCaseDigits) {
  const PeekCase& c = GetParam();
  target.port.onPeek = [&](uint32_t) { return c.answer; };
  form.Edit1->setText(QString::fromLatin1(c.address));
  form.Edit2->setText(QStringLiteral("zz"));  // whatever was there goes
  form.Button2->click();
  EXPECT_EQ(form.Edit2->text(), QString::fromLatin1(c.shown));
  ASSERT_EQ(target.port.transactions.size(), 1u);
  EXPECT_EQ(target.port.transactions[0].kind, corvane::testing::FakeDecoderPort::Kind::Peek);
  EXPECT_EQ(target.port.transactions[0].address, *corvane::ParseHexField(c.address));
  EXPECT_TRUE(host.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Values, PeekFields,
                         ::testing::Values(PeekCase{"2000d010", 7, "00000007"},
                                           PeekCase{"ffffffff", 0xabcdef12, "ABCDEF12"},
                                           PeekCase{"0", 0, "00000000"},
                                           PeekCase{"80000000", 0xFFFFFFFF, "FFFFFFFF"}));

TEST_F(PokePeekFixture, PeekWithABadAddressLeavesTheDataFieldAlone) {
  form.Edit1->setText(QStringLiteral("0x1"));
  form.Edit2->setText(QStringLiteral("1234"));
  form.Button2->click();
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{"Invalid Address Value!"});
  EXPECT_EQ(form.Edit2->text(), QStringLiteral("1234"));
  EXPECT_TRUE(target.port.transactions.empty());
}

TEST_F(PokePeekFixture, NeitherConnectsNorResetsTheDecoder) {
  form.Edit1->setText(QStringLiteral("2000D010"));
  form.Edit2->setText(QStringLiteral("5"));
  form.Button1->click();
  form.Button2->click();
  // Only the two transactions: no memory-interface set-up, no reset pulse (no sleep).
  EXPECT_EQ(target.port.Lines(),
            (std::vector<std::string>{"poke 2000D010 00000005", "peek 2000D010 00000000"}));
  EXPECT_EQ(target.clock.sleptMs, 0);
  EXPECT_EQ(target.begun.size(), 2u);
  EXPECT_EQ(target.ended, 2);
}

TEST_F(PokePeekFixture, ADeadLinkGivesOneMessageNotAHang) {
  apptest::DeadPort dead;
  corvane::testing::ManualClock clock;
  clock.stepPerNow = 1000;  // each status poll costs a millisecond
  target.linkObject.Rebind(dead, clock);
  form.Edit1->setText(QStringLiteral("10"));
  form.Edit2->setText(QStringLiteral("1234"));
  for (QPushButton* button : {form.Button1, form.Button2}) button->click();
  EXPECT_EQ(host.MessageTexts(),
            (std::vector<std::string>{corvane::kLinkErrorMessage, corvane::kLinkErrorMessage}));
  EXPECT_EQ(form.Edit2->text(), QStringLiteral("1234"));
  EXPECT_EQ(target.ended, 2);
}

TEST_F(PokePeekFixture, UnavailableTargetIsReported) {
  target.beginError = "Cannot open the virtual decoder";
  form.Edit1->setText(QStringLiteral("10"));
  form.Button2->click();
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{"Cannot open the virtual decoder"});
  EXPECT_TRUE(target.port.transactions.empty());
}

// The dialog in the window as the program builds it, on the virtual decoder.
TEST(PokePeekOnVirtualDecoder, PeeksTheDecoderWordOnceACommandHasSetItUp) {
  QTemporaryDir dir;
  const std::unique_ptr<TForm1> made = apptest::WindowOnVirtualDecoders(dir.path());
  TForm1& window = *made;
  TForm3 form(window.host(), window.target(), [&window] { return window.SelectedModel(); }, &window);
  window.SetForms(nullptr, &form);
  window.show();

  // Before any command nothing is sent; the dialog says what to do.
  Shown first;
  ModalScript answer({apptest::Press("OK", &first)});
  form.Edit1->setText(QStringLiteral("80002000"));
  form.Edit2->setText(QStringLiteral("1"));
  form.Button2->click();
  ASSERT_TRUE(answer.finished());
  EXPECT_EQ(first.text, QString::fromLatin1(TForm3::kRunACommandFirst));
  EXPECT_EQ(form.Edit2->text(), QStringLiteral("1"));
  EXPECT_EQ(window.target()->decoder(), nullptr);

  // As the message says: a command, cancelled at its file dialog.
  ModalScript cancel({[](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); }});
  window.Read1->trigger();
  ASSERT_TRUE(cancel.finished());

  const std::pair<const char*, const char*> words[] = {{"80002000", "C0FFEE42"},
                                                       {"80002004", "00000001"}};
  for (const auto& [address, value] : words) {
    form.Edit1->setText(QString::fromLatin1(address));
    form.Edit2->setText(QString::fromLatin1(value));
    form.Button1->click();
  }
  for (const auto& [address, value] : words) {
    form.Edit1->setText(QString::fromLatin1(address));
    form.Edit2->clear();
    form.Button2->click();
    EXPECT_EQ(form.Edit2->text(), QString::fromLatin1(value)) << address;
  }
}

struct Placed {
  const char* name;
  QRect place;  // width and height 0: the label sizes itself
  const char* text;
};

TEST_F(PokePeekFixture, LayoutCaptionAndTabOrder) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Passive POKE/PEEK"));
  EXPECT_EQ(form.size(), QSize(307, 170));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  const Placed controls[] = {
      {"Label1", {40, 24, 0, 0}, "Address :"}, {"Edit1", {40, 40, 121, 21}, ""},
      {"Label2", {40, 72, 0, 0}, "Data :"},    {"Edit2", {40, 88, 121, 21}, ""},
      {"Button1", {208, 40, 75, 25}, "POKE"},  {"Button2", {208, 88, 75, 25}, "PEEK"},
  };
  for (const Placed& c : controls) {
    SCOPED_TRACE(c.name);
    QWidget* w = form.findChild<QWidget*>(QString::fromLatin1(c.name));
    ASSERT_NE(w, nullptr);
    if (c.place.width() == 0) {
      EXPECT_EQ(w->pos(), c.place.topLeft());
    } else {
      EXPECT_EQ(w->geometry(), c.place);
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(l->text(), QString::fromLatin1(c.text));
    }
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_EQ(b->text(), QString::fromLatin1(c.text));
    }
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(e->maxLength(), 8);
    }
  }
  auto nextTab = [](QWidget* w) {
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
  };
  EXPECT_EQ(nextTab(form.Edit1), form.Edit2);
  EXPECT_EQ(nextTab(form.Edit2), form.Button1);
  EXPECT_EQ(nextTab(form.Button1), form.Button2);
}

}  // namespace
