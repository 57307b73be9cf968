#include "app/HLLabel.h"

#include <QDesktopServices>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QUrl>

THyperLinkLabel::THyperLinkLabel(QWidget* parent)
    : QLabel(parent), hyperlinkColour_(Qt::blue), hyperlinkStyle_(Underline) {
  setCursor(Qt::PointingHandCursor);
  opener = [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); };
  Remember();
}

QColor THyperLinkLabel::FontColour() const { return palette().color(QPalette::WindowText); }

void THyperLinkLabel::SetFontColour(const QColor& colour) {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, colour);
  setPalette(p);
}

THyperLinkLabel::FontStyles THyperLinkLabel::FontStyleNow() const {
  const QFont f = font();
  FontStyles s;
  if (f.bold()) s |= Bold;
  if (f.italic()) s |= Italic;
  if (f.underline()) s |= Underline;
  if (f.strikeOut()) s |= StrikeOut;
  return s;
}

void THyperLinkLabel::SetFontStyle(FontStyles style) {
  QFont f = font();
  f.setBold(style.testFlag(Bold));
  f.setItalic(style.testFlag(Italic));
  f.setUnderline(style.testFlag(Underline));
  f.setStrikeOut(style.testFlag(StrikeOut));
  setFont(f);
}

void THyperLinkLabel::Remember() {
  savedColour_ = FontColour();
  savedStyle_ = FontStyleNow();
}

void THyperLinkLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  Remember();
  SetFontStyle(hyperlinkStyle_);
  SetFontColour(hyperlinkColour_);
}

void THyperLinkLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  SetFontStyle(savedStyle_);
  SetFontColour(savedColour_);
}

void THyperLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  // A press dragged off the label is not a click.
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  emit clicked();
  if (opener && !hyperlink_.isEmpty()) opener(hyperlink_);
}
