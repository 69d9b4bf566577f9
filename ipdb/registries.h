// The Internet registries Kesl knows: their identifiers in database files,
// their names, their tokens in delegation lines and their whois pages. This
// is the one place that names them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr uint16_t kIanaID = 1;
constexpr uint16_t kArinID = 2;
constexpr uint16_t kRipeID = 3;
constexpr uint16_t kApnicID = 4;
constexpr uint16_t kLacnicID = 5;
// Not built in: a database that has AFRINIC blocks carries this registry in
// its registry section. Identifiers above it are handed out as new ones come.
constexpr uint16_t kAfrinicID = 6;

struct TRegistryInfo {
  uint16_t ID;
  std::string_view Name;       // as the database and the window show it
  std::string_view Token;      // lower case, as in the registries' own files
  std::string_view WhoisPage;  // the address is appended; empty for none
  char Slash8Letter;           // its letter in the compiler's /8 table
  bool BuiltIn;                // one of the registries a new database holds
  // Where the registry publishes its delegation statistics, with an MD5
  // checksum file beside it (this address plus ".md5"); empty for none.
  std::string_view StatsUrl;
};

// Every known registry, by ascending ID: the built-in ones first.
inline constexpr TRegistryInfo kRegistries[] = {
    // IANA delegates to the others; its blocks go to ARIN's search, which
    // follows referrals to whichever registry holds the address now.
    {kIanaID, "IANA", "iana", "https://search.arin.net/rdap/?query=", '.', true, ""},
    {kArinID, "ARIN", "arin", "https://search.arin.net/rdap/?query=", 'A', true,
     "https://ftp.arin.net/pub/stats/arin/delegated-arin-extended-latest"},
    {kRipeID, "RIPE", "ripencc", "https://apps.db.ripe.net/db-web-ui/query?searchtext=", 'R', true,
     "https://ftp.ripe.net/pub/stats/ripencc/delegated-ripencc-extended-latest"},
    {kApnicID, "APNIC", "apnic", "https://wq.apnic.net/static/search.html?query=", 'P', true,
     "https://ftp.apnic.net/stats/apnic/delegated-apnic-extended-latest"},
    {kLacnicID, "LACNIC", "lacnic", "https://query.milacnic.lacnic.net/search?id=", 'L', true,
     "https://ftp.lacnic.net/pub/stats/lacnic/delegated-lacnic-extended-latest"},
    {kAfrinicID, "AFRINIC", "afrinic", "https://afrinic.net/whois?query=", 'F', false,
     "https://ftp.afrinic.net/pub/stats/afrinic/delegated-afrinic-extended-latest"},
};

// The entry with that ID, or nullptr.
const TRegistryInfo* RegistryByID(uint16_t ID);
// The entry whose token matches Text, whatever its case, or nullptr. With
// BuiltInOnly only the built-in registries are matched, as the text format
// of the database knows no others.
const TRegistryInfo* RegistryByToken(std::string_view Text, bool BuiltInOnly = false);
// The entry whose name matches Text, whatever its case, or nullptr.
const TRegistryInfo* RegistryByName(std::string_view Text);
// The entry that Text names by its name ("RIPE") or by its token
// ("ripencc"), whatever the case, or nullptr: how files and users name
// registries.
const TRegistryInfo* FindRegistry(std::string_view Text);
// The entry of a /8 table letter, or nullptr.
const TRegistryInfo* RegistryByLetter(char Letter);
// The whois page for an address of a registry; empty for one without.
std::string WhoisPage(uint16_t ID, std::string_view Address);
