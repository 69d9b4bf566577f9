#include "utilmain/anchors.h"

#include <cmath>

#include <QEvent>
#include <QLabel>
#include <QWidget>

TAnchors::TAnchors(QWidget* Parent, QSize DesignSize, double Scale)
    : QObject(Parent), FParent(Parent), FScale(Scale) {
  FDesign = Scaled(QRect(QPoint(0, 0), DesignSize)).size();
  Parent->installEventFilter(this);
}

void TAnchors::Add(QWidget* Control, QRect Design, int Anchors) {
  // A control added again takes its new design place.
  std::erase_if(FItems, [&](const TItem& i) { return i.Control == Control; });
  QRect r = Scaled(Design);
  // A caption is never cut: a label is at least as wide as its text.
  if (auto* label = qobject_cast<QLabel*>(Control))
    r.setWidth(std::max(r.width(), label->sizeHint().width()));
  FItems.push_back({Control, r, Anchors});
  Apply();
}

void TAnchors::Apply() {
  const int dw = FParent->width() - FDesign.width();
  const int dh = FParent->height() - FDesign.height();
  for (const TItem& i : FItems) {
    QRect r = i.Design;
    // A side without its anchor moves with the opposite side; both anchored
    // stretches the control.
    if (i.Anchors & akRight) {
      if (i.Anchors & akLeft) {
        r.setWidth(r.width() + dw);
      } else {
        r.translate(dw, 0);
      }
    }
    if (i.Anchors & akBottom) {
      if (i.Anchors & akTop) {
        r.setHeight(r.height() + dh);
      } else {
        r.translate(0, dh);
      }
    }
    r.setWidth(std::max(r.width(), 0));
    r.setHeight(std::max(r.height(), 0));
    i.Control->setGeometry(r);
  }
}

QRect TAnchors::Scaled(QRect R) const {
  auto s = [this](int V) { return static_cast<int>(std::lround(V * FScale)); };
  return QRect(s(R.x()), s(R.y()), s(R.width()), s(R.height()));
}

bool TAnchors::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == FParent && Event->type() == QEvent::Resize) Apply();
  return QObject::eventFilter(Watched, Event);
}
