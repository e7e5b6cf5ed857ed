#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real client as the demo starts it, on a virtual X display: it reaches the room list and
# lists the bots' rooms, a screenshot of its window is kept, and File → 終了 ends client, server
# and bots with exit code 0, leaving no process behind.
#
#   tests/e2e/demo-smoke.sh BUILD_DIR
#
# The screenshot goes to BUILD_DIR/test-artifacts/demo-room-list.png. Exits 77 (skipped) when
# Xvfb, xdotool or ImageMagick's import is missing.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$1" && pwd)
type -P Xvfb xdotool import >/dev/null ||
  { echo "smoke: Xvfb, xdotool or ImageMagick's import is missing" >&2; exit 77; }
mkdir -p "${artifacts:=$build/test-artifacts}"
work=$(mktemp -d)

# The demo runs in a session of its own, so everything it started can be found by it.
xvfb_pid='' demo_pid=''
leftovers() { [ -z "$demo_pid" ] || pgrep -s "$demo_pid" || true; }
cleanup() {
  local status=$?
  # shellcheck disable=SC2046
  kill -KILL $(leftovers) $xvfb_pid 2>/dev/null || true
  [ "$status" -eq 0 ] || cat "$work/demo.err" "$work/demo"/*.log >&2 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "smoke: $*" >&2; exit 1; }
# Polls the command ten times a second for at most the given seconds.
wait_until() { for _ in $(seq $(($1 * 10))); do "${@:2}" && return 0; sleep 0.1; done; return 1; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_until 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(<"$work/display")
unset QT_QPA_PLATFORM

TILEPARLOR_DEMO_DIR=$work/demo setsid "$root/scripts/demo.sh" "$build" \
  >"$work/demo.out" 2>"$work/demo.err" &
demo_pid=$!
demo_ended() { ! kill -0 "$demo_pid" 2>/dev/null; }
# The picture shows the bots' rooms (data/screenshots/room-list.png is one).
wait_until 90 grep -q "first rooms listed" "$work/demo.err" || fail "the room list stayed empty"
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^tileParlor$' | head -1)
[ -n "$window" ] || fail "no tileParlor window"
import -window "$window" "$artifacts/demo-room-list.png"

# File (Alt+F), then 終了 (X) once the menu is up.
windows() { xdotool search --onlyvisible --class tileparlor | wc -l; }
before=$(windows)
xdotool windowfocus --sync "$window" key --clearmodifiers alt+f
menu_open() { [ "$(windows)" -gt "$before" ]; }
wait_until 10 menu_open || fail "the File menu did not open"
xdotool key x

wait_until 30 demo_ended || fail "the demo did not end after File → 終了"
wait "$demo_pid" || fail "the demo ended with exit code $?"
left=$(leftovers)
[ -z "$left" ] || fail "left running: $(ps -o args= -p "${left//$'\n'/,}")"
echo "smoke: room list reached, screenshot in $artifacts/demo-room-list.png, everything ended"
