// A push button whose caption changes while the window is open (a summary, a countdown)
// without the button, and so the window, changing size: it is as wide as its place in the
// layout gives it, and its caption wraps onto a second line there. What does not fit even
// so ends in "...", and the whole caption is the tooltip.
#pragma once

#include <QPushButton>
#include <QStringList>

namespace vantrel {

class CaptionButton : public QPushButton {
 public:
  explicit CaptionButton(const QString& text, QWidget* parent = nullptr);

  // The lines of the caption as the button shows them at its present width.
  QStringList Lines() const;
  // Whether Lines() shows less than the whole caption.
  bool Elided() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // The caption's room: the button's contents less a little padding.
  QRect TextRect() const;
  // A button of room for two lines of this many average characters.
  QSize SizeFor(int characters) const;
};

}  // namespace vantrel
