// A label whose text, when it does not fit, is drawn cut with "…" rather
// than cut off at its edge. text() stays the whole text, and so does what
// Select All and Copy take; the tooltip shows it whole.
#pragma once

#include <QLabel>

class TElidedLabel : public QLabel {
 public:
  explicit TElidedLabel(QWidget* Parent = nullptr) : QLabel(Parent) {}
  // The text, and as its tooltip when it is not empty.
  void SetText(const QString& Text);
  // Whether the text is drawn cut at its current width.
  bool Elided() const;
  // No wider than nothing: a layout may give it less room than its text.
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* Event) override;
};
