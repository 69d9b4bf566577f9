// kesl: the desktop program.
#include "keslmain/keslmain.h"
#include "utilmain/startup.h"

int main(int argc, char** argv) {
  return RunApplication(argc, argv, [] { return new TKeslMainForm(); });
}
