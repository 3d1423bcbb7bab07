#!/usr/bin/env bash
# Runs every benchmark program and repeats their summary lines at the end.
set -uo pipefail
build=${1:-build}
export QT_LOGGING_RULES="mervik.*.debug=false"
export QT_QPA_PLATFORM=offscreen
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
for b in "$build"/bench/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b" 2>&1 | tee -a "$out" || status=1
done
echo
echo "Summary:"
grep '^bench:' "$out" || echo "(no benchmark printed a summary)"
exit $status
