#!/usr/bin/env bash
# Screenshots of the window for docs/, at scale factors 1 and 2, under Xvfb
# with a window manager (openbox): the start state (before the first
# locate), the Save list as dialog after a locate of 8.8.8.8, and the table
# of a generated access log of 2,000 lines opened as a drop opens it
# (kesl LOG). Writes docs/window-{start,save,table}.png and -x2.png. The
# program is $KESL_BUILD/bin/kesl (build/ by default), on its default
# database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh xvfb xdotool imagemagick openbox tor-geoipdb
build=${KESL_BUILD:-build}
[ -x "$build/bin/kesl" ] || bash scripts/build.sh "$build"
work=$(mktemp -d)
display=:96
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
Xvfb $display -screen 0 1800x1100x24 -nolisten tcp &
pids+=($!)
sleep 1
export DISPLAY=$display XDG_CONFIG_HOME=$work/config
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
/usr/bin/python3 bench/gen_logs.py "$work/access.log" 2000lines

# Waits for a window whose title matches $1 and prints its id.
window() {
  local w=""
  for _ in $(seq 50); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1) && [ -n "$w" ] && break
    sleep 0.2
  done
  [ -n "$w" ] || { echo "no window $1" >&2; exit 1; }
  echo "$w"
}
# The window $1 alone, to $2.
shot() {
  sleep 1
  import -window "$1" -frame "$2"
  echo "wrote $2"
}

for scale in 1 2; do
  suffix=$([ "$scale" = 1 ] && echo "" || echo "-x$scale")
  export QT_SCALE_FACTOR=$scale
  rm -rf "$work/config"
  "$build/bin/kesl" &
  kesl=$!
  pids+=($kesl)
  win=$(window '^Kesl')
  xdotool windowmove "$win" 20 20
  xdotool windowactivate --sync "$win"
  shot "$win" "docs/window-start$suffix.png"
  xdotool key --window "$win" ctrl+a
  xdotool type --window "$win" 8.8.8.8
  xdotool key --window "$win" Return
  sleep 1.5
  # The default data may be from an earlier month: answer the age question "No".
  old=$(xdotool search --onlyvisible --name '^Confirm$' 2>/dev/null | head -1 || true)
  if [ -n "$old" ]; then xdotool windowactivate --sync "$old"; xdotool key Escape; sleep 1; fi
  xdotool windowactivate --sync "$win"
  xdotool key --window "$win" ctrl+s
  dialog=$(window '^Save list as')
  shot "$dialog" "docs/window-save$suffix.png"
  xdotool windowactivate --sync "$dialog"
  xdotool key Escape
  kill $kesl
  wait $kesl 2>/dev/null || true

  rm -rf "$work/config"
  "$build/bin/kesl" "$work/access.log" &
  kesl=$!
  pids+=($kesl)
  old=$(window '^Confirm$' 2>/dev/null || true)
  if [ -n "$old" ]; then xdotool windowactivate --sync "$old"; xdotool key Escape; sleep 1; fi
  table=$(window '^Addresses in access.log')
  xdotool windowmove "$table" 40 40
  shot "$table" "docs/window-table$suffix.png"
  kill $kesl
  wait $kesl 2>/dev/null || true
done
