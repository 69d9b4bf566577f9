#include "tools/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/errors.h"

namespace {

// The temporary files being written, so that SIGTERM, SIGINT and SIGHUP
// (systemd stops a unit with SIGTERM) remove them before the process ends.
// Slots are taken and given back outside the handler; it only reads them.
// Zeros made by the compiler, not by code at start-up: the 32 kB the slots
// take are then not touched by a run that writes no file (a lookup), each
// of their pages a fault less.
struct TTempSlot {
  std::atomic<bool> Used{false};
  char Path[PATH_MAX] = {};
};
constexpr int kTempSlots = 8;
constinit TTempSlot gTemps[kTempSlots];

void RemoveTempsAndDie(int Signal) {
  for (TTempSlot& slot : gTemps) {
    if (slot.Used.load(std::memory_order_acquire)) ::unlink(slot.Path);
  }
  ::signal(Signal, SIG_DFL);
  ::raise(Signal);
}

// Handlers for the three signals, where nothing else has one (a signal the
// process ignores stays ignored).
void InstallTempHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) {
      struct sigaction old {};
      if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = RemoveTempsAndDie;
      sigemptyset(&action.sa_mask);
      ::sigaction(s, &action, nullptr);
    }
  });
}

// A temporary file noted for the handler while it exists; -1 when all
// slots are taken (it is then removed on every way out but a signal).
class TNotedTemp {
 public:
  explicit TNotedTemp(const std::string& Path) {
    if (Path.size() >= PATH_MAX) return;
    InstallTempHandlers();
    for (int i = 0; i < kTempSlots; ++i) {
      bool free = false;
      if (!gTemps[i].Used.compare_exchange_strong(free, true)) continue;
      // Written while marked used but not yet filled: a signal now would
      // unlink a stale name at worst, which no file of ours has.
      std::memcpy(gTemps[i].Path, Path.c_str(), Path.size() + 1);
      FSlot = i;
      return;
    }
  }
  TNotedTemp(const TNotedTemp&) = delete;
  TNotedTemp& operator=(const TNotedTemp&) = delete;
  ~TNotedTemp() {
    if (FSlot >= 0) gTemps[FSlot].Used.store(false, std::memory_order_release);
  }

 private:
  int FSlot = -1;
};

// Temporary files of ours beside Path that an earlier run left (killed
// with SIGKILL, or the machine stopped): named PATH.kesl-tmp-XXXXXX, at
// least a minute old, and not locked, as each is by the run that writes
// it. A file some running process holds is never removed.
void RemoveLeftTemps(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : Path.substr(0, slash + 1);
  const std::string prefix = Path.substr(slash == std::string::npos ? 0 : slash + 1) + kTempMark;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const time_t old = ::time(nullptr) - 60;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string path = (slash == std::string::npos ? "" : dir) + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < old &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::unlink(path.c_str());
    }
    ::close(fd);
  }
  ::closedir(d);
}

// Closes a descriptor on every way out.
class TDescriptor {
 public:
  explicit TDescriptor(int Fd) : FFd(Fd) {}
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  ~TDescriptor() {
    if (FFd >= 0) ::close(FFd);
  }
  int Get() const { return FFd; }
  // Closes now; false when the system reports an error (a write it could
  // not finish).
  bool Close() {
    const int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0;
  }

 private:
  int FFd;
};

}  // namespace

std::string ReadWholeFile(const std::string& Path, size_t MaxSize) {
  TDescriptor fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) throw EFOpenError("Cannot read " + Path + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0)
    throw EReadError("Cannot read " + Path + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw EFOpenError("Cannot read " + Path + ": " + std::strerror(EISDIR));
  std::string data;
  if (S_ISREG(st.st_mode)) data.reserve(std::min<size_t>(static_cast<size_t>(st.st_size), MaxSize));
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Cannot read " + Path + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    if (data.size() + static_cast<size_t>(n) > MaxSize) {
      throw EReadError("Cannot read " + Path + ": larger than " + std::to_string(MaxSize) +
                       " bytes");
    }
    data.append(buf, static_cast<size_t>(n));
  }
  return data;
}

std::string ReplaceFile(const std::string& Path, std::string_view Data,
                        const std::function<bool(const std::string& Temp)>& Check) {
  // A name of its own beside Path, made with O_EXCL: two writers never
  // share one, and nothing planted at a name is followed or overwritten.
  // What is not a file is never replaced by one: a device (as root,
  // /dev/full would become a file), a fifo, a socket, a folder. A symbolic
  // link is replaced, its target left alone.
  struct stat there {};
  if (::lstat(Path.c_str(), &there) == 0 && !S_ISREG(there.st_mode) && !S_ISLNK(there.st_mode)) {
    return "cannot write " + Path + ": it is not a regular file, and is not replaced by one";
  }
  RemoveLeftTemps(Path);
  std::string temp = Path + kTempMark + "XXXXXX";
  TDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.Get() < 0) return "cannot write " + Path + kTempMark + "XXXXXX: " + std::strerror(errno);
  // Locked while it is written: a later run removes it only when no
  // process holds it.
  ::flock(fd.Get(), LOCK_EX);
  const TNotedTemp noted(temp);
  auto fail = [&](const std::string& Why) {
    ::unlink(temp.c_str());
    return Why;
  };
  // The file keeps the mode it has; a new one gets 0644.
  struct stat st {};
  const mode_t mode =
      ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & 07777 : 0644;
  if (::fchmod(fd.Get(), mode) != 0) {
    return fail("cannot write " + temp + ": " + std::strerror(errno));
  }
  for (size_t done = 0; done < Data.size();) {
    const ssize_t n = ::write(fd.Get(), Data.data() + done, Data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("cannot write " + temp + ": " + std::strerror(n < 0 ? errno : ENOSPC));
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.Get()) != 0 || !fd.Close()) {
    return fail("cannot write " + temp + ": " + std::strerror(errno));
  }
  if (Check && !Check(temp)) return fail("the written file " + temp + " was refused");
  if (::rename(temp.c_str(), Path.c_str()) != 0) {
    return fail("cannot write " + Path + ": " + std::strerror(errno));
  }
  // The rename lasts only once the folder is on disk too.
  const size_t slash = Path.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : Path.substr(0, slash);
  TDescriptor folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() >= 0) ::fsync(folder.Get());
  return {};
}

namespace {

TFileStamp StampFrom(const struct stat& St) {
  TFileStamp s;
  s.Device = St.st_dev;
  s.Inode = St.st_ino;
  s.Size = St.st_size;
  s.ModifiedNs = static_cast<int64_t>(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
  return s;
}

}  // namespace

bool StampOf(int Fd, TFileStamp& Stamp) {
  struct stat st {};
  if (::fstat(Fd, &st) != 0) return false;
  Stamp = StampFrom(st);
  return true;
}

bool StampOf(const std::string& Path, TFileStamp& Stamp) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return false;
  Stamp = StampFrom(st);
  return true;
}

bool ReadWouldWait(int Fd) {
  pollfd p{Fd, POLLIN, 0};
  int n;
  while ((n = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
  }
  return n == 0;
}

std::string ExecutableDir() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  // Unknown: no folder at all, rather than whatever folder the user is in.
  if (n <= 0) return {};
  std::string p(path, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/') + 1);
}

std::string MakeParentDirs(const std::string& Path) {
  for (size_t slash = Path.find('/', 1); slash != std::string::npos;
       slash = Path.find('/', slash + 1)) {
    const std::string dir = Path.substr(0, slash);
    // As the XDG base directory rules ask: folders only the user can enter.
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create " + dir + ": " + std::strerror(errno);
    }
  }
  return {};
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  // A relative or empty HOME would put the data wherever the user stands.
  if (home && home[0] == '/') return home;
  const struct passwd* user = ::getpwuid(::getuid());
  if (user && user->pw_dir && user->pw_dir[0] == '/') return user->pw_dir;
  return {};
}

std::string UserDatabasePath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  // XDG base directories must be absolute paths; others are ignored.
  if (data && data[0] == '/') return std::string(data) + "/kesl/country.ip4";
  const std::string home = HomeDir();
  if (!home.empty()) return home + "/.local/share/kesl/country.ip4";
  return {};
}

std::vector<std::string> DatabaseSearchPath() {
  std::vector<std::string> path;
  const char* env = std::getenv("KESL_DB");
  if (env && env[0]) path.emplace_back(env);
  const std::string user = UserDatabasePath();
  if (!user.empty()) path.push_back(user);
  const std::string exe = ExecutableDir();
  if (!exe.empty()) {
    path.push_back(exe + "country.ip4");
#ifdef KESL_INSTALLED_DATABASE
    path.push_back(exe + KESL_INSTALLED_DATABASE);
#endif
  }
  return path;
}

std::string FindDatabase() {
  const std::vector<std::string> path = DatabaseSearchPath();
  for (const std::string& p : path) {
    if (::access(p.c_str(), F_OK) == 0) return p;
  }
  // None exists: the one beside the executable, so that the error names
  // the place a database is looked for first by default.
  const std::string exe = ExecutableDir();
  if (!exe.empty()) return exe + "country.ip4";
  return path.empty() ? std::string() : path.back();
}
