#!/usr/bin/env bash
# One test's result, from its program's one run (run_program.sh): passes when the test passed,
# says "[  SKIPPED ]" when it was skipped, and fails with the test's messages otherwise.
#   case_result.sh RESULTS LOG NAME
set -uo pipefail
results=$1 log=$2 name=$3
if [ ! -f "$results" ]; then
    echo "no results: the program's run did not start"
    exit 1
fi
awk -v n="$name" '$1 == "text" && $2 == n { sub(/^text [^ ]+ /, ""); print }' "$results"
outcome=$(awk -v n="$name" '$1 == "end" && $2 == n { o = $3 } END { print o }' "$results")
case $outcome in
passed) exit 0 ;;
skipped)
    echo "[  SKIPPED ] $name"
    exit 0
    ;;
"")
    echo "no result: the program's run ended before this test; its output: $log"
    exit 1
    ;;
*)
    echo "$name $outcome; the program's output: $log"
    exit 1
    ;;
esac
