#!/usr/bin/env bash
# The bash completion against the programs themselves: every option that
# a program's --help names is offered, and every value of an option with a
# fixed set of values (as the program's own "use A, B or C" lists them) is
# named by --help and offered. The completion is written by hand: this is
# what keeps it from drifting.
# Usage: completion_test.sh COMPLETION BINDIR
set -euo pipefail
completion=$1
bin=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# What the completion offers for the words given, the last being completed.
complete_words() {
  bash --norc -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    if [[ ${COMP_WORDS[0]} == *mkdb ]]; then _kesl_mkdb; else _kesl_lookup; fi
    printf "%s\n" "${COMPREPLY[@]}"' _ "$@"
}
# Nothing a program is asked here may touch a real database or the network.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export KESL_DB="$scratch/none.ip4" HOME="$scratch" XDG_DATA_HOME="$scratch"

checked=0
for program in kesl-lookup kesl-mkdb; do
  help=$("$bin/$program" --help)
  # Options: those of the usage lines (up to the first blank line), and the
  # one or two that start each option line ("  --stdin, -").
  usage=$(sed '/^$/q' <<< "$help")
  lines=$(grep -E '^  -' <<< "$help" | sed -E 's/^  (-[^ ,]+)(, (-[^ ,]+))?.*/\1 \3/')
  options=$(grep -oE '(^|[][ |,])--?[a-zA-Z0-9][a-zA-Z0-9-]*' <<< "$usage $lines" |
    sed -E 's/^[][ |,]//' | sort -u)
  [ -n "$options" ] || fail "$program: no option found in --help"
  offered=$(complete_words "$completion" "$bin/$program" -)
  for option in $options; do
    checked=$((checked + 1))
    grep -qxF -- "$option" <<< "$offered" || fail "$program: $option is not offered"
    [[ $option == --* ]] || continue
    # A fixed set of values shows in the refusal of one that is none of
    # them; "=" keeps an option without a value from doing anything.
    refusal=$("$bin/$program" "$option=kesl-no-such-value" 2>&1 < /dev/null || true)
    values=$(sed -nE "s/.*unknown $option value 'kesl-no-such-value': use (.*)/\\1/p" <<< "$refusal" |
      sed -E 's/,? or /, /; s/, /\n/g')
    [ -n "$values" ] || continue
    offeredValues=$(complete_words "$completion" "$bin/$program" "$option" "")
    for value in $values; do
      checked=$((checked + 1))
      grep -qw -- "$value" <<< "$help" || fail "$program: --help does not name $option $value"
      grep -qxF -- "$value" <<< "$offeredValues" || fail "$program: $option $value is not offered"
    done
  done
done
# --fields takes a list: each field that --help names.
fields=$(complete_words "$completion" "$bin/kesl-lookup" --fields "")
for field in query status address block country country_name registry date message country_kind; do
  checked=$((checked + 1))
  grep -qw -- "$field" <<< "$("$bin/kesl-lookup" --help)" || fail "--help does not name the field $field"
  grep -qxF -- "$field" <<< "$fields" || fail "--fields $field is not offered"
done
echo "completion: $checked checks, $failures failed"
[ "$failures" = 0 ]
