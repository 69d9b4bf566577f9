#!/usr/bin/env bash
# Formats every C++ source of the tree with the project's .clang-format, or
# with --check only reports the files that differ and fails when any does.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' |
                     while read -r f; do [ -f "$f" ] && echo "$f"; done)
if [ "${1:-}" = --check ]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files as the style wants them"
else
  clang-format -i "${files[@]}"
fi
