// A frame drawn around the widget that has the keyboard, for widgets that
// show no focus of their own in every style: a flat button, a link label,
// a list without a current row.
#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class TFocusRing : public QWidget {
 public:
  // Watches the focus of Targets (children of Window); draws around the one
  // that has it.
  TFocusRing(QWidget* Window, QList<QWidget*> Targets);
  // The widget drawn around, or nullptr.
  QWidget* Target() const { return FTarget; }

 protected:
  void paintEvent(QPaintEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void Follow(QWidget* Now);
  void Place();

  QList<QWidget*> FTargets;
  QPointer<QWidget> FTarget;
};
