// Shared parts of the window tests: a recording stand-in for the dialogs and
// a settings store in a temporary folder.
#pragma once

#include <deque>

#include <QSettings>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include "testutil.h"
#include "utilmain/dialogs.h"

class TFakeDialogs : public TDialogs {
 public:
  TFakeDialogs() { SetDialogs(this); }
  ~TFakeDialogs() override { SetDialogs(nullptr); }

  void ShowMessage(QWidget*, const QString& Text) override { Messages << Text; }
  void ShowError(QWidget*, const QString& Text) override { Errors << Text; }
  bool Confirm(QWidget*, const QString& Title, const QString& Text, const QString& Yes,
               const QString& No) override {
    Questions << Title + "|" + Text + "|" + Yes + "|" + No;
    if (OnConfirm) OnConfirm();
    if (Answers.empty()) return false;
    const bool a = Answers.front();
    Answers.pop_front();
    return a;
  }
  bool OpenUrl(const QString& Url) override {
    Opened << Url;
    return BrowserStarts;
  }
  void ShowAbout(QWidget*, const QString& Title, const QString& Text) override {
    Abouts << Title + "|" + Text;
  }

  QStringList Messages, Errors, Questions, Opened, Abouts;
  std::deque<bool> Answers;
  bool BrowserStarts = true;
  std::function<void()> OnConfirm;
};

// Points the per-user settings store at a fresh folder for one test.
class TTempSettings {
 public:
  TTempSettings() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(FDir.Dir()));
  }
  const std::string& Dir() const { return FDir.Dir(); }
  QSettings Open(const QString& Key) const {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velcor"), Key);
  }

 private:
  TTempDir FDir;
};
