#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How long the demo takes until the client shows the room list: from a built tree, on the first
# run (a fresh demo folder: accounts made, settings written) and on a second run that reuses it;
# or, with --fresh-clone, from a clone of this repository's HEAD through ./scripts/run.sh, the
# build included. Prints figures; it is not a test.
#
#   bench/demo-start.sh BUILD_DIR
#   bench/demo-start.sh --fresh-clone
#
# The client runs offscreen unless DISPLAY is set, and is stopped once it has shown the list;
# the demo then stops its server and bots.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

now_ms() { date +%s%3N; }

# Runs the command with the demo folder given, until the client says the room list is shown,
# for at most the given seconds; prints the milliseconds that took.
time_to_room_list() {
  local seconds=$1 demo_dir=$2 log=$work/run.log
  shift 2
  : >"$log"
  local start
  start=$(now_ms)
  TILEPARLOR_DEMO_DIR=$demo_dir "$@" >"$log" 2>&1 &
  local runner=$!
  until grep -q "room list shown" "$log"; do
    if ! kill -0 "$runner" 2>/dev/null || [ $(($(now_ms) - start)) -gt $((seconds * 1000)) ]; then
      cat "$log" >&2
      kill "$runner" 2>/dev/null || true
      return 1
    fi
    sleep 0.05
  done
  echo $(($(now_ms) - start))
  kill "$(pgrep -P "$runner" -x tileparlor)"
  wait "$runner" || true
}

if [ "${1:-}" = "--fresh-clone" ]; then
  git clone -q "$root" "$work/clone"
  ms=$(time_to_room_list 3600 "$work/demo" "$work/clone/scripts/run.sh")
  echo "fresh clone, ./scripts/run.sh to the room list (build included): $ms ms"
else
  build=$(cd "${1:?BUILD_DIR}" && pwd)
  first=$(time_to_room_list 120 "$work/demo" "$root/scripts/demo.sh" "$build")
  second=$(time_to_room_list 120 "$work/demo" "$root/scripts/demo.sh" "$build")
  echo "demo from a built tree to the room list: first run $first ms, second run $second ms"
fi
