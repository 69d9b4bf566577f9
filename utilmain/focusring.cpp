#include "utilmain/focusring.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

TFocusRing::TFocusRing(QWidget* Window, QList<QWidget*> Targets)
    : QWidget(Window), FTargets(std::move(Targets)) {
  setObjectName(QStringLiteral("FocusRing"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  hide();
  for (QWidget* t : FTargets) t->installEventFilter(this);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* Now) { Follow(Now); });
}

void TFocusRing::Follow(QWidget* Now) {
  FTarget = FTargets.contains(Now) ? Now : nullptr;
  if (!FTarget) return hide();
  setParent(FTarget->parentWidget());
  Place();
  show();
  raise();
}

void TFocusRing::Place() {
  if (!FTarget) return;
  // Around the widget, two pixels out, within its parent.
  setGeometry(FTarget->geometry().adjusted(-2, -2, 2, 2) & FTarget->parentWidget()->rect());
}

bool TFocusRing::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FTarget && (Event->type() == QEvent::Move || Event->type() == QEvent::Resize)) {
    Place();
  }
  if (Watched == FTarget && Event->type() == QEvent::Hide) hide();
  return QWidget::eventFilter(Watched, Event);
}

void TFocusRing::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QPen pen(palette().color(QPalette::Highlight));
  pen.setWidth(2);
  painter.setPen(pen);
  painter.drawRect(rect().adjusted(1, 1, -1, -1));
}
