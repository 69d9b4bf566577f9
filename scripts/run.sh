#!/usr/bin/env bash
# Installs what is missing, builds, and starts Kesl on its default database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
if [ -x build/bin/kesl ]; then
  exec build/bin/kesl "$@"
fi
echo "Built the libraries and tests; the desktop program is not part of this build yet."
