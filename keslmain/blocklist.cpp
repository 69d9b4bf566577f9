#include "keslmain/blocklist.h"

#include <QListView>
#include <QPainter>

#include "ipdb/database.h"
#include "tools/tools.h"

int TBlockListModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : Count();
}

namespace {

// Everything about a row that the list has no room for: each prefix on a
// line of its own, the registry and the date of the allocation.
template <typename TBlock>
QString ToolTip(const TBlock& Block, TNotation Notation) {
  QString tip = QString::fromLatin1(Block.AsText(nmRange));
  for (const std::string& line : Block.AsLines(Notation == nmMask ? nmMask : nmCIDR)) {
    tip += QLatin1Char('\n') + QString::fromLatin1(line);
  }
  if (Block.Center) tip += QStringLiteral("\nRegistry: ") + QString::fromLatin1(Block.Center->Name);
  tip += QStringLiteral("\nAllocated: ");
  tip += Block.Date ? QString::fromStdString(Date8Text(Block.Date)) : QStringLiteral("unknown");
  return tip;
}

}  // namespace

QVariant TBlockListModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= Count()) return {};
  if (Role == Qt::DisplayRole) return QString::fromLatin1(RowText(Index.row()));
  if (Role != Qt::ToolTipRole) return {};
  if (const TIPv6Block* b = Block6At(Index.row())) return ToolTip(*b, FNotation);
  return ToolTip(*BlockAt(Index.row()), FNotation);
}

std::string TBlockListModel::RowText(int Row) const {
  if (const TIPv4Block* b = BlockAt(Row)) return b->AsText(FNotation);
  if (const TIPv6Block* b = Block6At(Row)) return b->AsText(FNotation);
  return {};
}

const QString& TBlockListModel::WidestText() const {
  if (!FWidest) {
    // Texts of one notation differ in width by their length: the digits of
    // a dialog font are all equally wide.
    // An IPv4 range's length is counted without making its text.
    size_t most = 0;
    int widest = -1;
    for (int i = 0; i < Count(); ++i) {
      const TIPv4Block* b = BlockAt(i);
      // The blocks lie all over the database: each is asked for a few rows
      // ahead of its use.
      if (const TIPv4Block* ahead = BlockAt(i + 16)) __builtin_prefetch(ahead);
      size_t length;
      if (b && FNotation == nmRange) {
        char text[TIPv4Block::kMaxRangeText];
        length = static_cast<size_t>(b->FormatRange(text) - text);
      } else {
        length = RowText(i).size();
      }
      if (length > most) {
        most = length;
        widest = i;
      }
    }
    FWidest = QString::fromLatin1(widest < 0 ? std::string() : RowText(widest));
  }
  return *FWidest;
}

void TBlockListModel::Clear() {
  FWidest.reset();
  beginResetModel();
  FRows.clear();
  FPending.clear();
  FRows6.clear();
  FPending6.clear();
  endResetModel();
}

namespace {

// Moves the pending rows behind the shown ones.
template <typename T>
void MoveRows(std::vector<T>& Rows, std::vector<T>& Pending) {
  if (Rows.empty()) {
    Rows.swap(Pending);
  } else {
    Rows.insert(Rows.end(), Pending.begin(), Pending.end());
  }
  Pending.clear();
}

}  // namespace

void TBlockListModel::Publish() {
  const size_t added = FPending.size() + FPending6.size();
  if (added == 0) return;
  const int first = Count();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(added) - 1);
  MoveRows(FRows, FPending);
  MoveRows(FRows6, FPending6);
  FWidest.reset();
  endInsertRows();
}

TIPv4Block* TBlockListModel::BlockAt(int Row) const {
  return Row >= 0 && Row < static_cast<int>(FRows.size()) ? FRows[static_cast<size_t>(Row)]
                                                          : nullptr;
}

const TIPv6Block* TBlockListModel::Block6At(int Row) const {
  const int at = Row - static_cast<int>(FRows.size());
  return at >= 0 && at < static_cast<int>(FRows6.size()) ? FRows6[static_cast<size_t>(at)]
                                                         : nullptr;
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

void TBlockListModel::Fill(const std::vector<TIPv4Block*>* Blocks,
                           const std::vector<const TIPv6Block*>& Blocks6,
                           const std::function<bool(int PerMille)>& Progress) {
  const size_t n = Blocks ? Blocks->size() : Blocks6.size();
  Reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (Blocks) {
      Append((*Blocks)[i]);
    } else {
      Append(Blocks6[i]);
    }
    if (Progress(static_cast<int>(i * 1000 / n))) break;
  }
}

void SelectBlockRows(QListView& List, const TBlockListModel& Model, const TIPv4Block* Block,
                     const TIPv6Block* Block6) {
  QItemSelectionModel* sel = List.selectionModel();
  sel->clearSelection();
  if (!Block && !Block6) return;
  for (int i = 0; i < Model.Count(); ++i) {
    if (Block ? Model.BlockAt(i) == Block : Model.Block6At(i) == Block6) {
      const QModelIndex idx = Model.index(i);
      sel->select(idx, QItemSelectionModel::Select);
      sel->setCurrentIndex(idx, QItemSelectionModel::NoUpdate);
      List.scrollTo(idx);
    }
  }
}
