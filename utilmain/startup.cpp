// Program start-up: the application object, its title and icon, the one
// main window, the event loop.
#include "utilmain/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

#include "tools/version.h"
#include "utilmain/utilmain.h"

namespace {

constexpr char kNoDisplay[] =
    "kesl: there is no display to show the window on; kesl-lookup answers on the command line\n";

// Qt ends a program it cannot connect to a display with a long message and
// an abort: the user gets one plain line and status 1 instead.
void OnStartMessage(QtMsgType Type, const QMessageLogContext&, const QString&) {
  if (Type != QtFatalMsg) return;
  std::fputs(kNoDisplay, stderr);
  std::_Exit(1);
}

}  // namespace

int RunApplication(int& Argc, char** Argv, const std::function<TUtilMainForm*()>& Create) {
  for (int i = 1; i < Argc; ++i) {
    if (std::strcmp(Argv[i], "--version") == 0) {
      std::printf("kesl %s\n", kProgramVersion);
      return 0;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  const QtMessageHandler previous = qInstallMessageHandler(OnStartMessage);
  QApplication app(Argc, Argv);
  qInstallMessageHandler(previous);
  QApplication::setApplicationName(QStringLiteral("Kesl"));
  // The desktop entry's id, which the desktop uses to match the window to its
  // entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(KESL_APP_ID));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(KESL_APP_ID)));
  TUtilMainForm::SetInitialApplicationTitle(QStringLiteral("Kesl"));
  TUtilMainForm* form = Create();
  form->show();
  const int rc = app.exec();
  delete form;
  return rc;
}
