#!/usr/bin/env bash
# Runs one test program once for all its tests, writing each test's result as it ends
# (tests/support/results_main.cpp); case_result.awk then reads one test's result, so that each
# test still has a line of its own. A test that ends the program (a crash, its timeout) is
# written down as such, and the program runs again without the tests that have ended.
#   run_program.sh RESULTS LOG FILTER COMMAND...
# FILTER: the tests to run, as a GoogleTest filter ("*": all); COMMAND: the program, behind its
# emulator if any.
set -uo pipefail
results=$1 log=$2 wanted=$3
shift 3
: >"$results"
: >"$log"

count() { grep -c "$1" "$results"; }
ended=()
while :; do
    filter=$wanted
    if [ ${#ended[@]} -gt 0 ]; then
        filter="$wanted-$(IFS=:; echo "${ended[*]}")"
    fi
    finished=$(count '^finished$')
    before=$(count '^end ')
    KESTRUNE_TEST_RESULTS=$results "$@" --gtest_filter="$filter" </dev/null >>"$log" 2>&1
    rc=$?
    [ "$(count '^finished$')" -gt "$finished" ] && break
    # The test that was running when the program ended, if one was.
    running=$(awk '$1 == "start" { r = $2 } $1 == "end" && $2 == r { r = "" } END { print r }' \
        "$results")
    if [ -n "$running" ]; then
        printf 'text %s the program ended during this test (exit code %s)\nend %s crashed\n' \
            "$running" "$rc" "$running" >>"$results"
    elif [ "$(count '^end ')" -eq "$before" ]; then
        echo "the program ended (exit code $rc) outside any test; its output: $log"
        tail -n 40 "$log"
        exit 1
    fi
    mapfile -t ended < <(awk '$1 == "end" { print $2 }' "$results")
done
awk '$1 == "end" { n[$3]++ } END { for (o in n) printf "%s %d  ", o, n[o]; print "" }' "$results"
echo "its output: $log"
