// The locator window's life: its settings, its status line, its About box,
// and what closing it does.
#include "keslmain/keslmain.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLocale>
#include <QStringListModel>

#include "ipdb/database.h"
#include "ipdb/loader.h"
#include "ipdb/provenance.h"
#include "tools/files.h"
#include "tools/tools.h"
#include "utilmain/dialogs.h"
#include "utilmain/settings.h"

namespace {

std::function<QDate()> gToday = [] { return QDate::currentDate(); };

QDate DayNumberDate(double DayNumber) {
  int32_t y, m, d;
  if (!DecodeDayNumber(static_cast<int32_t>(DayNumber), y, m, d)) return {};
  return QDate(y, m, d);
}

}  // namespace

TKeslMainForm::~TKeslMainForm() {
  Database.reset();
  FormDestroy();
}

void TKeslMainForm::FormCreate() {
  MaskBox->setCurrentIndex(0);
  TUtilMainForm::FormCreate();
  SetDesignMinimumSize(415, 250);
}

QString TKeslMainForm::GetSettingsKeyName() { return QStringLiteral("kesl"); }

void TKeslMainForm::SaveSettings(TSettingsKey& Key) {
  Key.WriteInteger(QStringLiteral("Notation"), MaskBox->currentIndex());
  Key.WriteStrings(QStringLiteral("History"), FHistory);
}

void TKeslMainForm::LoadSettings(TSettingsKey& Key) {
  // The last queries, newest first: as many as are kept, each no longer
  // than a host name, whatever the file holds.
  FHistory.clear();
  for (const QString& q : Key.ReadStrings(QStringLiteral("History"))) {
    if (FHistory.size() == kHistorySize) break;
    if (!q.isEmpty() && q.size() <= 253 && !FHistory.contains(q)) FHistory << q;
  }
  FHistoryModel->setStringList(FHistory);
  if (!Key.ValueExists(QStringLiteral("Notation"))) return;
  const int n = Key.ReadInteger(QStringLiteral("Notation"));
  MaskBox->setCurrentIndex(n >= 0 && n < MaskBox->count() ? n : -1);
}

void TKeslMainForm::Remember(const QString& Query) {
  FHistory.removeAll(Query);
  FHistory.prepend(Query);
  while (FHistory.size() > kHistorySize) FHistory.removeLast();
  FHistoryModel->setStringList(FHistory);
}

void TKeslMainForm::AbortWork() { Aborted = true; }

void TKeslMainForm::SetToday(std::function<QDate()> Today) {
  gToday = Today ? std::move(Today) : [] { return QDate::currentDate(); };
}

QDate TKeslMainForm::Today() { return gToday(); }

QString TKeslMainForm::DatabaseFileName() const {
  if (!FDatabaseFileName.isEmpty()) return FDatabaseFileName;
  return QString::fromLocal8Bit(FindDatabase());
}

void TKeslMainForm::closeEvent(QCloseEvent* Event) {
  // Leaving always leaves: a locate, a list being filled or a copy stops
  // here; only an update is asked about first.
  if (Busy() && !FUpdating) Aborted = true;
  if (FUpdating) {
    Event->ignore();
    if (FCloseWhenUpdated) return;
    // The update goes on beside the question; its answer counts only if
    // the update is still running.
    if (Dialogs().Confirm(this, tr("Confirm"),
                          tr("The database is being updated.") + QLatin1Char('\r') +
                              tr("Abort the update and close?"),
                          tr("&Yes"), tr("&No")) &&
        FUpdating) {
      FCloseWhenUpdated = true;
      Aborted = true;
    }
    return;
  }
  TUtilMainForm::closeEvent(Event);
}

QString TKeslMainForm::AboutText() {
  QString text = TUtilMainForm::AboutText() + QStringLiteral("<p>") +
                 tr("Database: %1").arg(DatabaseFileName().toHtmlEscaped());
  // Before the first locate the file is read for the box alone.
  std::unique_ptr<TIPv4Database> read;
  TIPv4Database* db = Database.get();
  if (!db) {
    QString error;
    read = ReadDatabase(DatabaseFileName(), &error);
    if (!read) return text + QStringLiteral("<br>") + error.toHtmlEscaped();
    db = read.get();
  }
  text += QStringLiteral("<br>") +
          tr("Created: %1").arg(QString::fromStdString(DayNumberText(db->Created)));
  if (db->Sources.empty()) {
    text += QStringLiteral("<br>") + tr("The file does not say where its data came from.");
  }
  for (const TSource& s : db->Sources) {
    text += QStringLiteral("<br>") +
            tr("Source: %1").arg(QString::fromStdString(SourceText(s)).toHtmlEscaped());
  }
  const TCountryKind kind = DatabaseCountryKind(db->Sources);
  text +=
      QStringLiteral("<br>") + tr("Countries: %1").arg(QString::fromLatin1(CountryKindText(kind)));
  return text;
}

QString TKeslMainForm::AgeText(qint64 Days) {
  if (Days < 0) return tr("dated in the future");
  if (Days == 0) return tr("from today");
  if (Days == 1) return tr("1 day old");
  if (Days < 61) return tr("%1 days old").arg(Days);
  // Months of 30.44 days, rounded.
  return tr("%1 months old").arg((Days * 100 + 1522) / 3044);
}

void TKeslMainForm::TimerTimer() { ShowStatus(); }

void TKeslMainForm::ShowStatus() {
  ShowMemoryUsed();
  QString text = StatusText();
  // A running update's registry and megabytes come first, where a narrow
  // line still shows them; what became of it comes last.
  if (FUpdating && !FUpdateNote.isEmpty()) text += QLatin1String(", ") + FUpdateNote;
  // Before the first locate loads it, the database's header tells its date.
  double headerCreated = 0;
  const bool known =
      Database || ReadCreated(DatabaseFileName().toLocal8Bit().toStdString(), headerCreated);
  if (known) {
    const QDate created = DayNumberDate(Database ? Database->Created : headerCreated);
    text += tr(", Database created: %1").arg(QLocale().toString(created, QLocale::ShortFormat)) +
            QLatin1String(" (") + AgeText(created.daysTo(Today())) + QLatin1Char(')');
  }
  if (!FUpdating && !FUpdateNote.isEmpty()) text += QLatin1String(", ") + FUpdateNote;
  if (!FActivity.isEmpty()) text += QLatin1String(", ") + FActivity;
  SetStatusText(text);
}
