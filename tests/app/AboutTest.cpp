// The About dialog and its hyperlink label.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "AppSupport.h"
#include "app/HLLabel.h"
#include "app/Unit2.h"

namespace {

const QColor kNavy(0x00, 0x00, 0x80);

void Enter(QWidget* w) {
  QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
  QCoreApplication::sendEvent(w, &e);
}
void Leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QCoreApplication::sendEvent(w, &e);
}
void Release(QWidget* w, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent e(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), button, Qt::NoButton,
                Qt::NoModifier);
  QCoreApplication::sendEvent(w, &e);
}

TEST(AboutDialog, LayoutAndCaption) {
  TForm2 about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(about.size(), QSize(249, 150));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_EQ(about.Label1->pos(), QPoint(16, 24));
  EXPECT_EQ(about.Label2->pos(), QPoint(16, 48));
  EXPECT_EQ(about.Label3->pos(), QPoint(16, 64));
  EXPECT_FALSE(about.Label2->text().isEmpty());
  EXPECT_FALSE(about.Label3->text().isEmpty());
  EXPECT_EQ(about.HyperLinkLabel1->geometry(), QRect(16, 96, 202, 13));
  EXPECT_EQ(about.HyperLinkLabel1->Hyperlink(), about.HyperLinkLabel1->text());
  EXPECT_TRUE(about.HyperLinkLabel1->Hyperlink().startsWith(QStringLiteral("https://")));
  EXPECT_EQ(about.Button1->geometry(), QRect(88, 120, 75, 25));
  EXPECT_EQ(about.Button1->text(), QStringLiteral("&Ok"));
}

TEST(HyperLinkLabel, NavyAndPlainAtRestBlueAndUnderlinedUnderTheMouse) {
  TForm2 about;
  THyperLinkLabel* link = about.HyperLinkLabel1;
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(link->HyperlinkColour(), QColor(Qt::blue));
  EXPECT_EQ(link->HyperlinkStyle(), THyperLinkLabel::FontStyles(THyperLinkLabel::Underline));

  for (int pass = 0; pass < 2; ++pass) {  // and again: leaving must not lose the rest state
    SCOPED_TRACE(pass);
    EXPECT_EQ(link->FontColour(), kNavy);
    EXPECT_FALSE(link->font().underline());
    Enter(link);
    EXPECT_EQ(link->FontColour(), QColor(Qt::blue));
    EXPECT_TRUE(link->font().underline());
    EXPECT_FALSE(link->font().bold());
    Leave(link);
    EXPECT_EQ(link->FontColour(), kNavy);
    EXPECT_FALSE(link->font().underline());
  }
}

TEST(HyperLinkLabel, ClickOpensTheAddressOnlyForALeftReleaseOnTheLabel) {
  THyperLinkLabel link;
  link.resize(100, 13);
  link.SetHyperlink(QStringLiteral("https://corvane.example.org/help"));
  std::vector<QString> opened;
  link.opener = [&](const QString& url) { opened.push_back(url); };
  int clicks = 0;
  QObject::connect(&link, &THyperLinkLabel::clicked, [&] { ++clicks; });

  Release(&link, QPointF(5, 5));
  Release(&link, QPointF(5, 5), Qt::RightButton);
  Release(&link, QPointF(500, 5));  // dragged off the label
  EXPECT_EQ(opened, std::vector<QString>{QStringLiteral("https://corvane.example.org/help")});
  EXPECT_EQ(clicks, 1);
}

TEST(HyperLinkLabel, AddressIsCutAt255Characters) {
  THyperLinkLabel link;
  link.SetHyperlink(QString(300, QLatin1Char('a')));
  EXPECT_EQ(link.Hyperlink().size(), 255);
}

}  // namespace
