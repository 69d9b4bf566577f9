#!/usr/bin/env bash
# Configures and builds Kesl in the folder given (default: build), with any
# further CMake options passed after it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j2
