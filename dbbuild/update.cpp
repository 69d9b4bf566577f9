#include "dbbuild/update.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "dbbuild/compiler.h"
#include "dbbuild/fetch.h"
#include "dbbuild/writedb.h"
#include "ipdb/database.h"
#include "ipdb/encoder.h"
#include "ipdb/loader.h"
#include "ipdb/registries.h"
#include "tools/files.h"
#include "tools/finally.h"
#include "tools/md5.h"

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
};

std::string UrlFileName(std::string_view Url) {
  return std::string(Url.substr(Url.rfind('/') + 1));
}

// True when Current was built from these files; with Md5, from exactly
// these files' data.
bool SameSources(const TIPv4Database& Current, const std::vector<TDownload>& Files, bool Md5) {
  if (Current.Sources.size() != Files.size()) return false;
  for (const TDownload& f : Files) {
    bool found = false;
    for (const TSource& s : Current.Sources) {
      found |= s.Name == f.Name && (!Md5 || s.Md5 == f.Md5);
    }
    if (!found) return false;
  }
  return true;
}

// What each registry delegates: IPv4 addresses, or IPv6 /48s (a smaller
// block counts as one).
using TByRegistry = std::map<uint16_t, uint64_t>;
template <typename TBlocks, typename TCount>
TByRegistry ByRegistry(const TBlocks& Blocks, TCount Count) {
  TByRegistry by;
  for (const auto& b : Blocks) by[Count(b).first] += Count(b).second;
  return by;
}
inline uint64_t Slash48s(TIPv6Address Start, TIPv6Address Last) {
  return static_cast<uint64_t>((Last - Start) >> 80) + 1;
}

std::string Percent(uint64_t Part, uint64_t Whole) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f%%", Whole ? 100.0 * static_cast<double>(Part) / Whole : 0);
  return buf;
}

// Why Now, against Before, is a loss not to be trusted, or "": more than
// 10% fewer What in all, or more than 25% fewer from one registry.
std::string Loss(const TByRegistry& Before, const TByRegistry& Now, const std::string& What) {
  uint64_t totalBefore = 0, totalNow = 0;
  for (const auto& [id, n] : Before) totalBefore += n;
  for (const auto& [id, n] : Now) totalNow += n;
  if (totalNow * 10 < totalBefore * 9) {
    return "the new data delegates " + std::to_string(totalNow) + " " + What + ", " +
           Percent(totalBefore - totalNow, totalBefore) + " fewer than the " +
           std::to_string(totalBefore) + " of the database in place (more than 10%)";
  }
  for (const auto& [id, n] : Before) {
    const uint64_t left = Now.count(id) ? Now.at(id) : 0;
    if (left * 4 < n * 3) {
      const TRegistryInfo* r = RegistryByID(id);
      return std::string(r ? r->Name : std::to_string(id)) + " delegates " + std::to_string(left) +
             " " + What + ", " + Percent(n - left, n) + " fewer than the " + std::to_string(n) +
             " of the database in place (more than 25%)";
    }
  }
  return {};
}

// Why new data that replaces data from the registries is not to be
// trusted without --force, or "": registries that overlap on much of the
// space, files older than those the database in place was made from (a
// stale mirror), far fewer addresses of either family in all or from one
// registry.
std::string SuddenChange(const TIPv4Database& Current, bool FromRegistries,
                         const TDatabaseCompiler& New) {
  constexpr uint64_t kSpace = uint64_t{1} << 32;
  if (New.CrossRegistryOverlap() * 100 > kSpace) {
    return "blocks of two registries share " + std::to_string(New.CrossRegistryOverlap()) +
           " IPv4 addresses, " + Percent(New.CrossRegistryOverlap(), kSpace) +
           " of the space (more than 1%)";
  }
  if (!FromRegistries) return {};
  for (const TSource& now : New.Sources()) {
    for (const TSource& before : Current.Sources) {
      if (before.Name == now.Name && now.Date != 0 && now.Date < before.Date) {
        return now.Name + " is dated " + std::to_string(now.Date) + ", older than the " +
               std::to_string(before.Date) + " the database in place was made from";
      }
    }
  }
  std::string why = Loss(
      ByRegistry(Current.Blocks,
                 [](const TIPv4Block& B) { return std::pair(B.CenterID, uint64_t{B.Count}); }),
      ByRegistry(New.Blocks(),
                 [](const TInputBlock& B) { return std::pair(B.Registry, uint64_t{B.Count}); }),
      "IPv4 addresses");
  if (!why.empty()) return why;
  return Loss(ByRegistry(Current.IPv6.Blocks,
                         [](const TIPv6Block& B) {
                           return std::pair(B.CenterID, Slash48s(B.Start, B.Last));
                         }),
              ByRegistry(New.Blocks6(),
                         [](const TInputBlock6& B) {
                           return std::pair(B.Registry, Slash48s(B.Start, B.Last));
                         }),
              "IPv6 /48s");
}

}  // namespace

std::vector<std::string> UpdateRegistryNames() {
  std::vector<std::string> names;
  for (const TRegistryInfo& r : kRegistries) {
    if (!r.StatsUrl.empty()) names.emplace_back(r.Name);
  }
  return names;
}

std::string ParseMd5File(const std::string& Text) {
  // "MD5 (name) = hex" has the sum after the last '='; the other forms
  // start with it, after a byte-order mark an editor may have put there.
  const size_t bom = Text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  const size_t eq = Text.rfind('=');
  size_t at = Text.compare(bom, 5, "MD5 (") == 0 && eq != std::string::npos ? eq + 1 : bom;
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
      TDownload d{&r, UrlFileName(r.StatsUrl), std::string(r.StatsUrl), {}};
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
    // A missing or unreadable database is simply replaced.
    // The database in place, for as long as the new one is compared with it.
    auto current = std::make_unique<TIPv4Database>();
    std::ostringstream ignored;
    const bool haveCurrent = LoadDatabase(*current, Options.Output, ignored);
    if (haveCurrent && SameSources(*current, files, true)) {
      result.Status = usCurrent;
      return result;
    }
    // Each file is read as it arrives, so that one download at a time is
    // held in memory beside the blocks. The compiler is gone before the
    // file is written and loaded back to be checked.
    std::string file;
    {
      TDatabaseCompiler compiler;
      for (TDownload& d : files) {
        registry = d.Registry->Name;
        auto progress = [&](uint64_t Received, uint64_t Total) {
          return !Options.Progress || Options.Progress(registry, Received, Total);
        };
        std::string data;
        for (int attempt = 1;; ++attempt) {
          if (!progress(0, 0)) throw EAborted();
          data = FetchUrl(d.Url, kMaxDownload, progress);
          const std::string md5 = Md5Hex(data);
          if (md5 == d.Md5) break;
          if (attempt == kTries) {
            throw EKeslError("checksum mismatch: " + d.Name + " has MD5 " + md5 +
                             ", its .md5 file says " + d.Md5 +
                             " (a damaged or incomplete download), " + std::to_string(kTries) +
                             " tries");
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
        const size_t before = compiler.Blocks().size();
        compiler.AddData(d.Name, data, std::string(d.Registry->Token));
        // Reading takes a moment: an abort asked meanwhile is heard here.
        if (!progress(data.size(), data.size())) throw EAborted();
        // A page of some other kind (an error page served as the file) reads
        // as a file without data, which would take the registry's blocks away.
        if (compiler.Blocks().size() == before) {
          throw EKeslError(d.Name + ": no IPv4 delegations in the file");
        }
      }
      registry.clear();
      compiler.Finish(true);
      if (!Options.Force) {
        const std::string why =
            SuddenChange(*current, haveCurrent && SameSources(*current, files, false), compiler);
        if (!why.empty()) {
          throw EKeslError("refusing to replace " + Options.Output + ": " + why +
                           "; --force replaces it anyway");
        }
      }
      current.reset();
      result.Overlaps = compiler.Overlaps();
      result.Blocks = compiler.Blocks().size();
      result.Blocks6 = compiler.Blocks6().size();
      result.Date = compiler.HeaderDate("");
      if (!Options.IsoCodes.empty()) {
        try {
          compiler.LoadCountryNames(ReadWholeFile(Options.IsoCodes, kMaxDownload));
        } catch (const EKeslError&) {
          // Without the names the codes stand in for them.
        }
      }
      file = EncodeDatabaseFile(true, cmNone, result.Date, compiler.BinaryBody());
    }
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
