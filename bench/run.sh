#!/usr/bin/env bash
# Builds in Release, runs the benchmarks on the default database's source,
# and ends with one line per goal: goal NAME MEASURED TARGET pass|fail
set -euo pipefail
cd "$(dirname "$0")/.."
# geoiplookup (libGeoIP) with its country database: the peer of the one-address goal;
# GNU time for the exports' and the update's peak memory; python3 makes the
# inputs.
bash scripts/setup.sh geoip-bin geoip-database time python3
bash scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DKESL_BENCH=ON -DKESL_BUILD_TESTS=OFF
# Generated inputs, from fixed seeds: nothing is downloaded.
inputs=$(mktemp -d)
trap 'rm -rf "$inputs"' EXIT
/usr/bin/python3 bench/gen_registries.py "$inputs/registries"
/usr/bin/python3 bench/gen_logs.py "$inputs/access.log"
/usr/bin/python3 bench/gen_logs.py "$inputs/window.log" 1000000lines
# On the disk before anything is timed: the write-back of a gigabyte just
# made would otherwise fall on whichever run comes while it goes on.
sync "$inputs"/*
KESL_BENCH_REGISTRIES="$inputs/registries" KESL_BENCH_LOG="$inputs/access.log" \
  KESL_BENCH_WINDOW_LOG="$inputs/window.log" \
  build-bench/bin/kesl_bench "$@" /usr/share/tor/geoip
