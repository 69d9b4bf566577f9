// Country names from Debian's iso-codes (iso_3166-1.json), for the
// countries that the built-in table lacks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Where Debian's iso-codes keeps the country names.
constexpr char kIsoCodesFile[] = "/usr/share/iso-codes/json/iso_3166-1.json";

// UTF-8 to Latin-1; characters outside Latin-1 become '?'.
std::string Utf8ToLatin1(std::string_view Text);
// alpha_2 code to name from iso-codes' iso_3166-1.json (common name first).
std::map<uint16_t, std::string> ParseIsoCountryNames(std::string_view Json);
