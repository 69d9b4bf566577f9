#!/usr/bin/env python3
"""Writes a web access log in the combined format, SIZE bytes (1 GiB by
default), for the --annotate benchmark: client addresses 80% IPv4 and 20%
IPv6 drawn from the blocks of the default database's sources (tor's geoip
and geoip6 range files), and a few addresses inside request paths and user
agents. A fixed seed: the same log every run.

SIZE may be given in lines instead, as a number ending in "lines"
(1000000lines): the log then has exactly that many.

usage: gen_logs.py OUT [SIZE [GEOIP GEOIP6]]"""
import ipaddress
import random
import sys

out = sys.argv[1]
size_arg = sys.argv[2] if len(sys.argv) > 2 else str(1 << 30)
line_limit = int(size_arg[:-5]) if size_arg.endswith("lines") else None
size = float("inf") if line_limit is not None else int(size_arg)
geoip = sys.argv[3] if len(sys.argv) > 3 else "/usr/share/tor/geoip"
geoip6 = sys.argv[4] if len(sys.argv) > 4 else "/usr/share/tor/geoip6"
rng = random.Random(20261208)


def ranges(path, parse):
    found = []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                continue
            parts = line.strip().split(",")
            if len(parts) == 3 and parts[2] != "??":
                found.append((parse(parts[0]), parse(parts[1])))
    return found


v4 = ranges(geoip, int)
v6 = ranges(geoip6, lambda s: int(ipaddress.IPv6Address(s)))


def pool(blocks, n, text):
    return [text(lo + rng.randrange(hi - lo + 1)) for lo, hi in
            (rng.choice(blocks) for _ in range(n))]


# Pools of addresses to draw from: a busy server sees the same clients often.
clients4 = pool(v4, 200000, lambda a: str(ipaddress.IPv4Address(a)))
clients6 = pool(v6, 50000, lambda a: ipaddress.IPv6Address(a).compressed)
paths = ["/", "/index.html", "/static/app.%d.js", "/api/v2/items/%d", "/images/photo-%d.jpg",
         "/search?q=kesl+%d", "/wp-login.php", "/robots.txt", "/feed.xml?page=%d"]
agents = ["Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
          "Chrome/120.0.6099.109 Safari/537.36",
          "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:121.0) Gecko/20100101 Firefox/121.0",
          "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1_2 like Mac OS X) AppleWebKit/605.1.15 "
          "(KHTML, like Gecko) Version/17.1.2 Mobile/15E148 Safari/604.1",
          "curl/8.5.0", "Googlebot/2.1 (+http://www.google.com/bot.html)",
          "python-requests/2.31.0"]
referers = ["-", "https://www.example.com/", "https://search.example.org/?q=ip+country"]
months = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]

written = 0
lines = 0
with open(out, "w") as f:
    chunk = []
    while written < size and (line_limit is None or lines < line_limit):
        lines += 1
        client = rng.choice(clients4) if rng.random() < 0.8 else rng.choice(clients6)
        path = rng.choice(paths)
        if "%d" in path:
            path = path % rng.randrange(100000)
        if rng.random() < 0.01:
            path = "/geo?ip=" + rng.choice(clients4)
        agent = rng.choice(agents)
        if rng.random() < 0.01:
            agent += " (via proxy " + rng.choice(clients4) + ")"
        line = '%s - - [%02d/%s/2026:%02d:%02d:%02d +0000] "GET %s HTTP/1.1" %d %d "%s" "%s"\n' % (
            client, rng.randrange(1, 29), rng.choice(months), rng.randrange(24),
            rng.randrange(60), rng.randrange(60), path, rng.choice((200, 200, 200, 304, 404)),
            rng.randrange(50000), rng.choice(referers), agent)
        chunk.append(line)
        written += len(line)
        if len(chunk) >= 10000:
            f.write("".join(chunk))
            chunk = []
    f.write("".join(chunk))
