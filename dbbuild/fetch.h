// Downloads with libcurl: https, http and file addresses, whole into memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/errors.h"

// The download was stopped by its progress callback.
class EAborted : public EKeslError {
 public:
  EAborted() : EKeslError("aborted") {}
};

// Told the bytes received so far and the expected total (0 when not known);
// returns false to stop the download.
using TFetchProgress = std::function<bool(uint64_t Received, uint64_t Total)>;

// The limits of one download: its whole time, and the slowest it may go
// for how long before it counts as stalled.
struct TFetchLimits {
  int TimeLimit = 15 * 60;
  int StallBytesPerSecond = 1024;
  int StallSeconds = 60;
  // Certificates to trust instead of the system's ("" for the system's).
  std::string CaFile;
};

// The whole resource at Url. EKeslError with the cause for a failed,
// refused (HTTP status 400 or more), cut-short, too slow or too long
// download, or one larger than MaxSize (refused as soon as the server
// announces it); EAborted when Progress asked to stop. A redirect from an
// https address goes to https only, and never to a file.
std::string FetchUrl(const std::string& Url, uint64_t MaxSize, const TFetchProgress& Progress = {},
                     const TFetchLimits& Limits = {});
