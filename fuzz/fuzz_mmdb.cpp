// The MaxMind DB writer: a database of both families made from the input,
// exported, and read back by libmaxminddb, an independent reader. Every
// block's edges and the addresses around them, and the IPv4 ones in their
// IPv4-mapped form, must answer there as the in-place reader answers them.
#include <arpa/inet.h>
#include <cstring>
#include <maxminddb.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "dbbuild/mmdb.h"
#include "fuzzcheck.h"
#include "ipdb/countries.h"
#include "ipdb/encoder.h"
#include "ipdb/inplace.h"
#include "ipdb/registries.h"
#include "streams/stream.h"

namespace {

// Takes bytes from the input, zeros past its end.
struct TBytes {
  const uint8_t* Data;
  size_t Size;
  size_t At = 0;
  uint32_t Take(int N) {
    uint32_t v = 0;
    for (int i = 0; i < N; ++i) v = v << 8 | (At < Size ? Data[At++] : 0);
    return v;
  }
  bool Left() const { return At < Size; }
};

constexpr const char* kCodes[] = {"US", "DE", "JP", "BR", "ZA", "AU", "NL", "GB"};
constexpr uint16_t kIDs[] = {kIanaID, kArinID, kRipeID, kApnicID, kLacnicID, kAfrinicID};

// The country code and registry libmaxminddb gives for an address, or ""
// for none.
std::string MmdbAnswer(MMDB_s& Mmdb, const std::string& Address) {
  int gai = 0, error = 0;
  MMDB_lookup_result_s r = MMDB_lookup_string(&Mmdb, Address.c_str(), &gai, &error);
  FUZZ_CHECK(gai == 0 && error == MMDB_SUCCESS);
  if (!r.found_entry) return "";
  MMDB_entry_data_s code{}, registry{}, special{};
  // An address in no block may have a record all the same: the name of the
  // special-purpose range that holds it, and nothing else.
  if (MMDB_get_value(&r.entry, &code, "country", "iso_code", nullptr) != MMDB_SUCCESS) {
    FUZZ_CHECK(MMDB_get_value(&r.entry, &special, "kesl", "special", nullptr) == MMDB_SUCCESS);
    FUZZ_CHECK(special.has_data && special.type == MMDB_DATA_TYPE_UTF8_STRING);
    return "";
  }
  FUZZ_CHECK(MMDB_get_value(&r.entry, &registry, "kesl", "registry", nullptr) == MMDB_SUCCESS);
  FUZZ_CHECK(code.has_data && code.type == MMDB_DATA_TYPE_UTF8_STRING);
  FUZZ_CHECK(registry.has_data && registry.type == MMDB_DATA_TYPE_UTF8_STRING);
  return std::string(code.utf8_string, code.data_size) + " " +
         std::string(registry.utf8_string, registry.data_size);
}

template <typename TBlock>
std::string Answer(const TBlock* B) {
  return B ? CodeToStr(B->CountryCode) + " " + B->Center->Name : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TBytes in{Data, Size};
  // IPv4 blocks: a gap and a length each, so that they are sorted and
  // disjoint; IPv6 ones the same over 64-bit halves.
  std::vector<TIPv4Block> blocks;
  uint64_t at = in.Take(1) << 24;
  while (in.Left() && blocks.size() < 64) {
    at += in.Take(3);
    const uint64_t count = 1 + (in.Take(3) << (in.Take(1) % 9));
    const uint32_t pick = in.Take(1);
    if (at + count > (uint64_t{1} << 32)) break;
    TIPv4Block b;
    b.StartIP = static_cast<uint32_t>(at);
    b.Count = static_cast<uint32_t>(count);
    b.CountryCode = StrToCode(kCodes[pick % 8][0], kCodes[pick % 8][1]);
    b.CenterID = kIDs[pick / 8 % 6];
    b.Date = pick & 1 ? 20200101 : 0;
    blocks.push_back(b);
    at += count;
    if (pick == 0xFF) break;  // the rest for IPv6
  }
  std::vector<TIPv6Block> blocks6;
  TIPv6Address at6 = TIPv6Address{in.Take(2)} << 112;
  while (in.Left() && blocks6.size() < 64) {
    const TIPv6Address step = TIPv6Address{in.Take(4)} << (in.Take(1) % 128);
    if (at6 + step < at6) break;
    at6 += step;
    const TIPv6Address size = TIPv6Address{in.Take(4)} << (in.Take(1) % 100);
    const uint32_t pick = in.Take(1);
    if (at6 + size < at6) break;
    TIPv6Block b;
    b.Start = at6;
    b.Last = at6 + size;
    b.CountryCode = StrToCode(kCodes[pick % 8][0], kCodes[pick % 8][1]);
    b.CenterID = kIDs[pick / 8 % 6];
    blocks6.push_back(b);
    if (b.Last == ~TIPv6Address{0}) break;
    at6 = b.Last + 1;
  }
  const std::string body =
      EncodeBinBody({{kAfrinicID, "AFRINIC"}}, {}, blocks) +
      EncodeTrailer({{ttSortedDisjoint, ""}, {ttIPv6Blocks, EncodeIPv6Blocks(blocks6)}});
  const std::string file = EncodeDatabaseFile(true, cmNone, "20261201", body);
  const auto mapped = TInPlaceDatabase::FromMemory(file.data(), file.size());
  FUZZ_CHECK(mapped);
  TIPv4Database db;
  TMemoryStream stream(body);
  db.LoadFromBinStream(stream);
  db.SortAndLink();
  // Created stays 0, a date before the Unix epoch, as a header of no valid
  // date gives: the export must still open.
  const std::string mmdb = WriteMmdb(db);

  char name[] = "/tmp/kesl-fuzz-mmdb-XXXXXX";
  const int fd = mkstemp(name);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(write(fd, mmdb.data(), mmdb.size()) == static_cast<ssize_t>(mmdb.size()));
  close(fd);
  MMDB_s reader{};
  const int opened = MMDB_open(name, MMDB_MODE_MMAP, &reader);
  unlink(name);
  if (opened != MMDB_SUCCESS) std::fprintf(stderr, "%s\n", MMDB_strerror(opened));
  FUZZ_CHECK(opened == MMDB_SUCCESS);

  std::vector<uint32_t> asked;
  for (const TIPv4Block& b : blocks) {
    for (const uint32_t ip : {b.StartIP, b.LastIP(), b.StartIP - 1, b.LastIP() + 1}) {
      asked.push_back(ip);
    }
  }
  for (const uint32_t ip : asked) {
    TIPv4Block found;
    const std::string want = Answer(mapped->Find(ip, found) ? &found : nullptr);
    FUZZ_CHECK(MmdbAnswer(reader, IPToStr(ip)) == want);
    FUZZ_CHECK(MmdbAnswer(reader, "::ffff:" + IPToStr(ip)) == want);
  }
  for (const TIPv6Block& b : blocks6) {
    for (const TIPv6Address ip : {b.Start, b.Last, b.Start - 1, b.Last + 1}) {
      // ::/96 holds the IPv4 part in the format, and ::ffff:0:0/96 leads
      // there: kesl-lookup answers those as IPv4 addresses or from the
      // IPv6 blocks, a MaxMind DB reader from the IPv4 ones.
      uint32_t v4;
      if (ip >> 32 == 0 || UnmapIPv4(ip, v4)) continue;
      TIPv6Block found;
      const std::string want = Answer(mapped->Find(ip, found) ? &found : nullptr);
      FUZZ_CHECK(MmdbAnswer(reader, IPv6ToStr(ip)) == want);
    }
  }
  MMDB_close(&reader);
  return 0;
}
