#include "app/CaptionButton.h"

#include <QEvent>
#include <QHelpEvent>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextLayout>
#include <QToolTip>

namespace vantrel {
namespace {

constexpr int kLines = 2;
constexpr int kPadding = 2;  // pixels between the caption and the bevel, either side

// The text in at most kLines lines of width, broken between words where it can; the last
// line takes the rest, elided when it is too long.
QStringList WrapCaption(const QString& text, const QFont& font, int width, bool& elided) {
  elided = false;
  QStringList lines;
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    if (lines.size() == kLines - 1) {
      const QString rest = text.mid(line.textStart()).trimmed();
      lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
      elided = lines.back() != rest;
      break;
    }
    lines << text.mid(line.textStart(), line.textLength()).trimmed();
  }
  layout.endLayout();
  return lines;
}

}  // namespace

CaptionButton::CaptionButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QRect CaptionButton::TextRect() const {
  QStyleOptionButton option;
  initStyleOption(&option);
  return style()->subElementRect(QStyle::SE_PushButtonContents, &option, this).adjusted(kPadding, 0, -kPadding, 0);
}

QStringList CaptionButton::Lines() const {
  bool elided = false;
  return WrapCaption(text(), font(), TextRect().width(), elided);
}

bool CaptionButton::Elided() const {
  bool elided = false;
  WrapCaption(text(), font(), TextRect().width(), elided);
  return elided;
}

QSize CaptionButton::SizeFor(int characters) const {
  QStyleOptionButton option;
  initStyleOption(&option);
  option.text.clear();
  const QFontMetrics metrics = fontMetrics();
  const QSize text(characters * metrics.averageCharWidth() + 2 * kPadding, kLines * metrics.lineSpacing());
  return style()->sizeFromContents(QStyle::CT_PushButton, &option, text, this);
}

// Neither depends on the caption: a new one never resizes the window.
QSize CaptionButton::sizeHint() const { return SizeFor(16); }
QSize CaptionButton::minimumSizeHint() const { return SizeFor(6); }

void CaptionButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  option.text.clear();
  painter.drawControl(QStyle::CE_PushButton, option);
  painter.drawItemText(TextRect(), Qt::AlignCenter, palette(), isEnabled(), Lines().join(QLatin1Char('\n')),
                       QPalette::ButtonText);
}

bool CaptionButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
    if (Elided()) {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QPushButton::event(event);
}

}  // namespace vantrel
