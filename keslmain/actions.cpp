// The list's actions: select all, copy the selected blocks, open the
// registry's whois page.
#include <algorithm>

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QListView>
#include <QMenu>
#include <QPushButton>

#include "ipdb/blocktext.h"
#include "ipdb/database.h"
#include "keslmain/blocklist.h"
#include "keslmain/keslmain.h"
#include "tools/finally.h"
#include "utilmain/dialogs.h"

void TKeslMainForm::PopupMenuPopup() {
  SelectMenuItem->setEnabled(FModel->Count() > 0);
  CopyMenuItem->setEnabled(ListBox->selectionModel()->hasSelection());
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
  QModelIndexList rows = ListBox->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<const TIPv4Block*> blocks;
  std::vector<const TIPv6Block*> blocks6;
  for (const QModelIndex& i : rows) {
    if (const TIPv4Block* b = FModel->BlockAt(i.row())) blocks.push_back(b);
    if (const TIPv6Block* b = FModel->Block6At(i.row())) blocks6.push_back(b);
  }
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
