// The built-in country table and the helper that reads its fixed fields.
#pragma once

#include <cstring>
#include <memory>
#include <string>

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

class TIPv4Country;
// The country of a row, as a new database holds it; nullptr for a row whose
// ISO2 field is not two letters.
std::unique_ptr<TIPv4Country> MakeBuiltInCountry(const TCountryRec& Rec);

inline std::string FieldText(const char* Field, size_t Width) {
  return std::string(Field, strnlen(Field, Width));
}
