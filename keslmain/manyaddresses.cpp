// Many addresses at once: a text or a log file dropped on the window, or
// pasted into the address field, opens a table of the addresses in it.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

#include "ipdb/database.h"
#include "keslmain/addresstable.h"
#include "keslmain/blocklist.h"
#include "keslmain/keslmain.h"
#include "keslmain/tablewindow.h"

namespace {

// The first local file of a drop, or an empty text.
QString DroppedFile(const QMimeData* Data) {
  if (!Data || !Data->hasUrls()) return {};
  for (const QUrl& url : Data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return {};
}

}  // namespace

bool TKeslMainForm::HoldsManyAddresses(const QString& Text) {
  const QString trimmed = Text.trimmed();
  if (trimmed.contains(QLatin1Char('\n')) || trimmed.contains(QLatin1Char('\r'))) return true;
  const QByteArray bytes = trimmed.toUtf8();
  return CountAddresses(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                        2) >= 2;
}

TAddressTableWindow* TKeslMainForm::ShowAddressTable(const QString& File, const QByteArray& Text) {
  if (Busy()) return nullptr;
  if (!Database && !OpenDatabase()) return nullptr;
  auto* table = new TAddressTableWindow(this, Database, FModel->Notation());
  table->setAttribute(Qt::WA_DeleteOnClose);
  table->show();
  if (File.isEmpty()) {
    table->StartText(Text);
  } else {
    table->StartFile(File);
  }
  return table;
}

void TKeslMainForm::dragEnterEvent(QDragEnterEvent* Event) {
  const QMimeData* data = Event->mimeData();
  if (!DroppedFile(data).isEmpty() || (data && data->hasText())) Event->acceptProposedAction();
}

void TKeslMainForm::dropEvent(QDropEvent* Event) {
  const QMimeData* data = Event->mimeData();
  const QString file = DroppedFile(data);
  if (!file.isEmpty()) {
    Event->acceptProposedAction();
    ShowAddressTable(file);
  } else if (data && data->hasText()) {
    Event->acceptProposedAction();
    ShowAddressTable({}, data->text().toUtf8());
  }
}
