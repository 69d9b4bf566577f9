#!/usr/bin/env python3
"""kesl-lookup --annotate over a generated access log of 100,000 lines on the
default database: every address the log holds gets the answer that
kesl-lookup gives for it alone, in the right place, and nothing else in the
log changes; what only looks like an address (versions, times, numbers with
leading zeros) is left alone.

usage: annotate.py KESL-LOOKUP DATABASE"""
import ipaddress
import json
import random
import subprocess
import sys
import tempfile

lookup, db = sys.argv[1], sys.argv[2]
rng = random.Random(20261208)
failures = 0


def check(name, ok, detail=""):
    global failures
    if not ok:
        failures += 1
        print("FAIL", name, str(detail)[:2000])


def ipv4():
    return str(ipaddress.IPv4Address(rng.getrandbits(32)))


def ipv6():
    # Mostly inside the space the registries hand out, in the text forms
    # people and programs write.
    a = ipaddress.IPv6Address((0x2000 + rng.randrange(0x2000)) << 112 | rng.getrandbits(112))
    form = rng.randrange(4)
    if form == 0:
        return a.exploded
    if form == 1:
        return a.exploded.upper()
    if form == 2:
        return "::ffff:" + ipv4()
    return a.compressed


# What only looks like an address: left alone.
DECOYS = ["v1.2.3.4", "1.2.3.4.5", "01.2.3.4", "256.1.1.1", "12:34:56", "::", "1.2.3",
          "Chrome/120.0.6099.109", "0.0.0.0.0", "a1.2.3.4", "1.2.3.4x", "10.0.0.1_b"]

pieces = []  # (text, is_address)
for n in range(100000):
    client = ipv4() if rng.random() < 0.8 else ipv6()
    line = [(client, True), (" - - [08/Dec/2026:%02d:%02d:%02d +0000] \"GET /" % (
        rng.randrange(24), rng.randrange(60), rng.randrange(60)), False)]
    if rng.random() < 0.05:
        line += [("?ip=", False), (ipv4(), True)]
    if rng.random() < 0.03:
        line += [("?peer=[", False), (ipv6(), True), ("]:443", False)]
    line += [(" HTTP/1.1\" %d %d \"-\" \"Mozilla/5.0 %s\"" % (
        rng.choice([200, 301, 404]), rng.randrange(100000), rng.choice(DECOYS)), False)]
    if rng.random() < 0.02:
        line += [(" fwd ", False), (ipv4(), True), (":8080.", False)]
    pieces += line + [("\n", False)]

addresses = sorted({t for t, a in pieces if a})
answers = subprocess.run([lookup, "--db", db, "--format", "json", "--fields", "query,country",
                          "--stdin"], input="\n".join(addresses) + "\n", capture_output=True,
                         text=True).stdout.splitlines()
check("one answer per address", len(answers) == len(addresses), (len(answers), len(addresses)))
answer = {}
for line in answers:
    a = json.loads(line)
    answer[a["query"]] = a["country"] or "-"

log = "".join(t for t, a in pieces)
want = "".join(t + "[" + answer[t] + "]" if a else t for t, a in pieces)
with tempfile.NamedTemporaryFile("w", suffix=".log") as f:
    f.write(log)
    f.flush()
    for args in (["--annotate", f.name], ["--annotate"]):
        run = subprocess.run([lookup, "--db", db] + args, stdin=open(f.name, "rb"),
                             capture_output=True)
        check("status " + " ".join(args[:1]), run.returncode == 0, run.stderr)
        got = run.stdout.decode()
        if got != want:
            at = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]),
                      min(len(got), len(want)))
            check("annotated log " + str(len(args)), False,
                  "first difference at %d: got %r, want %r" % (at, got[at - 60:at + 60],
                                                               want[at - 60:at + 60]))
    # JSON: a line each, with its addresses in order.
    run = subprocess.run([lookup, "--db", db, "--annotate", "--format", "json", "--fields",
                          "query,country", f.name], capture_output=True)
    lines = run.stdout.decode().splitlines()
    check("json lines", len(lines) == 100000, len(lines))
    per_line, current = [], []
    for t, a in pieces:
        if a:
            current.append(t)
        if t == "\n":
            per_line.append(current)
            current = []
    for i in range(0, len(lines), 997):
        o = json.loads(lines[i])
        check("json line %d" % i, o["line"] == log.split("\n")[i], o["line"])
        check("json addresses %d" % i, [a["query"] for a in o["addresses"]] == per_line[i]
              and all((a["country"] or "-") == answer[a["query"]] for a in o["addresses"]),
              (o["addresses"], per_line[i]))

print("annotate: %d lines, %d addresses, %d failures" % (100000, sum(1 for t, a in pieces if a),
                                                       failures))
sys.exit(1 if failures else 0)
