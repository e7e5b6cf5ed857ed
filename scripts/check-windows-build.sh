#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles the Windows process layer with MinGW, so that a build machine without Windows
# still notices when it stops compiling. The file needs no Qt. It is also linked against a small
# driver that calls every entry point, which catches a declaration left without a definition.
# Set MINGW_CXX to use another cross compiler.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
flags=(-std=c++17 -Wall -Wextra -Werror -I"$root/src")

if ! command -v "$cxx" >/dev/null; then
  echo "check-windows-build: $cxx not found (scripts/setup.sh installs it)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cxx" "${flags[@]}" -c "$root/src/match/childprocess_win.cpp" -o "$work/childprocess_win.o"

cat >"$work/driver.cpp" <<'CPP'
#include "match/childprocess_native.h"

int main()
{
    ignoreBrokenPipeSignal();
    PipeHandle input = invalidPipeHandle;
    PipeHandle engineInput = invalidPipeHandle;
    if (!createNativePipe(ChildEnd::Read, &input, &engineInput))
        return 1;
    const char order[272] = {1};
    const bool written = writeNativePipe(input, order, sizeof order);
    ChildProcess* process = startNativeProcess("engine.exe", "--parlor 1 2");
    closeNativePipe(engineInput);
    closeNativePipe(input);
    if (!process)
        return 1;
    if (isNativeProcessRunning(process))
        closeNativeProcess(process, 1000);
    else
        closeNativeProcess(process, 0);
    return written ? 0 : 1;
}
CPP
"$cxx" "${flags[@]}" -c "$work/driver.cpp" -o "$work/driver.o"
"$cxx" "$work/driver.o" "$work/childprocess_win.o" -o "$work/driver.exe"

echo "check-windows-build: src/match/childprocess_win.cpp compiles and links with $cxx"
