// What the window shows of a locate: the country's blocks in the list, the
// located one selected, and the answer in words.
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolButton>

#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "keslmain/blocklist.h"
#include "keslmain/keslmain.h"
#include "tools/finally.h"
#include "tools/tools.h"
#include "utilmain/elidedlabel.h"

namespace {

// How often a fill of the list looks for events.
constexpr qint64 kFillEventsMs = 20;

}  // namespace

void TKeslMainForm::SelectCode(QComboBox* Box, uint16_t Code) {
  for (int i = 0; i < Box->count(); ++i) {
    if (Box->itemData(i).toUInt() == Code) {
      Box->setCurrentIndex(i);
      return;
    }
  }
}

void TKeslMainForm::ShowBlocks(std::optional<uint16_t> Code, TIPv4Block* Block,
                               const TIPv6Block* Block6) {
  if (Code && ListedCountry == Code && ListedFamily == Family) {
    SelectBlockRows(*ListBox, *FModel, Block, Block6);
    return;
  }
  FModel->Clear();
  DomainBox->setCurrentIndex(-1);
  CountryBox->setCurrentIndex(-1);
  WhoisButton->setEnabled(false);
  ListedCountry = Code;
  ListedFamily = Family;
  FamilyLabel->setText(Family == 6 ? tr("IPv6 blocks") : tr("IPv4 blocks"));
  FamilyButton->setText(Family == 6 ? tr("IPv&4") : tr("IPv&6"));
  FamilyButton->setToolTip(Family == 6 ? tr("List the country's IPv4 blocks")
                                       : tr("List the country's IPv6 blocks"));
  if (!Code) return;
  SelectCode(CountryBox, *Code);
  SelectCode(DomainBox, *Code);

  BeginBusy();
  Aborted = false;
  const TFinally end([this] {
    EndBusy();
    WhoisButton->setEnabled(false);
  });
  if (!Database) return;
  const std::vector<TIPv4Block*>* blocks = Family == 4 ? Database->CountryBlocks(*Code) : nullptr;
  const std::vector<const TIPv6Block*> blocks6 =
      Family == 6 ? Database->IPv6.CountryBlocks(*Code) : std::vector<const TIPv6Block*>();
  ListBox->setUpdatesEnabled(false);
  const TFinally resume([this, Block, Block6] {
    // Rows are shown in one go, also after an abort or an error.
    FModel->Publish();
    SelectBlockRows(*ListBox, *FModel, Block, Block6);
    ListBox->setUpdatesEnabled(true);
  });
  // Events (a press that aborts, the bar's paint) are seen at the first
  // step of the fill and then every few hundredths of a second: looking
  // for them at every step took as long as filling a large country's list.
  QElapsedTimer seen;
  FModel->Fill(blocks, blocks6, [this, &seen](int PerMille) {
    if (!SetProgress(PerMille)) return false;
    if (seen.isValid() && seen.elapsed() < kFillEventsMs) return Aborted.load();
    QCoreApplication::processEvents();
    seen.start();
    return Aborted.load();
  });
}

void TKeslMainForm::FamilyButtonClick() {
  Family = Family == 6 ? 4 : 6;
  // The country listed, now in the other family; the boxes keep it.
  ShowBlocks(ListedCountry, nullptr);
}

void TKeslMainForm::BoxChange(QComboBox* Box) {
  if (Box->currentIndex() >= 0) {
    ShowBlocks(static_cast<uint16_t>(Box->currentData().toUInt()), nullptr);
  } else {
    ShowBlocks(std::nullopt, nullptr);
  }
}

void TKeslMainForm::DomainBoxChange() { BoxChange(DomainBox); }

void TKeslMainForm::CountryBoxChange() { BoxChange(CountryBox); }

QString TKeslMainForm::AnswerHint() {
  return tr("Type an IPv4 or IPv6 address or a host name and press Locate");
}

void TKeslMainForm::ShowAnswer() {
  const QString who =
      FAnswerName.isEmpty() ? FAnswerAddress : tr("%1 (%2)").arg(FAnswerAddress, FAnswerName);
  if (!FAnswerBlock && !FAnswerBlock6) {
    // A special-purpose address is answered by its range's name.
    AnswerLabel->setText(
        FAnswerSpecial.isEmpty() ? QString() : tr("%1: %2, in no block").arg(who, FAnswerSpecial));
    AnswerLabel->setToolTip(AnswerLabel->text());
    return;
  }
  const auto notation = static_cast<TNotation>(MaskBox->currentIndex());
  const auto answer = [&](const auto& B) {
    const QString date = B.Date ? QString::fromStdString(Date8Text(B.Date)) : tr("date unknown");
    const QString line = tr("%1: %2 (%3), %4, %5, %6")
                             .arg(who, QString::fromLatin1(B.Country->Name),
                                  QString::fromLatin1(CodeToStr(B.CountryCode)),
                                  QString::fromStdString(B.Center->Name),
                                  QString::fromStdString(B.AsText(notation)), date);
    return FAnswerASNs.isEmpty() ? line : tr("%1, %2").arg(line, FAnswerASNs);
  };
  AnswerLabel->setText(FAnswerBlock ? answer(*FAnswerBlock) : answer(*FAnswerBlock6));
  // A long one is cut at the window's edge: whole in its tooltip.
  AnswerLabel->setToolTip(AnswerLabel->text());
}

void TKeslMainForm::MaskBoxChange() {
  FModel->SetNotation(static_cast<TNotation>(MaskBox->currentIndex()));
  ShowAnswer();
  // Rows take the width of the new widest text; the current row, which a
  // scroll bar may now cover, is kept in view.
  ListBox->doItemsLayout();
  if (ListBox->currentIndex().isValid()) ListBox->scrollTo(ListBox->currentIndex());
  ListBox->viewport()->update();
}

void TKeslMainForm::ListBoxDrawItem(int Index, const QRect& Rect, QPainter& Painter, bool Selected,
                                    bool Focused) {
  if (Index < 0 || Index >= FModel->Count()) return;
  const QPalette& pal = ListBox->palette();
  Painter.save();
  Painter.setClipRect(Rect);
  Painter.fillRect(Rect, pal.color(Selected ? QPalette::Highlight : QPalette::Base));
  Painter.setPen(pal.color(Selected ? QPalette::HighlightedText : QPalette::Text));
  Painter.drawText(Rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromLatin1(FModel->RowText(Index)));
  if (Focused) {
    QStyleOptionFocusRect o;
    o.rect = Rect;
    o.palette = pal;
    // Drawn also when the focus came by the mouse: styles draw the frame
    // only after a change of focus by the keyboard otherwise.
    o.state = QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    o.backgroundColor = pal.color(Selected ? QPalette::Highlight : QPalette::Base);
    ListBox->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &o, &Painter, ListBox);
  }
  Painter.restore();
}
