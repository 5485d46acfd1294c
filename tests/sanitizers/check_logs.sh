#!/usr/bin/env bash
# After the suite under the sanitizers: prints every report the processes wrote
# to LOG_DIR (ASAN_OPTIONS/UBSAN_OPTIONS log_path) and fails if there is any.
#   usage: check_logs.sh LOG_DIR
set -u
dir=$1
shopt -s nullglob
reports=("$dir"/*)
if [ ${#reports[@]} -eq 0 ]; then
    echo "sanitizers: no reports"
    exit 0
fi
for r in "${reports[@]}"; do
    echo "=== $r"
    cat "$r"
done
echo "sanitizers: ${#reports[@]} report(s) in $dir"
exit 1
