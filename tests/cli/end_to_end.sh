#!/usr/bin/env bash
# Runs kesl-mkdb and kesl-lookup as built on generated input and checks their
# output and exit status.
set -u
mkdb=$1
lookup=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
    fail=1
  fi
}

printf '# generated\n16777216,16777471,AU\n134744064,134744831,US\n687866112,687866367,ZA\n' > "$dir/ranges"
printf '2|ripencc|20261130|1|19830705|20261129|+0100\nripencc|RS|ipv4|5.1.0.0|256|20120101|allocated\n' \
  | gzip > "$dir/delegated.gz"

"$mkdb" -o "$dir/country.ip4" --compress bzip2 "$dir/ranges" "$dir/delegated.gz" > "$dir/out" 2> "$dir/err"
check "mkdb status" 0 $?
check "mkdb summary" "Blocks: 4 (0 duplicates dropped)" "$(sed -n 2p "$dir/out")"
check "mkdb registries" "Registries added: 1 AFRINIC" "$(sed -n 4p "$dir/out")"

out=$("$lookup" --db "$dir/country.ip4" 8.8.9.1 41.0.1.1 5.1.0.9)
check "lookup status" 0 $?
check "lookup output" "$(printf '8.8.9.1\t8.8.9.1\t8.8.8.0 - 8.8.10.255\tUS\tUnited States\tARIN\t0\n41.0.1.1\t41.0.1.1\t41.0.1.0 - 41.0.1.255\tZA\tSouth Africa\tAFRINIC\t0\n5.1.0.9\t5.1.0.9\t5.1.0.0 - 5.1.0.255\tRS\tSerbia\tRIPE\t20120101')" "$out"

out=$(printf '1.0.0.1\n9.9.9.9\n' | "$lookup" --db "$dir/country.ip4" --stdin --notation cidr)
check "stdin status" 1 $?
check "stdin output" "$(printf '1.0.0.1\t1.0.0.1\t1.0.0.0/24\tAU\tAustralia\tAPNIC\t0\n9.9.9.9\t9.9.9.9\t-')" "$out"

out=$("$lookup" --db "$dir/country.ip4" --notation cidr --country US)
check "country" "$(printf '8.8.8.0/23\n8.8.10.0/24')" "$out"

"$mkdb" --check "$dir/country.ip4" > "$dir/check"
check "check status" 0 $?
check "check date" "Created: 2026-11-29" "$(grep "^Created: " "$dir/check")"

printf 'IPBB10' > "$dir/short.ip4"
out=$("$lookup" --db "$dir/short.ip4" 1.1.1.1 2>&1)
check "bad db status" 3 $?
check "bad db message" "The file $dir/short.ip4 is not valid or unknown IPv4 database file" "$out"

"$lookup" > /dev/null 2>&1
check "usage status" 2 $?

# Answers that cannot be written (a full disk) are no success: one answer,
# written at once, and an annotated log, written by pieces while the next
# is made.
"$lookup" --db "$dir/country.ip4" 8.8.9.1 > /dev/full 2> "$dir/err"
check "full disk status" 4 $?
check "full disk message" "kesl-lookup: cannot write the answers: No space left on device" "$(cat "$dir/err")"
for i in $(seq 5000); do echo "1.0.0.$((i % 250)) - GET /index.html"; done > "$dir/log"
"$lookup" --db "$dir/country.ip4" --annotate "$dir/log" > /dev/full 2> "$dir/err"
check "full disk annotate status" 4 $?
check "full disk annotate message" "kesl-lookup: cannot write the answers: No space left on device" \
  "$(cat "$dir/err")"
"$lookup" --db "$dir/country.ip4" --annotate "$dir/log" > "$dir/annotated"
check "annotate status" 0 $?
check "annotate output" "$(sed 's/^1\.0\.0\.[0-9]*/&[AU]/' "$dir/log" | md5sum)" \
  "$(md5sum < "$dir/annotated")"

if [ $fail = 0 ]; then echo "end to end: all checks passed"; fi
exit $fail
