#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the layout: the
# programs in bin, the default database in share/kesl where the programs
# find it, and with the window the desktop entry and icon.
set -eu
build=$1
gui=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
test -f "$prefix/share/kesl/country.ip4"
test -x "$prefix/bin/kesl-mkdb"
test ! -e "$prefix/lib/kesl"
# No user database and no KESL_DB: the installed default is the one in use.
info=$(env -u KESL_DB XDG_DATA_HOME="$prefix/no-data" "$prefix/bin/kesl-lookup" --info)
grep -q "^Database: $prefix/bin/../share/kesl/country.ip4\$" <<< "$info"
grep -q '^Blocks: ' <<< "$info"
grep -q '^Source: geoip, .*CC BY-SA 4.0, IPFire Location Database via tor-geoipdb$' <<< "$info"
case "$gui" in
  ON|on|1|TRUE|true)
    test -x "$prefix/bin/kesl"
    grep -q '^Exec=.*/kesl$' "$prefix/share/applications/kesl.desktop"
    test -f "$prefix/share/icons/hicolor/scalable/apps/kesl.svg" ;;
esac
echo "install layout: all checks passed"
