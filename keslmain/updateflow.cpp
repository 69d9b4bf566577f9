// The update from the window: run beside the event loop, its progress
// in the status line and the title, the new database put in place of the
// old one.
#include <QTimer>

#include "dbbuild/update.h"
#include "ipdb/database.h"
#include "keslmain/keslmain.h"
#include "keslmain/updaterunner.h"
#include "tools/files.h"
#include "tools/finally.h"
#include "utilmain/dialogs.h"

bool TKeslMainForm::UpdateDatabase() {
  TUpdateOptions options;
  options.Base = FUpdateBase;
  options.Output = FUpdateOutput.empty() ? UserDatabasePath() : FUpdateOutput;
  if (options.Output.empty()) {
    Dialogs().ShowError(this, tr("The update has no place for the database: neither "
                                 "XDG_DATA_HOME nor HOME is set."));
    return false;
  }
  TUpdateResult result;
  {
    BeginBusy();
    Aborted = false;
    FUpdating = true;
    const TFinally end([this] {
      FUpdating = false;
      EndBusy();
    });
    FUpdateNote.clear();
    result = TUpdateRunner(Aborted).Run(
        options, [this](int PerMille, const std::string& Registry, uint64_t Received) {
          SetProgress(PerMille);
          // Which registry, and how much of its file: in the status line
          // and in the title, which the task bar shows.
          FUpdateNote = Registry.empty() ? tr("Updating the database")
                                         : tr("Updating the database: %1, %2 MB")
                                               .arg(QString::fromStdString(Registry))
                                               .arg(static_cast<double>(Received) / 1e6, 0, 'f', 1);
          SetApplicationTitle(FUpdateNote + QLatin1String(" - ") + PercentText(PerMille));
          ShowStatus();
        });
  }
  // What became of it stays in the status line until the next update.
  FUpdateNote = result.Status == usAborted  ? tr("Update aborted: the database in use stays")
                : result.Status == usFailed ? tr("Update failed: the database in use stays")
                                            : QString();
  ShowStatus();
  if (FCloseWhenUpdated) {
    // Closed during the update: nothing more is shown, and the window goes
    // as soon as the work that started the update has returned.
    QTimer::singleShot(0, this, [this] { close(); });
    return false;
  }
  const QString output = QString::fromLocal8Bit(options.Output);
  switch (result.Status) {
    case usAborted:
      return false;
    case usFailed:
      Dialogs().ShowError(this,
                          tr("The update failed: %1").arg(QString::fromLocal8Bit(result.Message)) +
                              QLatin1Char('\r') + tr("The database in use stays."));
      return false;
    case usCurrent:
      if (output == DatabaseFileName()) {
        Dialogs().ShowMessage(this, tr("The database is already current."));
        return false;
      }
      break;
    case usWritten:
      break;
  }
  QString error;
  std::unique_ptr<TIPv4Database> fresh = ReadDatabase(output, &error);
  if (!fresh) {
    Dialogs().ShowError(this, error);
    return false;
  }
  // The list and the answer show blocks of the old database: they go first.
  ShowBlocks(std::nullopt, nullptr);
  FAnswerBlock = nullptr;
  FAnswerBlock6 = nullptr;
  ShowAnswer();
  Database = std::move(fresh);
  FDatabaseFileName = output;
  FillBoxes();
  return true;
}
