#include "utilmain/dialogs.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

namespace {

TDialogs gRealDialogs;
TDialogs* gDialogs = &gRealDialogs;

QString ShownText(QString Text) {
  // A lone CR is a line break in the system's message boxes; Qt wants LF.
  Text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  Text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return Text;
}

}  // namespace

TDialogs& Dialogs() { return *gDialogs; }

void SetDialogs(TDialogs* Replacement) { gDialogs = Replacement ? Replacement : &gRealDialogs; }

void TDialogs::ShowMessage(QWidget* Parent, const QString& Text) {
  QMessageBox box(QMessageBox::NoIcon, Parent ? Parent->window()->windowTitle() : QString(),
                  ShownText(Text), QMessageBox::Ok, Parent);
  // A message may hold an address to copy.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  box.exec();
}

void TDialogs::ShowError(QWidget* Parent, const QString& Text) {
  QMessageBox box(QMessageBox::Critical, QObject::tr("Error"), ShownText(Text), QMessageBox::Ok,
                  Parent);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  box.exec();
}

bool TDialogs::Confirm(QWidget* Parent, const QString& Title, const QString& Text,
                       const QString& YesText, const QString& NoText) {
  QMessageBox box(QMessageBox::Question, Title, ShownText(Text), QMessageBox::NoButton, Parent);
  QPushButton* yes = box.addButton(YesText, QMessageBox::YesRole);
  QPushButton* no = box.addButton(NoText, QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void TDialogs::ShowAbout(QWidget* Parent, const QString& Title, const QString& Text) {
  QMessageBox::about(Parent, Title, Text);
}

bool TDialogs::OpenUrl(const QString& Url) { return QDesktopServices::openUrl(QUrl(Url)); }
