#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles the Windows process layer with a driver, which is also its own child program, and
# runs it under wine in a private, throwaway prefix. Fails with a clear message when wine or MinGW
# is missing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "run-under-wine: wine64 not found (scripts/setup.sh installs it)" >&2; exit 1; }
command -v "$cxx" >/dev/null || { echo "run-under-wine: $cxx not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
flags=(-std=c++17 -O1 -Wall -Wextra -Werror -static -I"$root/src")
"$cxx" "${flags[@]}" "$root/tests/windows/windriver.cpp" "$root/src/match/childprocess_win.cpp" \
  -o "$work/windriver.exe"

cd "$work"
WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  timeout 120 "$wine" windriver.exe 2>/dev/null | tr -d '\r'
