// The compiler's input readers: content sniffing, registry delegation files
// and range files.
#include "dbbuild/readers.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "dbbuild/allocations.h"
#include "ipdb/countries.h"
#include "ipdb/delegationline.h"
#include "ipdb/registries.h"
#include "tools/errors.h"
#include "tools/text.h"
#include "tools/tools.h"

namespace {

bool IsLetter(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }

bool ParseU64(std::string_view S, uint64_t& V) {
  if (S.empty()) return false;
  const auto r = std::from_chars(S.data(), S.data() + S.size(), V);
  return r.ec == std::errc() && r.ptr == S.data() + S.size();
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

// The holder of a record: its opaque id, numbered by the sink; none when
// the sink keeps none or the id is missing or not a plain token.
uint32_t Holder(const TInputSink& Sink, uint16_t Registry, const TDelegationLine& F) {
  const std::string_view id = F.Count > dfOpaqueId ? F[dfOpaqueId] : std::string_view();
  if (!Sink.HolderOf || id.empty() || id.size() > kMaxHolderId ||
      !std::all_of(id.begin(), id.end(), [](char c) { return c > ' ' && c < 127; })) {
    return kNoHolder;
  }
  return Sink.HolderOf(Registry, id);
}

std::string LowerText(std::string Text) {
  for (char& c : Text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return Text;
}

}  // namespace

void ReadDelegationText(const std::string& Name, uint32_t File, std::string_view Text,
                        const TInputSink& Sink) {
  const auto& skip = Sink.Skipped;
  // The file's own registry: the one it came from, else its version line's.
  uint16_t own = Sink.OwnRegistry.empty() ? 0 : Sink.RegistryOf(Sink.OwnRegistry);
  // Records by type as the summary lines announce them and as read.
  std::map<std::string, uint64_t> announced, records;
  const uint64_t lines = ForEachLine(Text, [&](std::string_view Line, uint64_t N) {
    Sink.Lines(Name, N, false);
    if (Line.empty() || Line.find_first_not_of(" \t") == std::string_view::npos)
      return skip("blank");
    if (Line[0] == '#') return skip("comment");
    const TDelegationLine f = SplitDelegationLine(Line);
    if (f.Count >= 6 && !f[dvVersion].empty() &&
        f[dvVersion].find_first_not_of("0123456789.") == std::string_view::npos) {
      // version|registry|serial|records|startdate|enddate|UTCoffset
      uint32_t d = ReadDate8(f[dvEndDate]);
      if (!d) d = ReadDate8(f[dvSerial]);
      if (d > Sink.LatestDate) {
        throw EKeslError(Name + ": the version line is dated " + std::to_string(d) +
                         ", after tomorrow");
      }
      const uint16_t named = Sink.RegistryOf(f[dvRegistry]);
      if (own && named != own) {
        throw EKeslError(Name + ": the version line names the registry " +
                         std::string(f[dvRegistry]) + ", not " + std::string(Sink.OwnRegistry));
      }
      // A registry's own file holds its records only; a combined file (the
      // NRO's "nro") holds all of theirs.
      const TRegistryInfo* known = FindRegistry(f[dvRegistry]);
      if (known && !known->StatsUrl.empty()) own = named;
      Sink.DataDate(d);
      return skip("version");
    }
    if (f.Count >= 6 && (f[dsSummary] == kSummaryMark || f[dfStart] == "*")) {
      uint64_t n;
      if (f[dsSummary] == kSummaryMark && ParseU64(f[dsCount], n)) {
        // Counts past any file's size stay there instead of wrapping.
        uint64_t& total = announced[AsciiUpperText(f[dsType])];
        total = n > UINT64_MAX - total ? UINT64_MAX : total + n;
      }
      return skip("summary");
    }
    if (f.Count >= 3) ++records[AsciiUpperText(f[dfType])];
    if (f.Count <= dfStatus) return skip("malformed");
    const bool ipv6 = IsRecordType(f[dfType], kIPv6Type);
    const bool asn = IsRecordType(f[dfType], kASNType);
    if (!ipv6 && !asn && !IsRecordType(f[dfType], kIPv4Type)) return skip("not IPv4 or IPv6");
    const TAllocation status = AllocationOf(f[dfStatus]);
    const bool free = status == alAvailable || status == alReserved;
    if (status == alUnknown) return skip(asn ? "not IPv4 or IPv6" : "other status");
    // A registry's file lists its own delegations only.
    const uint16_t registry = Sink.RegistryOf(f[dfRegistry]);
    if (own && registry != own) return skip("other registry");
    uint16_t country = 0;
    // ZZ is the registries' mark for a country not known; free space has
    // none.
    const bool hasCountry = InputCountry(f[dfCountry], country) && country != StrToCode('Z', 'Z');
    if (!hasCountry) country = 0;
    if (!hasCountry && !free && !asn) return skip("no country");
    // No registry dates a delegation in the future.
    const uint32_t date = ReadDate8(f[dfDate]);
    if (date > Sink.LatestDate) return skip("malformed");
    const uint32_t holder = free ? kNoHolder : Holder(Sink, registry, f);
    uint64_t count;
    if (asn) {
      TInputASN a;
      uint64_t first;
      if (!ParseU64(f[dfStart], first) || !ParseU64(f[dfValue], count) || count == 0 ||
          first + count > (uint64_t{1} << 32) || (!free && count > kLargestASNRun)) {
        return skip("malformed");
      }
      a.Start = static_cast<uint32_t>(first);
      a.Count = static_cast<uint32_t>(count);
      a.Date = date;
      a.Country = free ? 0 : country;
      a.Registry = registry;
      a.File = File;
      a.Line = static_cast<uint32_t>(N);
      a.Status = status;
      a.Holder = holder;
      if (Sink.ASN) Sink.ASN(a);
      return skip("not IPv4 or IPv6");
    }
    if (ipv6) {
      // The count of an IPv6 line is its prefix length; the registries are
      // given /12 at the most.
      TInputBlock6 b;
      if (!StrToIPv6(f[dfStart], b.Start) || !ParseU64(f[dfValue], count) || count > 128 ||
          count < kShortestIPv6Prefix) {
        return skip("malformed");
      }
      const TIPv6Address host = IPv6HostMask(static_cast<int>(count));
      if (b.Start & host) return skip("malformed");
      b.Last = b.Start | host;
      b.Country = country;
      b.Date = date;
      b.Registry = registry;
      b.File = File;
      b.Line = static_cast<uint32_t>(N);
      b.Status = status;
      b.Holder = holder;
      if (!free) return Sink.Block6(b);
      if (Sink.Free6) Sink.Free6(b);
      return skip(status == alAvailable ? "available" : "reserved");
    }
    TInputBlock b;
    b.Country = country;
    // A registry delegates a /8 at the most, from a strict dotted quad.
    if (!ReadDottedQuad(f[dfStart], b.Start) || !ParseU64(f[dfValue], count) || count == 0 ||
        b.Start + count > (uint64_t{1} << 32) || count > kLargestIPv4Count) {
      return skip("malformed");
    }
    b.Count = static_cast<uint32_t>(count);
    b.Date = date;
    b.Registry = registry;
    b.File = File;
    b.Line = static_cast<uint32_t>(N);
    b.Status = status;
    b.Holder = holder;
    if (!free) return Sink.Block(b);
    if (Sink.Free) Sink.Free(b);
    skip(status == alAvailable ? "available" : "reserved");
  });
  // A file cut at a line end, with its checksum cut along, still holds
  // summary lines that count what was there.
  for (const auto& [type, n] : announced) {
    const uint64_t held = records.count(type) ? records.at(type) : 0;
    if (held != n) {
      throw EKeslError(Name + ": its summary counts " + std::to_string(n) + " " + LowerText(type) +
                       " records, the file holds " + std::to_string(held));
    }
  }
  Sink.Lines(Name, lines, true);
}

namespace {

// Reads a range file's lines "first,last,CC": Parse reads an address,
// AddRange adds the blocks of a good line.
template <typename TAddress, typename TParse, typename TAddRange>
void ReadRanges(const std::string& Name, uint32_t File, std::string_view Text,
                const TInputSink& Sink, TParse Parse, TAddRange AddRange) {
  const auto& skip = Sink.Skipped;
  const uint64_t lines = ForEachLine(Text, [&](std::string_view Line, uint64_t N) {
    Sink.Lines(Name, N, false);
    if (Line.empty()) return skip("blank");
    if (Line[0] == '#') return skip("comment");
    const auto f = SplitText(Line, ',');
    TAddress lo, hi;
    if (f.size() != 3 || !Parse(f[0], lo) || !Parse(f[1], hi) || lo > hi || f[2].size() != 2) {
      return skip("malformed");
    }
    uint16_t country;
    if (f[2] == "??" || !InputCountry(f[2], country)) return skip("no country");
    AddRange(lo, hi, country, File, static_cast<uint32_t>(N));
  });
  Sink.Lines(Name, lines, true);
}

}  // namespace

void ReadRangeText(const std::string& Name, uint32_t File, std::string_view Text,
                   const TInputSink& Sink) {
  auto parse = [](std::string_view S, uint64_t& V) { return ParseU64(S, V) && V <= 0xFFFFFFFFu; };
  ReadRanges<uint64_t>(
      Name, File, Text, Sink, parse,
      [&Sink](uint64_t lo, uint64_t hi, uint16_t Country, uint32_t File, uint32_t Line) {
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
          Sink.Block(b);
          at = end + 1;
        }
      });
}

void ReadRangeText6(const std::string& Name, uint32_t File, std::string_view Text,
                    const TInputSink& Sink) {
  auto parse = [](std::string_view S, TIPv6Address& V) { return StrToIPv6(S, V); };
  ReadRanges<TIPv6Address>(
      Name, File, Text, Sink, parse,
      [&Sink](TIPv6Address lo, TIPv6Address hi, uint16_t Country, uint32_t File, uint32_t Line) {
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
          Sink.Block6(b);
          if (b.Last == hi) break;
          at = b.Last + 1;
        }
      });
}

TInputKind SniffInput(std::string_view Data) {
  if (Data.size() >= 2 && static_cast<unsigned char>(Data[0]) == 0x1F &&
      static_cast<unsigned char>(Data[1]) == 0x8B) {
    return ikGzip;
  }
  if (Data.substr(0, 3) == "BZh") return ikBzip2;
  // The first line that is neither blank nor a comment tells the kind.
  std::string_view first;
  ForEachLine(Data, [&](std::string_view Line, uint64_t) {
    if (first.empty() && !Line.empty() && Line[0] != '#') first = Line;
  });
  if (first.find('|') != std::string_view::npos) return ikDelegation;
  const auto f = SplitText(first, ',');
  uint64_t v;
  if (f.size() == 3 && ParseU64(f[0], v) && ParseU64(f[1], v)) return ikRanges;
  TIPv6Address a;
  if (f.size() == 3 && StrToIPv6(f[0], a) && StrToIPv6(f[1], a)) return ikRanges6;
  return first.empty() ? ikEmpty : ikUnknown;
}
