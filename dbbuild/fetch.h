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

// The whole resource at Url. EKeslError with the cause for a failed,
// refused (HTTP status 400 or more) or cut-short download, or one larger
// than MaxSize; EAborted when Progress asked to stop.
std::string FetchUrl(const std::string& Url, uint64_t MaxSize, const TFetchProgress& Progress = {});
