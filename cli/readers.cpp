// The compiler's input readers: content sniffing and decompression, registry
// delegation files, range files, and the /8 table that gives range data its
// registries.
#include <algorithm>
#include <charconv>
#include <sys/stat.h>

#include "cli/compiler.h"
#include "ipv4base/ipv4notation.h"
#include "ipv4base/ipv6base.h"
#include "ipv4base/registries.h"
#include "streams/compress.h"
#include "tools/errors.h"
#include "tools/files.h"
#include "tools/md5.h"
#include "tools/tools.h"

namespace {

// One letter per /8, as the registry table names them: A ARIN, R RIPE NCC,
// P APNIC, L LACNIC, F AFRINIC, '.' reserved or special-purpose (IANA).
constexpr char kSlash8Letters[] =
    ".PRAARAAAA.AAAPAAAAAAAAAARAPAAAR"  // 0-31
    "AAAAPRAPAFPPAARAAPARARRAARPPPPRA"  // 32-63
    "AAAAAAAAAAAAARRRRRRRRRRRRRRRRRRR"  // 64-95
    "AAAAAPFPAFPAARPPPPPPPPPPPPPPPPP."  // 96-127
    "AAALAPAAARAAARAAARRRAAPRAAFAFRRR"  // 128-159
    "AAAPRAAAAALRAAAPRLRLPLPPARLLRLLL"  // 160-191
    "ARRRFFAALLPPAAAAAAPPRRAAARPPPPPP"  // 192-223
    "................................"  // 224-255
    ;
static_assert(sizeof kSlash8Letters == 257);

std::array<uint16_t, 256> MakeSlash8Table() {
  std::array<uint16_t, 256> t{};
  for (size_t i = 0; i < t.size(); ++i) {
    const TRegistryInfo* r = RegistryByLetter(kSlash8Letters[i]);
    if (!r) throw EKeslError("The /8 table names no registry");
    t[i] = r->ID;
  }
  return t;
}

// IANA's IPv6 unicast address assignments to the registries, ascending; the
// space between them (special-purpose, 6to4, reserved) is IANA's own.
struct TIPv6Assignment {
  const char* Prefix;
  int Bits;
  char Registry;  // a letter as in the /8 table
};
constexpr TIPv6Assignment kIPv6Assignments[] = {
    {"2001:200::", 23, 'P'},  {"2001:400::", 23, 'A'},  {"2001:600::", 23, 'R'},
    {"2001:800::", 22, 'R'},  {"2001:c00::", 23, 'P'},  {"2001:e00::", 23, 'P'},
    {"2001:1200::", 23, 'L'}, {"2001:1400::", 22, 'R'}, {"2001:1800::", 23, 'A'},
    {"2001:1a00::", 23, 'R'}, {"2001:1c00::", 22, 'R'}, {"2001:2000::", 20, 'R'},
    {"2001:3000::", 21, 'R'}, {"2001:3800::", 22, 'R'}, {"2001:4000::", 23, 'R'},
    {"2001:4200::", 23, 'F'}, {"2001:4400::", 23, 'P'}, {"2001:4600::", 23, 'R'},
    {"2001:4800::", 23, 'A'}, {"2001:4a00::", 23, 'R'}, {"2001:4c00::", 23, 'R'},
    {"2001:5000::", 20, 'R'}, {"2001:8000::", 19, 'P'}, {"2001:a000::", 20, 'P'},
    {"2001:b000::", 20, 'P'}, {"2003::", 18, 'R'},      {"2400::", 12, 'P'},
    {"2600::", 12, 'A'},      {"2610::", 23, 'A'},      {"2620::", 23, 'A'},
    {"2630::", 12, 'A'},      {"2800::", 12, 'L'},      {"2a00::", 12, 'R'},
    {"2a10::", 12, 'R'},      {"2c00::", 12, 'F'},
};

struct TIPv6Span {
  TIPv6Address First, Last;
  uint16_t Registry;
};

std::vector<TIPv6Span> MakeIPv6Table() {
  std::vector<TIPv6Span> t;
  for (const TIPv6Assignment& a : kIPv6Assignments) {
    TIPv6Address first;
    const TRegistryInfo* r = RegistryByLetter(a.Registry);
    if (!StrToIPv6(a.Prefix, first) || !r) throw EKeslError("The IPv6 table is broken");
    const TIPv6Address last = first | IPv6HostMask(a.Bits);
    if (!t.empty() && t.back().Last >= first) throw EKeslError("The IPv6 table is not in order");
    t.push_back({first, last, r->ID});
  }
  return t;
}

// Inputs, and what they inflate to, are read whole: bounded so that a
// compressed bomb cannot take the machine's memory.
constexpr uint64_t kMaxInputSize = uint64_t{1} << 30;

std::string UpperText(std::string_view S) {
  std::string u(S);
  for (char& c : u) c = AsciiUpper(c);
  return u;
}

bool IsLetter(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }

bool ParseU64(std::string_view S, uint64_t& V) {
  if (S.empty()) return false;
  const auto r = std::from_chars(S.data(), S.data() + S.size(), V);
  return r.ec == std::errc() && r.ptr == S.data() + S.size();
}

// yyyymmdd as a number when the text is a valid date, else 0.
uint32_t DateValue(std::string_view S) {
  uint64_t v;
  if (S.size() != 8 || !ParseU64(S, v)) return 0;
  const int y = static_cast<int>(v / 10000), m = static_cast<int>(v / 100 % 100),
            d = static_cast<int>(v % 100);
  return EncodeDayNumber(y, m, d) < 0 ? 0 : static_cast<uint32_t>(v);
}

// Calls Fn for each line without its line end; returns the line count.
template <typename Fn>
uint64_t ForEachLine(std::string_view Text, Fn F) {
  uint64_t n = 0;
  size_t pos = 0;
  while (pos < Text.size()) {
    size_t end = Text.find('\n', pos);
    if (end == std::string_view::npos) end = Text.size();
    std::string_view line = Text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    F(line, ++n);
    pos = end + 1;
  }
  return n;
}

// A country field of an input: two letters.
bool InputCountry(std::string_view Field, uint16_t& Code) {
  return Field.size() == 2 && IsLetter(Field[0]) && IsLetter(Field[1]) &&
         ParseCountryCode(Field, Code);
}

}  // namespace

const std::array<uint16_t, 256> kSlash8Registry = MakeSlash8Table();

uint16_t IPv6Registry(TIPv6Address Address, TIPv6Address& End) {
  static const std::vector<TIPv6Span> table = MakeIPv6Table();
  const auto next =
      std::upper_bound(table.begin(), table.end(), Address,
                       [](TIPv6Address A, const TIPv6Span& S) { return A < S.First; });
  if (next != table.begin() && std::prev(next)->Last >= Address) {
    End = std::prev(next)->Last;
    return std::prev(next)->Registry;
  }
  End = next == table.end() ? ~TIPv6Address{0} : next->First - 1;
  return kIanaID;
}

uint16_t TDatabaseCompiler::RegistryID(std::string_view Name) {
  // Registries' files name themselves by token ("ripencc"), users by name.
  const TRegistryInfo* known = RegistryByToken(Name);
  if (!known) known = RegistryByName(Name);
  if (known) return known->ID;
  const std::string upper = UpperText(Name);
  const auto it = FNewRegistries.find(upper);
  if (it != FNewRegistries.end()) return it->second;
  uint16_t next = std::size(kRegistries) ? kRegistries[std::size(kRegistries) - 1].ID : 0;
  for (const auto& [n, id] : FNewRegistries) next = std::max(next, id);
  ++next;
  FNewRegistries.emplace(upper, next);
  return next;
}

void TDatabaseCompiler::AddFile(const std::string& Path) {
  const std::string data = ReadWholeFile(Path, kMaxInputSize);
  struct stat st {};
  const bool timed = ::stat(Path.c_str(), &st) == 0;
  if (timed) FNewestFileTime = std::max<int64_t>(FNewestFileTime, st.st_mtime);
  AddData(Path, data);
  // Data without a version line is as old as its file.
  if (timed && FSources.back().Date == 0) FSources.back().Date = DateOfTime(st.st_mtime);
}

void TDatabaseCompiler::AddData(const std::string& Name, std::string_view Data) {
  TSource source;
  source.Name = Name.substr(Name.rfind('/') + 1);
  source.Md5 = Md5Hex(Data);
  FSourceVersionDate = 0;
  AddContent(Name, Data);
  source.Date = FSourceVersionDate;
  FSources.push_back(std::move(source));
}

void TDatabaseCompiler::AddContent(const std::string& Name, std::string_view Data) {
  if (Data.size() >= 2 && static_cast<unsigned char>(Data[0]) == 0x1F &&
      static_cast<unsigned char>(Data[1]) == 0x8B) {
    try {
      const std::string plain = GZipDecompress(Data, kMaxInputSize);
      return AddContent(Name, plain);
    } catch (const EKeslError& e) {
      throw EKeslError(Name + ": gzip data: " + e.what());
    }
  }
  if (Data.substr(0, 3) == "BZh") {
    try {
      const std::string plain = BZ2Decompress(Data, kMaxInputSize);
      return AddContent(Name, plain);
    } catch (const EKeslError& e) {
      throw EKeslError(Name + ": bzip2 data: " + e.what());
    }
  }
  // The first line that is neither blank nor a comment tells the kind.
  std::string_view first;
  ForEachLine(Data, [&](std::string_view Line, uint64_t) {
    if (first.empty() && !Line.empty() && Line[0] != '#') first = Line;
  });
  if (first.find('|') != std::string_view::npos) return AddDelegationText(Name, Data);
  const auto f = SplitText(first, ',');
  uint64_t v;
  if (f.size() == 3 && ParseU64(f[0], v) && ParseU64(f[1], v)) return AddRangeText(Name, Data);
  TIPv6Address a;
  if (f.size() == 3 && StrToIPv6(f[0], a) && StrToIPv6(f[1], a)) return AddRangeText6(Name, Data);
  if (first.empty()) throw EKeslError(Name + ": no data");
  throw EKeslError(Name + ": neither a registry delegation file nor a range file");
}

void TDatabaseCompiler::AddDelegationText(const std::string& Name, std::string_view Text) {
  const uint32_t file = static_cast<uint32_t>(FFiles.size());
  FFiles.push_back(Name);
  const uint64_t lines = ForEachLine(Text, [&](std::string_view Line, uint64_t N) {
    ShowProgress(Name, N, false);
    if (Line.empty() || Line.find_first_not_of(" \t") == std::string_view::npos)
      return Skip("blank");
    if (Line[0] == '#') return Skip("comment");
    const auto f = SplitText(Line, '|');
    if (f.size() >= 6 && !f[0].empty() &&
        f[0].find_first_not_of("0123456789.") == std::string_view::npos) {
      // version|registry|serial|records|startdate|enddate|UTCoffset
      uint32_t d = DateValue(f[5]);
      if (!d) d = DateValue(f[2]);
      FNewestVersionDate = std::max(FNewestVersionDate, d);
      FSourceVersionDate = std::max(FSourceVersionDate, d);
      return Skip("version");
    }
    if (f.size() >= 6 && (f[5] == "summary" || f[3] == "*")) return Skip("summary");
    if (f.size() < 7) return Skip("malformed");
    const std::string type = UpperText(f[2]);
    if (type != "IPV4" && type != "IPV6") return Skip("not IPv4 or IPv6");
    const std::string status = UpperText(f[6]);
    if (status == "AVAILABLE") return Skip("available");
    if (status == "RESERVED") return Skip("reserved");
    if (status != "ALLOCATED" && status != "ASSIGNED") return Skip("other status");
    uint16_t country;
    // ZZ is the registries' mark for a country not known.
    if (!InputCountry(f[1], country) || country == StrToCode('Z', 'Z')) return Skip("no country");
    uint64_t count;
    if (type == "IPV6") {
      // The count of an IPv6 line is its prefix length.
      TInputBlock6 b;
      if (!StrToIPv6(f[3], b.Start) || !ParseU64(f[4], count) || count > 128) {
        return Skip("malformed");
      }
      const TIPv6Address host = IPv6HostMask(static_cast<int>(count));
      if (b.Start & host) return Skip("malformed");
      b.Last = b.Start | host;
      b.Country = country;
      b.Date = DateValue(f[5]);
      b.Registry = RegistryID(f[0]);
      b.File = file;
      b.Line = static_cast<uint32_t>(N);
      return Add(b);
    }
    TInputBlock b;
    b.Country = country;
    b.Start = StrToIP(f[3]);
    if (b.Start == 0xFFFFFFFFu || !ParseU64(f[4], count) || count == 0 ||
        b.Start + count > (uint64_t{1} << 32) || count > 0xFFFFFFFFu) {
      return Skip("malformed");
    }
    b.Count = static_cast<uint32_t>(count);
    b.Date = DateValue(f[5]);
    b.Registry = RegistryID(f[0]);
    b.File = file;
    b.Line = static_cast<uint32_t>(N);
    Add(b);
  });
  ShowProgress(Name, lines, true);
}

template <typename TAddress, typename TParse, typename TAddRange>
void TDatabaseCompiler::AddRanges(const std::string& Name, std::string_view Text, TParse Parse,
                                  TAddRange AddRange) {
  const uint32_t file = static_cast<uint32_t>(FFiles.size());
  FFiles.push_back(Name);
  const uint64_t lines = ForEachLine(Text, [&](std::string_view Line, uint64_t N) {
    ShowProgress(Name, N, false);
    if (Line.empty()) return Skip("blank");
    if (Line[0] == '#') return Skip("comment");
    const auto f = SplitText(Line, ',');
    TAddress lo, hi;
    if (f.size() != 3 || !Parse(f[0], lo) || !Parse(f[1], hi) || lo > hi || f[2].size() != 2) {
      return Skip("malformed");
    }
    uint16_t country;
    if (f[2] == "??" || !InputCountry(f[2], country)) return Skip("no country");
    AddRange(lo, hi, country, file, static_cast<uint32_t>(N));
  });
  ShowProgress(Name, lines, true);
}

void TDatabaseCompiler::AddRangeText(const std::string& Name, std::string_view Text) {
  auto parse = [](std::string_view S, uint64_t& V) { return ParseU64(S, V) && V <= 0xFFFFFFFFu; };
  AddRanges<uint64_t>(
      Name, Text, parse,
      [this](uint64_t lo, uint64_t hi, uint16_t Country, uint32_t File, uint32_t Line) {
        // Ranges carry no registry: each /8 belongs to the one that administers it.
        for (uint64_t at = lo; at <= hi;) {
          const uint16_t reg = kSlash8Registry[at >> 24];
          uint64_t end = at | 0xFFFFFF;
          while (end < hi && kSlash8Registry[(end + 1) >> 24] == reg) end += 0x1000000;
          end = std::min(end, hi);
          TInputBlock b;
          b.Start = static_cast<uint32_t>(at);
          b.Count = static_cast<uint32_t>(end - at + 1);
          b.Country = Country;
          b.Registry = reg;
          b.File = File;
          b.Line = Line;
          Add(b);
          at = end + 1;
        }
      });
}

void TDatabaseCompiler::AddRangeText6(const std::string& Name, std::string_view Text) {
  auto parse = [](std::string_view S, TIPv6Address& V) { return StrToIPv6(S, V); };
  AddRanges<TIPv6Address>(
      Name, Text, parse,
      [this](TIPv6Address lo, TIPv6Address hi, uint16_t Country, uint32_t File, uint32_t Line) {
        // As for IPv4, each piece of the range gets the registry its part of
        // the space is assigned to.
        for (TIPv6Address at = lo;;) {
          TIPv6Address end;
          TInputBlock6 b;
          b.Registry = IPv6Registry(at, end);
          b.Start = at;
          b.Last = std::min(end, hi);
          b.Country = Country;
          b.File = File;
          b.Line = Line;
          Add(b);
          if (b.Last == hi) break;
          at = b.Last + 1;
        }
      });
}
