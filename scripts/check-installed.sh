#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the installed packages (scripts/package.sh, then apt-get install ./build-deb/*.deb):
# the server answers --help, its unit passes systemd-analyze verify, every manual page is found,
# and the installed client runs its port-mapping helper from libexec and has its bell in share.
# The helper is pointed at a stand-in gateway on loopback, so nothing leaves the machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
client_pid='' gateway_pid=''
cleanup() {
  kill $client_pid $gateway_pid 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check-installed: $*" >&2; exit 1; }
wait_until() { for _ in $(seq $(($1 * 10))); do "${@:2}" && return 0; sleep 0.1; done; return 1; }

tileparlor-server --help | grep -q list-accounts || fail "tileparlor-server --help"
tileparlor-bot --version | grep -q '^tileparlor-bot ' || fail "tileparlor-bot --version"
"$root/tests/server/verify-unit.sh" /lib/systemd/system/tileparlor-server.service ||
  fail "systemd-analyze verify of the installed unit"
for page in tileparlor.6 tileparlor-server.8 tileparlor-bot.6; do
  man -w "${page%.*}" | grep -q "/man${page##*.}/$page" || fail "no manual page $page"
done

prefix=$(dirname "$(dirname "$(readlink -f "$(command -v tileparlor)")")")
[ -f "$prefix/share/tileparlor/bell.wav" ] || fail "no bell in $prefix/share/tileparlor"

# A gateway that answers 404 and writes down what it was asked for.
python3 -c '
import http.server, sys
class Gateway(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        open(sys.argv[1], "a").write(self.path + "\n")
        self.send_error(404)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Gateway)
open(sys.argv[2], "w").write(str(server.server_port))
server.serve_forever()' "$work/asked" "$work/port" &
gateway_pid=$!
wait_until 10 test -s "$work/port" || fail "the stand-in gateway did not start"

# The lobby is a closed loopback port: once the helper is done, the client fails to connect.
XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg QT_QPA_PLATFORM=offscreen \
  TILEPARLOR_LOBBY_HOST=127.0.0.1 TILEPARLOR_LOBBY_PORT=1 \
  UPNPCJ_GATEWAY_URL=http://127.0.0.1:$(<"$work/port")/installed-client.xml \
  tileparlor >"$work/client.log" 2>&1 &
client_pid=$!
if ! wait_until 20 grep -q "port mapping done" "$work/client.log" ||
  ! grep -q installed-client.xml "$work/asked" 2>/dev/null; then
  cat "$work/client.log" >&2
  fail "the installed client did not run its helper"
fi
echo "check-installed: server, unit, manual pages, client's helper and bell all in place"
