#include "dbbuild/fetch.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

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

std::string FetchUrl(const std::string& Url, uint64_t MaxSize, const TFetchProgress& Progress) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw EKeslError("cannot start a download");
  TTransfer t;
  t.MaxSize = MaxSize;
  t.Progress = &Progress;
  char error[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, Url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https,http,file");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
  // A stalled transfer: less than a byte a second for a minute.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(c, CURLOPT_USERAGENT, "kesl-mkdb");
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  const CURLcode rc = curl_easy_perform(c);
  if (t.Aborted) throw EAborted();
  if (t.TooLarge) throw EKeslError(Url + ": larger than " + std::to_string(MaxSize) + " bytes");
  if (rc != CURLE_OK) {
    throw EKeslError(Url + ": " + (error[0] ? std::string(error) : curl_easy_strerror(rc)));
  }
  return std::move(t.Data);
}
