#include "dbbuild/exports.h"

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

}  // namespace

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
               CsvField(EscapeControlChars(Block.Center->Name)) + "," + Date8Text(Block.Date) +
               "\r\n";
        break;
      case efMmdb:
        break;
    }
  });
  return out;
}
