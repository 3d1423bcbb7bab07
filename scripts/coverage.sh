#!/usr/bin/env bash
# Line and branch coverage of the whole test suite: an instrumented build of its own, every test, a
# summary per source folder on stdout and an HTML report with the annotated sources.
#
#   coverage.sh [BUILD_DIR [REPORT_DIR]]    defaults build/coverage-build and build/coverage
#
# The report is written even when tests fail; the exit status then says they failed.
# MERVIK_BUILD_LOCK=FILE holds that lock (flock) around the build and the test run only, so that
# other builds on a shared machine can run in between.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build/coverage-build}")
report=$(realpath -m "${2:-$src/build/coverage}")
jobs=${JOBS:-2}

# shellcheck source=buildlock.sh
. "$src/scripts/buildlock.sh"

# shellcheck disable=SC2086 # CMAKE_ARGS is a list of options
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMERVIK_COVERAGE=ON ${CMAKE_ARGS:-} >/dev/null
locked cmake --build "$build" -j "$jobs"

# Counts add up across runs: start from zero so the figures are this suite's alone.
find "$build" -name '*.gcda' -delete
status=0
(cd "$build" && locked ctest -j "$jobs" --output-on-failure) || status=$?

# Only the product's sources: not the tests, the benchmarks, or what moc, uic and rcc generate into
# the build folder. Throw and unreachable branches are the compiler's, not choices the code makes. A
# counter that two processes (tests run side by side) updated at once can come out negative: that line
# is skipped, with a warning, rather than the whole report lost.
mkdir -p "$report"
cd "$src"
gcovr --root "$src" -j "$jobs" --exclude-unreachable-branches --exclude-throw-branches --gcov-ignore-parse-errors \
    --exclude 'tests/' --exclude 'bench/' --exclude 'build/' --exclude "$build/" \
    --html-details "$report/index.html" --html-title "Mervik Connect coverage" \
    --json-summary "$report/summary.json" "$build"

python3 - "$report/summary.json" <<'EOF'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
order = ["device", "interface", "controller", "log", "platform", "search", "ui", "app", "tools/sim", "tools/cli"]
sums = {}
def folder(name):
    parts = name.split("/")
    return "/".join(parts[:2]) if parts[0] == "tools" else parts[0]
for f in files:
    s = sums.setdefault(folder(f["filename"]), [0, 0, 0, 0])
    s[0] += f["line_covered"]; s[1] += f["line_total"]
    s[2] += f["branch_covered"]; s[3] += f["branch_total"]
def pct(a, b):
    return f"{100.0 * a / b:5.1f}% {a:>6}/{b:<6}" if b else "    -"
print(f"{'folder':<11} {'lines':<20} branches")
total = [0, 0, 0, 0]
for name in order + sorted(set(sums) - set(order)):
    s = sums.get(name, [0, 0, 0, 0])
    total = [t + v for t, v in zip(total, s)]
    print(f"{name:<11} {pct(s[0], s[1]):<20} {pct(s[2], s[3])}")
print(f"{'total':<11} {pct(total[0], total[1]):<20} {pct(total[2], total[3])}")
EOF
echo "coverage: report in $report/index.html"
if [ "$status" -ne 0 ]; then
    echo "coverage: tests failed (ctest status $status)" >&2
fi
exit "$status"
