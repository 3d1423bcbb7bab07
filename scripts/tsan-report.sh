#!/usr/bin/env bash
# Sums up what ThreadSanitizer wrote into the folder given (one file a process, log_path=DIR/report):
# the reports of each program, and where each of them points.
set -u
dir=${1:?usage: tsan-report.sh LOG_DIR}
shopt -s nullglob
files=("$dir"/report.*)
total=0
for file in "${files[@]}"; do
    count=$(grep -c '^WARNING: ThreadSanitizer' "$file")
    [ "$count" -eq 0 ] && continue
    total=$((total + count))
    program=$(grep -o -m1 -E '\((tst_[a-z0-9_]+|mervik-[a-z]+)\+0x' "$file" | sed -E 's/^\((.*)\+0x$/\1/')
    echo "ThreadSanitizer: ${program:-unknown program}: $count report(s) in $file"
    grep '^SUMMARY: ThreadSanitizer' "$file" | sort | uniq -c | sed 's/^/    /'
done
echo "ThreadSanitizer: $total report(s) not suppressed (the rest are named in scripts/tsan.supp)"
