// The database file: header, body stream, binary sections and trailer,
// progress. The text body's reader is ipdb/textbody.cpp; the record layouts
// are the codec's (ipdb/format.h).
#include "ipdb/loader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

#include "ipdb/database.h"
#include "ipdb/format.h"
#include "ipdb/ipv6blocks.h"
#include "ipdb/loadcontext.h"
#include "ipdb/textbody.h"
#include "streams/ZLibStream.h"
#include "streams/bz2stream.h"
#include "streams/prefetch.h"
#include "streams/stream.h"
#include "tools/finally.h"
#include "tools/pages.h"

namespace {

// Room reserved up front for a section; a larger count grows the list as
// its records really arrive, so a lying count costs no memory.
constexpr int32_t kMaxReserve = 1 << 20;

void ReadExact(TStream& Stream, void* Buffer, int32_t Count) {
  if (Stream.Read(Buffer, Count) != Count) throw ETruncatedRecord();
}

int32_t ReadCount(TStream& Stream) {
  unsigned char b[4];
  ReadExact(Stream, b, 4);
  return static_cast<int32_t>(Get32(b));
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
// overlap, or that ends early makes the file invalid (ETruncatedRecord).
void ReadIPv6Entry(TStream& Stream, uint32_t Length, std::vector<TIPv6Block>& Blocks) {
  if (Length < 4) throw ETruncatedRecord();
  const auto n = static_cast<uint32_t>(ReadCount(Stream));
  if (n > kMaxIPv6Count || Length != 4 + uint64_t{n} * kIPv6RecordSize) throw ETruncatedRecord();
  // Order is checked among this entry's blocks: a database loaded twice
  // holds both files' blocks, as its IPv4 part does.
  const size_t first = Blocks.size();
  // Room for the whole count at once (at most 64 MB, by the bound above):
  // growing the list as records arrive copied it three times over for a
  // real file. Room that no record fills is never touched, so a count that
  // lies costs address space, not memory, as for the IPv4 records.
  ReserveLarge(Blocks, first + n);
  constexpr uint32_t kRun = 1024;
  unsigned char run[kRun * kIPv6RecordSize];
  for (uint32_t done = 0; done < n;) {
    const uint32_t count = std::min(kRun, n - done);
    ReadExact(Stream, run, static_cast<int32_t>(count * kIPv6RecordSize));
    for (uint32_t i = 0; i < count; ++i) {
      TIPv6Block b;
      DecodeIPv6Record(run + i * kIPv6RecordSize, b);
      if (b.Last < b.Start || (Blocks.size() > first && Blocks.back().Last >= b.Start)) {
        throw ETruncatedRecord();
      }
      Blocks.push_back(b);
    }
    done += count;
  }
}

// The registry entries of a trailer, by tag from ttHolders.
struct TRegistryEntryBytes {
  std::string Data[4];
};

// Length bytes into Data, in pieces as they arrive, so that a length that
// lies costs no more memory than the stream holds; false when it ends first.
bool ReadGrowing(TStream& Stream, uint32_t Length, std::string& Data) {
  Data.clear();
  constexpr uint32_t kPiece = 1 << 20;
  while (Data.size() < Length) {
    const size_t at = Data.size();
    const uint32_t n = std::min<uint32_t>(kPiece, Length - static_cast<uint32_t>(at));
    Data.resize(at + n);
    if (!TryRead(Stream, Data.data() + at, static_cast<int32_t>(n))) return false;
  }
  return true;
}

// The trailer after a binary body's sections. Its notes (the data's
// sources) are optional: a file that has none, or whose trailer is cut short
// or malformed in them, loads all the same, and nothing in it can make the
// load read without bound. The IPv6 blocks are checked as the sections are
// (the writer puts them first, so that damage in the notes cannot cost
// them); a second entry of them makes the file invalid. Returns the sources.
std::vector<TSource> ReadTrailer(TStream& Stream, std::vector<TIPv6Block>& IPv6,
                                 TRegistryEntryBytes& Registry) {
  unsigned char head[kTrailerHeadSize];
  uint32_t entries = 0;
  if (!TryRead(Stream, head, kTrailerHeadSize) || !DecodeTrailerHead(head, entries)) return {};
  if (entries > static_cast<uint32_t>(kMaxTrailerEntries)) return {};
  std::vector<TSource> sources;
  std::string kinds;
  bool ipv6 = false;
  for (uint32_t i = 0; i < entries; ++i) {
    unsigned char e[kEntryHeadSize];
    if (!TryRead(Stream, e, kEntryHeadSize)) break;
    uint16_t tag = 0;
    uint32_t length = 0;
    DecodeEntryHead(e, tag, length);
    if (tag == ttIPv6Blocks) {
      if (ipv6) throw ETruncatedRecord();
      ipv6 = true;
      ReadIPv6Entry(Stream, length, IPv6);
      continue;
    }
    if (tag >= ttHolders && tag <= ttFreeSpace) {
      if (length > kMaxRegistryEntrySize) break;
      std::string& data = Registry.Data[tag - ttHolders];
      if (!ReadGrowing(Stream, length, data)) break;
      continue;
    }
    if (length > kMaxProvenanceSize) break;
    std::string data(length, '\0');
    if (length && !TryRead(Stream, data.data(), static_cast<int32_t>(length))) break;
    if (tag == ttProvenance) sources = DecodeSources(data);
    if (tag == ttCountryKinds) kinds = std::move(data);
  }
  DecodeCountryKinds(kinds, sources);
  return sources;
}

}  // namespace

int64_t FilePos64(int Handle) { return ::lseek(Handle, 0, SEEK_CUR); }

int64_t FileSize64(int Handle) {
  struct stat st {};
  return ::fstat(Handle, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void TIPv4Database::ReadBody(const std::function<void(TLoadContext&)>& Read) {
  FIndexed = SIZE_MAX;
  // Whatever the body adds, the holdings no longer follow the blocks.
  Registry.Clear();
  if (FLoad) return Read(*FLoad);
  TLoadContext alone(Blocks, "", [this] { DoProgress(); });
  Read(alone);
}

void TIPv4Database::LoadFromTextStream(TStream& Stream) {
  ReadBody([&Stream](TLoadContext& Load) { ReadTextBody(Stream, Load); });
}

void TIPv4Database::ParseTextLine(const char* Line) {
  ReadBody([Line](TLoadContext& Load) { ParseTextBodyLine(Line, std::strlen(Line), false, Load); });
}

void TIPv4Database::LoadFromBinStream(TStream& Stream) {
  ReadBody([&](TLoadContext& Load) {
    // A count below zero or above its section's bound marks a broken or
    // hostile file, not an empty section.
    auto sectionCount = [&](int32_t Bound) {
      const int32_t n = ReadCount(Stream);
      if (n < 0 || n > Bound) Load.Invalid();
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
    const size_t before4 = Load.BlockCount(), before6 = IPv6.Blocks.size();
    ReserveLarge(Load.Blocks(), Load.BlockCount() + static_cast<size_t>(std::min(n, kMaxReserve)));
    constexpr int32_t kRun = 4096;
    std::unique_ptr<unsigned char[]> run(new unsigned char[kRun * kBlockRecordSize]);
    for (int32_t done = 0; done < n;) {
      const int32_t count = std::min(kRun, n - done);
      ReadExact(Stream, run.get(), count * kBlockRecordSize);
      for (int32_t i = 0; i < count; ++i) {
        TIPv4Block block;
        DecodeBlockRecord(run.get() + i * kBlockRecordSize, block);
        Load.Append(block);
      }
      done += count;
    }
    TRegistryEntryBytes registry;
    Sources = ReadTrailer(Stream, IPv6.Blocks, registry);
    // The holdings follow the file's own blocks: kept only when this file
    // is all the database holds, and dropped, with the rest, when they do
    // not fit them.
    if (before4 == 0 && before6 == 0) {
      std::string bytes;
      size_t sizes[4];
      for (int i = 0; i < 4; ++i) {
        sizes[i] = registry.Data[i].size();
        bytes += registry.Data[i];
      }
      if (!bytes.empty()) {
        Registry.Own(std::move(bytes), sizes, static_cast<uint32_t>(Load.BlockCount()),
                     static_cast<uint32_t>(IPv6.Blocks.size()));
      }
    }
  });
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
  TFileStream file(FileName);
  unsigned char bytes[kHeaderSize];
  THeader header;
  // A file that ends inside the header is as invalid as a wrong magic.
  if (file.Read(bytes, kHeaderSize) != kHeaderSize || !DecodeHeader(bytes, header)) {
    ThrowInvalidFile(FileName);
  }
  Created = header.Created;
  FileHandle = file.Handle();
  // The descriptor is closed with the file; its number must not outlive it.
  const TFinally forget([this] { FileHandle = -1; });
  FileSize = FileSize64(FileHandle);
  LastProgress = -1;

  TLoadContext load(
      Blocks, FileName,
      OnProgress ? std::function<void()>([this] { DoProgress(); }) : std::function<void()>());
  FLoad = &load;
  const TFinally unload([this] { FLoad = nullptr; });
  std::unique_ptr<TStream> adapter, ahead;
  if (header.Compression == cmZLib) adapter = std::make_unique<TZLibStream>(file);
  if (header.Compression == cmBZip2) adapter = std::make_unique<TBZ2Stream>(file, false);
  // A compressed text body is decompressed on another thread while its
  // lines are read: the two take about as long as each other.
  if (adapter && !header.Binary) ahead = std::make_unique<TPrefetchStream>(*adapter);
  TStream& body = ahead ? *ahead : adapter ? *adapter : file;
  try {
    if (!header.Binary) {
      // Lines run about 40 bytes, compressed about 6 to 1: room for the
      // blocks the file probably holds, so the list is not copied as it grows.
      const int64_t guess = adapter ? FileSize / 4 : FileSize / 32;
      Blocks.reserve(Blocks.size() + static_cast<size_t>(std::min<int64_t>(guess, kMaxReserve)));
      LoadFromTextStream(body);
    } else {
      LoadFromBinStream(body);
    }
  } catch (const ETruncatedRecord&) {
    load.Invalid();
  }
  ahead.reset();
  adapter.reset();
  SortAndLink(load.InOrder());
}

bool ReadCreated(const std::string& FileName, double& Created) {
  try {
    TFileStream file(FileName);
    unsigned char bytes[kHeaderSize];
    THeader header;
    if (file.Read(bytes, kHeaderSize) != kHeaderSize || !DecodeHeader(bytes, header)) return false;
    Created = header.Created;
    return true;
  } catch (const EKeslError&) {
    return false;
  }
}

bool LoadDatabase(TIPv4Database& Db, const std::string& FileName, std::ostream& Err) {
  try {
    Db.LoadFromFile(FileName);
    return true;
  } catch (const std::exception& e) {
    Err << e.what() << "\n";
    return false;
  }
}
