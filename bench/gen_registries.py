#!/usr/bin/env python3
"""Writes five registry statistics files as large as the registries' own
(LINES lines each, 500,000 by default: 2.5 million in all) with their .md5
files into DIR, for the update's memory benchmark. A fixed seed: the same
files every run. Each registry lists only its own records, none larger than
a /8 or a /12, none overlapping, with right summaries. As in the registries'
extended files, a holder's opaque id ties its records together: some
150,000 holders in all, each with a few blocks of both families and AS
numbers (some in runs); ARIN's and RIPE's ids are long hex or UUID-like
text, the others' eight hex digits.

usage: gen_registries.py DIR [LINES]"""
import hashlib
import ipaddress
import os
import random
import sys

REGISTRIES = ["arin", "ripencc", "apnic", "lacnic", "afrinic"]
COUNTRIES = ["US", "CA", "DE", "NL", "GB", "FR", "JP", "CN", "AU", "IN", "BR", "AR", "MX", "ZA",
             "EG", "NG", "KE", "RU", "IT", "ES"]


def registry_file(index, token, lines, rng):
    n4 = lines // 2
    n6 = lines // 4
    nasn = lines - n4 - n6 - 2
    records = []
    # About one holder for every 17 lines.
    holders = []
    for _ in range(max(1, lines // 17)):
        if token == "arin":
            holders.append("%032x" % rng.getrandbits(128))
        elif token == "ripencc":
            h = "%032x" % rng.getrandbits(128)
            holders.append("%s-%s-%s-%s-%s" % (h[:8], h[8:12], h[12:16], h[16:20], h[20:]))
        else:
            holders.append("%08X" % rng.getrandbits(32))

    def holder():
        return rng.choice(holders)
    # IPv4: blocks of /24 to /20 one after another from the registry's own /8s.
    at = (1 + index * 40) << 24
    for _ in range(n4):
        size = 256 << rng.randrange(5)
        at = (at + size - 1) // size * size
        status = rng.choices(["allocated", "assigned", "available", "reserved"], [60, 36, 3, 1])[0]
        cc = "ZZ" if status in ("available", "reserved") else rng.choice(COUNTRIES)
        date = "" if status != "allocated" and status != "assigned" else \
            "%04d%02d%02d" % (rng.randrange(1990, 2026), rng.randrange(1, 13), rng.randrange(1, 29))
        free = status in ("available", "reserved")
        records.append("%s|%s|ipv4|%s|%d|%s|%s|%s" % (token, cc, ipaddress.IPv4Address(at), size,
                                                      date, status, "" if free else holder()))
        at += size
    # IPv6: /32s and /48s one after another from the registry's own /12.
    at6 = (0x210 + index * 0x10) << 116
    for _ in range(n6):
        bits = rng.choice([32, 48])
        size = 1 << (128 - bits)
        at6 = (at6 + size - 1) // size * size
        date = "%04d%02d%02d" % (rng.randrange(1999, 2026), rng.randrange(1, 13), rng.randrange(1, 29))
        records.append("%s|%s|ipv6|%s|%d|%s|allocated|%s" % (
            token, rng.choice(COUNTRIES), ipaddress.IPv6Address(at6), bits, date, holder()))
        at6 += size
    # AS numbers: one in twenty records a run of two to sixteen.
    asn = 64512 + index * nasn * 4
    for i in range(nasn):
        count = rng.randrange(2, 17) if rng.randrange(20) == 0 else 1
        records.append("%s|%s|asn|%d|%d|20100101|assigned|%s" % (
            token, rng.choice(COUNTRIES), asn, count, holder()))
        asn += count
    head = ["2.3|%s|20261207|%d|19830101|20261207|+0000" % (token, len(records)),
            "%s|*|asn|*|%d|summary" % (token, nasn),
            "%s|*|ipv4|*|%d|summary" % (token, n4),
            "%s|*|ipv6|*|%d|summary" % (token, n6)]
    return "\n".join(head + records) + "\n"


def main():
    folder = sys.argv[1]
    lines = int(sys.argv[2]) if len(sys.argv) > 2 else 500000
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20261208)
    for index, token in enumerate(REGISTRIES):
        name = "delegated-%s-extended-latest" % token
        data = registry_file(index, token, lines, rng).encode()
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        with open(os.path.join(folder, name + ".md5"), "w") as f:
            f.write("%s  %s\n" % (hashlib.md5(data).hexdigest(), name))


main()
