#include "tools/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/errors.h"

EListError::EListError(int Index)
    : EKeslError("List index out of bounds (" + std::to_string(Index) + ")") {}

std::string EscapeControlChars(std::string_view Text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    if (!IsControlChar(c)) {
      out += c;
      continue;
    }
    const auto u = static_cast<unsigned char>(c);
    out += "\\x";
    out += kHex[u >> 4];
    out += kHex[u & 15];
  }
  return out;
}

std::string CsvField(std::string_view Text) {
  if (Text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(Text);
  std::string field = "\"";
  for (const char c : Text) field.append(c == '"' ? 2 : 1, c);
  return field + "\"";
}

std::string AsciiUpperText(std::string_view Text) {
  std::string upper(Text);
  for (char& c : upper) c = AsciiUpper(c);
  return upper;
}

std::vector<std::string_view> SplitText(std::string_view Text, char Separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const size_t at = Text.find(Separator);
    pieces.push_back(Text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    Text.remove_prefix(at + 1);
  }
}

namespace {

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

}  // namespace

bool ReadInteger(std::string_view Text, int64_t& Value) {
  // Plain decimal digits that cannot overflow: the common case, in one pass.
  if (!Text.empty() && Text.size() <= 18) {
    int64_t v = 0;
    size_t i = 0;
    for (; i < Text.size() && static_cast<unsigned>(Text[i] - '0') < 10; ++i) {
      v = v * 10 + (Text[i] - '0');
    }
    if (i == Text.size()) {
      Value = v;
      return true;
    }
  }
  size_t i = 0;
  const size_t n = Text.size();
  while (i < n && Text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  int base = 10;
  if (i < n && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) return false;
  // Magnitude up to 2^63, which only a negative number may reach.
  const uint64_t limit = uint64_t{1} << 63;
  uint64_t v = 0;
  for (; i < n; ++i) {
    const int d = HexDigit(Text[i]);
    if (d < 0 || d >= base) return false;
    // Only a value this large can overflow with one more digit.
    if (v >= (uint64_t{1} << 59) &&
        v > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
      return false;
    }
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (v == limit && !negative) return false;
  Value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

std::string Latin1ToUtf8(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

namespace {

// The length of the UTF-8 sequence that a byte from 0x80 on starts, 0 for
// none.
size_t Utf8Length(unsigned char C) {
  return C >= 0xC2 && C <= 0xDF ? 2 : C >= 0xE0 && C <= 0xEF ? 3 : C >= 0xF0 && C <= 0xF4 ? 4 : 0;
}

// Whether the N bytes of a sequence at the start of P are valid:
// continuation bytes, no overlong form, no UTF-16 surrogate, nothing past
// U+10FFFF. Only the bytes P holds are looked at: a cut sequence may still
// be valid.
bool Utf8Valid(std::string_view P, size_t N) {
  const auto at = [P](size_t I) { return static_cast<unsigned char>(P[I]); };
  const size_t have = std::min(N, P.size());
  for (size_t i = 1; i < have; ++i) {
    if ((at(i) & 0xC0) != 0x80) return false;
  }
  if (have < 2) return true;
  const unsigned char c = at(0), d = at(1);
  return !((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
           (c == 0xF4 && d > 0x8F));
}

}  // namespace

size_t AppendJsonText(std::string& Out, std::string_view Text, bool Final) {
  const size_t size = Text.size();
  size_t i = 0, plain = 0;  // bytes from plain on go out as they are
  const auto flush = [&] { Out += Text.substr(plain, i - plain); };
  while (i < size) {
    const auto u = static_cast<unsigned char>(Text[i]);
    if (u >= 0x20 && u != '"' && u != '\\' && u < 0x7F) {
      ++i;
      continue;
    }
    if (u >= 0x80) {
      const size_t n = Utf8Length(u);
      const size_t have = std::min(n, size - i);
      if (n && Utf8Valid(Text.substr(i), n)) {
        if (have < n && !Final) break;  // the rest comes with the next piece
        if (have == n) {
          i += n;
          continue;
        }
      }
      flush();
      Out += "\xEF\xBF\xBD";
      plain = ++i;
      continue;
    }
    flush();
    if (u == '"' || u == '\\') {
      (Out += '\\') += static_cast<char>(u);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      Out += esc;
    }
    plain = ++i;
  }
  flush();
  return i;
}
