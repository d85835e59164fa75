// The frame around the page area of the settings sheet: a caption bar on top that names
// the page, and a message drawn where no page is on show.
#pragma once

#include <QIcon>
#include <QRect>
#include <QString>
#include <QWidget>

class QPainter;

namespace vantrel {

// Fills rect column by column from leftColour to rightColour. Each channel steps by
// (right - left) / width per column, accumulated in double and truncated towards zero;
// columns run from left to left + width inclusive, so the first has exactly the left
// colour and a zero-width rectangle still gets that one column.
void FillHorizontalGradient(QPainter& painter, const QRect& rect, const QColor& leftColour,
                            const QColor& rightColour);

// What a page frame keeps and how it lays out and paints itself; the window is left to
// the implementation.
class CPageFrame {
 public:
  // Single line, centred both ways, '&' taken literally.
  static constexpr int kDefaultMessageFormat = int(Qt::AlignCenter) | int(Qt::TextSingleLine);

  virtual ~CPageFrame() = default;

  virtual bool CreateFrame(QWidget* parent) = 0;
  virtual QWidget* FrameWindow() = 0;
  virtual void SetCaptionVisible(bool visible);
  virtual void SetCaptionBarHeight(int height);
  // The icon stays the caller's.
  virtual void SetCaptionText(const QString& text, const QIcon& icon);
  virtual void SetMessageText(const QString& text);
  virtual void SetMessageFormat(int flags);
  virtual void PaintFrame(QPainter& painter);
  // Where the message (and the page) goes: below the caption bar.
  virtual QRect MessageArea();
  virtual void PaintMessage(QPainter& painter, const QRect& rect, const QString& text, int flags);
  // The caption bar.
  virtual QRect CaptionArea();
  virtual void PaintCaption(QPainter& painter, const QRect& rect, const QString& text, const QIcon& icon);

  bool IsCaptionVisible() const { return captionVisible_; }
  int CaptionBarHeight() const { return captionHeight_; }
  const QString& CaptionText() const { return captionText_; }
  const QString& MessageText() const { return messageText_; }
  int MessageFormat() const { return messageFormat_; }

 protected:
  // Repaints part of the frame window, if there is one.
  void Invalidate(const QRect& rect);

  bool captionVisible_ = false;
  int captionHeight_ = 0;
  QString captionText_;
  QIcon captionIcon_;
  QString messageText_;
  int messageFormat_ = kDefaultMessageFormat;
};

// The frame the sheet uses: a child widget that paints the caption bar with a gradient
// from the inactive selection colour into the frame's own background.
class CPageFrameWnd : public QWidget, public CPageFrame {
  Q_OBJECT

 public:
  explicit CPageFrameWnd(QWidget* parent = nullptr);

  bool CreateFrame(QWidget* parent) override;
  QWidget* FrameWindow() override { return this; }
  void SetCaptionText(const QString& text, const QIcon& icon) override;
  QRect MessageArea() override;
  QRect CaptionArea() override;
  void PaintCaption(QPainter& painter, const QRect& rect, const QString& text, const QIcon& icon) override;

  // The caption icon as the frame keeps it: none when the icon gives no image.
  bool HasCaptionIcon() const { return !iconImage_.isNull(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap iconImage_;
};

}  // namespace vantrel
