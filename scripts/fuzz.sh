#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), two at
# a time, from the generated seeds. A crash fails the run and leaves the
# reproducing input in the log, as hex.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh clang libfuzzer-14-dev libclang-rt-14-dev libmaxminddb-dev
# Only the fuzzers are built here: the test command builds and runs the rest
# elsewhere.
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESL_FUZZ=ON -DKESL_BUILD_GUI=OFF \
  -DKESL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1" \
  > /dev/null
cmake --build build-fuzz -j2 --target fuzzers
dir=build-fuzz/fuzz
# Fuzzing is blind without coverage feedback from the code under test, and
# finds little without the sanitizers in it: refuse a build whose core lacks
# either.
for lib in build-fuzz/libkesl_tools.a build-fuzz/libkesl_streams.a build-fuzz/libkesl_ipdb.a \
    build-fuzz/libkesl_dbbuild.a; do
  symbols=$(nm "$lib" 2>/dev/null || true)
  if ! grep -q __sanitizer_cov <<< "$symbols"; then
    echo "fuzz: $lib carries no coverage instrumentation; the fuzzers would run blind" >&2
    exit 1
  fi
  if ! grep -q __asan_ <<< "$symbols"; then
    echo "fuzz: $lib is not built with AddressSanitizer" >&2
    exit 1
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$dir/kesl_fuzz_seeds" "$work/seeds"
targets=(loadfile textbody binbody strtoip streams mkdb inplace ipv6 addrscan delegation mmdb)
run() {
  local t=$1
  mkdir -p "$work/corpus/$t"
  cp "$work/seeds/$t/"* "$work/corpus/$t/"
  if "$dir/kesl_fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/crash-$t-" "$work/corpus/$t" > "$work/$t.log" 2>&1; then
    echo "fuzz $t: $(grep -m1 -o 'number_of_executed_units: [0-9]*' "$work/$t.log" | cut -d' ' -f2) runs," \
      "$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/$t.log" | tail -1), no crash"
  else
    echo "fuzz $t: FAILED"
    tail -60 "$work/$t.log"
    for f in "$work"/crash-"$t"-*; do
      [ -f "$f" ] || continue
      echo "reproducer $f:"
      od -An -tx1 -v "$f" | head -200
    done
    return 1
  fi
}
failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  run "${targets[i]}" > "$work/out-a" 2>&1 &
  a=$!
  b=""
  : > "$work/out-b"
  if ((i + 1 < ${#targets[@]})); then
    run "${targets[i + 1]}" > "$work/out-b" 2>&1 &
    b=$!
  fi
  wait $a || failed=$((failed + 1))
  if [ -n "$b" ]; then wait $b || failed=$((failed + 1)); fi
  cat "$work/out-a" "$work/out-b"
done
echo "fuzz: $((${#targets[@]} - failed)) passed, $failed failed"
[ $failed = 0 ]
