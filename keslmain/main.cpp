// kesl: the desktop program. Files named on the command line (kesl
// access.log) each open a table of their addresses, as a drop does.
#include <cstdio>
#include <cstdlib>

#include <QStringList>
#include <QTimer>

#include "keslmain/keslmain.h"
#include "utilmain/startup.h"

int main(int argc, char** argv) {
  const int rc = RunApplication(argc, argv, [&argc, argv] {
    auto* form = new TKeslMainForm();
    // The application has taken its own options out of the arguments by now.
    QStringList files;
    for (int i = 1; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);
    QTimer::singleShot(0, form, [form, files] {
      for (const QString& f : files) form->ShowAddressTable(f);
    });
    return form;
  });
  // A host name given up on may still wait for the name servers: the
  // program leaves now, without running the destructors its thread may
  // still use.
  if (TKeslMainForm::ResolutionsRunning() > 0) {
    std::fflush(nullptr);
    std::_Exit(rc);
  }
  return rc;
}
