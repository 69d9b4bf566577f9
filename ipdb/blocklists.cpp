#include "ipdb/blocklists.h"

#include <algorithm>
#include <cstdio>

#include "ipdb/blocktext.h"
#include "ipdb/countries.h"
#include "ipdb/ipv6blocks.h"
#include "ipdb/special.h"
#include "tools/text.h"
#include "tools/tools.h"

std::vector<const TIPv4Block*> SelectBlocks(TIPv4Database& Db,
                                            const std::vector<uint16_t>& Countries,
                                            const std::vector<uint16_t>& Registries) {
  std::vector<const TIPv4Block*> out;
  for (uint16_t code : Countries) {
    if (const auto* blocks = Db.CountryBlocks(code))
      out.insert(out.end(), blocks->begin(), blocks->end());
  }
  for (uint16_t id : Registries) {
    const int i = Db.FindCenter(id);
    if (i < 0) continue;
    const auto& blocks = Db.CenterAt(i)->Blocks;
    out.insert(out.end(), blocks.begin(), blocks.end());
  }
  std::sort(out.begin(), out.end(), [](const TIPv4Block* a, const TIPv4Block* b) {
    return a->StartIP != b->StartIP ? a->StartIP < b->StartIP : a < b;
  });
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<TIPv4Block> AggregateBlocks(const std::vector<const TIPv4Block*>& Blocks) {
  std::vector<TIPv4Block> out;
  uint64_t start = 0, end = 0;  // the open range, end exclusive
  bool open = false;
  auto close = [&] {
    // A count is 32 bits wide: all of the space is written as two halves.
    const uint64_t piece = end - start > 0xFFFFFFFFu ? uint64_t{1} << 31 : end - start;
    for (uint64_t at = start; at < end; at += piece) {
      TIPv4Block b;
      b.StartIP = static_cast<uint32_t>(at);
      b.Count = static_cast<uint32_t>(piece);
      out.push_back(b);
    }
  };
  constexpr uint64_t kSpaceEnd = uint64_t{1} << 32;
  for (const TIPv4Block* b : Blocks) {
    if (b->Count == 0) continue;
    // A block that runs past 255.255.255.255 ends there.
    const uint64_t s = b->StartIP, e = std::min(s + b->Count, kSpaceEnd);
    if (open && s <= end) {
      end = std::max(end, e);
      continue;
    }
    if (open) close();
    start = s;
    end = e;
    open = true;
  }
  if (open) close();
  return out;
}

std::vector<const TIPv6Block*> SelectBlocks6(const TIPv4Database& Db,
                                             const std::vector<uint16_t>& Countries,
                                             const std::vector<uint16_t>& Registries) {
  std::vector<const TIPv6Block*> out;
  for (const TIPv6Block& b : Db.IPv6.Blocks) {
    if (std::find(Countries.begin(), Countries.end(), b.CountryCode) != Countries.end() ||
        std::find(Registries.begin(), Registries.end(), b.CenterID) != Registries.end()) {
      out.push_back(&b);
    }
  }
  return out;  // in the database's order: ascending
}

std::vector<TIPv6Block> AggregateBlocks6(const std::vector<const TIPv6Block*>& Blocks) {
  std::vector<TIPv6Block> out;
  for (const TIPv6Block* b : Blocks) {
    // A block that starts at or right after the open range's last address
    // joins it; nothing lies after the last address of the space.
    if (!out.empty() && (out.back().Last == ~TIPv6Address{0} || b->Start <= out.back().Last + 1)) {
      out.back().Last = std::max(out.back().Last, b->Last);
      continue;
    }
    TIPv6Block range;
    range.Start = b->Start;
    range.Last = b->Last;
    out.push_back(range);
  }
  return out;
}

bool ValidSetName(const std::string& Name) {
  if (Name.empty() || Name.size() > 31) return false;
  for (size_t i = 0; i < Name.size(); ++i) {
    const char c = Name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && (i == 0 || c < '0' || c > '9')) return false;
  }
  return true;
}

std::string IpsetTempName(const std::string& SetName, const std::string& Type) {
  // FNV-1a over the name, a separator no name holds, and the type.
  uint32_t h = 2166136261u;
  for (const char c : SetName + ' ' + Type) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", h);
  return std::string("kesl-swap-") + hex;
}

namespace {

// A range as nft writes it, "first-last", or one address alone.
std::string RangeElement(std::string First, const std::string& Last) {
  if (Last != First) (First += '-') += Last;
  return First;
}

}  // namespace

namespace {

using TKeyRange = std::pair<TIPv6Address, TIPv6Address>;

// The gaps between the ranges Held (ascending) over the space from 0 to
// Top, and the non-global special ranges of the family, sorted.
std::vector<TKeyRange> Undelegated(const std::vector<TKeyRange>& Held, int Family,
                                   TIPv6Address Top) {
  std::vector<TKeyRange> out;
  TIPv6Address at = 0;  // the first address not passed yet
  bool end = false;     // Top passed
  for (const auto& [first, last] : Held) {
    if (first > at) out.emplace_back(at, first - 1);
    if (last >= at) {
      end = last == Top;
      if (end) break;
      at = last + 1;
    }
  }
  if (!end) out.emplace_back(at, Top);
  for (const TSpecialRange& r : SpecialRanges()) {
    if (r.Family != Family || r.Reachable != reNo) continue;
    // IPv4 entries are kept as IPv4-mapped addresses.
    const TIPv6Address mask = Family == 4 ? Top : ~TIPv6Address{0};
    out.emplace_back(r.First & mask, r.Last & mask);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

namespace {

// The CSV form's rows of blocks of one family: a row per line of the lines
// form, with the facts of its block.
template <typename TBlock>
void CsvRows(const std::vector<const TBlock*>& Blocks, TNotation Notation, std::string& Out) {
  for (const TBlock* b : Blocks) {
    std::string facts = ",";
    if (b->CountryCode) facts += CodeToStr(b->CountryCode);
    facts += ',';
    if (b->Country) facts += CsvField(Latin1ToUtf8(b->Country->Name));
    facts += ',';
    if (b->Center) facts += CsvField(b->Center->Name);
    facts += ',';
    if (b->Date) facts += Date8Text(b->Date);
    facts += "\r\n";
    for (const std::string& line : b->AsLines(Notation)) {
      Out += CsvField(line);
      Out += facts;
    }
  }
}

}  // namespace

std::vector<TIPv4Block> UndelegatedIPv4(const TIPv4Database& Db) {
  std::vector<TKeyRange> held;
  held.reserve(Db.Blocks.size());
  for (const TIPv4Block& b : Db.Blocks) {
    if (b.Count) held.emplace_back(b.StartIP, b.LastIP());
  }
  std::vector<TIPv4Block> out;
  for (const auto& [first, last] : Undelegated(held, 4, 0xFFFFFFFFu)) {
    // A count is 32 bits wide: all of the space is two halves.
    for (uint64_t at = static_cast<uint64_t>(first); at <= static_cast<uint64_t>(last);) {
      const uint64_t n =
          std::min<uint64_t>(static_cast<uint64_t>(last) - at + 1, uint64_t{1} << 31);
      TIPv4Block b;
      b.StartIP = static_cast<uint32_t>(at);
      b.Count = static_cast<uint32_t>(n);
      out.push_back(b);
      at += n;
    }
  }
  return out;
}

std::vector<TIPv6Block> UndelegatedIPv6(const TIPv4Database& Db) {
  std::vector<TKeyRange> held;
  held.reserve(Db.IPv6.Blocks.size());
  for (const TIPv6Block& b : Db.IPv6.Blocks) held.emplace_back(b.Start, b.Last);
  std::vector<TIPv6Block> out;
  for (const auto& [first, last] : Undelegated(held, 6, ~TIPv6Address{0})) {
    TIPv6Block b;
    b.Start = first;
    b.Last = last;
    out.push_back(b);
  }
  return out;
}

std::string ListText(const std::vector<const TIPv4Block*>& Blocks,
                     const std::vector<const TIPv6Block*>& Blocks6, TNotation Notation,
                     TListForm Form, const std::string& SetName, int Family) {
  if (Form == lfLines) {
    return BlocksText(Blocks, Notation, "\n") + BlocksTextOf(Blocks6, Notation, "\n", {});
  }
  if (Form == lfCsv) {
    std::string out = kListCsvHeader;
    CsvRows(Blocks, Notation, out);
    CsvRows(Blocks6, Notation, out);
    return out;
  }
  const bool ranges = Form == lfNft && Notation == nmRange;
  const bool ipv6 = Family == 6;
  std::vector<std::string> elements;
  for (const TIPv4Block* b : ipv6 ? std::vector<const TIPv4Block*>() : Blocks) {
    if (ranges) {
      const uint32_t last = b->LastIP();
      if (b->Count) elements.push_back(RangeElement(IPToStr(b->StartIP), IPToStr(last)));
      continue;
    }
    for (std::string& p : PrefixTexts(*b)) elements.push_back(std::move(p));
  }
  for (const TIPv6Block* b : ipv6 ? Blocks6 : std::vector<const TIPv6Block*>()) {
    if (ranges) {
      elements.push_back(RangeElement(IPv6ToStr(b->Start), IPv6ToStr(b->Last)));
      continue;
    }
    for (std::string& p : PrefixTexts(*b)) elements.push_back(std::move(p));
  }
  std::string out;
  if (Form == lfIpset) {
    // ipset's sets hold 65,536 entries unless told more. The list is put
    // into a temporary set that is then swapped with the live one, so the
    // live set is never empty or half filled, and a restore that fails on
    // the way leaves it as it was. A temporary set left by such a failure
    // is emptied and filled again; no set is destroyed but the one this
    // restore made (and, after the swap, which holds the old content).
    size_t room = 65536;
    while (room < elements.size()) room *= 2;
    const std::string type = std::string(" hash:net family ") + (ipv6 ? "inet6" : "inet") +
                             " maxelem " + std::to_string(room);
    const std::string temp = IpsetTempName(SetName, type);
    out += "create " + temp + type + " -exist\nflush " + temp + "\n";
    for (const std::string& e : elements) out += "add " + temp + " " + e + "\n";
    out += "create " + SetName + type + " -exist\nswap " + temp + " " + SetName + "\ndestroy " +
           temp + "\n";
    return out;
  }
  out += "table inet kesl {\n\tset " + SetName + " {\n\t\ttype " +
         (ipv6 ? "ipv6_addr" : "ipv4_addr") +
         "\n\t\tflags interval\n\t\tauto-merge\n\t}\n}\nflush set inet kesl " + SetName + "\n";
  // Elements in statements of a thousand, which nft parses quickly.
  for (size_t i = 0; i < elements.size(); i += 1000) {
    out += "add element inet kesl " + SetName + " { ";
    for (size_t j = i; j < std::min(elements.size(), i + 1000); ++j) {
      if (j > i) out += ", ";
      out += elements[j];
    }
    out += " }\n";
  }
  return out;
}
