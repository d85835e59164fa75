#include "sheet/PageFrame.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

namespace vantrel {

void FillHorizontalGradient(QPainter& painter, const QRect& rect, const QColor& leftColour,
                            const QColor& rightColour) {
  const int width = rect.width();
  // A zero-width rectangle has no step to take: its one column is the left colour.
  const double steps = width > 0 ? static_cast<double>(width) : 1.0;
  const double stepRed = (rightColour.red() - leftColour.red()) / steps;
  const double stepGreen = (rightColour.green() - leftColour.green()) / steps;
  const double stepBlue = (rightColour.blue() - leftColour.blue()) / steps;
  double red = leftColour.red(), green = leftColour.green(), blue = leftColour.blue();
  const QPen saved = painter.pen();
  for (int x = rect.left(); x <= rect.left() + width; ++x) {
    painter.setPen(QPen(QColor(static_cast<int>(red), static_cast<int>(green), static_cast<int>(blue)), 1));
    // Rows top to top + height - 1: the rectangle's own rows, as a line that stops short
    // of its end point would draw them.
    if (rect.height() > 0) painter.drawLine(x, rect.top(), x, rect.top() + rect.height() - 1);
    red += stepRed;
    green += stepGreen;
    blue += stepBlue;
  }
  painter.setPen(saved);
}

// --- CPageFrame ---------------------------------------------------------------------

void CPageFrame::Invalidate(const QRect& rect) {
  if (QWidget* w = FrameWindow()) w->update(rect);
}

void CPageFrame::SetCaptionVisible(bool visible) {
  captionVisible_ = visible;
  Invalidate(CaptionArea());
}

void CPageFrame::SetCaptionBarHeight(int height) {
  captionHeight_ = height;
  Invalidate(CaptionArea());
}

void CPageFrame::SetCaptionText(const QString& text, const QIcon& icon) {
  captionText_ = text;
  captionIcon_ = icon;
  Invalidate(CaptionArea());
}

void CPageFrame::SetMessageText(const QString& text) {
  messageText_ = text;
  Invalidate(MessageArea());
}

void CPageFrame::SetMessageFormat(int flags) {
  messageFormat_ = flags;
  Invalidate(MessageArea());
}

void CPageFrame::PaintFrame(QPainter& painter) {
  if (captionVisible_) PaintCaption(painter, CaptionArea(), captionText_, captionIcon_);
  PaintMessage(painter, MessageArea(), messageText_, messageFormat_);
}

QRect CPageFrame::MessageArea() {
  QWidget* w = FrameWindow();
  QRect r = w != nullptr ? w->rect() : QRect();
  if (captionVisible_) r.setTop(r.top() + captionHeight_);
  return r;
}

void CPageFrame::PaintMessage(QPainter& painter, const QRect& rect, const QString& text, int flags) {
  painter.save();
  painter.setFont(QApplication::font());
  painter.setBackgroundMode(Qt::TransparentMode);
  painter.drawText(rect, flags, text);
  painter.restore();
}

QRect CPageFrame::CaptionArea() {
  QWidget* w = FrameWindow();
  QRect r = w != nullptr ? w->rect() : QRect();
  r.setHeight(captionVisible_ ? captionHeight_ : 0);
  return r;
}

void CPageFrame::PaintCaption(QPainter&, const QRect&, const QString&, const QIcon&) {}

// --- CPageFrameWnd ------------------------------------------------------------------

CPageFrameWnd::CPageFrameWnd(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("pageFrame"));
  setWindowTitle(QStringLiteral("Page Frame"));
  setAutoFillBackground(true);  // the button face behind caption fade and message
  setBackgroundRole(QPalette::Window);
  setCursor(Qt::ArrowCursor);
}

bool CPageFrameWnd::CreateFrame(QWidget* parent) {
  setParent(parent);
  show();
  return true;
}

void CPageFrameWnd::SetCaptionText(const QString& text, const QIcon& icon) {
  // The frame keeps its own image of the icon, sized as the icon comes; an icon that
  // gives no image leaves the caption without one.
  iconImage_ = QPixmap();
  if (!icon.isNull()) {
    const QList<QSize> sizes = icon.availableSizes();
    iconImage_ = icon.pixmap(sizes.isEmpty() ? QSize(16, 16) : sizes.first());
  }
  CPageFrame::SetCaptionText(text, icon);
}

QRect CPageFrameWnd::CaptionArea() {
  QRect r = rect();
  r.setHeight(captionVisible_ ? captionHeight_ : 0);
  return r;
}

QRect CPageFrameWnd::MessageArea() {
  QRect r = rect();
  if (captionVisible_) r.setTop(r.top() + captionHeight_ + 1);
  return r;
}

void CPageFrameWnd::PaintCaption(QPainter& painter, const QRect& rect, const QString& text, const QIcon& icon) {
  const QPalette& pal = palette();
  FillHorizontalGradient(painter, rect, pal.color(QPalette::Inactive, QPalette::Highlight),
                         pal.color(QPalette::Window));
  QRect textRect = rect;
  if (!icon.isNull() && !iconImage_.isNull()) {
    const QSize size = iconImage_.deviceIndependentSize().toSize();
    painter.drawPixmap(3, (rect.top() + rect.bottom() + 1) / 2 - size.height() / 2, iconImage_);
    textRect.setLeft(textRect.left() + size.width() + 3);
  }
  textRect.setLeft(textRect.left() + 2);
  painter.save();
  QFont font = QApplication::font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(pal.color(QPalette::Inactive, QPalette::HighlightedText));
  painter.setBackgroundMode(Qt::TransparentMode);
  const QString shown = painter.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width());
  painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  painter.restore();
}

void CPageFrameWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintFrame(painter);
}

}  // namespace vantrel
