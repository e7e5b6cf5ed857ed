#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite offscreen: once in a normal
# build, once under AddressSanitizer and UndefinedBehaviorSanitizer, then checks that the
# Windows-only process code still compiles.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
  local dir=$1
  shift
  cmake -G Ninja -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build-test
run_suite build-asan -DTILEPARLOR_SANITIZE=ON
./scripts/check-windows-build.sh
