// The text body: registry delegation lines, read in fixed chunks and parsed
// in place.
#include <cstring>
#include <memory>

#include "ipv4base/ipv4base.h"
#include "streams/stream.h"

namespace {

constexpr int32_t kChunk = 16384;

char Upper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 32) : C; }

bool EqualsUpper(std::string_view Field, std::string_view Upper_) {
  if (Field.size() != Upper_.size()) return false;
  for (size_t i = 0; i < Field.size(); ++i) {
    if (Upper(Field[i]) != Upper_[i]) return false;
  }
  return true;
}

// Registry tokens of the text format and the identifiers they stand for.
struct TNicToken {
  std::string_view Name;
  uint16_t ID;
};
constexpr TNicToken kNicTokens[] = {
    {"IANA", 1}, {"ARIN", 2}, {"RIPENCC", 3}, {"APNIC", 4}, {"LACNIC", 5},
};

}  // namespace

void TIPv4Database::ParseTextLine(const char* Line) {
  // Fields 0 to 5, each closed by a '|'; the rest of the line is not read.
  std::string_view field[6];
  const char* p = Line;
  for (auto& f : field) {
    const char* start = p;
    while (*p && *p != '|') ++p;
    if (!*p) return;
    f = std::string_view(start, static_cast<size_t>(p - start));
    ++p;
  }
  if (field[1].size() != 2) return;
  if (!EqualsUpper(field[2], "IPV4")) return;

  TIPv4Block block;
  block.StartIP = StrToIP(field[3]);
  if (block.StartIP == 0xFFFFFFFFu) return;
  int64_t count;
  if (!ReadInteger(field[4], count)) return;
  block.Count = static_cast<uint32_t>(count);
  if (block.Count == 0) return;

  const TNicToken* nic = nullptr;
  for (const TNicToken& t : kNicTokens) {
    if (EqualsUpper(field[0], t.Name)) nic = &t;
  }
  if (!nic) throw EDatabaseError("WARNING: Unknown NIC name");
  block.CenterID = nic->ID;

  block.CountryCode = StrToCode(Upper(field[1][0]), Upper(field[1][1]));
  if (block.CountryCode == StrToCode('U', 'K')) block.CountryCode = StrToCode('G', 'B');

  // The date's digits alone, as one number; 0 when none or too many.
  uint64_t date = 0;
  bool digits = false;
  bool overflow = false;
  for (const char c : field[5]) {
    if (c < '0' || c > '9') continue;
    digits = true;
    if (date > (uint64_t{0x7FFFFFFFFFFFFFFF} - static_cast<uint64_t>(c - '0')) / 10) overflow = true;
    date = date * 10 + static_cast<uint64_t>(c - '0');
  }
  block.Date = digits && !overflow ? static_cast<uint32_t>(date) : 0;

  if (static_cast<int64_t>(Blocks.size()) >= kMaxSectionCount) InvalidFile();
  Blocks.push_back(block);
}

void TIPv4Database::LoadFromTextStream(TStream& Stream) {
  std::unique_ptr<char[]> buffer(new char[kChunk + 1]);
  char* buf = buffer.get();
  int32_t carry = 0;
  int32_t lineStart = 0;
  for (;;) {
    // A line that fills the whole buffer without ending is dropped unparsed.
    if (carry >= kChunk) carry = 0;
    if (carry > 0) std::memmove(buf, buf + lineStart, static_cast<size_t>(carry));
    const int32_t request = kChunk - carry;
    const int32_t got = Stream.Read(buf + carry, request);
    lineStart = 0;
    int32_t i = carry;
    const int32_t end = carry + got;
    // The stream ended right after a full chunk that closed inside the last
    // line: that line is complete now and must not be lost.
    if (got == 0 && carry > 0) {
      buf[carry] = 0;
      ParseTextLine(buf);
      DoProgress();
      return;
    }
    while (i < end) {
      if (i == lineStart) {
        while (i < end && static_cast<unsigned char>(buf[i]) <= 32) ++i;
        lineStart = i;
      }
      while (i < end && buf[i] != 10 && buf[i] != 13) ++i;
      carry = i - lineStart;
      if (i < end || got < request) {
        buf[i] = 0;
        ParseTextLine(buf + lineStart);
        lineStart = i;
      }
      DoProgress();
    }
    if (got != request) return;
  }
}
