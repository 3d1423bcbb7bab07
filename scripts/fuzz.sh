#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, ASan, UBSan) and runs each in turn on a
# working copy of its kept inputs, printing one line per target.
#
#   fuzz.sh [BUILD_DIR [SECONDS]]    defaults build/fuzz and 60
#
# An input that breaks a target is left in BUILD_DIR/artifacts/; keep it as
# tests/fuzz/<target>/crash-<sha1> once the fault is fixed, so that every test run replays it.
# MERVIK_BUILD_LOCK=FILE holds that lock (flock) around the build only.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build/fuzz}")
seconds=${2:-60}
jobs=${JOBS:-2}

# shellcheck source=buildlock.sh
. "$src/scripts/buildlock.sh"

# shellcheck disable=SC2086 # CMAKE_ARGS is a list of options
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DMERVIK_FUZZ=ON ${CMAKE_ARGS:-} >/dev/null
locked cmake --build "$build" -j "$jobs" --target fuzz-targets

export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS=suppressions=$src/scripts/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1
mkdir -p "$build/artifacts"
status=0
for program in "$build"/tests/fuzz/fuzz_*; do
    [ -f "$program" ] || continue
    target=${program##*/fuzz_}
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    cp -n "$src/tests/fuzz/$target"/* "$corpus"/
    log=$build/artifacts/$target.log
    if "$program" -max_total_time="$seconds" -timeout=5 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$corpus" >"$log" 2>&1; then
        result=ok
    else
        result="FAILED: $(grep -m1 -E '^(==[0-9]+==ERROR|SUMMARY|.*fuzz property broken|.*ALARM: working on the last Unit)' "$log" || echo "see $log")"
        status=1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz: $target ${execs:-0} execs, $result"
done
exit $status
