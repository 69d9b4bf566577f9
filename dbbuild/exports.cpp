#include "dbbuild/exports.h"

#include <cstdio>

#include "dbbuild/mmdb.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "tools/address.h"
#include "tools/errors.h"
#include "tools/tools.h"

namespace {

// The day number of 1970-01-01.
constexpr int32_t kUnixDay = 25569;

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
    for (const TPrefix& p : b.Prefixes()) Line(PrefixText(p, nmCIDR), b);
  }
  for (const TIPv6Block& b : Db.IPv6.Blocks) {
    for (const TIPv6Prefix& p : b.Prefixes()) Line(IPv6PrefixText(p), b);
  }
}

}  // namespace

bool CountriesAreRegistered(const std::vector<TSource>& Sources) {
  if (Sources.empty()) return false;
  for (const TSource& s : Sources) {
    if (s.Name.rfind("delegated-", 0) != 0) return false;
  }
  return true;
}

uint64_t DatabaseEpoch(const TIPv4Database& Db) {
  const auto day = static_cast<int64_t>(Db.Created);
  return day > kUnixDay ? static_cast<uint64_t>(day - kUnixDay) * 86400 : 0;
}

std::string ExportDescription(const TIPv4Database& Db) {
  std::string text = "Kesl country database of " + DayNumberText(Db.Created);
  if (Db.Sources.empty()) return text + "; its sources are not recorded";
  text += " from";
  for (size_t i = 0; i < Db.Sources.size(); ++i) {
    text += (i ? "; " : " ") + SourceText(Db.Sources[i]);
  }
  return text;
}

std::string DateText(uint32_t Date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", Date / 10000 % 10000, Date / 100 % 100,
                Date % 100);
  return text;
}

std::string ExportDatabase(const TIPv4Database& Db, TExportFormat Format) {
  if (Format == efMmdb) return WriteMmdb(Db);
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
               CsvField(EscapeControlChars(Block.Center->Name)) + "," +
               (Block.Date ? DateText(Block.Date) : std::string()) + "\r\n";
        break;
      case efMmdb:
        break;
    }
  });
  return out;
}
