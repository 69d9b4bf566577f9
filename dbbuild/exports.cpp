#include "dbbuild/exports.h"

#include <vector>

#include "dbbuild/exportinfo.h"
#include "dbbuild/mmdb.h"
#include "ipdb/blocktext.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/special.h"
#include "tools/address.h"
#include "tools/errors.h"
#include "tools/text.h"
#include "tools/tools.h"

namespace {

bool CodeChar(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-';
}

// A country code that goes into a line as a word of its own.
std::string CodeWord(uint16_t Code) {
  const std::string code = CodeToStr(Code);
  if (!CodeChar(code[0]) || !CodeChar(code[1])) {
    throw EKeslError("the country code '" + EscapeControlChars(code) +
                     "' cannot be written in this form");
  }
  return code;
}

// Calls Line with each prefix of each block, IPv4 first, the block and
// its holding.
template <typename TLine>
void ForEachPrefix(const TIPv4Database& Db, int Family, TLine Line) {
  for (size_t i = 0; Family != 6 && i < Db.Blocks.size(); ++i) {
    const THolding h = Db.Registry.Holding4(static_cast<uint32_t>(i));
    for (const std::string& p : PrefixTexts(Db.Blocks[i])) Line(p, Db.Blocks[i], h);
  }
  for (size_t i = 0; Family != 4 && i < Db.IPv6.Blocks.size(); ++i) {
    const THolding h = Db.Registry.Holding6(static_cast<uint32_t>(i));
    for (const std::string& p : PrefixTexts(Db.IPv6.Blocks[i])) Line(p, Db.IPv6.Blocks[i], h);
  }
}

// The special-purpose range that holds all of First .. Last, or nullptr.
template <typename TAddress>
const TSpecialRange* SpecialOf(TAddress First, TAddress Last) {
  const TSpecialRange* s = FindSpecial(First);
  return s == FindSpecial(Last) ? s : nullptr;
}

const TSpecialRange* SpecialOf(const TIPv4Block& B) { return SpecialOf(B.StartIP, B.LastIP()); }
const TSpecialRange* SpecialOf(const TIPv6Block& B) { return SpecialOf(B.Start, B.Last); }

// The CSV columns after the date: allocation, holder, the holder's AS
// numbers (comma-joined), the special-purpose range; empty when unknown.
std::string FactColumns(const TRegistryData& Registry, const THolding& H,
                        const TSpecialRange* Special) {
  // Most rows know nothing of these: no texts made for them.
  if (H.Status == alUnknown && H.Holder == kNoHolder && !Special) return ",,,,";
  std::string asns;
  if (H.Holder != kNoHolder) {
    for (const TASNRecord& r : Registry.HolderASNs(H.Holder)) {
      for (uint64_t as = r.First; as <= r.Last(); ++as) {
        (asns += asns.empty() ? "" : ",") += std::to_string(as);
      }
    }
  }
  return "," + std::string(AllocationName(H.Status)) + "," +
         CsvField(EscapeControlChars(Registry.HolderText(H.Holder))) + "," + CsvField(asns) + "," +
         CsvField(Special ? std::string(Special->Name) : std::string());
}

// The 32 lowercase hex digits of an address's 128 bits.
std::string HexKey(TIPv6Address Address) {
  static const char kHex[] = "0123456789abcdef";
  std::string key(32, '0');
  for (int i = 31; i >= 0; --i, Address >>= 4) key[static_cast<size_t>(i)] = kHex[Address & 15];
  return key;
}

// One row of the ranges export.
template <typename TBlock>
void RangeRow(std::string& Out, int Family, const std::string& First, const std::string& Last,
              TIPv6Address FirstKey, TIPv6Address LastKey, const TBlock& Block,
              const std::string& Facts) {
  Out += (Family == 4 ? "4," : "6,") + First + "," + Last + "," + HexKey(FirstKey) + "," +
         HexKey(LastKey) + "," + CsvField(EscapeControlChars(CodeToStr(Block.CountryCode))) + "," +
         CsvField(EscapeControlChars(Latin1ToUtf8(Block.Country->Name))) + "," +
         CsvField(EscapeControlChars(Block.Center->Name)) + "," + Date8Text(Block.Date) + Facts +
         "\r\n";
}

// Both families' blocks, one row each, merged by their keys. The IPv4
// addresses' keys are ::ffff:0:0/96, which kesl-lookup answers from the
// IPv4 blocks only: an IPv6 block over it is written as its parts around
// it, so that no two rows share a key.
std::string RangesExport(const TIPv4Database& Db, int Family) {
  constexpr TIPv6Address kMapped = TIPv6Address{0xFFFF} << 32;
  constexpr TIPv6Address kMappedLast = kMapped | 0xFFFFFFFFu;
  struct TPiece {
    TIPv6Address Start, Last;
    const TIPv6Block* Block;
    uint32_t Index;
  };
  std::vector<TPiece> v6;
  for (uint32_t i = 0; Family != 4 && i < Db.IPv6.Blocks.size(); ++i) {
    const TIPv6Block& b = Db.IPv6.Blocks[i];
    if (b.Last < kMapped || b.Start > kMappedLast) {
      v6.push_back({b.Start, b.Last, &b, i});
      continue;
    }
    if (b.Start < kMapped) v6.push_back({b.Start, kMapped - 1, &b, i});
    if (b.Last > kMappedLast) v6.push_back({kMappedLast + 1, b.Last, &b, i});
  }
  std::string out = kRangesHeader;
  const auto& v4 = Db.Blocks;
  size_t i = Family == 6 ? v4.size() : 0, j = 0;
  while (i < v4.size() || j < v6.size()) {
    if (i < v4.size() && v4[i].Count == 0) {
      ++i;
      continue;
    }
    const bool four = i < v4.size() && (j == v6.size() || kMapped + v4[i].StartIP < v6[j].Start);
    if (four) {
      const TIPv4Block& b = v4[i];
      const std::string facts =
          FactColumns(Db.Registry, Db.Registry.Holding4(static_cast<uint32_t>(i++)), SpecialOf(b));
      RangeRow(out, 4, IPToStr(b.StartIP), IPToStr(b.LastIP()), MapIPv4(b.StartIP),
               MapIPv4(b.LastIP()), b, facts);
    } else {
      const TPiece& p = v6[j++];
      RangeRow(out, 6, IPv6ToStr(p.Start), IPv6ToStr(p.Last), p.Start, p.Last, *p.Block,
               FactColumns(Db.Registry, Db.Registry.Holding6(p.Index), SpecialOf(*p.Block)));
    }
  }
  return out;
}

}  // namespace

std::string ExportDatabase(const TIPv4Database& Db, TExportFormat Format, int Family) {
  if (Format == efMmdb) return WriteMmdb(Db);
  if (Format == efRanges) return RangesExport(Db, Family);
  std::string out;
  if (Format == efCsv) out += kCsvHeader;
  ForEachPrefix(
      Db, Family, [&](const std::string& Prefix, const auto& Block, const THolding& Holding) {
        switch (Format) {
          case efNginx:
            out += Prefix + " " + CodeWord(Block.CountryCode) + ";\n";
            break;
          case efHaproxy:
            out += Prefix + " " + CodeWord(Block.CountryCode) + "\n";
            break;
          case efCsv:
            out += Prefix + "," + CsvField(EscapeControlChars(CodeToStr(Block.CountryCode))) + "," +
                   CsvField(EscapeControlChars(Latin1ToUtf8(Block.Country->Name))) + "," +
                   CsvField(EscapeControlChars(Block.Center->Name)) + "," + Date8Text(Block.Date);
            out += FactColumns(Db.Registry, Holding, SpecialOf(Block)) + "\r\n";
            break;
          case efMmdb:
          case efRanges:
            break;
        }
      });
  return out;
}
