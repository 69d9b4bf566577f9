// The byte-stream interface of the loader and the decompressing adapters,
// with a file stream over a POSIX descriptor and an in-memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A codec's return code checked against its table of texts: zero and
// positive codes pass, a negative one raises TError with Texts[Top - Code]
// ("unknown error" past the table's end).
template <typename TError, size_t N>
int32_t CheckCodecCode(int32_t Code, int32_t Top, const char* const (&Texts)[N]) {
  if (Code >= 0) return Code;
  const int64_t index = int64_t{Top} - Code;
  throw TError(index < static_cast<int64_t>(N) ? Texts[index] : "unknown error");
}

enum TSeekOrigin : uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Places up to Count bytes in Buffer and returns how many; fewer than
  // Count means the data has ended. Count <= 0 reads nothing.
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  // Moves the position and returns the new one.
  virtual int32_t Seek(int32_t Offset, TSeekOrigin Origin) = 0;

  int32_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int32_t Pos) { Seek(Pos, soBeginning); }
};

// A read-only file. Reads never run past the size the file had when it was
// opened, so a file that keeps growing cannot keep a reader busy forever.
class TFileStream : public TStream {
 public:
  // Throws EFOpenError with the system's reason when the file cannot be
  // opened or is not a regular file.
  explicit TFileStream(const std::string& FileName);
  ~TFileStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  // Not supported: raises EReadError.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Raises EReadError when the position does not fit 32 bits.
  int32_t Seek(int32_t Offset, TSeekOrigin Origin) override;

  int Handle() const { return FHandle; }
  // Size of the file when it was opened.
  int64_t Size() const { return FSize; }

 private:
  int FHandle = -1;
  int64_t FSize = 0;
  std::string FFileName;
};

// A stream over bytes held in memory; reads copy, writes append or overwrite.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string Data) : FData(std::move(Data)) {}

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, TSeekOrigin Origin) override;

  const std::string& Data() const { return FData; }

 private:
  std::string FData;
  int64_t FPos = 0;
};
