#include "dbbuild/update.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "dbbuild/compiler.h"
#include "dbbuild/fetch.h"
#include "dbbuild/writedb.h"
#include "ipdb/database.h"
#include "ipdb/registries.h"
#include "ipdb/writer.h"
#include "tools/files.h"
#include "tools/md5.h"
#include "tools/tools.h"

namespace {

// The largest file the update takes; the real ones are some tens of MB.
constexpr uint64_t kMaxDownload = uint64_t{256} << 20;
constexpr uint64_t kMaxChecksumFile = 1 << 12;
// A file and its checksum are fetched this many times before a mismatch
// fails the update.
constexpr int kTries = 3;

bool IsHex(char C) { return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f'); }

struct TDownload {
  const TRegistryInfo* Registry;
  std::string Name;  // the file's name
  std::string Url;
  std::string Md5;  // what the registry's .md5 file says
  std::string Data;
};

std::string UrlFileName(std::string_view Url) {
  return std::string(Url.substr(Url.rfind('/') + 1));
}

// True when the database at Path was built from exactly these files.
bool SameSources(const std::string& Path, const std::vector<TDownload>& Files) {
  TIPv4Database current;
  std::ostringstream ignored;
  // A missing or unreadable file is replaced.
  if (!LoadDatabase(current, Path, ignored)) return false;
  if (current.Sources.size() != Files.size()) return false;
  for (const TDownload& f : Files) {
    bool found = false;
    for (const TSource& s : current.Sources) found |= s.Name == f.Name && s.Md5 == f.Md5;
    if (!found) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> UpdateRegistries() {
  std::vector<std::string> names;
  for (const TRegistryInfo& r : kRegistries) {
    if (!r.StatsUrl.empty()) names.emplace_back(r.Name);
  }
  return names;
}

std::string ParseMd5File(const std::string& Text) {
  // "MD5 (name) = hex" has the sum after the last '='; the other forms
  // start with it.
  const size_t eq = Text.rfind('=');
  size_t at = Text.rfind("MD5 (", 0) == 0 && eq != std::string::npos ? eq + 1 : 0;
  while (at < Text.size() && (Text[at] == ' ' || Text[at] == '\t')) ++at;
  std::string sum;
  while (at < Text.size() && sum.size() <= 32) {
    char c = Text[at++];
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c + 32);
    if (!IsHex(c)) {
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '*') break;
      return {};
    }
    sum += c;
  }
  return sum.size() == 32 ? sum : std::string();
}

TUpdateResult RunUpdate(const TUpdateOptions& Options) {
  TUpdateResult result;
  std::vector<TDownload> files;
  std::string registry;  // the one being worked on, for messages
  try {
    // One writer at a time: a timer and the window updating at once would
    // each do the whole work for one file.
    std::string failure = MakeParentDirs(Options.Output);
    if (!failure.empty()) throw EKeslError(failure);
    const std::string lockName = Options.Output + ".lock";
    const int lock = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) throw EKeslError("cannot open " + lockName + ": " + std::strerror(errno));
    const TFinally unlock([lock] { ::close(lock); });
    while (::flock(lock, LOCK_EX | (Options.NoWait ? LOCK_NB : 0)) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) {
        throw EKeslError("another update of " + Options.Output + " is running");
      }
      throw EKeslError("cannot lock " + lockName + ": " + std::strerror(errno));
    }
    // The checksums first, a few bytes each: when they are the ones the
    // database in place was built from, nothing more is downloaded.
    for (const TRegistryInfo& r : kRegistries) {
      if (r.StatsUrl.empty()) continue;
      registry = r.Name;
      TDownload d{&r, UrlFileName(r.StatsUrl), std::string(r.StatsUrl), {}, {}};
      if (!Options.Base.empty()) {
        d.Url = Options.Base;
        if (d.Url.back() != '/') d.Url += '/';
        d.Url += d.Name;
      }
      d.Md5 = ParseMd5File(FetchUrl(d.Url + ".md5", kMaxChecksumFile));
      if (d.Md5.empty()) throw EKeslError(d.Url + ".md5 holds no MD5 checksum");
      files.push_back(std::move(d));
    }
    registry.clear();
    if (SameSources(Options.Output, files)) {
      result.Status = usCurrent;
      return result;
    }
    for (TDownload& d : files) {
      registry = d.Registry->Name;
      auto progress = [&](uint64_t Received, uint64_t Total) {
        return !Options.Progress || Options.Progress(registry, Received, Total);
      };
      for (int attempt = 1;; ++attempt) {
        if (!progress(0, 0)) throw EAborted();
        d.Data = FetchUrl(d.Url, kMaxDownload, progress);
        const std::string md5 = Md5Hex(d.Data);
        if (md5 == d.Md5) break;
        if (attempt == kTries) {
          throw EKeslError(
              "checksum mismatch: " + d.Name + " has MD5 " + md5 + ", its .md5 file says " + d.Md5 +
              " (a damaged or incomplete download), " + std::to_string(kTries) + " tries");
        }
        // APNIC publishes its .md5 some minutes after the file, and ARIN's
        // servers can answer the two from different copies: a mismatch
        // may pass. The file and its checksum are fetched again.
        for (int waited = 0; waited < Options.RetryWait * 10; ++waited) {
          if (!progress(0, 0)) throw EAborted();
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        d.Md5 = ParseMd5File(FetchUrl(d.Url + ".md5", kMaxChecksumFile));
        if (d.Md5.empty()) throw EKeslError(d.Url + ".md5 holds no MD5 checksum");
      }
    }
    registry.clear();

    TDatabaseCompiler compiler;
    for (const TDownload& f : files) {
      registry = f.Registry->Name;
      const size_t before = compiler.Blocks().size();
      compiler.AddData(f.Name, f.Data);
      // A page of some other kind (an error page served as the file) reads
      // as a file without data, which would take the registry's blocks away.
      if (compiler.Blocks().size() == before) {
        throw EKeslError(f.Name + ": no IPv4 delegations in the file");
      }
    }
    registry.clear();
    compiler.Finish(true);
    result.Overlaps = compiler.Overlaps();
    result.Blocks = compiler.Blocks().size();
    result.Blocks6 = compiler.Blocks6().size();
    result.Date = compiler.HeaderDate("");
    const std::string file = EncodeDatabaseFile(true, cmNone, result.Date, compiler.BinaryBody());
    result.FileSize = file.size();
    failure = WriteDatabase(Options.Output, file);
    if (!failure.empty()) throw EKeslError(failure);
    result.Status = usWritten;
  } catch (const EAborted&) {
    result.Status = usAborted;
    result.Message = "aborted";
  } catch (const std::exception& e) {
    result.Status = usFailed;
    result.Message = (registry.empty() ? std::string() : registry + ": ") + e.what();
  }
  return result;
}
