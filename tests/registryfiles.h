// Five small registry statistics files with their MD5 files, and a local
// HTTP server on 127.0.0.1 to serve them: what the update's tests download.
#pragma once

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "ipdb/registries.h"
#include "testutil.h"
#include "tools/md5.h"

// One delegation as a registry's file lists it.
struct TDelegation {
  uint16_t Registry;
  const char* Country;
  uint32_t Start;
  uint32_t Count;
  uint32_t Date;
};

// Blocks of every registry; RIPE and ARIN both list 5.0.0.128/25 (a
// transfer in flight), ARIN's with the later date.
inline const std::vector<TDelegation>& FixtureDelegations() {
  static const std::vector<TDelegation> d = {
      {kAfrinicID, "ZA", 0x29000000, 0x100000, 20070815},  // 41.0.0.0/12
      {kAfrinicID, "EG", 0x29100000, 0x1000, 0},           // dated 0: unknown
      {kApnicID, "AU", 0x01000000, 256, 20110811},         // 1.0.0.0/24
      {kApnicID, "CN", 0x01000100, 768, 20110414},         // 1.0.1.0 - 1.0.3.255
      {kApnicID, "JP", 0x01000400, 1024, 20110412},
      {kArinID, "US", 0x03000000, 0x1000000, 19880223},  // 3.0.0.0/8
      {kArinID, "US", 0x05000080, 128, 20261201},        // the later one
      {kArinID, "CA", 0x0C000000, 0x20000, 20000101},
      {kLacnicID, "BR", 0xC8000000, 0x10000, 19980101},
      {kLacnicID, "AR", 0xC8010000, 3, 20200202},  // not a prefix
      {kRipeID, "NL", 0x05000000, 256, 20200101},  // 5.0.0.0/24, older
      {kRipeID, "DE", 0x05010000, 0x10000, 20100101},
      {kRipeID, "GB", 0xFFFFFF00, 256, 20010101},  // up to 255.255.255.255
  };
  return d;
}

// IPv6 delegations of every registry: a prefix and its length. RIPE's
// 2001:610::/32 holds ARIN's later /48 (a transfer in flight).
struct TDelegation6 {
  uint16_t Registry;
  const char* Country;
  const char* Prefix;
  int Bits;
  uint32_t Date;
};

inline const std::vector<TDelegation6>& FixtureDelegations6() {
  static const std::vector<TDelegation6> d = {
      {kAfrinicID, "ZA", "2c0f:f000::", 32, 20040101},
      {kApnicID, "JP", "2001:200::", 32, 19990813},
      {kApnicID, "AU", "2001:201::", 32, 0},  // right after JP's, undated
      {kArinID, "US", "2600::", 29, 20061227},
      {kArinID, "US", "2001:610:1::", 48, 20261201},  // the later one
      {kLacnicID, "BR", "2801:80::", 32, 20100101},
      {kRipeID, "NL", "2001:610::", 32, 19990819},
      {kRipeID, "DE", "2a00::", 12, 20060401},
  };
  return d;
}

// The file name of a registry's statistics, as the update fetches it.
inline std::string StatsName(uint16_t Registry) {
  const std::string_view url = RegistryByID(Registry)->StatsUrl;
  return std::string(url.substr(url.rfind('/') + 1));
}

// The text of one registry's file, with what the update skips besides its
// blocks: comments, summaries, ASN, available and reserved lines.
// EndDate is the version line's end date.
inline std::string StatsFile(uint16_t Registry, uint32_t EndDate) {
  const std::string token(RegistryByID(Registry)->Token);
  std::string blocks;
  int n = 0, n4 = 0, n6 = 0;
  for (const TDelegation& d : FixtureDelegations()) {
    if (d.Registry != Registry) continue;
    blocks += token + "|" + d.Country + "|ipv4|" + IPToStr(d.Start) + "|" +
              std::to_string(d.Count) + "|" + (d.Date ? std::to_string(d.Date) : "") +
              "|allocated|A91-" + std::to_string(++n) + "\n";
    ++n4;
  }
  for (const TDelegation6& d : FixtureDelegations6()) {
    if (d.Registry != Registry) continue;
    blocks += token + "|" + d.Country + "|ipv6|" + d.Prefix + "|" + std::to_string(d.Bits) + "|" +
              (d.Date ? std::to_string(d.Date) : "") + "|allocated|A91-" + std::to_string(++n) +
              "\n";
    ++n6;
  }
  // The summaries count every record of their type: the available and
  // reserved ones below too.
  return "# statistics of " + token + "\n2.3|" + token + "|" + std::to_string(EndDate) +
         "|100|19830101|" + std::to_string(EndDate) + "|+0000\n" + token + "|*|asn|*|1|summary\n" +
         token + "|*|ipv4|*|" + std::to_string(n4 + 2) + "|summary\n" + token + "|*|ipv6|*|" +
         std::to_string(n6 + 1) + "|summary\n" + token + "|ZZ|ipv4|100.64.0.0|1024||available||\n" +
         token + "|US|asn|64496|1|20100101|assigned|A91-0\n" + token +
         "|ZZ|ipv6|2001:db8::|32||reserved|\n" + token + "||ipv4|198.18.0.0|256||reserved|\n" +
         blocks;
}

// Writes the five files and their .md5 files into Dir, the checksums in
// each of the forms the registries use.
inline void WriteStatsFiles(const TTempDir& Dir, uint32_t EndDate = 20261207) {
  int form = 0;
  for (const TRegistryInfo& r : kRegistries) {
    if (r.StatsUrl.empty()) continue;
    const std::string name = StatsName(r.ID);
    const std::string data = StatsFile(r.ID, EndDate);
    const std::string md5 = Md5Hex(data);
    Dir.Write(name, data);
    const std::string forms[] = {"MD5 (" + name + ") = " + md5 + "\n", md5 + "  " + name + "\n",
                                 md5 + "\n"};
    Dir.Write(name + ".md5", forms[form++ % 3]);
  }
}

// A python3 server on 127.0.0.1 and a free port, for as long as the object
// lives. The default one is http.server serving Dir; each answer waits
// DelaySeconds first, and with a RequestLog the path of every request is
// appended to that file, a line each.
class TLocalServer {
 public:
  explicit TLocalServer(const std::string& Dir, double DelaySeconds = 0,
                        const std::string& RequestLog = "") {
    const std::string script =
        "import functools, http.server, sys, time\n"
        "class H(http.server.SimpleHTTPRequestHandler):\n"
        "  def do_GET(self):\n"
        "    if sys.argv[3]:\n"
        "      with open(sys.argv[3], 'a') as log: log.write(self.path + '\\n')\n"
        "    time.sleep(float(sys.argv[2]))\n"
        "    super().do_GET()\n"
        "  def log_message(self, *args): pass\n"
        "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0),\n"
        "  functools.partial(H, directory=sys.argv[1]))\n"
        "print('http://127.0.0.1:%d' % s.server_address[1], flush=True)\n"
        "s.serve_forever()\n";
    Start(script, {Dir, std::to_string(DelaySeconds), RequestLog});
  }
  // A server of its own: Script prints its base address on its first line
  // of output and then serves; Args are its sys.argv[1:].
  TLocalServer(const std::string& Script, const std::vector<std::string>& Args) {
    Start(Script, Args);
  }
  ~TLocalServer() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
  }
  TLocalServer(const TLocalServer&) = delete;
  TLocalServer& operator=(const TLocalServer&) = delete;
  // "http://127.0.0.1:PORT" (or the script's own), "" when it did not start.
  const std::string& Base() const { return FBase; }

 private:
  void Start(const std::string& Script, const std::vector<std::string>& Args) {
    std::vector<const char*> argv = {"python3", "-c", Script.c_str()};
    for (const std::string& a : Args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    FPid = fork();
    if (FPid == 0) {
      dup2(out[1], STDOUT_FILENO);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      close(out[0]);
      execvp("python3", const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(out[1]);
    // The first line is the base address.
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') FBase += c;
    close(out[0]);
  }

  pid_t FPid = -1;
  std::string FBase;
};
