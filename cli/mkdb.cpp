#include "cli/mkdb.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "cli/dbinfo.h"
#include "ipv4base/ipv4base.h"
#include "ipv4base/ipv4writer.h"
#include "streams/compress.h"
#include "tools/tools.h"

namespace {

// One letter per /8: A ARIN, R RIPE NCC, P APNIC, L LACNIC, F AFRINIC,
// '.' reserved or special-purpose (IANA).
constexpr char kSlash8Letters[] =
    ".PRAARAAAA.AAAPAAAAAAAAAARAPAAAR"  // 0-31
    "AAAAPRAPAFPPAARAAPARARAAARPPPPRA"  // 32-63
    "AAAAAAAAAAAAARRRRRRRRRRRRRRRRRRR"  // 64-95
    "AAAAAPFPAFPAARPPPPPPPPPPPPPPPPP."  // 96-127
    "AAAAAPAAAAAAARAAARAAAAPRAPFAAAAA"  // 128-159
    "AAAPAAAAAAAPAAAPRLRLPLPPARLLRLLL"  // 160-191
    "ARRRFFAALLPPAAAAAAPPRRAAARPPPPPP"  // 192-223
    "................................"  // 224-255
    ;
static_assert(sizeof kSlash8Letters == 257);

constexpr std::array<uint8_t, 256> MakeSlash8Table() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    switch (kSlash8Letters[i]) {
      case 'A': t[i] = 2; break;
      case 'R': t[i] = 3; break;
      case 'P': t[i] = 4; break;
      case 'L': t[i] = 5; break;
      case 'F': t[i] = kAfrinicID; break;
      default: t[i] = 0; break;
    }
  }
  return t;
}

constexpr uint64_t kMaxInputSize = uint64_t{1} << 30;

std::string ReadWholeFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  if (!f) throw EKeslError("Cannot read " + Path + ": " + std::strerror(errno));
  std::ostringstream s;
  s << f.rdbuf();
  if (f.bad()) throw EKeslError("Cannot read " + Path);
  return std::move(s).str();
}

char Upper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 32) : C; }

std::string UpperText(std::string_view S) {
  std::string u(S);
  for (char& c : u) c = Upper(c);
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

std::vector<std::string_view> Split(std::string_view Line, char Sep) {
  std::vector<std::string_view> f;
  size_t start = 0;
  for (;;) {
    const size_t p = Line.find(Sep, start);
    if (p == std::string_view::npos) {
      f.push_back(Line.substr(start));
      return f;
    }
    f.push_back(Line.substr(start, p - start));
    start = p + 1;
  }
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

std::string BlockText(const TInputBlock& B) {
  TIPv4Block b;
  b.StartIP = B.Start;
  b.Count = B.Count;
  return b.AsText(nmRange) + " " + CodeToStr(B.Country);
}

// Reads one JSON string starting at the opening quote; UTF-8 out.
bool JsonString(std::string_view J, size_t& Pos, std::string& Out) {
  Out.clear();
  if (Pos >= J.size() || J[Pos] != '"') return false;
  ++Pos;
  auto put = [&](uint32_t cp) {
    if (cp < 0x80) {
      Out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      Out += static_cast<char>(0xC0 | (cp >> 6));
      Out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      Out += static_cast<char>(0xE0 | (cp >> 12));
      Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (cp >> 18));
      Out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  while (Pos < J.size()) {
    const char c = J[Pos++];
    if (c == '"') return true;
    if (c != '\\') {
      Out += c;
      continue;
    }
    if (Pos >= J.size()) return false;
    const char e = J[Pos++];
    switch (e) {
      case 'n': Out += '\n'; break;
      case 't': Out += '\t'; break;
      case 'r': Out += '\r'; break;
      case 'b': Out += '\b'; break;
      case 'f': Out += '\f'; break;
      case 'u': {
        uint32_t cp = 0;
        if (Pos + 4 > J.size() ||
            std::from_chars(J.data() + Pos, J.data() + Pos + 4, cp, 16).ptr != J.data() + Pos + 4) {
          return false;
        }
        Pos += 4;
        if (cp >= 0xD800 && cp < 0xDC00 && Pos + 6 <= J.size() && J[Pos] == '\\' &&
            J[Pos + 1] == 'u') {
          uint32_t lo = 0;
          std::from_chars(J.data() + Pos + 2, J.data() + Pos + 6, lo, 16);
          if (lo >= 0xDC00 && lo < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            Pos += 6;
          }
        }
        put(cp);
        break;
      }
      default: Out += e; break;
    }
  }
  return false;
}

}  // namespace

const std::array<uint8_t, 256> kSlash8Registry = MakeSlash8Table();

std::string Utf8ToLatin1(std::string_view Text) {
  std::string out;
  for (size_t i = 0; i < Text.size();) {
    const auto c = static_cast<unsigned char>(Text[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + static_cast<size_t>(len) > Text.size()) len = 1;
    if (len == 1) {
      out += c < 0x80 ? static_cast<char>(c) : '?';
    } else if (len == 2) {
      const uint32_t cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(Text[i + 1]) & 0x3Fu);
      out += cp < 256 ? static_cast<char>(cp) : '?';
    } else {
      out += '?';
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

std::map<uint16_t, std::string> ParseIsoCountryNames(std::string_view Json) {
  std::map<uint16_t, std::string> names;
  // The file is an array of flat objects of string fields; read each object's
  // "alpha_2", "common_name" and "name".
  size_t pos = 0;
  while ((pos = Json.find('{', pos + 1)) != std::string_view::npos) {
    std::string key, value, code, name, common;
    size_t p = pos + 1;
    while (p < Json.size() && Json[p] != '}') {
      if (Json[p] != '"') {
        ++p;
        continue;
      }
      if (!JsonString(Json, p, key)) return names;
      while (p < Json.size() && (Json[p] == ' ' || Json[p] == ':' || Json[p] == '\n')) ++p;
      if (p < Json.size() && Json[p] == '"') {
        if (!JsonString(Json, p, value)) return names;
        if (key == "alpha_2") code = value;
        if (key == "name") name = value;
        if (key == "common_name") common = value;
      }
    }
    if (code.size() == 2) names[StrToCode(code[0], code[1])] = common.empty() ? name : common;
    pos = p;
  }
  return names;
}

TDatabaseCompiler::TDatabaseCompiler() {
  FRegistryIDs = {{"IANA", 1},   {"ARIN", 2},   {"RIPENCC", 3},
                  {"APNIC", 4},  {"LACNIC", 5}, {"AFRINIC", kAfrinicID}};
}

uint16_t TDatabaseCompiler::RegistryID(std::string_view Name) {
  std::string upper = UpperText(Name);
  if (upper == "RIPE") upper = "RIPENCC";
  auto it = FRegistryIDs.find(upper);
  if (it != FRegistryIDs.end()) return it->second;
  uint16_t next = kAfrinicID + 1;
  for (const auto& [n, id] : FRegistryIDs) next = std::max<uint16_t>(next, static_cast<uint16_t>(id + 1));
  FRegistryIDs.emplace(upper, next);
  return next;
}

std::string TDatabaseCompiler::RegistryName(uint16_t ID) const {
  if (ID == 3) return "RIPE";
  for (const auto& [name, id] : FRegistryIDs) {
    if (id == ID) return name;
  }
  return std::to_string(ID);
}

void TDatabaseCompiler::ShowProgress(const std::string& Name, uint64_t Lines, bool Done) {
  if (!FProgress) return;
  if (Done || Lines % 65536 == 0) {
    *FProgress << "\rReading " << Name << ": " << Lines << " lines" << (Done ? "\n" : "")
               << std::flush;
  }
}

void TDatabaseCompiler::Add(const TInputBlock& B) { FBlocks.push_back(B); }

void TDatabaseCompiler::AddFile(const std::string& Path) {
  const std::string data = ReadWholeFile(Path);
  struct stat st {};
  if (::stat(Path.c_str(), &st) == 0) FNewestFileTime = std::max<int64_t>(FNewestFileTime, st.st_mtime);
  AddData(Path, data);
}

void TDatabaseCompiler::AddData(const std::string& Name, std::string_view Data) {
  if (Data.size() >= 2 && static_cast<unsigned char>(Data[0]) == 0x1F &&
      static_cast<unsigned char>(Data[1]) == 0x8B) {
    try {
      const std::string plain = GZipDecompress(Data, kMaxInputSize);
      return AddData(Name, plain);
    } catch (const EKeslError& e) {
      throw EKeslError(Name + ": gzip data: " + e.what());
    }
  }
  if (Data.substr(0, 3) == "BZh") {
    try {
      const std::string plain = BZ2Decompress(Data, kMaxInputSize);
      return AddData(Name, plain);
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
  const auto f = Split(first, ',');
  uint64_t v;
  if (f.size() == 3 && ParseU64(f[0], v) && ParseU64(f[1], v)) return AddRangeText(Name, Data);
  if (first.empty()) throw EKeslError(Name + ": no data");
  throw EKeslError(Name + ": neither a registry delegation file nor a range file");
}

void TDatabaseCompiler::AddDelegationText(const std::string& Name, std::string_view Text) {
  const uint32_t file = static_cast<uint32_t>(FFiles.size());
  FFiles.push_back(Name);
  const uint64_t lines = ForEachLine(Text, [&](std::string_view Line, uint64_t N) {
    ShowProgress(Name, N, false);
    if (Line.empty() || Line.find_first_not_of(" \t") == std::string_view::npos) return Skip("blank");
    if (Line[0] == '#') return Skip("comment");
    const auto f = Split(Line, '|');
    if (f.size() >= 6 && !f[0].empty() &&
        f[0].find_first_not_of("0123456789.") == std::string_view::npos) {
      // version|registry|serial|records|startdate|enddate|UTCoffset
      uint32_t d = DateValue(f[5]);
      if (!d) d = DateValue(f[2]);
      FNewestVersionDate = std::max(FNewestVersionDate, d);
      return Skip("version");
    }
    if (f.size() >= 6 && (f[5] == "summary" || f[3] == "*")) return Skip("summary");
    if (f.size() < 7) return Skip("malformed");
    if (UpperText(f[2]) != "IPV4") return Skip("not IPv4");
    const std::string status = UpperText(f[6]);
    if (status == "AVAILABLE") return Skip("available");
    if (status == "RESERVED") return Skip("reserved");
    if (status != "ALLOCATED" && status != "ASSIGNED") return Skip("other status");
    if (f[1].size() != 2 || !IsLetter(f[1][0]) || !IsLetter(f[1][1]) || UpperText(f[1]) == "ZZ") {
      return Skip("no country");
    }
    TInputBlock b;
    b.Start = StrToIP(f[3]);
    uint64_t count;
    if (b.Start == 0xFFFFFFFFu || !ParseU64(f[4], count) || count == 0 ||
        b.Start + count > (uint64_t{1} << 32) || count > 0xFFFFFFFFu) {
      return Skip("malformed");
    }
    b.Count = static_cast<uint32_t>(count);
    b.Date = DateValue(f[5]);
    std::string cc = UpperText(f[1]);
    if (cc == "UK") cc = "GB";
    b.Country = StrToCode(cc[0], cc[1]);
    b.Registry = RegistryID(f[0]);
    b.File = file;
    b.Line = static_cast<uint32_t>(N);
    Add(b);
  });
  ShowProgress(Name, lines, true);
}

void TDatabaseCompiler::AddRangeText(const std::string& Name, std::string_view Text) {
  const uint32_t file = static_cast<uint32_t>(FFiles.size());
  FFiles.push_back(Name);
  const uint64_t lines = ForEachLine(Text, [&](std::string_view Line, uint64_t N) {
    ShowProgress(Name, N, false);
    if (Line.empty()) return Skip("blank");
    if (Line[0] == '#') return Skip("comment");
    const auto f = Split(Line, ',');
    uint64_t lo, hi;
    if (f.size() != 3 || !ParseU64(f[0], lo) || !ParseU64(f[1], hi) || lo > hi ||
        hi > 0xFFFFFFFFu || f[2].size() != 2) {
      return Skip("malformed");
    }
    if (f[2] == "??" || !IsLetter(f[2][0]) || !IsLetter(f[2][1])) return Skip("no country");
    std::string cc = UpperText(f[2]);
    if (cc == "UK") cc = "GB";
    // Ranges carry no registry: each /8 belongs to the one that administers it.
    for (uint64_t at = lo; at <= hi;) {
      const uint8_t reg = kSlash8Registry[at >> 24];
      uint64_t end = at | 0xFFFFFF;
      while (end < hi && kSlash8Registry[(end + 1) >> 24] == reg) end += 0x1000000;
      end = std::min(end, hi);
      TInputBlock b;
      b.Start = static_cast<uint32_t>(at);
      b.Count = static_cast<uint32_t>(end - at + 1);
      b.Country = StrToCode(cc[0], cc[1]);
      b.Registry = reg ? reg : 1;
      b.File = file;
      b.Line = static_cast<uint32_t>(N);
      Add(b);
      at = end + 1;
    }
  });
  ShowProgress(Name, lines, true);
}

void TDatabaseCompiler::Finish() {
  auto less = [](const TInputBlock& a, const TInputBlock& b) {
    return a.Start != b.Start ? a.Start < b.Start : a.Count < b.Count;
  };
  if (!std::is_sorted(FBlocks.begin(), FBlocks.end(), less)) {
    std::stable_sort(FBlocks.begin(), FBlocks.end(), less);
  }
  std::vector<TInputBlock> kept;
  kept.reserve(FBlocks.size());
  for (const TInputBlock& b : FBlocks) {
    if (!kept.empty()) {
      const TInputBlock& p = kept.back();
      if (p.Start == b.Start && p.Count == b.Count && p.Country == b.Country &&
          p.Registry == b.Registry) {
        ++FDuplicates;
        continue;
      }
      if (uint64_t{p.Start} + p.Count > b.Start) {
        auto where = [&](const TInputBlock& x) {
          return " (" + FFiles[x.File] + " line " + std::to_string(x.Line) + ")";
        };
        throw EKeslError("Blocks overlap: " + BlockText(p) + where(p) + " and " + BlockText(b) +
                         where(b));
      }
    }
    kept.push_back(b);
  }
  FBlocks = std::move(kept);
}

void TDatabaseCompiler::LoadCountryNames(const std::string& IsoCodesJson) {
  for (const auto& [code, name] : ParseIsoCountryNames(IsoCodesJson)) {
    FNames[code] = Utf8ToLatin1(name);
  }
}

std::vector<std::pair<uint16_t, std::string>> TDatabaseCompiler::NewRegistries() const {
  std::set<uint16_t> ids;
  for (const TInputBlock& b : FBlocks) {
    if (b.Registry > 5) ids.insert(b.Registry);
  }
  std::vector<std::pair<uint16_t, std::string>> out;
  for (uint16_t id : ids) out.emplace_back(id, RegistryName(id));
  return out;
}

std::vector<uint16_t> TDatabaseCompiler::NewCountries() const {
  const TIPv4Database builtIn;
  std::set<uint16_t> codes;
  for (const TInputBlock& b : FBlocks) {
    if (!codes.count(b.Country) && builtIn.FindCountry(b.Country) < 0) codes.insert(b.Country);
  }
  return {codes.begin(), codes.end()};
}

std::string TDatabaseCompiler::BinaryBody() const {
  std::vector<TNewCenter> centers;
  for (const auto& [id, name] : NewRegistries()) centers.push_back({id, name});
  std::vector<TNewCountry> countries;
  for (uint16_t code : NewCountries()) {
    const auto it = FNames.find(code);
    TNewCountry c;
    c.Code = code;
    c.Name = it != FNames.end() ? it->second : CodeToStr(code);
    countries.push_back(c);
  }
  std::vector<TIPv4Block> blocks(FBlocks.size());
  for (size_t i = 0; i < FBlocks.size(); ++i) {
    const TInputBlock& s = FBlocks[i];
    blocks[i].StartIP = s.Start;
    blocks[i].Count = s.Count;
    blocks[i].Date = s.Date;
    blocks[i].CountryCode = s.Country;
    blocks[i].CenterID = s.Registry;
  }
  return EncodeBinBody(centers, countries, blocks);
}

std::string TDatabaseCompiler::TextBody() const {
  const auto registries = NewRegistries();
  const auto countries = NewCountries();
  if (!registries.empty() || !countries.empty()) {
    std::string what;
    if (!registries.empty()) {
      what += "registries";
      for (const auto& r : registries) (what += ' ') += r.second;
    }
    if (!countries.empty()) {
      if (!what.empty()) what += "; ";
      what += "countries";
      for (uint16_t c : countries) (what += ' ') += CodeToStr(c);
    }
    throw EKeslError("The text format cannot carry " + what + ". Write a binary database instead.");
  }
  std::string body;
  body.reserve(FBlocks.size() * 48);
  for (const TInputBlock& s : FBlocks) {
    TIPv4Block b;
    b.StartIP = s.Start;
    b.Count = s.Count;
    b.Date = s.Date;
    b.CountryCode = s.Country;
    (body += EncodeTextLine(b, TextRegistryToken(s.Registry))) += '\n';
  }
  return body;
}

std::string TDatabaseCompiler::HeaderDate(const std::string& Given) const {
  if (!Given.empty()) return Given;
  if (FNewestVersionDate) return std::to_string(FNewestVersionDate);
  const time_t t = FNewestFileTime ? static_cast<time_t>(FNewestFileTime) : std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}
