#!/usr/bin/env python3
"""The default database's IPv6 answers against tor's geoip6 file, read here
with the C library's inet_pton and nothing of the compiler: for each range
its first and last address, the addresses just outside it, and a random one
inside, the country kesl-lookup gives must be the file's (none for an
address in no range or in a range of unknown country, "??"; UK is GB, as
Kesl reads every source). The addresses it writes must be the C library's
inet_ntop forms, which are RFC 5952's for all but IPv4-compatible
addresses (the file has none).

    geoip6_agreement.py KESL-LOOKUP DATABASE [GEOIP6]
"""
import bisect
import socket
import random
import subprocess
import sys

lookup, db = sys.argv[1], sys.argv[2]
source = sys.argv[3] if len(sys.argv) > 3 else "/usr/share/tor/geoip6"
def number(text):
    return int.from_bytes(socket.inet_pton(socket.AF_INET6, text), "big")


def text(address):
    return socket.inet_ntop(socket.AF_INET6, address.to_bytes(16, "big"))


ranges = []
with open(source) as f:
    for line in f:
        if line.startswith("#") or not line.strip():
            continue
        first, last, country = line.strip().split(",")
        country = "GB" if country == "UK" else "" if country == "??" else country
        ranges.append((number(first), number(last), country))
ranges.sort()
starts = [r[0] for r in ranges]


def expected(address):
    i = bisect.bisect_right(starts, address) - 1
    return ranges[i][2] if i >= 0 and address <= ranges[i][1] else ""


rng = random.Random(6)
top = (1 << 128) - 1
queries = []  # (address, its text, the country the file gives it)
for first, last, country in ranges:
    for a in (first, last, rng.randint(first, last)):
        queries.append((a, country))
    for a in (first - 1, last + 1):
        if 0 <= a <= top:
            queries.append((a, expected(a)))
queries = [(a, text(a), c) for a, c in queries]
p = subprocess.run([lookup, "--db", db, "--fields", "address,country", "-"], input="".join(t + "\n" for _, t, _ in queries).encode(),
                   capture_output=True)
lines = p.stdout.decode().splitlines()
if len(lines) != len(queries):
    sys.exit(f"{len(lines)} answers to {len(queries)} queries: {p.stderr.decode()[:500]}")
wrong = []
for (_, want_address, want_country), line in zip(queries, lines):
    address, country = line.split("\t")
    if (address, country) != (want_address, want_country):
        wrong.append(f"{want_address}: kesl {address} {country or '-'}, geoip6 {want_country or '-'}")
for w in wrong[:20]:
    print("DISAGREE", w)
print(f"geoip6: {len(queries) - len(wrong)} of {len(queries)} addresses agree "
      f"({len(ranges)} ranges)")
sys.exit(1 if wrong else 0)
