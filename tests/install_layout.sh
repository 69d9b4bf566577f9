#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it as a Linux
# program: the programs in bin, the default database in share/kesl where the
# programs find it, man pages that render without a warning, bash completion
# that loads and offers options, and with the window its desktop entry,
# icon and AppStream metadata, validated.
set -eu
build=$1
gui=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cmake --install "$build" --prefix "$prefix" > /dev/null
test -f "$prefix/share/kesl/country.ip4" || fail "no share/kesl/country.ip4"
test -x "$prefix/bin/kesl-mkdb" || fail "no bin/kesl-mkdb"
test ! -e "$prefix/lib/kesl" || fail "lib/kesl is installed"
# No user database and no KESL_DB: the installed default is the one in use.
info=$(env -u KESL_DB XDG_DATA_HOME="$prefix/no-data" "$prefix/bin/kesl-lookup" --info)
grep -q "^Database: $prefix/bin/../share/kesl/country.ip4\$" <<< "$info" || fail "$info"
grep -q '^Source: geoip, .*CC BY-SA 4.0, IPFire Location Database via tor-geoipdb$' <<< "$info" ||
  fail "no provenance: $info"
# The default database answers both families.
if [ -f "${KESL_GEOIP6_SOURCE:-/usr/share/tor/geoip6}" ]; then
  grep -q '^IPv6 blocks: [1-9][0-9]*$' <<< "$info" || fail "no IPv6 blocks: $info"
  answer=$(env -u KESL_DB XDG_DATA_HOME="$prefix/no-data" "$prefix/bin/kesl-lookup" \
    --fields address,country 2001:4860:4860:0::8888)
  [ "$answer" = "$(printf '2001:4860:4860::8888\tUS')" ] || fail "IPv6 answer: $answer"
fi
for p in kesl-lookup kesl-mkdb; do
  [ "$("$prefix/bin/$p" --version)" = "$p $(sed -n 's/.*kProgramVersion\[\] = "\(.*\)";/\1/p' \
    "$build/generated/tools/version.h")" ] || fail "$p --version"
done

# The user timer that renews the database, checked as systemd would load it
# (its documentation, the installed man page, must be found too).
units="$prefix/lib/systemd/user"
grep -q "^ExecStart=\"$prefix/bin/kesl-mkdb\" --update\$" "$units/kesl-update.service" ||
  fail "kesl-update.service: $(cat "$units/kesl-update.service")"
runtime=$(mktemp -d)
verified=$(XDG_RUNTIME_DIR="$runtime" MANPATH="$prefix/share/man" \
  systemd-analyze verify --user "$units/kesl-update.service" "$units/kesl-update.timer" 2>&1) ||
  fail "systemd-analyze verify: $verified"
rm -rf "$runtime"
[ -z "$verified" ] || fail "systemd-analyze verify: $verified"
# Sandboxed as a packager would: systemd's own rating of its exposure, at
# most 5.0 ("OK" or better).
runtime=$(mktemp -d)
exposure=$(XDG_RUNTIME_DIR="$runtime" systemd-analyze security --offline=true --user \
  "$units/kesl-update.service" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
rm -rf "$runtime"
[ -n "$exposure" ] && awk "BEGIN { exit !($exposure <= 5.0) }" ||
  fail "kesl-update.service exposure: '$exposure'"

# Man pages, rendered as Debian's checks do, warnings on.
for page in man1/kesl.1 man1/kesl-lookup.1 man1/kesl-mkdb.1 man5/country.ip4.5; do
  file="$prefix/share/man/$page"
  test -s "$file" || fail "no $page"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$file" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done
man -l "$prefix/share/man/man1/kesl-lookup.1" 2> /dev/null | grep -q -- '--aggregate' ||
  fail "kesl-lookup(1) lacks --aggregate"

# Completion: loads in a plain bash and offers options, formats, countries.
completions="$prefix/share/bash-completion/completions"
complete_words() {
  bash --norc -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    if [[ ${COMP_WORDS[0]} == *mkdb ]]; then _kesl_mkdb; else _kesl_lookup; fi
    echo "${COMPREPLY[*]}"' _ "$@"
}
lookup="$completions/kesl-lookup"
[ "$(complete_words "$lookup" "$prefix/bin/kesl-lookup" --for)" = "--format" ] || fail "--for"
[ "$(complete_words "$lookup" "$prefix/bin/kesl-lookup" --format j)" = "json" ] || fail "json"
codes=$(complete_words "$lookup" "$prefix/bin/kesl-lookup" --country DE,c)
grep -qw 'DE,CH' <<< "$codes" && ! grep -qv '^DE,C' <<< "$(tr ' ' '\n' <<< "$codes")" ||
  fail "country codes: $codes"
[ "$(complete_words "$lookup" "$prefix/bin/kesl-lookup" --registry afr)" = "AFRINIC" ] || fail "registry"
[ "$(complete_words "$lookup" "$prefix/bin/kesl-lookup" --family a)" = "all" ] || fail "family"
[ "$(complete_words "$completions/kesl-mkdb" "$prefix/bin/kesl-mkdb" --upd)" = "--update" ] ||
  fail "mkdb --upd"

case "$gui" in
  ON|on|1|TRUE|true)
    test -x "$prefix/bin/kesl" || fail "no bin/kesl"
    desktop="$prefix/share/applications/example.velcor.Kesl.desktop"
    grep -q "^Exec=.*/kesl\$" "$desktop" || fail "Exec"
    grep -q "^Icon=example.velcor.Kesl\$" "$desktop" || fail "Icon"
    test -f "$prefix/share/icons/hicolor/scalable/apps/example.velcor.Kesl.svg" || fail "icon"
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "$out"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
    metainfo="$prefix/share/metainfo/example.velcor.Kesl.metainfo.xml"
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
    grep -q '<launchable type="desktop-id">example.velcor.Kesl.desktop</launchable>' "$metainfo" ||
      fail "launchable"
    # Without a display: one plain line and status 1, not Qt's abort.
    set +e
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/kesl" 2>&1)
    rc=$?
    set -e
    [ "$rc" = 1 ] || fail "kesl without a display exited $rc"
    [ "$(wc -l <<< "$out")" = 1 ] && grep -q 'no display.*kesl-lookup' <<< "$out" || fail "$out"
    set +e
    out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:99.7 "$prefix/bin/kesl" 2>&1)
    rc=$?
    set -e
    [ "$rc" = 1 ] && [ "$(wc -l <<< "$out")" = 1 ] || fail "kesl with an unreachable display: $rc $out"
    [ "$("$prefix/bin/kesl" --version)" = "kesl $("$prefix/bin/kesl-lookup" --version | cut -d' ' -f2)" ] ||
      fail "kesl --version" ;;
esac
echo "install layout: all checks passed"
