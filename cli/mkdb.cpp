#include "cli/mkdb.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/args.h"
#include "cli/dbinfo.h"
#include "dbbuild/compiler.h"
#include "dbbuild/exports.h"
#include "dbbuild/update.h"
#include "dbbuild/writedb.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/encoder.h"
#include "ipdb/loader.h"
#include "tools/files.h"
#include "tools/text.h"
#include "tools/tools.h"
#include "tools/version.h"

namespace {

const char kUsage[] =
    "Usage: kesl-mkdb [-o PATH] [--text|--binary] [--compress none|zlib|bzip2]\n"
    "                 [--date YYYYMMDD] [--iso-codes PATH] [--licence TEXT] INPUT...\n"
    "       kesl-mkdb --update [--from BASE [--allow-http]] [-o PATH] [--no-wait]\n"
    "                          [--force] [--verbose]\n"
    "       kesl-mkdb --check PATH\n"
    "       kesl-mkdb --export mmdb|nginx|haproxy|csv|ranges [--family F] [--db PATH] -o OUT\n"
    "\n"
    "Compiles address data into a Kesl database file (default country.ip4).\n"
    "\n"
    "--update downloads the five regional registries' delegated-*-extended-latest\n"
    "files, checks each against the MD5 file the registry publishes beside it, and\n"
    "compiles them into a plain binary database: -o PATH, else the user's database\n"
    "$XDG_DATA_HOME/kesl/country.ip4 (~/.local/share/kesl/country.ip4), which kesl\n"
    "and kesl-lookup then use. The file in place is replaced whole, and only when\n"
    "the data changed. Where two registries list the same addresses (a transfer\n"
    "in flight), the block with the later date keeps them.\n"
    "\n"
    "Inputs, each plain or gzip- or bzip2-compressed, their kind read from their content:\n"
    "  - registry delegation statistics files (delegated-*-latest, standard or\n"
    "    extended) of any registry, AFRINIC included, their IPv4 and IPv6 lines;\n"
    "    version, summary, ASN, available and reserved lines are skipped;\n"
    "  - range files of lines LOW,HIGH,CC with decimal 32-bit addresses, such as\n"
    "    /usr/share/tor/geoip; '#' starts a comment, country ?? is skipped. Ranges\n"
    "    carry no registry: each block gets the registry that administers its /8 in\n"
    "    IANA's IPv4 address space registry, so the registry of such data is by /8;\n"
    "  - IPv6 range files of lines FIRST,LAST,CC, such as /usr/share/tor/geoip6,\n"
    "    each block with the registry of its part of IANA's IPv6 assignments.\n"
    "\n"
    "  -o PATH           the file to write (default country.ip4); written whole or not at all;\n"
    "                    - is standard output; a device or fifo is refused\n"
    "  --binary          binary records (the default); carries registries and countries\n"
    "                    that the program's built-in tables lack\n"
    "  --text            delegation lines; refuses data with registries or countries\n"
    "                    that the built-in tables lack\n"
    "  --compress C      none (the default: kesl-lookup searches such a file where it\n"
    "                    lies, without loading it), zlib or bzip2\n"
    "  --date YYYYMMDD   the creation date; default the newest date of the inputs'\n"
    "                    version lines, else the newest input file's date\n"
    "  --iso-codes PATH  country names for codes outside the built-in table\n"
    "                    (default /usr/share/iso-codes/json/iso_3166-1.json)\n"
    "  --licence TEXT    the data's licence and attribution, kept in the database\n"
    "  --check PATH      load a database with the program's loader and summarise it\n"
    "  --update          make or renew the database from the registries' files\n"
    "  --from BASE       fetch BASE/delegated-<registry>-extended-latest instead\n"
    "                    (https://, http:// or file://), for mirrors\n"
    "  --verbose         with --update, tell each overlap between two files\n"
    "  --allow-http      take an http:// --from, which nothing authenticates\n"
    "  --no-wait         with --update, fail at once when another update of the\n"
    "                    same file is running, instead of waiting for it\n"
    "  --retry-wait S    with --update, the seconds between the three tries of a\n"
    "                    file whose checksum does not match (default 60)\n"
    "  --force           with --update, replace the database even when the new\n"
    "                    data delegates far fewer addresses of either family than it\n"
    "                    does, or comes from older files\n"
    "  --export F        write the database (--db PATH, else the one kesl-lookup\n"
    "                    uses) for other programs, both families, to -o OUT:\n"
    "                    mmdb (a MaxMind DB file), nginx (the body of a geo block:\n"
    "                    PREFIX CC;), haproxy (a map_ip file: PREFIX CC), csv\n"
    "                    (network,country,country_name,registry,date,allocation,\n"
    "                    holder,asns,special) or ranges\n"
    "                    (one CSV row per block with 128-bit hex keys, for SQL\n"
    "                    engines: key BETWEEN first_key AND last_key)\n"
    "  --family F        with --export (not mmdb), the rows of one family: 4, 6\n"
    "                    or all (the default)\n"
    "  --db PATH         the database to export\n"
    "  --help            this text\n"
    "\n"
    "Overlapping blocks are an error; the same block given twice counts once.\n"
    "Exit status: 0 written, 1 bad input or a failed update or export (nothing\n"
    "replaced), 2 usage error, 3 --check or --export could not load the database,\n"
    "4 --update found the data already current (nothing written).\n";

std::string Megabytes(uint64_t Bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(Bytes) / 1e6);
  return buf;
}

int Update(TUpdateOptions options, bool Verbose, std::ostream& Out, std::ostream& Err,
           std::ostream* Progress) {
  if (options.Output.empty()) options.Output = UserDatabasePath();
  const std::string& Output = options.Output;
  if (Output.empty()) {
    Err << "kesl-mkdb: neither XDG_DATA_HOME nor HOME is set: give the output with -o\n";
    return 2;
  }
  std::string shown;  // the registry whose line is open
  if (Progress) {
    options.Progress = [&](const std::string& Registry, uint64_t Received, uint64_t) {
      if (Registry != shown && !shown.empty()) *Progress << "\n";
      shown = Registry;
      *Progress << "\rDownloading " << Registry << ": " << Megabytes(Received) << std::flush;
      return true;
    };
  }
  const TUpdateResult r = RunUpdate(options);
  if (Progress && !shown.empty()) *Progress << "\n";
  switch (r.Status) {
    case usCurrent:
      Out << Output << " is already current\n";
      return 4;
    case usWritten:
      Out << "Wrote " << Output << ": registry data of " << r.Date << ", " << r.Blocks
          << " blocks, " << r.Blocks6 << " IPv6 blocks, " << r.FileSize << " bytes\n"
          << "Overlaps between the registries' files: " << r.Overlaps.size()
          << " (the later date wins)\n";
      if (Verbose) {
        for (const std::string& o : r.Overlaps) Out << "Overlap: " << o << "\n";
      }
      return 0;
    case usFailed:
    case usAborted:
      break;
  }
  Err << "kesl-mkdb: update failed: " << r.Message << "; " << Output << " is unchanged\n";
  return 1;
}

// --export: the database in another program's form, written whole or not
// at all.
int Export(const std::string& DbPath, TExportFormat Format, int Family, const std::string& Output,
           std::ostream& Out, std::ostream& Err) {
  TIPv4Database db;
  if (!LoadDatabase(db, DbPath, Err)) return 3;
  std::string data;
  try {
    data = ExportDatabase(db, Format, Family);
  } catch (const std::exception& e) {
    Err << "kesl-mkdb: " << e.what() << "\n";
    return 1;
  }
  // "-" is standard output, which then holds the data alone.
  const bool standardOutput = Output == "-";
  if (standardOutput) {
    Out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!Out.flush()) {
      Err << "kesl-mkdb: cannot write the export to standard output\n";
      return 1;
    }
  } else if (const std::string failure = ReplaceFile(Output, data); !failure.empty()) {
    Err << "kesl-mkdb: " << failure << "\n";
    return 1;
  }
  (standardOutput ? Err : Out) << "Wrote " << (standardOutput ? "standard output" : Output) << ": "
                               << data.size() << " bytes from " << DbPath << ", " << db.BlockCount()
                               << " blocks, " << db.IPv6.Count() << " IPv6 blocks\n";
  return 0;
}

}  // namespace

int MkdbMain(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
             std::ostream* Progress) {
  std::string output, date, check, licence, from, db;
  int exportFormat = -1;
  int family = -1;  // --family: the export's family, both when not given
  bool update = false, verbose = false, allowHttp = false;
  TUpdateOptions updateOptions;
  std::string isoCodes = kIsoCodesFile;
  bool binary = true;
  TCompression compression = cmNone;
  std::vector<std::string> inputs;
  TArgReader args(Args, "kesl-mkdb", Err);
  while (args.Next()) {
    const std::string& a = args.Arg();
    if (args.IsOperand()) {
      inputs.push_back(a);
    } else if (a == "--help" || a == "-h") {
      Out << kUsage;
      return 0;
    } else if (a == "--version") {
      Out << "kesl-mkdb " << kProgramVersion << "\n";
      return 0;
    } else if (a == "-o" || a == "--output") {
      if (!args.Value(output)) return args.Usage(a + " needs a file name");
    } else if (a == "--text") {
      binary = false;
    } else if (a == "--binary") {
      binary = true;
    } else if (a == "--compress") {
      int c = cmNone;
      const int rc = args.Choose({{"none", cmNone}, {"zlib", cmZLib}, {"bzip2", cmBZip2}}, c);
      if (rc) return rc;
      compression = static_cast<TCompression>(c);
    } else if (a == "--date") {
      if (!args.Value(date)) return args.Usage("--date needs YYYYMMDD");
      if (ReadDate8(date) == 0) return args.Usage("'" + date + "' is not a date YYYYMMDD");
    } else if (a == "--iso-codes") {
      if (!args.Value(isoCodes)) return args.Usage("--iso-codes needs a file name");
    } else if (a == "--licence" || a == "--license") {
      if (!args.Value(licence)) return args.Usage(a + " needs a text");
    } else if (a == "--update") {
      update = true;
    } else if (a == "--from") {
      if (!args.Value(from)) return args.Usage("--from needs a base address");
    } else if (a == "--allow-http") {
      allowHttp = true;
    } else if (a == "--no-wait") {
      updateOptions.NoWait = true;
    } else if (a == "--force") {
      updateOptions.Force = true;
    } else if (a == "--retry-wait") {
      std::string seconds;
      int64_t value = -1;
      if (!args.Value(seconds) || !ReadInteger(seconds, value) || value < 0 || value > 3600) {
        return args.Usage("--retry-wait needs seconds from 0 to 3600");
      }
      updateOptions.RetryWait = static_cast<int>(value);
    } else if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else if (a == "--export") {
      const int rc = args.Choose({{"mmdb", efMmdb},
                                  {"nginx", efNginx},
                                  {"haproxy", efHaproxy},
                                  {"csv", efCsv},
                                  {"ranges", efRanges}},
                                 exportFormat);
      if (rc) return rc;
    } else if (a == "--family") {
      const int rc = args.Choose({{"4", 4}, {"6", 6}, {"all", 0}}, family);
      if (rc) return rc;
    } else if (a == "--db") {
      if (!args.Value(db)) return args.Usage("--db needs a file name");
    } else if (a == "--check") {
      if (!args.Value(check)) return args.Usage("--check needs a file name");
    } else {
      return args.Usage("unknown option '" + a + "'");
    }
  }
  if (!args.Error().empty()) return args.Usage(args.Error());

  if (exportFormat >= 0) {
    if (update || !check.empty() || !inputs.empty()) {
      return args.Usage("--export takes no inputs, --update or --check");
    }
    if (output.empty()) return args.Usage("--export needs -o OUT");
    if (family > 0 && exportFormat == efMmdb) {
      return args.Usage("--family goes with --export nginx, haproxy, csv or ranges");
    }
    return Export(db.empty() ? FindDatabase() : db, static_cast<TExportFormat>(exportFormat),
                  std::max(family, 0), output, Out, Err);
  }
  if (family >= 0) return args.Usage("--family goes with --export");
  if (!db.empty()) return args.Usage("--db goes with --export");
  if (update) {
    if (!inputs.empty() || !check.empty()) return args.Usage("--update takes no inputs");
    if (output == "-") return args.Usage("--update writes a database file, not standard output");
    // Over http the files and their checksums come from the same place,
    // and anyone on the way can change both.
    if (StartsWithAsciiText(from, "http://") && !allowHttp) {
      return args.Usage("--from " + from +
                        " is not authenticated: its files and their checksums can be changed on "
                        "the way; use https:// or file://, or --allow-http to take it anyway");
    }
    updateOptions.Base = from;
    updateOptions.Output = output;
    return Update(updateOptions, verbose, Out, Err, Progress);
  }
  if (!from.empty()) return args.Usage("--from goes with --update");
  if (output.empty()) output = "country.ip4";
  if (!check.empty()) {
    if (!inputs.empty()) return args.Usage("--check takes no inputs");
    TIPv4Database db;
    if (!LoadDatabase(db, check, Err)) return 3;
    PrintDatabaseInfo(db, check, Out);
    return 0;
  }
  if (inputs.empty()) return args.Usage("no input files");

  TDatabaseCompiler compiler;
  compiler.SetProgress(Progress);
  compiler.SetLicence(licence);
  std::string body;
  try {
    for (const std::string& in : inputs) compiler.AddFile(in);
    compiler.Finish();
    if (binary) {
      std::ifstream iso(isoCodes, std::ios::binary);
      if (iso) {
        compiler.LoadCountryNames(std::string(std::istreambuf_iterator<char>(iso), {}));
      } else if (!compiler.NewCountries().empty()) {
        Err << "kesl-mkdb: no country names from " << isoCodes << "; codes stand in for them\n";
      }
      body = compiler.BinaryBody();
    } else {
      body = compiler.TextBody();
      if (!compiler.Blocks6().empty()) {
        Err << "kesl-mkdb: the text form carries no IPv6 blocks; " << compiler.Blocks6().size()
            << " left out\n";
      }
    }
  } catch (const std::exception& e) {
    Err << "kesl-mkdb: " << e.what() << "\n";
    return 1;
  }

  const std::string header = compiler.HeaderDate(date);
  const std::string file = EncodeDatabaseFile(binary, compression, header, body);
  // A failed run never leaves a half-written or unloadable database in place.
  // "-" is standard output, which then holds the file alone, the summary
  // going to standard error.
  const bool standardOutput = output == "-";
  std::ostream& report = standardOutput ? Err : Out;
  std::string loadError;
  std::string failure;
  if (standardOutput) {
    Out.write(file.data(), static_cast<std::streamsize>(file.size()));
    if (!Out.flush()) failure = "cannot write the database to standard output";
  } else {
    failure = WriteDatabase(output, file, &loadError);
  }
  if (!failure.empty()) {
    Err << loadError;
    if (!loadError.empty()) {
      Err << "kesl-mkdb: the written file does not load; nothing was replaced\n";
    } else {
      Err << "kesl-mkdb: " << failure << "\n";
    }
    return 1;
  }

  uint64_t addresses = 0;
  for (const TInputBlock& b : compiler.Blocks()) addresses += b.Count;
  const char* comp = compression == cmNone ? "none" : compression == cmZLib ? "zlib" : "bzip2";
  report << "Wrote " << (standardOutput ? "standard output" : output) << ": "
         << (binary ? "binary" : "text") << " body, " << comp << ", created " << header << ", "
         << file.size() << " bytes\n"
         << "Blocks: " << compiler.Blocks().size() << " (" << compiler.Duplicates()
         << " duplicates dropped)\n"
         << "Addresses: " << addresses << "\n";
  const auto registries = compiler.NewRegistries();
  report << "Registries added: " << registries.size();
  for (const auto& r : registries) report << " " << r.second;
  const auto countries = compiler.NewCountries();
  report << "\nCountries added: " << countries.size();
  for (uint16_t c : countries) report << " " << CodeToStr(c);
  report << "\nLines that made no block:";
  if (compiler.Skipped().empty()) report << " none";
  for (const auto& [reason, n] : compiler.Skipped()) report << " " << reason << " " << n << ";";
  report << "\n";
  if (binary) report << "IPv6 blocks: " << compiler.Blocks6().size() << "\n";
  // What extended files add, kept beside the blocks.
  if (binary && !compiler.Holders().empty()) {
    report << "Holders: " << compiler.Holders().size() << "; AS number records "
           << compiler.ASNs().size() << "; available and reserved ranges " << compiler.Free().size()
           << " IPv4, " << compiler.Free6().size() << " IPv6\n";
  }
  return 0;
}
