#include "keslmain/blocklist.h"

#include <QPainter>

#include "ipv4base/ipv4base.h"

int TBlockListModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : Count();
}

QVariant TBlockListModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= Count()) return {};
  const TIPv4Block& block = *FRows[static_cast<size_t>(Index.row())];
  if (Role == Qt::DisplayRole) return QString::fromLatin1(block.AsText(FNotation));
  if (Role != Qt::ToolTipRole) return {};
  // Everything about the row that the list has no room for: each prefix on
  // a line of its own, the registry and the date of the allocation.
  QString tip = QString::fromLatin1(block.AsText(nmRange));
  for (const std::string& line : block.AsLines(FNotation == nmMask ? nmMask : nmCIDR)) {
    tip += QLatin1Char('\n') + QString::fromLatin1(line);
  }
  if (block.Center) tip += QStringLiteral("\nRegistry: ") + QString::fromLatin1(block.Center->Name);
  tip += QStringLiteral("\nAllocated: ");
  tip += block.Date ? QStringLiteral("%1-%2-%3")
                          .arg(block.Date / 10000, 4, 10, QLatin1Char('0'))
                          .arg(block.Date / 100 % 100, 2, 10, QLatin1Char('0'))
                          .arg(block.Date % 100, 2, 10, QLatin1Char('0'))
                    : QStringLiteral("unknown");
  return tip;
}

const QString& TBlockListModel::WidestText() const {
  if (!FWidest) {
    // Texts of one notation differ in width by their length: the digits of
    // a dialog font are all equally wide.
    std::string widest;
    for (const TIPv4Block* b : FRows) {
      std::string text = b->AsText(FNotation);
      if (text.size() > widest.size()) widest = std::move(text);
    }
    FWidest = QString::fromLatin1(widest);
  }
  return *FWidest;
}

void TBlockListModel::Clear() {
  FWidest.reset();
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
  FWidest.reset();
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

QSize TBlockRowDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex&) const {
  // Every row is as wide as the widest, text 2 pixels from each edge.
  return QSize(Option.fontMetrics.horizontalAdvance(FModel.WidestText()) + 4, FRowHeight);
}
