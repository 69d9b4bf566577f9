// kesl: the desktop program.
#include <cstdio>
#include <cstdlib>

#include "keslmain/keslmain.h"
#include "utilmain/startup.h"

int main(int argc, char** argv) {
  const int rc = RunApplication(argc, argv, [] { return new TKeslMainForm(); });
  // A host name given up on may still wait for the name servers: the
  // program leaves now, without running the destructors its thread may
  // still use.
  if (TKeslMainForm::ResolutionsRunning() > 0) {
    std::fflush(nullptr);
    std::_Exit(rc);
  }
  return rc;
}
