#!/usr/bin/env bash
# Installs the Debian packages that Kesl needs to build, test and run; does
# nothing when they are all there. Extra package names may be passed.
set -euo pipefail
packages=(cmake g++ make zlib1g-dev libbz2-dev libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev libcurl4-openssl-dev scdoc tor-geoipdb iso-codes "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
