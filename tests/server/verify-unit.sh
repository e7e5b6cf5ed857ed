#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks a systemd unit with systemd-analyze verify. It exits 0 even for keys it ignores, so
# any output at all fails the check. Arguments: [--man=no] UNIT (--man=no where the manual
# pages are not installed). Exit 77 (skipped) when systemd-analyze is missing.
command -v systemd-analyze >/dev/null ||
  { echo "systemd-analyze is not installed (package systemd): unit not verified"; exit 77; }
output=$(systemd-analyze verify "$@" 2>&1) && [ -z "$output" ] && exit 0
echo "$output" && exit 1
