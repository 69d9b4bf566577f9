#include "utilmain/settings.h"

TSettingsKey::TSettingsKey(const QString& Name, bool CanCreate)
    : FSettings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Velcor"), Name)) {
  FExists = CanCreate ? FSettings->isWritable() : !FSettings->allKeys().isEmpty();
}

bool TSettingsKey::ValueExists(const QString& Name) const { return FSettings->contains(Name); }

int32_t TSettingsKey::ReadInteger(const QString& Name) const {
  const QVariant v = FSettings->value(Name);
  bool ok = false;
  // Integers are stored as their decimal text; anything else is of the
  // wrong type, as a string or binary value in the registry would be.
  const QString text = v.toString();
  const int value = text.toInt(&ok);
  if (!ok || v.userType() == QMetaType::QByteArray) {
    const std::string name = Name.toStdString();
    if (text.toUtf8().size() > 4) throw ESettingsError("Failed to get data for '" + name + "'");
    throw ESettingsError("Invalid data type for '" + name + "'");
  }
  return value;
}

QStringList TSettingsKey::ReadStrings(const QString& Name) const {
  const QVariant v = FSettings->value(Name);
  // One text is stored as a text, not a list of one.
  if (v.userType() == QMetaType::QString) return {v.toString()};
  return v.userType() == QMetaType::QStringList ? v.toStringList() : QStringList();
}

void TSettingsKey::WriteStrings(const QString& Name, const QStringList& Values) {
  FSettings->setValue(Name, Values);
  FSettings->sync();
  if (FSettings->status() != QSettings::NoError) {
    throw ESettingsError("Failed to set data for '" + Name.toStdString() + "'");
  }
}

void TSettingsKey::WriteInteger(const QString& Name, int32_t Value) {
  FSettings->setValue(Name, Value);
  FSettings->sync();
  if (FSettings->status() != QSettings::NoError) {
    throw ESettingsError("Failed to set data for '" + Name.toStdString() + "'");
  }
}
