#include "dbbuild/fetch.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

#include "tools/text.h"

namespace {

struct TTransfer {
  std::string Data;
  uint64_t MaxSize = 0;
  bool TooLarge = false;
  const TFetchProgress* Progress = nullptr;
  bool Aborted = false;
};

size_t OnData(char* Ptr, size_t Size, size_t Count, void* User) {
  auto* t = static_cast<TTransfer*>(User);
  const size_t n = Size * Count;
  if (t->Data.size() + n > t->MaxSize) {
    t->TooLarge = true;
    return 0;  // makes curl stop with a write error
  }
  t->Data.append(Ptr, n);
  return n;
}

int OnProgress(void* User, curl_off_t Total, curl_off_t Now, curl_off_t, curl_off_t) {
  auto* t = static_cast<TTransfer*>(User);
  if (!*t->Progress) return 0;
  if (!(*t->Progress)(static_cast<uint64_t>(Now), static_cast<uint64_t>(Total))) {
    t->Aborted = true;
    return 1;
  }
  return 0;
}

}  // namespace

std::string FetchUrl(const std::string& Url, uint64_t MaxSize, const TFetchProgress& Progress,
                     const TFetchLimits& Limits) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw EKeslError("cannot start a download");
  TTransfer t;
  t.MaxSize = MaxSize;
  t.Progress = &Progress;
  char error[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  // Every option must take: a download with one missing (a limit, the
  // protocols) is not the download this code means.
  auto set = [&](CURLoption Option, auto Value) {
    const CURLcode set = curl_easy_setopt(c, Option, Value);
    if (set != CURLE_OK) {
      throw EKeslError(Url + ": the download cannot be set up (" + curl_easy_strerror(set) + ")");
    }
  };
  set(CURLOPT_URL, Url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "https,http,file");
  // What comes over https is followed over https only.
  set(CURLOPT_REDIR_PROTOCOLS_STR, StartsWithAsciiText(Url, "https://") ? "https" : "https,http");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 5L);
  set(CURLOPT_FAILONERROR, 1L);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT, 30L);
  set(CURLOPT_TIMEOUT, static_cast<long>(Limits.TimeLimit));
  // A stalled transfer: by default less than a kilobyte a second for a
  // minute.
  set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(Limits.StallBytesPerSecond));
  set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(Limits.StallSeconds));
  if (!Limits.CaFile.empty()) set(CURLOPT_CAINFO, Limits.CaFile.c_str());
  // Refused as soon as the server announces more than the bound; OnData
  // stops one that sends more without saying so.
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(MaxSize));
  set(CURLOPT_ACCEPT_ENCODING, "");
  set(CURLOPT_USERAGENT, "kesl-mkdb");
  set(CURLOPT_ERRORBUFFER, error);
  set(CURLOPT_WRITEFUNCTION, OnData);
  set(CURLOPT_WRITEDATA, &t);
  set(CURLOPT_XFERINFOFUNCTION, OnProgress);
  set(CURLOPT_XFERINFODATA, &t);
  set(CURLOPT_NOPROGRESS, 0L);
  const CURLcode rc = curl_easy_perform(c);
  if (t.Aborted) throw EAborted();
  if (t.TooLarge) throw EKeslError(Url + ": larger than " + std::to_string(MaxSize) + " bytes");
  long status = 0;
  // An error page larger than the bound is an error first.
  if (rc == CURLE_FILESIZE_EXCEEDED &&
      curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status >= 400) {
    throw EKeslError(Url + ": HTTP status " + std::to_string(status));
  }
  if (rc == CURLE_FILESIZE_EXCEEDED) {
    throw EKeslError(Url + ": larger than " + std::to_string(MaxSize) + " bytes");
  }
  if (rc != CURLE_OK) {
    throw EKeslError(Url + ": " + (error[0] ? std::string(error) : curl_easy_strerror(rc)));
  }
  return std::move(t.Data);
}
