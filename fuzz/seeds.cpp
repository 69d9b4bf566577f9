// Writes the seed inputs of every fuzz target, one folder per target, from
// the project's own writer: kesl_fuzz_seeds OUTDIR.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "ipdb/countries.h"
#include "ipdb/encoder.h"
#include "ipdb/registries.h"
#include "ipdb/registrydata.h"
#include "streams/compress.h"

namespace {

void Write(const std::filesystem::path& Dir, const std::string& Name, const std::string& Data) {
  std::filesystem::create_directories(Dir);
  std::ofstream(Dir / Name, std::ios::binary) << Data;
}

TIPv4Block Block(uint32_t Start, uint32_t Count, const char* Cc, uint16_t Center) {
  TIPv4Block b;
  b.StartIP = Start;
  b.Count = Count;
  b.CountryCode = StrToCode(Cc[0], Cc[1]);
  b.CenterID = Center;
  b.Date = 20040101;
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path out = argc > 1 ? argv[1] : "seeds";
  const std::vector<TIPv4Block> blocks = {
      Block(0x01000000, 256, "AU", kApnicID), Block(0x08080800, 768, "US", kArinID),
      Block(0x29000000, 1 << 20, "ZA", kAfrinicID), Block(0xC0A80000, 256, "GB", kRipeID)};
  TNewCountry rs;
  rs.Code = StrToCode('R', 'S');
  rs.Name = "Serbia";
  const std::string bin = EncodeBinBody({{kAfrinicID, "AFRINIC"}}, {rs}, blocks);
  std::string text = "2|arin|20261201|3|19830101|20261130|-0500\narin|*|ipv4|*|3|summary\n";
  for (const TIPv4Block& b : blocks) {
    if (!TextRegistryToken(b.CenterID).empty()) {
      text += EncodeTextLine(b, TextRegistryToken(b.CenterID)) + "\r\n";
    }
  }
  text += "apnic|JP|ipv6|2001:200::|35|19990813|allocated\n";

  // Plain files the in-place reader takes: marked, with a file registry and
  // country, and an empty one.
  const std::string marked =
      bin +
      EncodeTrailer(
          {{ttSortedDisjoint, {}},
           {ttProvenance, EncodeSources({{"geoip", 20260626, std::string(32, 'a'), "CC BY-SA 4.0"},
                                         {"delegated", 0, "", ""}})}});
  Write(out / "inplace", "marked", EncodeDatabaseFile(true, cmNone, "20261201", marked));
  Write(out / "inplace", "empty",
        EncodeDatabaseFile(true, cmNone, "20261201",
                           EncodeBinBody({}, {}, {}) + EncodeTrailer({{ttSortedDisjoint, {}}})));
  Write(out / "inplace", "unmarked", EncodeDatabaseFile(true, cmNone, "20261201", bin));
  // IPv6 sections: ascending blocks of built-in and file registries, one
  // that reaches the top of the space, and ones out of order.
  std::vector<TIPv6Block> blocks6;
  for (const auto& [first, last, registry] :
       std::vector<std::tuple<const char*, const char*, uint16_t>>{
           {"::", "::ff", kIanaID},
           {"2001:db8::", "2001:db8::1:ffff", 7},
           {"2001:db8:0:1::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", kRipeID},
           {"ffff::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", kArinID}}) {
    TIPv6Block b;
    StrToIPv6(first, b.Start);
    StrToIPv6(last, b.Last);
    b.CountryCode = StrToCode('N', 'L');
    b.CenterID = registry;
    blocks6.push_back(b);
  }
  Write(out / "ipv6", "sorted", EncodeIPv6Blocks(blocks6));
  std::swap(blocks6[1], blocks6[2]);
  Write(out / "ipv6", "unsorted", EncodeIPv6Blocks(blocks6));
  Write(out / "ipv6", "empty", EncodeIPv6Blocks({}));
  Write(out / "inplace", "ipv6",
        EncodeDatabaseFile(true, cmNone, "20261201",
                           bin + EncodeTrailer({{ttSortedDisjoint, {}},
                                                {ttIPv6Blocks, EncodeIPv6Blocks(blocks6)}})));
  // The registries' data beside the blocks: holders, holdings, AS runs and
  // free space.
  {
    TRegistryTables t;
    t.Holders = {kRipeID, kArinID};
    for (size_t i = 0; i < blocks.size(); ++i)
      t.Holdings4.push_back({alAllocated, uint32_t(i % 2)});
    std::vector<TIPv6Block> sorted6 = blocks6;
    std::sort(sorted6.begin(), sorted6.end(),
              [](const TIPv6Block& a, const TIPv6Block& b) { return a.Start < b.Start; });
    for (size_t i = 0; i < sorted6.size(); ++i) t.Holdings6.push_back({alAssigned, 0});
    t.ASNs = {{64500, 4, 20200101, StrToCode('N', 'L'), kRipeID, {alAllocated, 0}},
              {64510, 70000, 0, 0, kArinID, {alAvailable, kNoHolder}}};
    t.Free4 = {{0x0A000000, 0x0AFFFFFF, 0, kRipeID, alReserved}};
    t.Free6 = {
        {TIPv6Address{0x2a01} << 112, (TIPv6Address{0x2a02} << 112) - 1, 0, kRipeID, alAvailable}};
    std::string storage;
    const TRegistryEntries e = EncodeRegistryTables(t, storage);
    const std::string file =
        EncodeDatabaseFile(true, cmNone, "20261201",
                           bin + EncodeTrailer({{ttIPv6Blocks, EncodeIPv6Blocks(sorted6)},
                                                {ttSortedDisjoint, {}},
                                                {ttHolders, std::string(e.Holders)},
                                                {ttHoldings, std::string(e.Holdings)},
                                                {ttASNs, std::string(e.ASNs)},
                                                {ttFreeSpace, std::string(e.Free)}}));
    Write(out / "inplace", "registry", file);
    Write(out / "loadfile", "registry", file);
  }
  for (TCompression c : {cmNone, cmZLib, cmBZip2}) {
    const std::string tag(1, static_cast<char>(c));
    Write(out / "loadfile", "bin" + tag, EncodeDatabaseFile(true, c, "20261201", bin));
    Write(out / "loadfile", "text" + tag, EncodeDatabaseFile(false, c, "20261201", text));
  }
  Write(out / "loadfile", "short", "IPBB10");
  Write(out / "textbody", "lines", text);
  Write(out / "textbody", "line", "ripencc|UK|IPv4|2.0.0.0|$100|2004-01-01|");
  Write(out / "binbody", "body", bin);
  Write(out / "binbody", "trailer", marked);
  Write(out / "binbody", "empty", std::string(12, '\0'));
  for (const char* t : {"127.0.0.1", "0x7f.1.$1.+1", "255.255.255.254", "1.2.3.4.5", " 10.0.0.1",
                        "99999999999999999999.1.1.1", "2001:db8::1", "::ffff:1.2.3.4",
                        "2a10:bf87:ad58:96d3:42f9:a039:c320:a473", "2A10:0f87::1:0:0:1"}) {
    Write(out / "strtoip", std::to_string(std::hash<std::string>()(t)), t);
  }
  Write(out / "streams", "zlib", std::string(1, '\x08') + ZLibCompress(text));
  Write(out / "streams", "bzip2", std::string(1, '\x09') + BZ2Compress(text));
  Write(out / "mkdb", "delegation", text + "afrinic|ZA|ipv4|41.0.0.0|256|20040101|allocated\n");
  Write(out / "mkdb", "ranges", "# geoip\n16777216,16777471,AU\n134744064,134744831,US\n");
  Write(out / "mkdb", "ranges6",
        "2001::,2001:0:ffff:ffff:ffff:ffff:ffff:ffff,??\n"
        "2001:200::,2001:200:ffff:ffff:ffff:ffff:ffff:ffff,JP\n");
  Write(out / "mkdb", "gzip", GZipCompress("16777216,16777471,AU\n"));
  Write(out / "mkdb", "iso", R"({"3166-1": [{"alpha_2": "RS", "name": "Serbia"}]})");
  Write(out / "delegation", "records",
        "ripencc|*|ipv4|*|2|summary\nripencc|NL|ipv4|5.1.0.0|256|20120101|allocated|A91-1\n"
        "ripencc|DE|ipv6|2a01::|32|20090101|assigned|A91-2\n"
        "ripencc|ZZ|ipv4|5.2.0.0|256||available||\nripencc|EU|asn|3333|1|19930901|allocated|A91-3\n"
        "arin|US|ipv4|3.0.0.0|16777216|19880223|assigned|x\n");
  // MaxMind DB: blocks as gaps and lengths, then IPv6 ones after 0xFF.
  Write(out / "mmdb", "both",
        std::string("\x01\x00\x00\x10\x00\x01\x00\x00\x03\x00\x00\x20\x00\x00\x02\x09"
                    "\x00\x00\x00\x00\x00\x00\x08\xff\x20\x01\x00\x00\x0d\xb8\x60\x00"
                    "\x00\xff\xff\x40\x11",
                    37));
  Write(out / "addrscan", "log",
        "203.0.113.9 - - [08/Dec/2026:12:34:56 +0000] \"GET /?ip=1.2.3.4 HTTP/1.1\" 200 512 "
        "\"-\" \"curl/8.5.0\"\n[2001:db8::1]:443 ::ffff:192.0.2.1 v1.2.3.4 1.2.3.4.5 01.2.3.4 "
        "256.1.1.1 :: 12:34:56 ip:10.0.0.1. fe80::1%eth0 1.2.3.4:80\n");
  Write(out / "addrscan", "long",
        std::string(200, '1') + ":1.2.3.4:" + std::string(100, 'a') + ":" + "2001:db8:0:0:0:0:0:1");
  return 0;
}
