#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts a whole local lobby (server, two bots, the client
# logged in to a demo account; see scripts/demo.sh). With --client it starts only the client,
# which connects to TILEPARLOR_LOBBY_HOST / TILEPARLOR_LOBBY_PORT (default localhost:14142).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILEPARLOR_BUILD_TESTS=OFF >/dev/null
if [ "${1:-}" = "--client" ]; then
  cmake --build build --target tileparlor
  cd build/bin
  exec ./tileparlor
fi
cmake --build build --target tileparlor tileparlor-server tileparlor-bot demoengine
exec ./scripts/demo.sh build
