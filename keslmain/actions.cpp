// The list's actions: select all, copy or save the selected blocks (or all
// of them), open the registry's whois page.
#include <algorithm>

#include <QClipboard>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QListView>
#include <QMenu>
#include <QPushButton>

#include "ipdb/blocklists.h"
#include "ipdb/blocktext.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "keslmain/blocklist.h"
#include "keslmain/keslmain.h"
#include "tools/finally.h"
#include "utilmain/dialogs.h"
#include "utilmain/savefile.h"

void TKeslMainForm::PopupMenuPopup() {
  SelectMenuItem->setEnabled(FModel->Count() > 0);
  SaveMenuItem->setEnabled(FModel->Count() > 0);
  CopyMenuItem->setEnabled(ListBox->selectionModel()->hasSelection());
}

namespace {

// The save dialog's file types, in the order of its list: the filter, the
// suffix a name without one gets, and what each writes.
struct TSaveType {
  const char* Filter;
  const char* Suffix;
  TListForm Form;
};
constexpr TSaveType kSaveTypes[] = {
    {QT_TRANSLATE_NOOP("TKeslMainForm", "Text, one block per line (*.txt)"), "txt", lfLines},
    {QT_TRANSLATE_NOOP("TKeslMainForm", "CSV (*.csv)"), "csv", lfCsv},
    {QT_TRANSLATE_NOOP("TKeslMainForm", "nftables set (*.nft)"), "nft", lfNft},
    {QT_TRANSLATE_NOOP("TKeslMainForm", "ipset set (*.ipset)"), "ipset", lfIpset},
};

}  // namespace

void TKeslMainForm::ListedBlocks(bool SelectedOnly, std::vector<const TIPv4Block*>& Blocks,
                                 std::vector<const TIPv6Block*>& Blocks6) const {
  std::vector<int> rows;
  if (SelectedOnly) {
    for (const QModelIndex& i : ListBox->selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
  } else {
    for (int i = 0; i < FModel->Count(); ++i) rows.push_back(i);
  }
  for (const int row : rows) {
    if (const TIPv4Block* b = FModel->BlockAt(row)) Blocks.push_back(b);
    if (const TIPv6Block* b = FModel->Block6At(row)) Blocks6.push_back(b);
  }
}

QString TKeslMainForm::ListName() const {
  // "de4": the country and the family, or the family alone.
  const QString family = QString::number(ListedFamily);
  return ListedCountry ? QString::fromLatin1(CodeToStr(*ListedCountry)).toLower() + family
                       : QStringLiteral("kesl") + family;
}

void TKeslMainForm::SaveMenuItemClick() {
  if (Busy() || FModel->Count() == 0) return;
  std::vector<const TIPv4Block*> blocks;
  std::vector<const TIPv6Block*> blocks6;
  ListedBlocks(ListBox->selectionModel()->hasSelection(), blocks, blocks6);

  std::vector<TFileType> types;
  for (const TSaveType& t : kSaveTypes) types.push_back({tr(t.Filter), QLatin1String(t.Suffix)});
  const TSaveChoice choice = AskSaveFile(this, tr("Save list as"), types, FSaveFolder, ListName());
  if (choice.File.isEmpty()) return;
  FSaveFolder = QFileInfo(choice.File).absolutePath();
  // IPv6 rows are prefixes under the mask notation, as the list shows them;
  // a firewall set is named "kesl_de4", a name both firewalls take.
  const QString setName = ListedCountry ? QStringLiteral("kesl_") + ListName() : ListName();
  const std::string text = ListText(blocks, blocks6, FModel->Notation(),
                                    kSaveTypes[static_cast<size_t>(choice.Type)].Form,
                                    setName.toStdString(), ListedFamily);
  WriteFileWhole(this, choice.File, text);
}

void TKeslMainForm::SelectMenuItemClick() {
  ListBox->setUpdatesEnabled(false);
  ListBox->selectAll();
  ListBox->setUpdatesEnabled(true);
}

void TKeslMainForm::CopyMenuItemClick() {
  const bool whois = WhoisButton->isEnabled();
  BeginBusy();
  Aborted = false;
  const TFinally end([this, whois] {
    EndBusy();
    WhoisButton->setEnabled(whois);
  });
  std::vector<const TIPv4Block*> blocks;
  std::vector<const TIPv6Block*> blocks6;
  ListedBlocks(true, blocks, blocks6);
  const size_t count = blocks.size() + blocks6.size();
  const auto progress = [this, count](size_t Row) {
    if (!SetProgress(static_cast<int>(Row * 1000 / count))) return false;
    QCoreApplication::processEvents();
    return Aborted.load();
  };
  const std::string text = blocks6.empty()
                               ? BlocksText(blocks, FModel->Notation(), "\r\n", progress)
                               : BlocksTextOf(blocks6, FModel->Notation(), "\r\n", progress);
  QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
}

void TKeslMainForm::WhoisButtonClick() {
  if (Dialogs().OpenUrl(WhoisURL)) return;
  // Without a browser the page's address is shown, to be copied.
  Dialogs().ShowMessage(this, tr("No web browser could be started for the registry's page.") +
                                  QLatin1Char('\r') + tr("Its address: %1").arg(WhoisURL));
}
