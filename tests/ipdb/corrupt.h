// A database file in the making, with verbs that damage it, for the tests of
// broken and hostile files: set a byte, truncate, append junk, fail the read
// after N bytes; then load and see what came of it.
#pragma once

#include <optional>
#include <string>

#include "ipdb/database.h"
#include "ipdb/encoder.h"
#include "streams/ZLibStream.h"
#include "streams/bz2stream.h"
#include "streams/stream.h"
#include "testutil.h"

// The message of TFailingStream's read error, as a file stream words it.
constexpr char kDiskError[] = "Read error on \"country.ip4\". Input/output error";

// Reads from another stream until N bytes have passed; a read that reaches
// past them fails as a file stream's does when the disk gives an error.
class TFailingStream : public TStream {
 public:
  TFailingStream(TStream& Source, int32_t FailAfter) : FSource(Source), FLeft(FailAfter) {}
  int32_t Read(void* Buffer, int32_t Count) override {
    if (Count > FLeft) throw EReadError(kDiskError);
    const int32_t n = FSource.Read(Buffer, Count);
    FLeft -= n;
    return n;
  }
  int32_t Write(const void*, int32_t) override { throw EReadError("not writable"); }
  int32_t Seek(int32_t Offset, TSeekOrigin Origin) override { return FSource.Seek(Offset, Origin); }

 private:
  TStream& FSource;
  int32_t FLeft;
};

class CorruptFileTest : public testing::Test {
 protected:
  // Starts a new file: header and body, the body compressed as C says.
  void Make(bool Binary, const std::string& Body, TCompression C = cmNone,
            const char* Date = "20030501") {
    FBinary = Binary;
    FCompression = C;
    FFile = EncodeDatabaseFile(Binary, C, Date, Body);
    FFailAfter.reset();
  }
  void MakeBin(const std::string& Body, TCompression C = cmNone) { Make(true, Body, C); }
  void MakeText(const std::string& Body, TCompression C = cmNone) { Make(false, Body, C); }

  // The verbs. Offsets count from the start of the file, header included.
  void SetByte(size_t Offset, char Value) { FFile.at(Offset) = Value; }
  void Truncate(size_t Size) { FFile.resize(std::min(Size, FFile.size())); }
  void AppendJunk(const std::string& Junk) { FFile += Junk; }
  // The body's stream fails once N bytes of it (as stored) have been read.
  void FailReadAfter(int32_t N) { FFailAfter = N; }

  const std::string& Bytes() const { return FFile; }
  std::string Path() const { return FDir.Path("country.ip4"); }
  std::string WriteFile() const { return FDir.Write("country.ip4", FFile); }
  // The message of a file the loader refuses as not a database.
  std::string Invalid() const {
    return "The file " + Path() + " is not valid or unknown IPv4 database file";
  }

  // Loads the file into Db as the program does; "" when it loaded, else the
  // error's message. With FailReadAfter the body is read through a failing
  // stream and the adapter its header names.
  std::string Load(TIPv4Database& Db) {
    try {
      if (!FFailAfter) {
        Db.LoadFromFile(WriteFile());
        return "";
      }
      TMemoryStream stored(FFile.substr(kHeaderSize));
      TFailingStream failing(stored, *FFailAfter);
      std::optional<TZLibStream> zlib;
      std::optional<TBZ2Stream> bzip2;
      TStream* body = &failing;
      if (FCompression == cmZLib) body = &zlib.emplace(failing);
      if (FCompression == cmBZip2) body = &bzip2.emplace(failing, false);
      if (FBinary) {
        Db.LoadFromBinStream(*body);
      } else {
        Db.LoadFromTextStream(*body);
      }
      Db.SortAndLink();
      return "";
    } catch (const EKeslError& e) {
      return e.what();
    }
  }
  std::string Load() { return Load(FDb); }

  TTempDir FDir;
  TIPv4Database FDb;

 private:
  std::string FFile;
  bool FBinary = true;
  TCompression FCompression = cmNone;
  std::optional<int32_t> FFailAfter;
};
