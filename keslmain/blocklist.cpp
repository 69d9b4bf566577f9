#include "keslmain/blocklist.h"

#include <QPainter>

#include "ipv4base/ipv4base.h"

int TBlockListModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : Count();
}

QVariant TBlockListModel::data(const QModelIndex& Index, int Role) const {
  if (Role != Qt::DisplayRole || !Index.isValid() || Index.row() >= Count()) return {};
  return QString::fromLatin1(FRows[static_cast<size_t>(Index.row())]->AsText(FNotation));
}

void TBlockListModel::Clear() {
  beginResetModel();
  FRows.clear();
  FPending.clear();
  endResetModel();
}

void TBlockListModel::Publish() {
  if (FPending.empty()) return;
  const int first = Count();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(FPending.size()) - 1);
  if (FRows.empty()) {
    FRows.swap(FPending);
  } else {
    FRows.insert(FRows.end(), FPending.begin(), FPending.end());
  }
  FPending.clear();
  endInsertRows();
}

TIPv4Block* TBlockListModel::BlockAt(int Row) const {
  return Row >= 0 && Row < Count() ? FRows[static_cast<size_t>(Row)] : nullptr;
}

void TBlockRowDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option,
                              const QModelIndex& Index) const {
  if (FDraw) {
    FDraw(Index.row(), Option.rect, *Painter, Option.state & QStyle::State_Selected,
          Option.state & QStyle::State_HasFocus);
  }
}

QSize TBlockRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return QSize(0, FRowHeight);
}
