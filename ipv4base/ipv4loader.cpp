// The database file: header, body stream, binary records, progress.
#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "ipv4base/ipv4base.h"
#include "ipv4base/ipv4format.h"
#include "ipv4base/ipv6base.h"
#include "streams/ZLibStream.h"
#include "streams/bz2stream.h"
#include "streams/stream.h"
#include "tools/tools.h"

namespace {

// Room reserved up front for a section; a larger count grows the list as
// its records really arrive, so a lying count costs no memory.
constexpr int32_t kMaxReserve = 1 << 20;

// Thrown by the record readers for a body that ends inside a record;
// LoadFromFile turns it into the "not valid" message with the file name.
class ETruncated : public EDatabaseError {
 public:
  ETruncated() : EDatabaseError("The database body ends inside a record") {}
};

void ReadExact(TStream& Stream, void* Buffer, int32_t Count) {
  if (Stream.Read(Buffer, Count) != Count) throw ETruncated();
}

uint16_t Get16(const unsigned char* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }

uint32_t Get32(const unsigned char* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) |
         (static_cast<uint32_t>(P[2]) << 16) | (static_cast<uint32_t>(P[3]) << 24);
}

uint16_t Read16(TStream& Stream) {
  unsigned char b[2];
  ReadExact(Stream, b, 2);
  return Get16(b);
}

int32_t ReadCount(TStream& Stream) {
  unsigned char b[4];
  ReadExact(Stream, b, 4);
  return static_cast<int32_t>(Get32(b));
}

std::string ReadCountedText(TStream& Stream) {
  unsigned char n;
  ReadExact(Stream, &n, 1);
  std::string text(n, '\0');
  if (n) ReadExact(Stream, text.data(), n);
  return text;
}

void DecodeBlock(const unsigned char* P, TIPv4Block& B) {
  B.StartIP = Get32(P);
  B.Count = Get32(P + 4);
  B.Date = Get32(P + 8);
  B.CountryCode = Get16(P + 12);
  B.CenterID = Get16(P + 14);
}

// A read of a trailer entry that may fail: false for a stream that ends or
// fails.
bool TryRead(TStream& Stream, void* Buffer, int32_t Count) try {
  return Stream.Read(Buffer, Count) == Count;
} catch (const EKeslError&) {
  return false;
}

// The IPv6 blocks of a trailer entry Length bytes long. Unlike the rest of
// the trailer they are data, not notes about it: an entry whose count does
// not fit its length or its bound, whose blocks do not ascend without
// overlap, or that ends early makes the file invalid (ETruncated).
void ReadIPv6Entry(TStream& Stream, uint32_t Length, std::vector<TIPv6Block>& Blocks) {
  if (Length < 4) throw ETruncated();
  const auto n = static_cast<uint32_t>(ReadCount(Stream));
  if (n > kMaxIPv6Count || Length != 4 + uint64_t{n} * kIPv6RecordSize) throw ETruncated();
  // Order is checked among this entry's blocks: a database loaded twice
  // holds both files' blocks, as its IPv4 part does.
  const size_t first = Blocks.size();
  // A count that lies costs at most the room for 65,536 blocks (4 MB); a
  // larger section grows as its records arrive.
  Blocks.reserve(first + std::min<size_t>(n, 1 << 16));
  constexpr uint32_t kRun = 1024;
  unsigned char run[kRun * kIPv6RecordSize];
  for (uint32_t done = 0; done < n;) {
    const uint32_t count = std::min(kRun, n - done);
    ReadExact(Stream, run, static_cast<int32_t>(count * kIPv6RecordSize));
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char* r = run + i * kIPv6RecordSize;
      TIPv6Block b;
      b.Start = IPv6FromBytes(r);
      b.Last = IPv6FromBytes(r + 16);
      b.Date = Get32(r + 32);
      b.CountryCode = Get16(r + 36);
      b.CenterID = Get16(r + 38);
      if (b.Last < b.Start || (Blocks.size() > first && Blocks.back().Last >= b.Start)) {
        throw ETruncated();
      }
      Blocks.push_back(b);
    }
    done += count;
  }
}

// The trailer after a binary body's sections. Its notes (the data's
// sources) are optional: a file that has none, or whose trailer is cut short
// or malformed in them, loads all the same, and nothing in it can make the
// load read without bound. The IPv6 blocks are checked as the sections are
// (the writer puts them first, so that damage in the notes cannot cost
// them); a second entry of them makes the file invalid. Returns the sources.
std::vector<TSource> ReadTrailer(TStream& Stream, std::vector<TIPv6Block>& IPv6) {
  unsigned char head[8];
  if (!TryRead(Stream, head, 8) || std::memcmp(head, kTrailerMagic, kMagicSize) != 0) return {};
  const uint32_t entries = Get32(head + 4);
  if (entries > static_cast<uint32_t>(kMaxTrailerEntries)) return {};
  std::vector<TSource> sources;
  bool ipv6 = false;
  for (uint32_t i = 0; i < entries; ++i) {
    unsigned char e[6];
    if (!TryRead(Stream, e, 6)) break;
    const uint16_t tag = Get16(e);
    const uint32_t length = Get32(e + 2);
    if (tag == ttIPv6Blocks) {
      if (ipv6) throw ETruncated();
      ipv6 = true;
      ReadIPv6Entry(Stream, length, IPv6);
      continue;
    }
    if (length > kMaxProvenanceSize) break;
    std::string data(length, '\0');
    if (length && !TryRead(Stream, data.data(), static_cast<int32_t>(length))) break;
    if (tag == ttProvenance) sources = DecodeSources(data);
  }
  return sources;
}

}  // namespace

int64_t FilePos64(int Handle) { return ::lseek(Handle, 0, SEEK_CUR); }

int64_t FileSize64(int Handle) {
  struct stat st {};
  return ::fstat(Handle, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void TIPv4Center::LoadFromStream(TStream& Stream) {
  ID = Read16(Stream);
  Name = ReadCountedText(Stream);
}

void TIPv4Country::LoadFromStream(TStream& Stream) {
  Code = Read16(Stream);
  Name = ReadCountedText(Stream);
  Capital = ReadCountedText(Stream);
  Region = ReadCountedText(Stream);
  Currency = ReadCountedText(Stream);
  unsigned char b[8];
  ReadExact(Stream, b, 8);
  const uint64_t bits = Get32(b) | (static_cast<uint64_t>(Get32(b + 4)) << 32);
  std::memcpy(&Population, &bits, sizeof Population);
}

void TIPv4Block::LoadFromStream(TStream& Stream) {
  unsigned char b[kBlockRecordSize];
  ReadExact(Stream, b, kBlockRecordSize);
  DecodeBlock(b, *this);
}

void TIPv4Database::InvalidFile() const {
  if (FFileName.empty()) throw EDatabaseError("The data is not a valid IPv4 database body");
  throw EDatabaseError("The file " + FFileName + " is not valid or unknown IPv4 database file");
}

void TIPv4Database::LoadFromBinStream(TStream& Stream) {
  // A count below zero or above its section's bound marks a broken or
  // hostile file, not an empty section.
  auto sectionCount = [&](int32_t Bound) {
    const int32_t n = ReadCount(Stream);
    if (n < 0 || n > Bound) InvalidFile();
    return n;
  };
  // Registries and countries: one record at a time, each its own object.
  // Their keys are 16 bits wide, so no more than 65,536 can mean anything;
  // a country costs some 200 bytes in memory against 14 on disk.
  auto readRecords = [&](auto& List) {
    using TItem = typename std::decay_t<decltype(List)>::value_type::element_type;
    const int32_t count = sectionCount(kMaxKeyedCount);
    List.reserve(List.size() + static_cast<size_t>(std::min(count, kMaxReserve)));
    for (int32_t i = 0; i < count; ++i) {
      auto item = std::make_unique<TItem>();
      item->LoadFromStream(Stream);
      List.push_back(std::move(item));
    }
  };
  readRecords(Centers);
  readRecords(Countries);
  // Blocks come in runs of whole records read at once: one adapter call
  // per run instead of five per record.
  const int32_t n = sectionCount(kMaxSectionCount);
  Blocks.reserve(Blocks.size() + static_cast<size_t>(std::min(n, kMaxReserve)));
  constexpr int32_t kRun = 4096;
  std::unique_ptr<unsigned char[]> run(new unsigned char[kRun * kBlockRecordSize]);
  for (int32_t done = 0; done < n;) {
    const int32_t count = std::min(kRun, n - done);
    ReadExact(Stream, run.get(), count * kBlockRecordSize);
    for (int32_t i = 0; i < count; ++i) {
      TIPv4Block block;
      DecodeBlock(run.get() + i * kBlockRecordSize, block);
      AppendBlock(block);
    }
    done += count;
  }
  Sources = ReadTrailer(Stream, IPv6.Blocks);
}

void TIPv4Database::DoProgress() {
  if (!OnProgress) return;
  int64_t value = FileSize > 0 ? FilePos64(FileHandle) * 1000 / FileSize : 0;
  value = std::clamp<int64_t>(value, 0, 1000);  // the file may have changed size
  if (value != LastProgress) {
    LastProgress = static_cast<int32_t>(value);
    OnProgress(*this, LastProgress);
  }
}

void TIPv4Database::LoadFromFile(const std::string& FileName) {
  FFileName = FileName;
  const TFinally noFile([this] { FFileName.clear(); });
  TFileStream file(FileName);
  unsigned char header[kHeaderSize];
  // A file that ends inside the header is as invalid as a wrong magic.
  if (file.Read(header, kHeaderSize) != kHeaderSize) InvalidFile();
  const bool text = std::memcmp(header, kTextMagic, kMagicSize) == 0;
  if (!text && std::memcmp(header, kBinaryMagic, kMagicSize) != 0) InvalidFile();
  const char compression = static_cast<char>(header[kCompressionOffset]);
  if (header[kVersionOffset] != kVersionMajor || header[kVersionOffset + 1] != kVersionMinor ||
      (compression != cmNone && compression != cmZLib && compression != cmBZip2)) {
    InvalidFile();
  }
  Created = DecodeHeaderDate(header);
  FileHandle = file.Handle();
  // The descriptor is closed with the file; its number must not outlive it.
  const TFinally forget([this] { FileHandle = -1; });
  FileSize = FileSize64(FileHandle);
  LastProgress = -1;
  FInOrder = Blocks.empty() ? 0 : SIZE_MAX;

  std::unique_ptr<TStream> adapter;
  if (compression == cmZLib) adapter = std::make_unique<TZLibStream>(file);
  if (compression == cmBZip2) adapter = std::make_unique<TBZ2Stream>(file, false);
  TStream& body = adapter ? *adapter : file;
  try {
    if (text) {
      // Lines run about 40 bytes, compressed about 6 to 1: room for the
      // blocks the file probably holds, so the list is not copied as it grows.
      const int64_t guess = adapter ? FileSize / 4 : FileSize / 32;
      Blocks.reserve(Blocks.size() + static_cast<size_t>(std::min<int64_t>(guess, kMaxReserve)));
      LoadFromTextStream(body);
    } else {
      LoadFromBinStream(body);
    }
  } catch (const ETruncated&) {
    InvalidFile();
  }
  adapter.reset();
  const bool inOrder = FInOrder == Blocks.size();
  FInOrder = SIZE_MAX;
  SortAndLink(inOrder);
}
