#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the client, its tests, its tools and its packaging need.
# Idempotent and quiet when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build clang-format pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-5compat-dev qt6-multimedia-dev
  libgl-dev fonts-ipafont-gothic
  libminiupnpc-dev libssl-dev openssl g++-mingw-w64-x86-64
  qt6-httpserver-dev qt6-websockets-dev prometheus
  libqt6sql6-sqlite libqt6sql6-psql postgresql-15 postgresql-common systemd
  clang libclang-rt-14-dev xvfb xauth xdotool imagemagick wine64
  debhelper lintian go-md2man strace
  desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
