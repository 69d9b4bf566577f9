// Keeps controls placed as designed when their parent is resized: an
// anchored side keeps its distance to the same side of the parent.
#pragma once

#include <vector>

#include <QObject>
#include <QRect>
#include <QSize>

class QWidget;

enum TAnchor { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

class TAnchors : public QObject {
 public:
  // Parent's design client size; the parent's resizes move its controls.
  // Design rectangles and sizes are multiplied by Scale.
  TAnchors(QWidget* Parent, QSize DesignSize, double Scale = 1.0);

  // Places Control at its design rectangle with the given anchors; a
  // control added before is moved to its new place.
  void Add(QWidget* Control, QRect Design, int Anchors);
  // Applies the parent's current size to every control.
  void Apply();

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  struct TItem {
    QWidget* Control;
    QRect Design;
    int Anchors;
  };
  QRect Scaled(QRect R) const;

  QWidget* FParent;
  QSize FDesign;
  double FScale;
  std::vector<TItem> FItems;
};
