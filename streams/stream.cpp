#include "streams/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/errors.h"

namespace {

std::string SystemText(int Code) { return std::strerror(Code); }

int32_t CheckedPosition(int64_t Pos) {
  if (Pos < 0 || Pos > std::numeric_limits<int32_t>::max()) {
    throw EReadError("Stream position out of range");
  }
  return static_cast<int32_t>(Pos);
}

}  // namespace

TFileStream::TFileStream(const std::string& FileName) : FFileName(FileName) {
  FHandle = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (FHandle < 0) {
    const int err = errno;
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + SystemText(err));
  }
  struct stat st {};
  if (::fstat(FHandle, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : (errno ? errno : EINVAL);
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + SystemText(err));
  }
  // Readers may share the file; a cooperating writer that asks for an
  // exclusive lock waits until the load is done. Advisory only, so a
  // failure to lock is not an error.
  ::flock(FHandle, LOCK_SH | LOCK_NB);
  FSize = st.st_size;
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  const off_t pos = ::lseek(FHandle, 0, SEEK_CUR);
  if (pos < 0 || pos >= FSize) return 0;
  size_t want = static_cast<size_t>(std::min<int64_t>(Count, FSize - pos));
  size_t got = 0;
  char* out = static_cast<char*>(Buffer);
  while (got < want) {
    const ssize_t n = ::read(FHandle, out + got, want - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EReadError("Read error on \"" + FFileName + "\". " + SystemText(errno));
    }
    if (n == 0) break;  // the file shrank while it was read
    got += static_cast<size_t>(n);
  }
  return static_cast<int32_t>(got);
}

int32_t TFileStream::Write(const void*, int32_t) { throw EReadError("Stream write error"); }

int32_t TFileStream::Seek(int32_t Offset, TSeekOrigin Origin) {
  const int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t pos = ::lseek(FHandle, Offset, whence);
  if (pos < 0) throw EReadError("Seek error on \"" + FFileName + "\". " + SystemText(errno));
  return CheckedPosition(pos);
}

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPos >= static_cast<int64_t>(FData.size())) return 0;
  const size_t n =
      std::min<size_t>(static_cast<size_t>(Count), FData.size() - static_cast<size_t>(FPos));
  std::memcpy(Buffer, FData.data() + FPos, n);
  FPos += static_cast<int64_t>(n);
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  const size_t end = static_cast<size_t>(FPos) + static_cast<size_t>(Count);
  if (end > FData.size()) FData.resize(end);
  std::memcpy(FData.data() + FPos, Buffer, static_cast<size_t>(Count));
  FPos = static_cast<int64_t>(end);
  return Count;
}

int32_t TMemoryStream::Seek(int32_t Offset, TSeekOrigin Origin) {
  const int64_t base = Origin == soBeginning ? 0
                       : Origin == soCurrent ? FPos
                                             : static_cast<int64_t>(FData.size());
  const int64_t pos = base + Offset;
  FPos = CheckedPosition(pos);
  return static_cast<int32_t>(FPos);
}
