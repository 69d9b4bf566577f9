#include <iostream>
#include <unistd.h>

#include "cli/mkdb.h"

int main(int argc, char** argv) {
  // Progress only on a terminal; logs and pipes get the summary alone.
  std::ostream* progress = isatty(STDERR_FILENO) ? &std::cerr : nullptr;
  return MkdbMain(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, progress);
}
