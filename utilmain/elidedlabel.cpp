#include "utilmain/elidedlabel.h"

#include <QPainter>
#include <QStyle>

void TElidedLabel::SetText(const QString& Text) {
  setText(Text);
  setToolTip(Text);
}

bool TElidedLabel::Elided() const {
  return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

QSize TElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void TElidedLabel::paintEvent(QPaintEvent* Event) {
  // A selection is drawn by the label itself, on the whole text.
  if (!Elided() || hasSelectedText()) return QLabel::paintEvent(Event);
  QPainter painter(this);
  const QRect area = contentsRect();
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
  style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                        palette(), isEnabled(), shown, foregroundRole());
}
