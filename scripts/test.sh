#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs the whole test suite offscreen: once in a normal
# build, once under AddressSanitizer and UndefinedBehaviorSanitizer (the end-to-end
# runs, which start many processes and wait on them, only in the first). Then runs the Windows
# process layer under wine and each fuzz target for a minute, and builds, installs and checks
# the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
  local dir=$1 exclude=$2
  shift 2
  cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" ${exclude:+-LE "$exclude"}
}

run_suite build-test ""
run_suite build-asan "e2e" -DTILEPARLOR_SANITIZE=ON
./scripts/check-windows-build.sh
./tests/windows/run-under-wine.sh
for target in fuzz_server fuzz_client; do
  ./scripts/fuzz.sh "$target" 60
done

# The Debian packages: built, checked by lintian, installed here, and checked installed.
./scripts/package.sh
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# --reinstall: a machine that ran this before holds the same version, which apt would keep.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install --reinstall -y -qq --no-install-recommends \
  ./build-deb/tileparlor_*.deb ./build-deb/tileparlor-server_*.deb ./build-deb/tileparlor-bot_*.deb \
  >/dev/null
./scripts/check-installed.sh
