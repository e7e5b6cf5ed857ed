#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a libFuzzer target with clang in build-fuzz and runs it for SECONDS on a scratch copy
# of its checked-in seeds (fuzz/<name>/corpus for target fuzz_<name>), so the seeds stay small,
# with the dictionary beside them if there is one (fuzz/<name>/*.dict).
# Findings (crashing inputs) land in build-fuzz/findings/.
# Usage: scripts/fuzz.sh fuzz_server 60
set -euo pipefail
target=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
seconds=${2:?usage: scripts/fuzz.sh TARGET SECONDS}
cd "$(dirname "$0")/.."

cmake -G Ninja -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTILEPARLOR_FUZZ=ON -DTILEPARLOR_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target "$target"

seeds=fuzz/${target#fuzz_}/corpus
dictionary=$(find "fuzz/${target#fuzz_}" -maxdepth 1 -name '*.dict' | head -n 1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$seeds/." "$work/"
mkdir -p build-fuzz/findings
# Qt's own caches look like leaks to LeakSanitizer at exit; leaks during an input are still
# reported, because libFuzzer checks each input that allocates more than it frees.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
  "build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 ${dictionary:+-dict="$dictionary"} \
  "$work"
