#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Injects each fault listed in scripts/faults.txt into a scratch copy of the tree, rebuilds, runs
# the test suite and reports whether the suite caught it. The work tree is never modified.
#
#   scripts/fault-check.sh [fault-id ...]     (no ids: every fault)
#
# A fault is caught when at least one test fails. A fault whose text no longer matches the source
# is reported as "stale", one that does not compile as "no-build": both are defects of the list.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
faults=${FAULTS_FILE:-$root/scripts/faults.txt}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$root" && git ls-files -z | tar --null -T - -cf -) | tar -xf - -C "$scratch"
export QT_QPA_PLATFORM=offscreen
cmake -G Ninja -S "$scratch" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$scratch/build" -j "$(nproc)" >/dev/null

run_suite() {
  ctest --test-dir "$scratch/build" -j "$(nproc)" --timeout 180 >"$scratch/ctest.log" 2>&1
}

if ! run_suite; then
  echo "fault-check: the suite fails without any fault; fix that first" >&2
  tail -20 "$scratch/ctest.log" >&2
  exit 2
fi

python3 - "$faults" "$scratch" "$@" <<'PY'
import json, os, re, subprocess, sys, time

faults_file, scratch, wanted = sys.argv[1], sys.argv[2], set(sys.argv[3:])

# Blocks of:  ## id: description / file: path / - old text / + new text  ('-' and '+' may repeat
# to span several lines; the old text must occur exactly once in the file).
faults, cur = [], None
for line in open(faults_file, encoding="utf-8"):
    line = line.rstrip("\n")
    if line.startswith("## "):
        fid, _, desc = line[3:].partition(":")
        cur = {"id": fid.strip(), "desc": desc.strip(), "file": None, "old": [], "new": []}
        faults.append(cur)
    elif cur is not None and line.startswith("file: "):
        cur["file"] = line[6:].strip()
    elif cur is not None and line.startswith("- "):
        cur["old"].append(line[2:])
    elif cur is not None and line.startswith("+ "):
        cur["new"].append(line[2:])
    elif cur is not None and line == "+":
        cur["new"].append("")

def run(cmd):
    return subprocess.run(cmd, cwd=scratch, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

def ctest(*args):
    return run(["ctest", "--test-dir", "build", "-j", str(os.cpu_count()),
                "--timeout", "180", "--stop-on-failure", *args])

def relinked_tests(since):
    """Tests whose command names a file the last build rewrote: the likeliest to catch the fault."""
    shown = subprocess.run(["ctest", "--test-dir", "build", "--show-only=json-v1"], cwd=scratch,
                           capture_output=True, text=True).stdout
    names = []
    for test in json.loads(shown)["tests"]:
        paths = [p for p in test.get("command", []) if os.path.isfile(p)]
        if any(os.path.getmtime(p) > since for p in paths):
            names.append(re.escape(test["name"]))
    return names

def suite_fails(since):
    # Same verdict as one full run (does any test fail?), found sooner: the tests the fault
    # rebuilt go first, the rest only if those pass.
    first = relinked_tests(since)
    if not first:
        return ctest() != 0
    pattern = "^(" + "|".join(first) + ")$"
    return ctest("-R", pattern) != 0 or ctest("-E", pattern) != 0

results = []
for f in faults:
    if wanted and f["id"] not in wanted:
        continue
    path = os.path.join(scratch, f["file"])
    original = open(path, encoding="utf-8").read()
    old, new = "\n".join(f["old"]), "\n".join(f["new"])
    if original.count(old) != 1:
        results.append((f["id"], "stale", f["desc"]))
        continue
    open(path, "w", encoding="utf-8").write(original.replace(old, new))
    try:
        started = time.time()
        build = ["cmake", "--build", "build", "-j", str(os.cpu_count())]
        # A changed Designer form regenerates its header in one build, and the sources that
        # include it are compiled again only in the next.
        if run(build) != 0 or (path.endswith(".ui") and run(build) != 0):
            verdict = "no-build"
        else:
            verdict = "caught" if suite_fails(started) else "MISSED"
    finally:
        open(path, "w", encoding="utf-8").write(original)
    if path.endswith(".ui"):
        # The same lag when the form is put back: leave no fault behind for the next one.
        run(build)
        run(build)
    results.append((f["id"], verdict, f["desc"]))
    print(f"{verdict:8} {f['id']:28} {f['desc']}", flush=True)

run(["cmake", "--build", "build", "-j", str(os.cpu_count())])
caught = sum(1 for r in results if r[1] == "caught")
print(f"\n{caught} of {len(results)} faults caught")
sys.exit(0 if caught == len(results) else 1)
PY
