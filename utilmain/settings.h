// One key of the per-user settings store, holding named 32-bit integers.
#pragma once

#include <memory>

#include <QSettings>
#include <QString>
#include <QStringList>

#include "tools/errors.h"

class ESettingsError : public EKeslError {
 public:
  using EKeslError::EKeslError;
};

// The key "\Software\Velcor\<Name>": on Linux a per-user file of the
// organisation "Velcor" and the application Name.
class TSettingsKey {
 public:
  // Opens the key; with CanCreate false a key that holds nothing counts as
  // missing and Exists() is false. With CanCreate a store that cannot be
  // written (its folder cannot be made, its file is read-only) is missing.
  TSettingsKey(const QString& Name, bool CanCreate);

  bool Exists() const { return FExists; }
  bool ValueExists(const QString& Name) const;
  // Raises ESettingsError "Invalid data type for '%s'" for a value that is
  // not a 32-bit integer, or "Failed to get data for '%s'" when its data is
  // longer than 4 bytes.
  int32_t ReadInteger(const QString& Name) const;
  // Raises ESettingsError "Failed to set data for '%s'" when the store
  // cannot be written.
  void WriteInteger(const QString& Name, int32_t Value);
  // A list of texts; empty for one that is missing or no list. Raises
  // ESettingsError as WriteInteger.
  QStringList ReadStrings(const QString& Name) const;
  void WriteStrings(const QString& Name, const QStringList& Values);

 private:
  std::unique_ptr<QSettings> FSettings;
  bool FExists = false;
};
