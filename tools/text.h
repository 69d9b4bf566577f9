// Text helpers: ASCII case, integer text, control characters and their
// escapes, JSON and CSV fields, Latin-1 and UTF-8, splitting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The ASCII letter in upper case; every other byte as it is.
constexpr char AsciiUpper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 32) : C; }

// The text with its ASCII letters in upper case.
std::string AsciiUpperText(std::string_view Text);

// Appends Text to Out as the inside of a JSON string: quotes, backslashes
// and control characters escaped, each byte that starts no valid UTF-8
// sequence as U+FFFD. Unless Final, a sequence cut at the end of Text is
// left for the next piece: returns the bytes taken.
size_t AppendJsonText(std::string& Out, std::string_view Text, bool Final);

// Whether two texts are the same but for the case of ASCII letters.
constexpr bool SameAsciiText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
  }
  return true;
}

// Whether Text starts with Prefix but for the case of ASCII letters: a
// URL's scheme, which RFC 3986 makes case-insensitive ("HTTP://").
constexpr bool StartsWithAsciiText(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameAsciiText(Text.substr(0, Prefix.size()), Prefix);
}

// Integer text: optional leading blanks, one sign, decimal digits or hex
// after "$" or "0x"/"0X", running to the end; false when it does not read
// or does not fit a signed 64-bit value.
bool ReadInteger(std::string_view Text, int64_t& Value);

// Whether C is a C0 control character (0x00 to 0x1F) or DEL.
constexpr bool IsControlChar(char C) {
  return static_cast<unsigned char>(C) < 0x20 || static_cast<unsigned char>(C) == 0x7F;
}

// Whether Text holds a C0 control character (0x00 to 0x1F) or DEL. Inline
// and eight bytes at a time: every query and name written is checked.
inline bool HasControlChars(std::string_view Text) {
  const size_t n = Text.size();
  if (n < 8) {
    for (const char c : Text) {
      if (IsControlChar(c)) return true;
    }
    return false;
  }
  // The high bit of each byte below 0x20, or equal to 0x7F, in V.
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  auto found = [](uint64_t V) {
    const uint64_t del = V ^ (kOnes * 0x7F);
    return (((V - kOnes * 0x20) & ~V) | ((del - kOnes) & ~del)) & kHighs;
  };
  uint64_t v;
  for (size_t i = 0; i + 8 <= n; i += 8) {
    __builtin_memcpy(&v, &Text[i], 8);
    if (found(v)) return true;
  }
  // The last eight bytes, some of them again.
  __builtin_memcpy(&v, &Text[n - 8], 8);
  return found(v) != 0;
}

// Text with each C0 control character and DEL written as \xHH (lower-case
// hex), so that it can stand in one field of one line.
std::string EscapeControlChars(std::string_view Text);

// Text as one field of RFC 4180 CSV: quoted, its quotes doubled, when it
// holds a comma, a quote or a line end.
std::string CsvField(std::string_view Text);

// Latin-1 text as UTF-8, for display.
std::string Latin1ToUtf8(std::string_view Text);

// The pieces of Text between Separators, empty ones included: one piece
// when there is no separator.
std::vector<std::string_view> SplitText(std::string_view Text, char Separator);
