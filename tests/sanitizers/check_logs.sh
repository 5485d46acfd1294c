#!/usr/bin/env bash
# After the suite under the sanitizers: prints every report in LOG_DIR and fails if there is any.
#   usage: check_logs.sh LOG_DIR
shopt -s nullglob
reports=("$1"/*)
for r in "${reports[@]}"; do echo "=== $r"; cat "$r"; done
echo "sanitizers: ${#reports[@]} report(s) in $1"
[ ${#reports[@]} -eq 0 ]
