#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the layout: the
# programs and the database together in lib/kesl, links in bin, and with the
# window the desktop entry and icon.
set -eu
build=$1
gui=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
test -f "$prefix/lib/kesl/country.ip4"
test -x "$prefix/lib/kesl/kesl-mkdb"
"$prefix/bin/kesl-lookup" --info | grep -q '^Blocks: '
case "$gui" in
  ON|on|1|TRUE|true)
    test -x "$prefix/lib/kesl/kesl"
    test -L "$prefix/bin/kesl"
    grep -q '^Exec=.*/kesl$' "$prefix/share/applications/kesl.desktop"
    test -f "$prefix/share/icons/hicolor/scalable/apps/kesl.svg" ;;
esac
echo "install layout: all checks passed"
