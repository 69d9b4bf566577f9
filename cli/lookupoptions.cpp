#include "cli/lookupoptions.h"

#include <algorithm>
#include <iterator>
#include <ostream>
#include <string_view>

#include "cli/args.h"
#include "cli/lookupio.h"
#include "tools/text.h"
#include "tools/version.h"

namespace {

const char kUsage[] =
    "Usage: kesl-lookup [OPTION...] QUERY...\n"
    "       kesl-lookup [OPTION...] --stdin\n"
    "       kesl-lookup [OPTION...] --annotate [FILE...]\n"
    "       kesl-lookup [OPTION...] --country CC[,CC...] [--registry NAME[,NAME...]]\n"
    "       kesl-lookup [OPTION...] --holder QUERY\n"
    "       kesl-lookup [OPTION...] --bogons\n"
    "       kesl-lookup [--db PATH] --info\n"
    "\n"
    "Finds the allocated block, country and registry of IPv4 and IPv6 addresses\n"
    "and host names in an offline database.\n"
    "\n"
    "  --db PATH        the database file; by default the first that exists of\n"
    "                   $KESL_DB, the user's database from kesl-mkdb --update\n"
    "                   ($XDG_DATA_HOME/kesl/country.ip4), country.ip4 beside this\n"
    "                   program, and the installed default\n"
    "  --notation N     how blocks are written: range (192.168.0.0 - 192.168.2.255,\n"
    "                   the default), cidr (192.168.0.0/23, 192.168.2.0/24) or mask\n"
    "                   (192.168.0.0 / 255.255.254.0, ...). A block that is not one\n"
    "                   aligned prefix is written as the prefixes that cover it.\n"
    "                   IPv6 blocks have no mask form: they are written in cidr.\n"
    "  -6               a host name with addresses of both families is looked up\n"
    "                   by its IPv6 address (by its IPv4 address without -6)\n"
    "  --no-resolve     answer numeric addresses only: any other query is an error\n"
    "                   ('not an address'), and nothing is asked of the resolver\n"
    "  --stdin, -       read one query per line from standard input\n"
    "  --annotate       write each FILE (standard input when none is named, or for\n"
    "                   -) as it is, each IPv4 and IPv6 address in it followed by\n"
    "                   its answer in brackets: [US], the --fields joined by commas,\n"
    "                   [-] in no block; with --format json one object per line:\n"
    "                   the line and its addresses with their fields. Nothing is\n"
    "                   resolved.\n"
    "  --format F       tsv (the default), csv (RFC 4180) or json (JSON Lines) for\n"
    "                   answers; csv, ipset or nft for lists (ipset and nft with\n"
    "                   --set-name)\n"
    "  --fields LIST    the answer fields to write, in order, from query, status,\n"
    "                   address, block, country, country_name, registry, date,\n"
    "                   message, country_kind, allocation, holder, asns, special\n"
    "                   (csv and json write all of them by default, --annotate the\n"
    "                   country)\n"
    "  --header         the column names first (tsv and csv)\n"
    "  --country LIST   list the blocks of countries (two letters; UK means GB),\n"
    "                   one per line; in cidr and mask notation one prefix per line\n"
    "  --registry LIST  list the blocks of registries (IANA, ARIN, RIPE, APNIC,\n"
    "                   LACNIC, AFRINIC); with --country the lists are joined\n"
    "  --holder QUERY   list everything registered to the holder of an address,\n"
    "                   host name or AS number (AS15169): its IPv4 blocks, its IPv6\n"
    "                   blocks, then its AS numbers (needs a database made by\n"
    "                   kesl-mkdb --update from the registries' extended files)\n"
    "  --bogons         list the space no registry has delegated (available,\n"
    "                   reserved, or in no registry's file) and the special-purpose\n"
    "                   ranges that are not globally reachable\n"
    "  --family F       the blocks --country, --registry, --holder and --bogons\n"
    "                   list: 4 (the default; --holder lists both), 6 or all (IPv4\n"
    "                   blocks first; not for ipset and nft, whose sets hold one\n"
    "                   family)\n"
    "  --aggregate      merge the listed blocks into the fewest ranges or prefixes\n"
    "  --set-name NAME  the set for --format ipset (a file for 'ipset restore' that\n"
    "                   fills a temporary set and swaps it in whole) or nft (a file\n"
    "                   for 'nft -f', table inet kesl, one transaction)\n"
    "  --allow-empty    write the set also for a list with no blocks, which empties\n"
    "                   it; without this such a list is an error and writes nothing\n"
    "  --info           the database file in use, its date, where its data came\n"
    "                   from, counts, and each registry's blocks and addresses\n"
    "  --list WHAT      the database's countries or registries, one per line, or\n"
    "                   special: IANA's special-purpose ranges (prefix, name,\n"
    "                   globally reachable), which every database answers\n"
    "  --version        the version\n"
    "  --help           this text\n"
    "Options take their value as --db PATH or --db=PATH; -- ends the options.\n"
    "\n"
    "A QUERY is read as an AS number (AS15169) or a numeric address first (127.1 is 127.0.0.1, "
    "2001:db8::1\n"
    "an IPv6 address), otherwise resolved as a host name to its first IPv4\n"
    "address, or its first IPv6 address when it has no IPv4 one. An IPv4-mapped\n"
    "address (::ffff:192.0.2.1) is looked up as the IPv4 address it holds. IPv6\n"
    "addresses are written in RFC 5952 form. Only text that can be a host name\n"
    "(letters, digits, hyphens and dots) goes to the resolver; other text is an\n"
    "error, as is a query with a control character, which is shown as \\xHH (so\n"
    "are any in the database's names). Each answer is one line of\n"
    "tab-separated fields: the query,\n"
    "the address, the block, the country code, the country's name, the registry\n"
    "and the block's date (yyyymmdd, 0 when unknown). An address in no block\n"
    "gives the query, the address and '-'; a query that gives no address gives the\n"
    "query, 'error' and the message. In csv and json every answer has every\n"
    "field, with status ok, not_found or error. An AS number is answered from its\n"
    "record: its address is AS15169, its block the record's run (AS15168 -\n"
    "AS15171). allocation is allocated, assigned, available or reserved, holder\n"
    "names the registry and its holder's id, asns the holder's AS numbers, and\n"
    "special IANA's name of a special-purpose range (Private-Use, Loopback, ...);\n"
    "an address in an available or reserved range is not_found with its\n"
    "allocation and registry.\n"
    "\n"
    "Exit status: 0 every query located, 1 some address in no block or not\n"
    "resolved, 2 usage error or unknown country or registry, 3 the database did\n"
    "not load.\n";

}  // namespace

int ReadLookupOptions(const std::vector<std::string>& Args, TLookupIO& IO,
                      TLookupOptions& Options) {
  std::string dbPath;
  bool dbGiven = false;    // else the first database of the search path
  int notation = nmRange;  // TArgReader::Choose stores an int
  int format = -1;         // none given
  int listNames = -1;
  bool fromStdin = false, info = false, aggregate = false, header = false, preferIPv6 = false;
  bool noResolve = false, allowEmpty = false, annotate = false;
  int family = -1;  // none given: IPv4 lists
  std::string setName, fields, holder;
  bool holderGiven = false, bogons = false;
  std::vector<std::string> countries, registries, queries;
  TArgReader args(Args, "kesl-lookup", [&IO]() -> std::ostream& { return IO.Err(); });
  enum { kTsv, kCsv, kJson, kIpset, kNft };
  while (args.Next()) {
    const std::string& a = args.Arg();
    if (args.IsOperand()) {
      // "-" is standard input, as with other tools.
      if (a == "-") fromStdin = true;
      queries.push_back(a);
    } else if (a == "--help" || a == "-h") {
      IO.Out() << kUsage;
      return 0;
    } else if (a == "--version") {
      IO.Out() << "kesl-lookup " << kProgramVersion << "\n";
      return 0;
    } else if (a == "--db") {
      if (!args.Value(dbPath)) return args.Usage("--db needs a file name");
      dbGiven = true;
    } else if (a == "--notation") {
      const int rc =
          args.Choose({{"range", nmRange}, {"cidr", nmCIDR}, {"mask", nmMask}}, notation);
      if (rc) return rc;
    } else if (a == "--format") {
      const int rc = args.Choose(
          {{"tsv", kTsv}, {"csv", kCsv}, {"json", kJson}, {"ipset", kIpset}, {"nft", kNft}},
          format);
      if (rc) return rc;
    } else if (a == "--fields") {
      if (!args.Value(fields)) return args.Usage("--fields needs field names");
    } else if (a == "--header") {
      header = true;
    } else if (a == "--set-name") {
      if (!args.Value(setName)) return args.Usage("--set-name needs a name");
    } else if (a == "-6") {
      preferIPv6 = true;
    } else if (a == "--no-resolve") {
      noResolve = true;
    } else if (a == "--allow-empty") {
      allowEmpty = true;
    } else if (a == "--family") {
      const int rc = args.Choose({{"4", 4}, {"6", 6}, {"all", 0}}, family);
      if (rc) return rc;
    } else if (a == "--stdin") {
      fromStdin = true;
    } else if (a == "--annotate") {
      annotate = true;
    } else if (a == "--info") {
      info = true;
    } else if (a == "--country" || a == "--registry") {
      std::string list;
      auto& to = a == "--country" ? countries : registries;
      if (!args.Value(list)) return args.Usage(a + " needs a list");
      for (std::string_view item : SplitText(list, ',')) {
        if (!item.empty()) to.emplace_back(item);
      }
      if (to.empty()) return args.Usage(a + " needs a list");
    } else if (a == "--holder") {
      if (!args.Value(holder) || holder.empty()) {
        return args.Usage("--holder needs an address, host name or AS number");
      }
      holderGiven = true;
    } else if (a == "--bogons") {
      bogons = true;
    } else if (a == "--aggregate") {
      aggregate = true;
    } else if (a == "--list") {
      const int rc = args.Choose({{"countries", 0}, {"registries", 1}, {"special", 2}}, listNames);
      if (rc) return rc;
    } else {
      return args.Usage("unknown option '" + a + "'");
    }
  }
  if (!args.Error().empty()) return args.Usage(args.Error());
  if (annotate) {
    // The operands are files, "-" standard input among them in its place.
    fromStdin = false;
  } else {
    queries.erase(std::remove(queries.begin(), queries.end(), "-"), queries.end());
  }
  const bool byName = !countries.empty() || !registries.empty();
  const bool lists = byName || holderGiven || bogons;
  const int modes = (annotate ? 1 : fromStdin + !queries.empty()) + info + byName + holderGiven +
                    bogons + (listNames >= 0);
  if (modes == 0) return args.Usage("nothing to look up");
  if (modes > 1) {
    return args.Usage(
        "give queries, --stdin, --country or --registry, --holder, --bogons, --info or --list, "
        "one of them");
  }
  for (const std::string& c : countries) {
    if (c.size() != 2) return args.Usage("'" + c + "' is not a two-letter country code");
  }
  const bool firewall = format == kIpset || format == kNft;
  if (lists && format >= 0 && !firewall && (format != kCsv || holderGiven)) {
    return args.Usage(holderGiven
                          ? "--holder lists are written as lines, or with --format ipset or nft"
                          : "lists are written as lines, or with --format csv, ipset or nft");
  }
  if (!lists && firewall)
    return args.Usage(
        "--format ipset and nft write --country, --registry, --holder and --bogons lists");
  if (firewall && !ValidSetName(setName)) {
    return args.Usage(setName.empty() ? "--format ipset and nft need --set-name NAME"
                                      : "'" + setName +
                                            "' is no set name: a letter or '_', then letters, "
                                            "digits or '_', 31 at most");
  }
  if (!firewall && !setName.empty())
    return args.Usage("--set-name goes with --format ipset or nft");
  if (aggregate && !lists) {
    return args.Usage("--aggregate merges --country, --registry, --holder and --bogons lists");
  }
  if (family >= 0 && !lists) {
    return args.Usage("--family goes with --country, --registry, --holder and --bogons");
  }
  if (family == 0 && firewall) {
    return args.Usage("a set holds one family: give --family 4 or 6 with --format ipset or nft");
  }
  if (preferIPv6 && (lists || info || listNames >= 0)) return args.Usage("-6 goes with lookups");
  if (noResolve && (lists || info || listNames >= 0)) {
    return args.Usage("--no-resolve goes with lookups");
  }
  if (allowEmpty && !firewall) return args.Usage("--allow-empty goes with --format ipset or nft");
  if ((header || !fields.empty()) && (lists || info || listNames >= 0)) {
    return args.Usage("--header and --fields go with lookups");
  }
  if (header && format == kJson) return args.Usage("--header goes with --format tsv or csv");
  if (annotate && ((format >= 0 && format != kJson) || header || preferIPv6)) {
    return args.Usage(
        "--annotate writes the text, or with --format json objects; "
        "it takes no --header or -6");
  }

  // Lookups: today's lines unless a format or fields are asked for.
  TFormat answerFormat = format == kCsv ? fmCsv : format == kJson ? fmJson : fmLines;
  std::vector<TField> chosen;
  if (!fields.empty()) {
    for (std::string_view name : SplitText(fields, ',')) {
      const auto* f = std::find(std::begin(kFieldNames), std::end(kFieldNames), name);
      if (f == std::end(kFieldNames)) {
        std::string all;
        for (std::string_view n : kFieldNames) (all += all.empty() ? "" : ", ") += n;
        return args.Usage("unknown field '" + std::string(name) + "': use " + all);
      }
      chosen.push_back(static_cast<TField>(f - std::begin(kFieldNames)));
    }
    if (answerFormat == fmLines) answerFormat = fmTsv;
  } else if (annotate && answerFormat != fmJson) {
    chosen.push_back(fdCountry);
  } else {
    for (int f = 0; f < fdCount; ++f) chosen.push_back(static_cast<TField>(f));
  }
  if (annotate && answerFormat != fmJson) answerFormat = fmBrackets;

  Options.Mode = annotate         ? lmAnnotate
                 : fromStdin      ? lmStdin
                 : info           ? lmInfo
                 : holderGiven    ? lmHolder
                 : bogons         ? lmBogons
                 : lists          ? lmBlocks
                 : listNames >= 0 ? lmNames
                                  : lmQueries;
  Options.DbGiven = dbGiven;
  Options.DbPath = dbPath;
  Options.Notation = static_cast<TNotation>(notation);
  Options.Format = answerFormat;
  Options.Fields = std::move(chosen);
  Options.Header = header;
  Options.PreferIPv6 = preferIPv6;
  Options.NoResolve = noResolve;
  Options.AllowEmpty = allowEmpty;
  Options.Queries = std::move(queries);
  Options.ListRegistries = listNames == 1;
  Options.ListSpecial = listNames == 2;
  Options.Holder = holder;
  Options.Countries = std::move(countries);
  Options.Registries = std::move(registries);
  // A holder's list shows both families unless it goes into a set.
  Options.Family = family >= 0 ? family : holderGiven && !firewall ? 0 : 4;
  Options.ListForm = format == kIpset          ? lfIpset
                     : format == kNft          ? lfNft
                     : format == kCsv && lists ? lfCsv
                                               : lfLines;
  Options.SetName = setName;
  Options.Aggregate = aggregate;
  return -1;
}
