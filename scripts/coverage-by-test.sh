#!/usr/bin/env bash
# What each test alone covers, after `make coverage` has built build/coverage-build: runs the tests one
# at a time and prints, per test, the product lines and branches it covers and how many of them no other
# test covers. A test with few lines of its own is where a test diet looks first.
#
#   coverage-by-test.sh [REGEX]     only the tests whose names match (the rest still count as "others")
#
# MERVIK_BUILD_LOCK=FILE holds that lock (flock) around each test run.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$src/build/coverage-build
out=$src/build/coverage-by-test
mkdir -p "$out"

# shellcheck source=buildlock.sh
. "$src/scripts/buildlock.sh"

tests=$(cd "$build" && ctest -N | sed -n 's/^ *Test *#[0-9]*: //p')
for t in $tests; do
    find "$build" -name '*.gcda' -delete
    (cd "$build" && locked ctest -R "^$t\$" >/dev/null) || echo "coverage-by-test: $t failed" >&2
    (cd "$src" && gcovr --root "$src" -j 2 --exclude-unreachable-branches --exclude-throw-branches \
        --gcov-ignore-parse-errors --exclude 'tests/' --exclude 'bench/' --exclude 'build/' \
        --exclude "$build/" --json "$out/$t.json" "$build" 2>/dev/null)
done

python3 - "$out" "${1:-.}" <<'PY'
import json, os, re, sys
out, pattern = sys.argv[1], re.compile(sys.argv[2])
covered = {}
for name in sorted(os.listdir(out)):
    if not name.endswith(".json"):
        continue
    lines, branches = set(), set()
    for f in json.load(open(os.path.join(out, name)))["files"]:
        for l in f["lines"]:
            if l["count"] > 0:
                lines.add((f["file"], l["line_number"]))
            for i, b in enumerate(l.get("branches", [])):
                if b["count"] > 0:
                    branches.add((f["file"], l["line_number"], i))
    covered[name[:-5]] = (lines, branches)
print(f"{'test':<24} {'lines':>7} {'own':>5} {'branches':>9} {'own':>5}")
for t, (lines, branches) in sorted(covered.items()):
    if not pattern.search(t):
        continue
    others_l = set().union(*(v[0] for k, v in covered.items() if k != t))
    others_b = set().union(*(v[1] for k, v in covered.items() if k != t))
    print(f"{t:<24} {len(lines):>7} {len(lines - others_l):>5} {len(branches):>9} {len(branches - others_b):>5}")
PY
