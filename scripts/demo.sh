#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts a whole local lobby from a built tree: the lobby server on loopback, two bots that play
# along, and the client logged in to a demo account. Closing the client stops everything.
#
#   scripts/demo.sh [BUILD_DIR]        (default: build)
#
# TILEPARLOR_DEMO_DIR names the demo's own folder (default: $XDG_STATE_HOME/tileparlor-demo).
# It keeps the server's data, the client's settings, the logs and the lobby's TLS certificates
# (a private CA made at the first start; everything talks TLS); a second run reuses them, and
# deleting it starts clean. The user's own ~/.config is never read or written.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/bin
game=$build/demogame
demo=${TILEPARLOR_DEMO_DIR:-${XDG_STATE_HOME:-$HOME/.local/state}/tileparlor-demo}
mkdir -p "$demo"
demo=$(cd "$demo" && pwd)

for program in "$bin/tileparlor" "$bin/tileparlor-server" "$bin/tileparlor-bot" "$game/engine.exe"; do
  [ -x "$program" ] || { echo "demo: $program is missing; build the tree first" >&2; exit 1; }
done

tls=$demo/tls
"$root/scripts/tls-certificates.sh" ca "$tls" ca
"$root/scripts/tls-certificates.sh" server "$tls" ca localhost localhost
server_options=(--data "$demo/server" --config "$demo/server.ini")
server() { "$bin/tileparlor-server" "${server_options[@]}" "$@"; }

first_run() {
  mkdir -p "$demo/server" "$demo/config/TILEWORK" "$demo/xdg/TILEWORK"
  cat >"$demo/server.ini" <<'INI'
[lobby]
systemMessage=ようこそ、tileParlorのデモロビーへ。ロボ太とロボ子が遊び相手です。

[rooms]
size=4
1\title=ロビー
1\capacity=50
1\gameId=chat
2\title=対戦ルーム
2\capacity=20
2\gameId=0
3\title=練習ルーム
3\capacity=20
3\gameId=0
4\title=秘密の部屋
4\password=demo
4\capacity=10
4\gameId=chat
INI
  local password
  password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=')
  server create-account player "$password" "プレイヤー" --mail player@demo.invalid >/dev/null
  server create-account robota robota-demo "ロボ太" --mail robota@demo.invalid >/dev/null
  server create-account roboko roboko-demo "ロボ子" --mail roboko@demo.invalid >/dev/null
  printf '[account]\nid=player\npassword=%s\n' "$password" >"$demo/config/TILEWORK/tileParlor.conf"
  chmod 600 "$demo/config/TILEWORK/tileParlor.conf"
}

[ -f "$demo/config/TILEWORK/tileParlor.conf" ] || first_run
# The game folder lives in the build tree, which may have moved since the first run.
printf '[General]\nSeikanEmbu=%s\n' "$game" >"$demo/xdg/TILEWORK/Settings.conf"

pids=()
stop_all() {
  [ ${#pids[@]} -eq 0 ] && return
  kill -TERM "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  pids=()
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# The lobby's usual port when it is free, else any free one; the server says which it took.
start_server() {
  local port=$1 log=$demo/server.log
  : >"$log"
  # Not through server(): a function in the background runs in a subshell, and stopping that
  # would leave the server running.
  "$bin/tileparlor-server" "${server_options[@]}" --port "$port" \
    --tls-cert "$tls/localhost.pem" --tls-key "$tls/localhost.key" 2>>"$log" &
  server_pid=$!
  for _ in $(seq 100); do
    lobby_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -1)
    [ -n "$lobby_port" ] && return 0
    kill -0 "$server_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
if start_server 14142 || start_server 0; then
  pids+=("$server_pid")
else
  echo "demo: the lobby server did not start; see $demo/server.log" >&2
  exit 1
fi

bot() {
  local account=$1
  shift
  "$bin/tileparlor-bot" --host localhost --port "$lobby_port" --ca "$tls/ca.pem" --account "$account" \
    --password "$account-demo" "$@" 2>"$demo/$account.log" &
  pids+=("$!")
}
bot robota --room 対戦ルーム --greet --answer --chat-interval 45 --recruit --battle-seconds 20
bot roboko --room 練習ルーム --greet --answer --chat-interval 60 --apply --battle-seconds 20

echo "demo: lobby on 127.0.0.1:$lobby_port over TLS, data and logs in $demo"
set +e
(
  cd "$bin"
  TILEPARLOR_LOBBY_HOST=localhost TILEPARLOR_LOBBY_PORT=$lobby_port \
    TILEPARLOR_LOBBY_TLS=1 TILEPARLOR_LOBBY_CA=$tls/ca.pem \
    XDG_CONFIG_HOME=$demo/config XDG_CONFIG_DIRS=$demo/xdg exec ./tileparlor
)
status=$?
set -e
exit $status
