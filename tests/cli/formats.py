#!/usr/bin/env python3
"""kesl-lookup's output forms read by independent readers: Python's json and
csv modules, an aggregation reference, and the real nft and ipset.

    formats.py KESL-LOOKUP DATABASE
"""
import csv
import io
import ipaddress
import json
import os
import socket
import struct
import subprocess
import sys

from spans import merged

lookup, db = sys.argv[1], sys.argv[2]
failures = []
FIELDS = ["query", "status", "address", "block", "country", "country_name", "registry", "date",
          "message", "country_kind", "allocation", "holder", "asns", "special"]
EU27 = "AT,BE,BG,HR,CY,CZ,DK,EE,FI,FR,DE,GR,HU,IE,IT,LV,LT,LU,MT,NL,PL,PT,RO,SK,SI,ES,SE"
DACH = "DE,AT,CH"


def run(*args, stdin=None, status=None):
    """The output as it is written: line ends are not translated."""
    p = subprocess.run([lookup, "--db", db, *args], input=stdin and stdin.encode(),
                       capture_output=True)
    if status is not None and p.returncode != status:
        failures.append(f"{args}: exit {p.returncode}, wanted {status}: {p.stderr!r}")
    return p.stdout.decode()


def check(name, ok, detail=""):
    if not ok:
        failures.append(f"{name}: {detail}")


queries = ["8.8.8.8", "0.0.0.1", "2001:4860:4860:0:0::8888", "999.1", "1.1.1.1"]
lines = run(*queries, status=1).splitlines()  # today's lines for the same queries

# JSON Lines: one object per answer, every field, in order.
answers = [json.loads(l) for l in run("--format", "json", *queries, status=1).splitlines()]
check("json count", len(answers) == len(queries), len(answers))
for a in answers:
    check("json fields", list(a) == FIELDS, list(a))
ok, missing, v6, bad, au = answers
check("json ok", ok["status"] == "ok" and ok["address"] == "8.8.8.8" and ok["country"] == "US"
      and ok["registry"] == "ARIN" and ok["message"] is None, ok)
check("json ok agrees with the line", lines[0].split("\t")[2:6] ==
      [ok["block"], ok["country"], ok["country_name"], ok["registry"]], (lines[0], ok))
check("json not found", missing["status"] == "not_found" and missing["block"] is None
      and missing["address"] == "0.0.0.1", missing)
check("json ipv6", v6["status"] == "ok" and v6["address"] == "2001:4860:4860::8888"
      and v6["country"] == "US" and ipaddress.IPv6Address(v6["address"]) in ipaddress.IPv6Network(
          v6["block"].split(" - ")[0] + "/32", strict=False), v6)
# The default database is made from tor's geoip files: located countries.
check("json country kind", ok["country_kind"] == "located" and v6["country_kind"] == "located"
      and missing["country_kind"] is None, (ok, missing))
check("json error", bad["status"] == "error" and bad["message"] == "Not a valid IPv4 address", bad)
check("json date", au["date"] is None or len(au["date"]) == 8, au)

# CSV by RFC 4180, with a header; a block in CIDR form holds commas.
text = run("--format", "csv", "--header", "--notation", "cidr", *queries, status=1)
check("csv line ends", text.count("\r\n") == len(queries) + 1, repr(text[:200]))
rows = list(csv.reader(io.StringIO(text, newline="")))
check("csv header", rows[0] == FIELDS, rows[0])
check("csv rows", [r[0] for r in rows[1:]] == queries, rows)
check("csv quoted block", "," in rows[1][3] and rows[1][3] == json.loads(
    run("--format", "json", "--notation", "cidr", "8.8.8.8"))["block"], rows[1][3])
check("csv same width", all(len(r) == len(FIELDS) for r in rows), rows)

# Chosen fields, in the chosen order; today's columns by default.
text = run("--fields", "country,query", "--header", "-", stdin="1.1.1.1\n8.8.8.8\n", status=0)
check("fields", text == "country\tquery\nAU\t1.1.1.1\nUS\t8.8.8.8\n", repr(text))
check("header of today's lines", run("--header", "8.8.8.8").splitlines()[0] ==
      "query\taddress\tblock\tcountry\tcountry_name\tregistry\tdate", "")
check("lines unchanged", lines[0].count("\t") == 6 and lines[2].split("\t")[1:4] ==
      ["2001:4860:4860::8888", v6["block"], "US"], lines)


# Aggregation against a reference that merges the sorted ranges.
def number(address):
    return struct.unpack("!I", socket.inet_aton(address))[0]


def ranges(text):
    out = []
    for line in text.splitlines():
        lo, hi = line.split(" - ")
        out.append((number(lo), number(hi)))
    return out


plain = ranges(run("--country", EU27, status=0))
reference = merged(plain)
check("aggregate ranges", ranges(run("--country", EU27, "--aggregate", status=0)) == reference,
      f"{len(reference)} ranges in the reference")
cidr = run("--country", DACH, "--notation", "cidr", status=0).split()
collapsed = [str(n) for n in ipaddress.collapse_addresses(ipaddress.IPv4Network(c) for c in cidr)]
check("aggregate prefixes", run("--country", DACH, "--notation", "cidr", "--aggregate").split()
      == collapsed, f"{len(cidr)} prefixes, {len(collapsed)} collapsed")
check("aggregation merges", len(collapsed) < len(cidr), f"{len(cidr)} prefixes")
union = run("--country", "DE", "--registry", "AFRINIC", "--notation", "cidr").split()
parts = set(run("--country", "DE", "--notation", "cidr").split()) | set(
    run("--registry", "afrinic", "--notation", "cidr").split())
check("union", len(union) == len(set(union)) and set(union) == parts, "DE and AFRINIC")
cidr6 = run("--country", DACH, "--family", "6", "--notation", "cidr", status=0).split()
collapsed6 = [str(n) for n in ipaddress.collapse_addresses(ipaddress.IPv6Network(c) for c in cidr6)]
check("aggregate IPv6 prefixes", run("--country", DACH, "--family", "6", "--notation", "cidr",
                                     "--aggregate").split() == collapsed6,
      f"{len(cidr6)} prefixes, {len(collapsed6)} collapsed")
check("IPv6 prefixes are canonical", all(str(ipaddress.IPv6Network(c)) == c for c in cidr6), "")
both = run("--country", "LI", "--family", "all", status=0).splitlines()
check("family all: IPv4 first, then IPv6", both == run("--country", "LI").splitlines() + run(
    "--country", "LI", "--family", "6").splitlines() and ":" in both[-1], both[-3:])

# The firewall forms, checked by the real tools. A machine where the tools
# cannot work at all (no netfilter for this user) skips them and says so;
# one where a trivial set works must take ours.
skipped = []


def tool_works(name, command, stdin):
    p = subprocess.run(command, input=stdin, capture_output=True, text=True)
    if p.returncode != 0:
        print(f"SKIP {name}: it cannot work here: {(p.stderr or p.stdout).strip()}")
        skipped.append(name)
    return p.returncode == 0


if tool_works("nft", ["nft", "-c", "-f", "-"],
              "table inet kesl_probe {\n\tset s {\n\t\ttype ipv4_addr\n\t}\n}\n"):
    nft = run("--country", "US", "--format", "nft", "--set-name", "kesl_us", status=0)
    p = subprocess.run(["nft", "-c", "-f", "-"], input=nft, capture_output=True, text=True)
    check("nft -c", p.returncode == 0, p.stderr[:500])
    nft = run("--country", DACH, "--notation", "cidr", "--aggregate", "--format", "nft",
              "--set-name", "dach")
    p = subprocess.run(["nft", "-c", "-f", "-"], input=nft, capture_output=True, text=True)
    check("nft -c cidr", p.returncode == 0, p.stderr[:500])
    for notation in ("range", "cidr"):
        nft = run("--country", DACH, "--family", "6", "--notation", notation, "--format", "nft",
                  "--set-name", "dach6", status=0)
        p = subprocess.run(["nft", "-c", "-f", "-"], input=nft, capture_output=True, text=True)
        check(f"nft -c IPv6 {notation}", p.returncode == 0 and "ipv6_addr" in nft, p.stderr[:500])

name = f"kesl_test_{os.getpid()}"
probe = f"kesl_probe_{os.getpid()}"
if tool_works("ipset", ["ipset", "restore"], f"create {probe} hash:net family inet\n"):
    subprocess.run(["ipset", "destroy", probe], capture_output=True)
    restore = run("--country", "US", "--format", "ipset", "--set-name", name, status=0)
    count = restore.count("\nadd ")
    p = subprocess.run(["ipset", "restore"], input=restore, capture_output=True, text=True)
    check("ipset restore", p.returncode == 0, p.stderr[:500])
    listed = subprocess.run(["ipset", "list", name, "-t"], capture_output=True, text=True).stdout
    # Above ipset's default maxelem of 65,536: the set the form creates must
    # be made large enough for the list, or the restore would stop there.
    check("ipset entries", f"Number of entries: {count}" in listed and count > 65536, listed)
    subprocess.run(["ipset", "destroy", name], capture_output=True)
    restore = run("--country", "DE", "--family", "6", "--format", "ipset", "--set-name", name,
                  status=0)
    count = restore.count("\nadd ")
    p = subprocess.run(["ipset", "restore"], input=restore, capture_output=True, text=True)
    check("ipset restore IPv6", p.returncode == 0 and "family inet6" in restore, p.stderr[:500])
    listed = subprocess.run(["ipset", "list", name, "-t"], capture_output=True, text=True).stdout
    check("ipset IPv6 entries", f"Number of entries: {count}" in listed and count > 1000, listed)
    subprocess.run(["ipset", "destroy", name], capture_output=True)

    # The live set is replaced whole: filled aside and swapped in. A restore
    # that fails on its last line leaves the old content; a good one leaves
    # exactly the new content, and no temporary set.
    def members(set_name):
        listed = subprocess.run(["ipset", "list", set_name], capture_output=True, text=True)
        if listed.returncode != 0:
            return None
        after = listed.stdout.split("Members:\n", 1)[-1].split()
        return {ipaddress.ip_network(m) for m in after}

    def prefixes(restore_text):
        return {ipaddress.ip_network(l.split()[2]) for l in restore_text.splitlines()
                if l.startswith("add ")}

    old = run("--country", "LI", "--format", "ipset", "--set-name", name, status=0)
    subprocess.run(["ipset", "restore"], input=old, capture_output=True, text=True)
    check("ipset old content", members(name) == prefixes(old), name)
    new = run("--country", "CH", "--format", "ipset", "--set-name", name, status=0)
    lines_new = new.splitlines()
    last_add = max(i for i, l in enumerate(lines_new) if l.startswith("add "))
    broken = "\n".join(lines_new[:last_add] + [lines_new[last_add] + "/99"]) + "\n"
    p = subprocess.run(["ipset", "restore"], input=broken, capture_output=True, text=True)
    check("ipset broken restore fails", p.returncode != 0, p.stderr[:300])
    check("ipset old content kept", members(name) == prefixes(old), "after a failed restore")
    p = subprocess.run(["ipset", "restore"], input=new, capture_output=True, text=True)
    check("ipset swap", p.returncode == 0 and members(name) == prefixes(new), p.stderr[:300])
    temp = [l.split()[1] for l in lines_new if l.startswith("create ")][0]
    check("ipset temporary set gone", temp != name and members(temp) is None, temp)
    # Sets of the user's that look like a temporary name are never touched:
    # NAME_new (the old temporary name) and the name itself cut short.
    mine = sorted({name + "_new", name[:27] + "_new"})
    for m in mine:
        subprocess.run(["ipset", "create", m, "hash:ip", "-exist"], capture_output=True)
        subprocess.run(["ipset", "add", m, "192.0.2.7", "-exist"], capture_output=True)
    p = subprocess.run(["ipset", "restore"], input=new, capture_output=True, text=True)
    check("ipset swap beside the user's sets", p.returncode == 0, p.stderr[:300])
    for m in mine:
        listed = subprocess.run(["ipset", "list", m], capture_output=True, text=True).stdout
        check("ipset user's set kept: " + m, "192.0.2.7" in listed, listed[:300])
        subprocess.run(["ipset", "destroy", m], capture_output=True)
    # A1, the old row for anonymous proxies, has no blocks in today's data.
    empty = subprocess.run([lookup, "--db", db, "--country", "A1", "--family", "6",
                            "--format", "ipset", "--set-name", name], capture_output=True)
    check("ipset no empty set by accident", empty.returncode == 1 and not empty.stdout
          and members(name) == prefixes(new), empty.stderr)
    subprocess.run(["ipset", "destroy", name], capture_output=True)

# nftables loads a file in one transaction: a load that fails on its last
# element leaves the set as it was. The set goes into table inet kesl, which
# the test removes again only when it made it.
nft_set = f"kesl_test_{os.getpid()}"
if "nft" not in skipped and tool_works(
        "nft (loading)", ["nft", "-f", "-"],
        f"table inet {probe} {{\n\tset s {{\n\t\ttype ipv4_addr\n\t}}\n}}\n"):
    subprocess.run(["nft", "delete", "table", "inet", probe], capture_output=True)
    had_table = subprocess.run(["nft", "list", "table", "inet", "kesl"],
                               capture_output=True).returncode == 0

    # The addresses a set holds, as merged ranges: nft merges what touches.
    def span(network):
        n = ipaddress.ip_network(network)
        return int(n.network_address), int(n.broadcast_address)

    def elements():
        listed = subprocess.run(["nft", "-j", "list", "set", "inet", "kesl", nft_set],
                                capture_output=True, text=True)
        spans = []
        for item in json.loads(listed.stdout)["nftables"]:
            for e in item.get("set", {}).get("elem", []):
                if isinstance(e, dict) and "prefix" in e:
                    spans.append(span(f"{e['prefix']['addr']}/{e['prefix']['len']}"))
                elif isinstance(e, dict) and "range" in e:
                    lo, hi = e["range"]
                    spans.append((int(ipaddress.ip_address(lo)), int(ipaddress.ip_address(hi))))
                else:
                    spans.append(span(e))
        return merged(spans)

    def nft_prefixes(text):
        spans = []
        for l in text.splitlines():
            if l.startswith("add element"):
                spans += [span(e.strip()) for e in l.split("{", 1)[1].rsplit("}", 1)[0].split(",")]
        return merged(spans)

    old = run("--country", "LI", "--notation", "cidr", "--format", "nft", "--set-name", nft_set,
              status=0)
    p = subprocess.run(["nft", "-f", "-"], input=old, capture_output=True, text=True)
    check("nft load", p.returncode == 0 and elements() == nft_prefixes(old), p.stderr[:300])
    new = run("--country", "CH", "--notation", "cidr", "--format", "nft", "--set-name", nft_set,
              status=0)
    broken = new.rstrip("\n").rsplit(" }", 1)[0] + ", 300.0.0.0/8 }\n"
    p = subprocess.run(["nft", "-f", "-"], input=broken, capture_output=True, text=True)
    check("nft broken load fails", p.returncode != 0, "")
    check("nft old elements kept", elements() == nft_prefixes(old), "after a failed load")
    p = subprocess.run(["nft", "-f", "-"], input=new, capture_output=True, text=True)
    check("nft new elements", p.returncode == 0 and elements() == nft_prefixes(new),
          p.stderr[:300])
    if had_table:
        subprocess.run(["nft", "delete", "set", "inet", "kesl", nft_set], capture_output=True)
    else:
        subprocess.run(["nft", "delete", "table", "inet", "kesl"], capture_output=True)

for f in failures:
    print("FAIL", f)
print(f"formats: {len(failures)} failures")
sys.exit(1 if failures else 77 if skipped else 0)
