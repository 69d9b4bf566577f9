#include "dbbuild/exports.h"

#include <vector>

#include "dbbuild/exportinfo.h"
#include "dbbuild/mmdb.h"
#include "ipdb/blocktext.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
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

// Calls Line with each prefix of each block, IPv4 first, and the block.
template <typename TLine>
void ForEachPrefix(const TIPv4Database& Db, TLine Line) {
  for (const TIPv4Block& b : Db.Blocks) {
    for (const std::string& p : PrefixTexts(b)) Line(p, b);
  }
  for (const TIPv6Block& b : Db.IPv6.Blocks) {
    for (const std::string& p : PrefixTexts(b)) Line(p, b);
  }
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
              TIPv6Address FirstKey, TIPv6Address LastKey, const TBlock& Block) {
  Out += (Family == 4 ? "4," : "6,") + First + "," + Last + "," + HexKey(FirstKey) + "," +
         HexKey(LastKey) + "," + CsvField(EscapeControlChars(CodeToStr(Block.CountryCode))) + "," +
         CsvField(EscapeControlChars(Latin1ToUtf8(Block.Country->Name))) + "," +
         CsvField(EscapeControlChars(Block.Center->Name)) + "," + Date8Text(Block.Date) + "\r\n";
}

// Both families' blocks, one row each, merged by their keys. The IPv4
// addresses' keys are ::ffff:0:0/96, which kesl-lookup answers from the
// IPv4 blocks only: an IPv6 block over it is written as its parts around
// it, so that no two rows share a key.
std::string RangesExport(const TIPv4Database& Db) {
  constexpr TIPv6Address kMapped = TIPv6Address{0xFFFF} << 32;
  constexpr TIPv6Address kMappedLast = kMapped | 0xFFFFFFFFu;
  struct TPiece {
    TIPv6Address Start, Last;
    const TIPv6Block* Block;
  };
  std::vector<TPiece> v6;
  for (const TIPv6Block& b : Db.IPv6.Blocks) {
    if (b.Last < kMapped || b.Start > kMappedLast) {
      v6.push_back({b.Start, b.Last, &b});
      continue;
    }
    if (b.Start < kMapped) v6.push_back({b.Start, kMapped - 1, &b});
    if (b.Last > kMappedLast) v6.push_back({kMappedLast + 1, b.Last, &b});
  }
  std::string out = kRangesHeader;
  const auto& v4 = Db.Blocks;
  size_t i = 0, j = 0;
  while (i < v4.size() || j < v6.size()) {
    if (i < v4.size() && v4[i].Count == 0) {
      ++i;
      continue;
    }
    const bool four = i < v4.size() && (j == v6.size() || kMapped + v4[i].StartIP < v6[j].Start);
    if (four) {
      const TIPv4Block& b = v4[i++];
      RangeRow(out, 4, IPToStr(b.StartIP), IPToStr(b.LastIP()), kMapped + b.StartIP,
               kMapped + b.LastIP(), b);
    } else {
      const TPiece& p = v6[j++];
      RangeRow(out, 6, IPv6ToStr(p.Start), IPv6ToStr(p.Last), p.Start, p.Last, *p.Block);
    }
  }
  return out;
}

}  // namespace

std::string ExportDatabase(const TIPv4Database& Db, TExportFormat Format) {
  if (Format == efMmdb) return WriteMmdb(Db);
  if (Format == efRanges) return RangesExport(Db);
  std::string out;
  if (Format == efCsv) out += "network,country,country_name,registry,date\r\n";
  ForEachPrefix(Db, [&](const std::string& Prefix, const auto& Block) {
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
               CsvField(EscapeControlChars(Block.Center->Name)) + "," + Date8Text(Block.Date) +
               "\r\n";
        break;
      case efMmdb:
      case efRanges:
        break;
    }
  });
  return out;
}
