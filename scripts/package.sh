#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages tileparlor, tileparlor-server and tileparlor-bot from the working
# tree (git-tracked files, as they are now) and checks them with lintian, which must report no
# error and no warning beyond those overridden in debian/*.lintian-overrides.
#
#   scripts/package.sh            the .deb files end up in build-deb/
#
# The build runs in build-deb/source, always the same folder, so that ccache finds its objects
# again from one run to the next.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

out=$PWD/build-deb
rm -rf "$out"
mkdir -p "$out/source"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$out/source"

# debhelper points HOME at a folder of its own, where ccache would start empty every time.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER-ccache}
(cd "$out/source" && dpkg-buildpackage -us -uc -b -j"$(nproc)" >"$out/build.log" 2>&1) || {
  tail -40 "$out/build.log" >&2
  echo "package: dpkg-buildpackage failed; the whole log is in $out/build.log" >&2
  exit 1
}
rm -rf "$out/source"

changes=$(echo "$out"/tileparlor_*.changes)
lintian --fail-on error,warning "$changes"
ls "$out"/*.deb
