#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The long options a program's --help lists and those its manual page's source describes (in
# bold) must be the same: an option added, renamed or dropped on one side only fails here.
#
#   tests/support/options-documented.sh PROGRAM PAGE.md
set -euo pipefail
help=$("$1" --help)
diff -u --label "$1 --help" --label "$2" <(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u) \
  <(grep -oE -- '\*\*--[a-z][a-z-]*\*\*' "$2" | tr -d '*' | sort -u)
