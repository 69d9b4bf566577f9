// The result list's model and row painter: rows refer to blocks of the
// database; a row's text is made only when it is painted or copied.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include "tools/address.h"

class QListView;
class TIPv4Block;
class TIPv6Block;

// The rows are blocks of one family at a time, IPv4 or IPv6. The database
// the rows refer to must outlive the model, or be cleared from it (Clear)
// before it goes.
class TBlockListModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;

  void Clear();
  void Reserve(size_t Count) { FPending.reserve(Count); }
  // Adds a row without telling the view; Publish shows the added rows.
  void Append(TIPv4Block* Block) { FPending.push_back(Block); }
  void Append(const TIPv6Block* Block) { FPending6.push_back(Block); }
  void Publish();
  // Adds the rows of a country's blocks (Blocks, else Blocks6) without
  // telling the view. Progress gets each row's per-mille place before it is
  // added and returns true to stop there.
  void Fill(const std::vector<TIPv4Block*>* Blocks, const std::vector<const TIPv6Block*>& Blocks6,
            const std::function<bool(int PerMille)>& Progress);
  // The row's block, nullptr outside the rows or for a row of the other
  // family.
  TIPv4Block* BlockAt(int Row) const;
  const TIPv6Block* Block6At(int Row) const;
  // The row's text in the current notation (IPv6 rows have no mask form:
  // they show their prefixes).
  std::string RowText(int Row) const;
  // The longest row text in the current notation (empty for no rows), so
  // that every row is as wide as the widest and the list scrolls sideways.
  const QString& WidestText() const;
  int Count() const { return static_cast<int>(FRows.size() + FRows6.size()); }
  // Notation of the rows' text; values outside the three write ranges.
  void SetNotation(TNotation Notation) {
    FNotation = Notation;
    FWidest.reset();
  }
  TNotation Notation() const { return FNotation; }

 private:
  std::vector<TIPv4Block*> FRows;
  std::vector<TIPv4Block*> FPending;
  std::vector<const TIPv6Block*> FRows6;
  std::vector<const TIPv6Block*> FPending6;
  TNotation FNotation = nmRange;
  mutable std::optional<QString> FWidest;  // made when asked, after each change
};

// Selects the rows of Block (or, without it, Block6) in List, whose model
// is Model, and scrolls to them; with neither, clears the selection.
void SelectBlockRows(QListView& List, const TBlockListModel& Model, const TIPv4Block* Block,
                     const TIPv6Block* Block6);

// Paints a row: its text 2 pixels right of the row's left edge, in the list's
// or the selection's colours, with the focus rectangle on the focused row.
class TBlockRowDelegate : public QStyledItemDelegate {
 public:
  using TDraw = std::function<void(int Index, const QRect& Rect, QPainter& Painter, bool Selected,
                                   bool Focused)>;
  // Rows are RowHeight high and as wide as Model's widest text.
  TBlockRowDelegate(QObject* Parent, const TBlockListModel& Model, int RowHeight)
      : QStyledItemDelegate(Parent), FModel(Model), FRowHeight(RowHeight) {}
  void SetDraw(TDraw Draw) { FDraw = std::move(Draw); }
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option,
             const QModelIndex& Index) const override;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;

 private:
  const TBlockListModel& FModel;
  int FRowHeight;
  TDraw FDraw;
};
