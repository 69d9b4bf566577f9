// Message boxes, confirmations and opening web pages, behind one seam so
// that tests can answer dialogs and see which page would open.
#pragma once

#include <QString>

class QWidget;

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A plain message box with an OK button.
  virtual void ShowMessage(QWidget* Parent, const QString& Text);
  // An error box: the application's default error reporting.
  virtual void ShowError(QWidget* Parent, const QString& Text);
  // A modal question box; true when the first button was chosen. A lone
  // carriage return in Text breaks the line.
  virtual bool Confirm(QWidget* Parent, const QString& Title, const QString& Text,
                       const QString& YesText, const QString& NoText);
  // The About box: a title and rich text with an OK button.
  virtual void ShowAbout(QWidget* Parent, const QString& Title, const QString& Text);
  // Opens an address in the user's browser; false when none could be
  // started.
  virtual bool OpenUrl(const QString& Url);
};

// The dialogs in use; tests replace them with SetDialogs.
TDialogs& Dialogs();
// Installs Replacement (not owned) or, with nullptr, the real dialogs again.
void SetDialogs(TDialogs* Replacement);
