// Saving a file the user names: Qt's own file dialog (the same keys on
// every desktop, the name field taking the keyboard at once) and a write
// that leaves the file whole or as it was.
#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QStringList>

class QWidget;

// A type of file the dialog offers: its filter ("CSV (*.csv)") and the
// suffix a name without one gets.
struct TFileType {
  QString Filter;
  QString Suffix;
};

struct TSaveChoice {
  QString File;   // empty when the dialog was cancelled
  int Type = -1;  // the index of the type chosen
};

// Asks where to save, in Folder (the home folder when empty), Name
// proposed with the first type's suffix.
TSaveChoice AskSaveFile(QWidget* Parent, const QString& Title, const std::vector<TFileType>& Types,
                        const QString& Folder, const QString& Name);

// Writes Data to File beside it and renames it over it: the file is all of
// Data or stays as it was. False, after an error box that says why, when
// it could not be written.
bool WriteFileWhole(QWidget* Parent, const QString& File, const std::string& Data);
