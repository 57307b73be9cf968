#pragma once
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <functional>

class QEnterEvent;

// A label that looks and acts like a web link: it takes the hyperlink colour and style
// while the mouse is over it and hands its address to the desktop on a click.
class THyperLinkLabel : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QColor HyperlinkColour READ HyperlinkColour WRITE SetHyperlinkColour)
  Q_PROPERTY(FontStyles HyperlinkStyle READ HyperlinkStyle WRITE SetHyperlinkStyle)
  Q_PROPERTY(QString Hyperlink READ Hyperlink WRITE SetHyperlink)

 public:
  enum FontStyle { Bold = 1, Italic = 2, Underline = 4, StrikeOut = 8 };
  Q_DECLARE_FLAGS(FontStyles, FontStyle)
  Q_FLAG(FontStyles)

  static constexpr int kMaxHyperlinkLength = 255;

  explicit THyperLinkLabel(QWidget* parent = nullptr);

  QColor HyperlinkColour() const { return hyperlinkColour_; }
  void SetHyperlinkColour(const QColor& colour) { hyperlinkColour_ = colour; }
  FontStyles HyperlinkStyle() const { return hyperlinkStyle_; }
  void SetHyperlinkStyle(FontStyles style) { hyperlinkStyle_ = style; }
  QString Hyperlink() const { return hyperlink_; }
  // Longer addresses are cut to kMaxHyperlinkLength characters.
  void SetHyperlink(const QString& link) { hyperlink_ = link.left(kMaxHyperlinkLength); }

  // The label's font colour and style as they are drawn now.
  QColor FontColour() const;
  void SetFontColour(const QColor& colour);
  FontStyles FontStyleNow() const;
  void SetFontStyle(FontStyles style);

  // How the address reaches the desktop; tests replace it to keep the browser shut.
  std::function<void(const QString&)> opener;

 signals:
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Remember();

  QColor hyperlinkColour_;
  FontStyles hyperlinkStyle_;
  QString hyperlink_;
  QColor savedColour_;
  FontStyles savedStyle_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(THyperLinkLabel::FontStyles)
