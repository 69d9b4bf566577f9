#!/usr/bin/env bash
# Measures how often the registry that the default database gives a block by
# its /8 agrees with a per-block source: ipv6calc's own registry tables
# (Debian's ipv6calc, "ipv6calc -q --showinfo -m ADDRESS" prints
# IPV4_REGISTRY=...). The sample is the first address of every STEP-th range
# of the range file, starting at range OFFSET. With MINIMUM (a percentage),
# exits 1 when the agreement is below it.
#
#   scripts/slash8-agreement.sh KESL-LOOKUP DATABASE [STEP [OFFSET [MINIMUM]]]
set -euo pipefail
lookup=$1
db=$2
step=${3:-20}
offset=${4:-7}
minimum=${5:-}
source=${KESL_GEOIP_SOURCE:-/usr/share/tor/geoip}
command -v ipv6calc > /dev/null || { echo "ipv6calc is not installed" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

grep -v '^#' "$source" | awk -F, -v step="$step" -v offset="$offset" '
  (NR - 1) % step == offset % step {
    a = $1 + 0
    printf "%d.%d.%d.%d\n", int(a / 16777216), int(a / 65536) % 256, int(a / 256) % 256, a % 256
  }' > "$work/addresses"
"$lookup" --db "$db" --stdin < "$work/addresses" | cut -f6 > "$work/kesl" || true
ipv6calc -q --showinfo -m < "$work/addresses" | sed -n 's/^IPV4_REGISTRY=//p' > "$work/ipv6calc"
paste "$work/addresses" "$work/kesl" "$work/ipv6calc" | awk -F'\t' -v minimum="$minimum" '
  { theirs = $3 == "RIPENCC" ? "RIPE" : $3
    n++; same += $2 == theirs
    if ($2 != theirs) { split($1, o, "."); off[o[1] "\t" $2 "\t" theirs]++ } }
  END {
    if (n == 0) { print "no sample"; exit 2 }
    for (k in off) if (off[k] * 1000 >= n) printf "  /8 %s: %d\n", k, off[k] | "sort -t: -k2 -nr"
    close("sort -t: -k2 -nr")
    pct = 100 * same / n
    printf "registry by /8 agrees with ipv6calc on %d of %d ranges: %.1f%%\n", same, n, pct
    if (minimum != "" && pct < minimum) { printf "below the goal of %s%%\n", minimum; exit 1 }
  }'
