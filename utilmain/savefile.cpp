#include "utilmain/savefile.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>

#include "utilmain/dialogs.h"

TSaveChoice AskSaveFile(QWidget* Parent, const QString& Title, const std::vector<TFileType>& Types,
                        const QString& Folder, const QString& Name) {
  QFileDialog dialog(Parent, Title);
  dialog.setObjectName(QStringLiteral("SaveDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  QStringList filters;
  for (const TFileType& t : Types) filters << t.Filter;
  dialog.setNameFilters(filters);
  dialog.setDefaultSuffix(Types.front().Suffix);
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog, &Types, filters](const QString& F) {
                     const qsizetype at = filters.indexOf(F);
                     if (at >= 0) dialog.setDefaultSuffix(Types[static_cast<size_t>(at)].Suffix);
                   });
  dialog.setDirectory(Folder.isEmpty() ? QDir::homePath() : Folder);
  dialog.selectFile(Name + QLatin1Char('.') + Types.front().Suffix);
  // The name field has the keyboard, whatever the dialog's own choice.
  QTimer::singleShot(0, &dialog, [&dialog] {
    if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
      name->setFocus();
    }
  });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return {dialog.selectedFiles().constFirst(),
          static_cast<int>(std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter())))};
}

bool WriteFileWhole(QWidget* Parent, const QString& File, const std::string& Data) {
  QSaveFile out(File);
  const auto size = static_cast<qint64>(Data.size());
  if (out.open(QIODevice::WriteOnly) && out.write(Data.data(), size) == size && out.commit()) {
    return true;
  }
  Dialogs().ShowError(Parent, QObject::tr("%1 could not be saved: %2")
                                  .arg(QDir::toNativeSeparators(File), out.errorString()));
  return false;
}
