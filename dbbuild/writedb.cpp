#include "dbbuild/writedb.h"

#include <sstream>

#include "ipdb/database.h"
#include "ipdb/loader.h"
#include "tools/files.h"

std::string WriteDatabase(const std::string& Path, std::string_view Data, std::string* LoadError) {
  std::string loadError;
  const std::string failure = ReplaceFile(Path, Data, [&loadError](const std::string& Temp) {
    TIPv4Database verify;
    std::ostringstream err;
    if (LoadDatabase(verify, Temp, err)) return true;
    loadError = err.str();
    return false;
  });
  if (LoadError) *LoadError = loadError;
  return failure;
}
