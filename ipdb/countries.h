// Country codes, and the built-in country table with the helper that reads
// its fixed fields.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tools/text.h"

// A country code as text: its two characters.
std::string CodeToStr(uint16_t Code);
// Packs two characters, the first in the high byte; no case change.
constexpr uint16_t StrToCode(char First, char Second) {
  return static_cast<uint16_t>((static_cast<uint8_t>(First) << 8) | static_cast<uint8_t>(Second));
}
// A country code as data and users write it: exactly two characters, any
// case; UK stands for GB. False for any other length. Inline: the text
// reader calls it for every line.
inline bool ParseCountryCode(std::string_view Text, uint16_t& Code) {
  if (Text.size() != 2) return false;
  Code = StrToCode(AsciiUpper(Text[0]), AsciiUpper(Text[1]));
  if (Code == StrToCode('U', 'K')) Code = StrToCode('G', 'B');
  return true;
}

// One row. The short code fields hold at most their width in letters; a
// field's text ends at its first zero byte or after its width.
struct TCountryRec {
  const char* Domain;  // 2: Internet domain, upper case (UK for GB)
  const char* Name;
  const char* FIPS;  // 2: FIPS 10-4 code, "--" for none
  const char* ISO2;  // 2: ISO 3166-1 alpha-2, packed into the country's Code
  const char* ISO3;  // 3
  float Numeric;     // ISO 3166-1 numeric, -1 or 0 for none
  const char* Capital;
  const char* Region;
  const char* Currency;
  const char* CurrencyCode;  // 3: ISO 4217
  double Population;         // 0 or -1 when unknown
};

constexpr int kCountryTableSize = 250;
extern const TCountryRec kCountryTable[kCountryTableSize];

inline std::string FieldText(const char* Field, size_t Width) {
  return std::string(Field, strnlen(Field, Width));
}
