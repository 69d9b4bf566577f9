// Whole files: reading one, replacing one without ever leaving it half
// written, finding the program's own folder, and finding the database.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The whole file; EFOpenError or EReadError naming the file and the system's
// reason. A file larger than MaxSize raises EReadError before it is read.
std::string ReadWholeFile(const std::string& Path, size_t MaxSize);

// What marks the temporary files of ours beside a file being replaced:
// PATH.kesl-tmp-XXXXXX.
constexpr char kTempMark[] = ".kesl-tmp-";

// Writes Data to Path through a file beside it with a name of its own
// ("PATH.kesl-tmp-XXXXXX", made new, never followed, removed also when
// SIGTERM, SIGINT or SIGHUP ends the process, and by a later call when a
// killed run left it), flushed to disk, which Check
// (when given) may read and refuse before it is renamed over Path; then
// the folder is flushed too. Path keeps its mode (a new file gets 0644).
// On any failure the temporary file is removed, Path is left as it was,
// and the returned text says why; "" means Path holds Data now. A Path
// that exists and is neither a regular file nor a symbolic link (a
// device, a fifo, a socket, a folder) is refused; a symbolic link is
// replaced by the file, and its target left as it was.
std::string ReplaceFile(const std::string& Path, std::string_view Data,
                        const std::function<bool(const std::string& Temp)>& Check = {});

// What tells one file, and one state of it, from another: its device and
// inode, and its size and modification time, which a write in place
// changes.
struct TFileStamp {
  uint64_t Device = 0, Inode = 0;
  int64_t Size = -1, ModifiedNs = 0;
  bool SameFile(const TFileStamp& Other) const {
    return Device == Other.Device && Inode == Other.Inode;
  }
  bool operator==(const TFileStamp&) const = default;
};
// The stamp of an open file or of the file at Path (links followed); false
// when the system cannot say.
bool StampOf(int Fd, TFileStamp& Stamp);
bool StampOf(const std::string& Path, TFileStamp& Stamp);

// Whether a read of Fd would wait now: a pipe, a socket or a terminal with
// nothing to read and not at its end. A file never waits, nor does a
// descriptor the system cannot tell about.
bool ReadWouldWait(int Fd);

// The folder of the running executable, ending in '/'; "" when the system
// does not say.
std::string ExecutableDir();

// Creates the folders above Path that are missing, 0700; "" or why it
// failed.
std::string MakeParentDirs(const std::string& Path);

// The user's home folder: $HOME when it is an absolute path, else the
// password database's; "" when neither gives one.
std::string HomeDir();
// The user's own database, which the update writes:
// $XDG_DATA_HOME/kesl/country.ip4 (an absolute one), else
// HOME/.local/share/kesl/country.ip4; "" when there is no home folder.
std::string UserDatabasePath();

// Where the programs look for the database, in order: $KESL_DB, the user's
// database, country.ip4 beside the executable, the installed default
// (share/kesl/country.ip4 beside the bin folder the executable is in).
// Unset or empty places are left out.
std::vector<std::string> DatabaseSearchPath();
// The first of them that exists; when none does, the one beside the
// executable, so that the error names it.
std::string FindDatabase();
