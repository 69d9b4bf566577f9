#!/usr/bin/python3
"""kesl-mkdb --export read back by the programs it is made for: libmaxminddb
(mmdblookup) and Python's maxminddb for the MaxMind DB file, a real nginx
with the geo block, a real HAProxy with the map_ip file, and Python's csv and
ipaddress for the CSV; each answer must be the one kesl-lookup gives.

    exports.py KESL-MKDB KESL-LOOKUP DEFAULT-DATABASE [--quick]

--quick (for the sanitizer build, whose programs run some times slower)
checks a sample of 20,000 of the default database's block edges instead
of all of them.
"""
import csv
import io
import ipaddress
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

import maxminddb

from spans import merged

mkdb, lookup, default_db = sys.argv[1:4]
quick = sys.argv[4:] == ["--quick"]
failures = []
work = tempfile.mkdtemp(prefix="kesl-exports-")
rng = random.Random(26)


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {str(detail)[:400]}")


def export(db, form, out):
    p = subprocess.run([mkdb, "--export", form, "--db", db, "-o", out], capture_output=True,
                       text=True)
    check(f"export {form}", p.returncode == 0, p.stderr)
    return out


def answers(db, addresses):
    """kesl-lookup's country, registry and date for each address, None for
    none. It takes 255.255.255.255 for no address (as inet_addr does), so
    that one is asked as ::ffff:255.255.255.255, which it reads the same."""
    asked = ["::ffff:255.255.255.255" if a == "255.255.255.255" else a for a in addresses]
    p = subprocess.run([lookup, "--db", db, "--format", "json", "--no-resolve", "--stdin"],
                       input="\n".join(asked) + "\n", capture_output=True, text=True)
    found = {}
    for address, line in zip(addresses, p.stdout.splitlines()):
        a = json.loads(line)
        found[address] = (a["country"], a["registry"], a["date"]) if a["status"] == "ok" else None
    return found


def number(text):
    """An address as (family, integer), read by the C library, not ipaddress
    (which takes a minute over the default database's million prefixes)."""
    if ":" in text:
        return 6, int.from_bytes(socket.inet_pton(socket.AF_INET6, text), "big")
    return 4, int.from_bytes(socket.inet_pton(socket.AF_INET, text), "big")


def network(text):
    """A prefix as (family, first, last)."""
    address, bits = text.split("/")
    family, first = number(address)
    width = 32 if family == 4 else 128
    return family, first, first | ((1 << (width - int(bits))) - 1)


def blocks(db):
    """Every block of both families as (first, last) addresses."""
    registries = subprocess.run([lookup, "--db", db, "--list", "registries"], capture_output=True,
                                text=True).stdout.split()
    text = subprocess.run([lookup, "--db", db, "--registry", ",".join(registries), "--family",
                           "all"], capture_output=True, text=True).stdout
    out = []
    for line in text.splitlines():
        lo, hi = line.split(" - ")
        out.append((ipaddress.ip_address(lo), ipaddress.ip_address(hi)))
    return out


def edges(spans):
    """The first and last address of each block and those just outside."""
    out = set()
    for lo, hi in spans:
        top = 2 ** (32 if lo.version == 4 else 128) - 1
        for v in (int(lo) - 1, int(lo), int(hi), int(hi) + 1):
            if 0 <= v <= top:
                out.add(str(ipaddress.ip_address(v) if lo.version == 4 else ipaddress.IPv6Address(v)))
    return sorted(out)


def random_addresses(n):
    out = [str(ipaddress.IPv4Address(rng.getrandbits(32))) for _ in range(n)]
    out += [str(ipaddress.IPv6Address((0x2 << 125) | rng.getrandbits(125))) for _ in range(n)]
    return out


def mmdblookup(path, address):
    """libmaxminddb's country and registry for an address, None for none."""
    p = subprocess.run(["mmdblookup", "--file", path, "--ip", address], capture_output=True,
                       text=True)
    if p.returncode != 0 or "iso_code" not in p.stdout:
        return None
    words = p.stdout.split('"')
    return words[words.index("iso_code") + 2], words[words.index("registry") + 2]


def mmdb_answer(record):
    """An address in no block may have a record that only names its
    special-purpose range: no answer."""
    if record is None or "country" not in record:
        return None
    date = record["kesl"].get("date")
    return (record["country"]["iso_code"], record["kesl"]["registry"],
            date.replace("-", "") if date else None)


# A database of both families with edges: a block at 0.0.0.0, one ending at
# 255.255.255.255, adjacent blocks of different countries, gaps, and IPv6
# blocks that are no one prefix.
ranges = "\n".join(["0,255,AU", "256,511,NZ", "16777216,16777471,AU", "16777472,16777727,CN",
                    "134744064,134744831,US", "3758096384,4294967295,ZA"]) + "\n"
ranges6 = "\n".join(["2001:db8::,2001:db8::ff,NL", "2001:db8::100,2001:db8:0:1::5,DE",
                     "2a00::3,2a00::7,FR", "2c0f:ffff::,2c0f:ffff:ffff:ffff:ffff:ffff:ffff:ffff,ZA"]) + "\n"
for name, text in (("ranges", ranges), ("ranges6", ranges6)):
    with open(os.path.join(work, name), "w") as f:
        f.write(text)
test_db = os.path.join(work, "test.ip4")
p = subprocess.run([mkdb, "-o", test_db, os.path.join(work, "ranges"),
                    os.path.join(work, "ranges6")], capture_output=True, text=True)
check("test database", p.returncode == 0, p.stderr)

# The registries' own files: their countries are the registered ones.
delegated = os.path.join(work, "delegated-ripencc-extended-latest")
with open(delegated, "w") as f:
    f.write("2|ripencc|20261201|5|19830705|20261130|+0100\n"
            "ripencc|NL|ipv4|5.1.0.0|256|20120101|allocated|org-a\n"
            "ripencc|DE|ipv6|2a01::|32|20090101|allocated|org-a\n"
            "ripencc|NL|ipv4|5.1.1.0|256|20120101|assigned\n"
            "ripencc||ipv4|5.2.0.0|256||available|\n"
            "ripencc|NL|asn|64500|2|20120101|allocated|org-a\n")
reg_db = os.path.join(work, "registered.ip4")
p = subprocess.run([mkdb, "-o", reg_db, delegated], capture_output=True, text=True)
check("registered database", p.returncode == 0, p.stderr)

# IPv6 blocks over ::/96, where the format keeps the IPv4 addresses, and
# over ::ffff:0:0/96, the IPv4-mapped ones: neither answers for an IPv4
# address, which only IPv4 blocks do.
with open(os.path.join(work, "cover6"), "w") as f:
    f.write("::,::ffff:ffff:ffff,NL\n2001:db8::,2001:db8::ff,DE\n")
cover_db = os.path.join(work, "cover.ip4")
p = subprocess.run([mkdb, "-o", cover_db, os.path.join(work, "ranges"),
                    os.path.join(work, "cover6")], capture_output=True, text=True)
check("covering database", p.returncode == 0, p.stderr)


def in_ipv4_part(address):
    """An IPv6 address inside ::/96, which the format keeps for IPv4: kesl-lookup
    answers it from the IPv6 blocks, a MaxMind DB reader from the IPv4 ones."""
    return ":" in address and number(address)[1] >> 32 == 0


# A database whose header has no valid date still exports a file that
# libmaxminddb opens (it refuses a build_epoch of 0).
with open(test_db, "rb") as f:
    dateless = f.read()
undated_db = os.path.join(work, "undated.ip4")
with open(undated_db, "wb") as f:
    f.write(dateless[:8] + b"00000000" + dateless[16:])
undated = export(undated_db, "mmdb", os.path.join(work, "undated.mmdb"))
check("mmdb of a database without a date", mmdblookup(undated, "1.0.0.1") == ("AU", "APNIC"),
      mmdblookup(undated, "1.0.0.1"))

# MaxMind DB: both readers give what kesl-lookup gives, also for each IPv4
# address in its IPv4-mapped form.
for db, sample_size in ((test_db, 2000), (reg_db, 200), (cover_db, 500)):
    out = export(db, "mmdb", os.path.join(work, "test.mmdb"))
    again = export(db, "mmdb", os.path.join(work, "again.mmdb"))
    check("mmdb same bytes", open(out, "rb").read() == open(again, "rb").read(), db)
    addresses = [a for a in edges(blocks(db)) + random_addresses(sample_size)
                 if not in_ipv4_part(a)]
    addresses += ["::ffff:" + a for a in addresses if ":" not in a]
    want = answers(db, addresses)
    with maxminddb.open_database(out) as reader:
        meta = reader.metadata()
        check("mmdb metadata", meta.database_type == "Kesl-Country" and meta.ip_version == 6
              and meta.languages == ["en"] and meta.record_size == 24
              and meta.binary_format_major_version == 2 and "en" in meta.description, meta)
        wrong = [a for a in addresses if mmdb_answer(reader.get(a)) != want[a]]
        check("mmdb python answers", not wrong,
              [(a, reader.get(a), want[a]) for a in wrong[:5]])
        registered = [reader.get(a) for a in addresses if want[a]]
        has = {r is not None and "registered_country" in r for r in registered}
        check("mmdb registered_country", has == ({True} if db == reg_db else {False}), has)
    for a in addresses[:: max(1, len(addresses) // 150)]:
        got = mmdblookup(out, a)
        check(f"mmdblookup {a}", got == (want[a][:2] if want[a] else None), (got, want[a]))

# What the registries' files and IANA's table add: in the MaxMind DB file as
# kesl-lookup answers it for addresses in blocks; an address in no block has
# a record only when a special-purpose range holds it, with its name alone.
reg_mmdb = export(reg_db, "mmdb", os.path.join(work, "registered.mmdb"))
probe = ["5.1.0.1", "5.1.1.1", "2a01::1", "5.2.0.1", "10.1.2.3", "fe80::1", "192.0.2.1",
         "8.8.8.8", "::ffff:127.0.0.1"]
p = subprocess.run([lookup, "--db", reg_db, "--format", "json", "--no-resolve", *probe],
                   capture_output=True, text=True)
with maxminddb.open_database(reg_mmdb) as reader:
    for a, line in zip(probe, p.stdout.splitlines()):
        j, record = json.loads(line), reader.get(a)
        if j["status"] == "ok":
            k = record["kesl"]
            got = (k.get("allocation"), k.get("asns"), k.get("special"))
            check(f"mmdb registry facts {a}", got == (j["allocation"], j["asns"], j["special"]),
                  (got, j))
        else:
            got = record and record.get("kesl", {}).get("special")
            check(f"mmdb special {a}", got == j["special"] and (record is None or
                                                                 "country" not in record),
                  (record, j))
rows = list(csv.reader(io.StringIO(open(export(reg_db, "csv", os.path.join(work, "reg.csv")),
                                        newline="").read())))
holder = json.loads(subprocess.run([lookup, "--db", reg_db, "--format", "json", "5.1.0.1"],
                                   capture_output=True, text=True).stdout)["holder"]
check("csv registry facts", holder.startswith("RIPE:") and
      ["5.1.0.0/24", "NL", "Netherlands", "RIPE", "2012-01-01", "allocated",
       holder, "64500,64501", ""] in rows and
      ["5.1.1.0/24", "NL", "Netherlands", "RIPE", "2012-01-01", "assigned", "", "", ""] in rows,
      rows)

# Ranges: a row per block, sorted by first_key; a range join on the keys (a
# binary search here, as an engine's BETWEEN) answers each address, in
# either form, as kesl-lookup does.
import bisect


def range_key(address):
    family, value = number(address)
    return "%032x" % (value if family == 6 else (0xFFFF << 32) | value)


for db in (test_db, reg_db, cover_db):
    out = export(db, "ranges", os.path.join(work, "ranges.csv"))
    with open(out, newline="") as f:
        text = f.read()
    rows = list(csv.reader(io.StringIO(text)))
    check("ranges header", rows[0] == ["family", "first", "last", "first_key", "last_key",
                                       "country", "country_name", "registry", "date",
                                       "allocation", "holder", "asns", "special"], rows[0])
    rows = rows[1:]
    check("ranges CRLF", text.count("\r\n") == len(rows) + 1, db)
    firsts = [r[3] for r in rows]
    check("ranges sorted", firsts == sorted(firsts) and all(
        rows[i][4] < rows[i + 1][3] for i in range(len(rows) - 1)), db)
    check("ranges one row per block", len(rows) == len(blocks(db)), (len(rows), len(blocks(db))))
    check("ranges keys", all(range_key(r[1]) == r[3] and range_key(r[2]) == r[4] for r in rows), db)
    addresses = [a for a in edges(blocks(db)) + random_addresses(500) if not in_ipv4_part(a)]
    addresses += ["::ffff:" + a for a in addresses if ":" not in a]
    want = answers(db, addresses)
    wrong = []
    for a in addresses:
        key = range_key(a)  # ::ffff:a.b.c.d is the IPv4 address's own key
        at = bisect.bisect_right(firsts, key) - 1
        row = rows[at] if at >= 0 and rows[at][4] >= key else None
        got = (row[5], row[7], row[8].replace("-", "") or None) if row else None
        if got != want[a]:
            wrong.append((a, got, want[a]))
    check("ranges answers", not wrong, wrong[:5])

# The default database: the first and last address of every block through
# the Python module, the addresses taken as kesl-lookup lists them.
big = export(default_db, "mmdb", os.path.join(work, "default.mmdb"))
registries = subprocess.run([lookup, "--db", default_db, "--list", "registries"],
                            capture_output=True, text=True).stdout.split()
listing = subprocess.run([lookup, "--db", default_db, "--registry", ",".join(registries),
                          "--family", "all"], capture_output=True, text=True).stdout
addresses = [a for line in listing.splitlines() for a in line.split(" - ")]
edge_count = len(addresses)
if quick:
    addresses = rng.sample(addresses, 20000)
p = subprocess.run([lookup, "--db", default_db, "--no-resolve", "--fields",
                    "query,country,registry,date", "--stdin"],
                   input="\n".join(a if a != "255.255.255.255" else "::ffff:" + a
                                   for a in addresses) + "\n", capture_output=True, text=True)
want = {}
answered = p.stdout.splitlines()
check("default database answered", len(answered) == len(addresses) and edge_count > 500000,
      (len(answered), edge_count))
for address, line in zip(addresses, answered):
    _, country, registry, date = line.split("\t")
    want[address] = (country, registry, date or None) if country else None
with maxminddb.open_database(big) as reader:
    wrong = [a for a in addresses if mmdb_answer(reader.get(a)) != want[a]]
check("mmdb default database", not wrong, [(a, want[a]) for a in wrong[:5]])
sample = rng.sample(addresses, 100)
for a in sample:
    got = mmdblookup(big, a)
    check(f"mmdblookup default {a}", got == (want[a][:2] if want[a] else None), (got, want[a]))

# CSV: disjoint prefixes that cover exactly the blocks, with their fields.
text = open(export(default_db, "csv", os.path.join(work, "kesl.csv")), newline="").read()
rows = list(csv.reader(io.StringIO(text, newline="")))
check("csv header", rows[0] == ["network", "country", "country_name", "registry", "date",
                                "allocation", "holder", "asns", "special"], rows[0])
nets = [network(r[0]) for r in rows[1:]]


for version in (4, 6):
    mine = sorted((first, last) for family, first, last in nets if family == version)
    check(f"csv disjoint IPv{version}", all(a[1] < b[0] for a, b in zip(mine, mine[1:])), "")
    theirs = [(number(lo)[1], number(hi)[1]) for lo, hi in
              (line.split(" - ") for line in listing.splitlines()) if ("." in lo) == (version == 4)]
    check(f"csv covers the blocks IPv{version}", merged(mine) == merged(theirs), len(mine))
checked = rng.sample(rows[1:], 2000)
got = answers(default_db, [str(ipaddress.ip_network(r[0]).network_address) for r in checked])
for r in checked:
    a = str(ipaddress.ip_network(r[0]).network_address)
    check("csv fields", got[a] == (r[1], r[3], r[4].replace("-", "") or None), (r, got[a]))

# nginx and HAProxy, started here on 127.0.0.1 with files of their own.
sample = rng.sample(addresses, 300) + random_addresses(100)
want = answers(default_db, sample)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ask(port, address, header=None):
    url = f"http://127.0.0.1:{port}/" + ("" if header else f"?ip={address}")
    request = urllib.request.Request(url, headers={"x-ip": address} if header else {})
    with urllib.request.urlopen(request, timeout=5) as r:
        return r.read().decode().strip()


def wait_for(port):
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


nginx = shutil.which("nginx") or "/usr/sbin/nginx"
geo = export(default_db, "nginx", os.path.join(work, "kesl.geo"))
check("nginx lines", all(l.endswith(";") and len(l.split()) == 2
                         for l in open(geo).read().splitlines()), "")
ndir = os.path.join(work, "nginx")
os.makedirs(os.path.join(ndir, "logs"))
port = free_port()
with open(os.path.join(ndir, "nginx.conf"), "w") as f:
    temps = "".join(f"{t}_temp_path {ndir}/{t};\n"
                    for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    f.write(f"worker_processes 1;\npid {ndir}/nginx.pid;\nerror_log {ndir}/error.log;\n"
            f"events {{}}\nhttp {{\naccess_log off;\n{temps}"
            f"geo $arg_ip $kesl_country {{\ninclude {geo};\n}}\n"
            f"server {{\nlisten 127.0.0.1:{port};\n"
            "location / { return 200 \"$kesl_country\\n\"; }\n}\n}\n")
conf = ["-p", ndir, "-c", os.path.join(ndir, "nginx.conf")]
p = subprocess.run([nginx, "-t", *conf], capture_output=True, text=True)
check("nginx -t", p.returncode == 0, p.stderr)
if p.returncode == 0:
    subprocess.run([nginx, *conf], check=False)
    try:
        check("nginx starts", wait_for(port), open(os.path.join(ndir, "error.log")).read())
        for a in sample:
            got = ask(port, a)
            check(f"nginx {a}", got == (want[a][0] if want[a] else ""), (got, want[a]))
    finally:
        subprocess.run([nginx, *conf, "-s", "stop"], capture_output=True)

mapfile = export(default_db, "haproxy", os.path.join(work, "kesl.map"))
hdir = os.path.join(work, "haproxy")
os.makedirs(hdir)
port = free_port()
cfg = os.path.join(hdir, "haproxy.cfg")
with open(cfg, "w") as f:
    f.write("defaults\n  mode http\n  timeout connect 5s\n  timeout client 5s\n"
            "  timeout server 5s\n"
            f"frontend kesl\n  bind 127.0.0.1:{port}\n"
            "  http-request return status 200 content-type text/plain lf-string "
            f"\"%[req.hdr(x-ip),map_ip({mapfile})]\"\n")
p = subprocess.run(["haproxy", "-c", "-f", cfg], capture_output=True, text=True)
check("haproxy -c", p.returncode == 0, p.stdout + p.stderr)
if p.returncode == 0:
    pidfile = os.path.join(hdir, "haproxy.pid")
    subprocess.run(["haproxy", "-D", "-p", pidfile, "-f", cfg], check=False)
    try:
        check("haproxy starts", wait_for(port), "")
        for a in sample:
            got = ask(port, a, header=True)
            check(f"haproxy {a}", got == (want[a][0] if want[a] else ""), (got, want[a]))
    finally:
        try:
            os.kill(int(open(pidfile).read().split()[0]), signal.SIGTERM)
        except (OSError, ValueError):
            pass

shutil.rmtree(work, ignore_errors=True)
for f in failures:
    print("FAIL", f)
print(f"exports: {len(failures)} failures")
sys.exit(1 if failures else 0)
