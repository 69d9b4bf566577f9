#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs every
# test: the suite, the suite again built with AddressSanitizer (leak
# detection on) and UndefinedBehaviorSanitizer, and each fuzzer for a short,
# bounded time (KESL_FUZZ_SECONDS, default 20; 0 skips the fuzzers). Each
# stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
# The tests read output with python3 and check it with the real tools: the
# firewalls, and the programs that read the exports.
# The engines that read the exports: ClickHouse, PostgreSQL with ip4r, and
# Node.js for DuckDB's API (npm comes with Node.js from some sources).
engines=(clickhouse-server clickhouse-client postgresql-15 postgresql-15-ip4r nodejs)
command -v npm > /dev/null || engines+=(npm)
bash scripts/setup.sh clang libfuzzer-14-dev libclang-rt-14-dev libmaxminddb-dev clang-format python3 ipv6calc \
  nftables ipset appstream desktop-file-utils man-db groff-base mmdb-bin python3-maxminddb \
  nginx-light haproxy systemd openssl "${engines[@]}"
started=$SECONDS
stage() { echo "== $1 (at $((SECONDS - started)) s)"; }

stage "formatting"
bash scripts/format.sh --check

# Line tables are all the debug information a failure report needs, and
# full debug information for the Qt code doubles the compile time.
stage "tests"
bash scripts/build.sh build -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
# DuckDB's Node.js API, from the npm registry, into the build tree.
if [ ! -d build/engines/node_modules/@duckdb/node-api ]; then
  npm install --prefix build/engines --no-audit --no-fund --loglevel=error @duckdb/node-api
fi
(cd build && ctest --output-on-failure -j2 --timeout 900)

stage "tests with AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh build-asan -DKESL_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j2 --timeout 900 -LE engines)

seconds=${KESL_FUZZ_SECONDS:-20}
if [ "$seconds" != 0 ]; then
  stage "fuzzing, ${seconds}s each"
  bash scripts/fuzz.sh "$seconds"
fi
stage "done"
