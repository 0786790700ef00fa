# Sourced by scripts/test and scripts/quality: which legs of the test run take part, and one line
# of results per leg, printed together at the end, so that a count that drops between runs shows.
#
# KESTRUNE_SKIP="windows fuzz" leaves the named legs (native, windows, sanitize, fuzz, threads,
# memcheck, tidy) out of a local run on purpose; each still gets its line. CI (CI=true) never leaves one out.
# KESTRUNE_SUMMARY names the file that collects the lines (scripts/test sets it for the legs of
# scripts/quality too).

legs_skip=" ${KESTRUNE_SKIP:-} "
if [ "${CI:-}" = "true" ] && [ -n "${KESTRUNE_SKIP:-}" ]; then
    echo "KESTRUNE_SKIP=\"$KESTRUNE_SKIP\" is ignored: CI runs every leg" >&2
    legs_skip=" "
fi
mkdir -p build/logs
if [ -z "${KESTRUNE_SUMMARY:-}" ]; then
    export KESTRUNE_SUMMARY=$PWD/build/logs/summary.txt
    : >"$KESTRUNE_SUMMARY"
fi

# The time a leg took goes into its line: from leg_wanted (or the leg's last line) to its line.
leg_clock=$SECONDS

# record LEG PASSED FAILED [TEXT]: one result line. PASSED and FAILED count tests (or a fuzz
# target as one); TEXT, when given, stands in the line instead of the counts.
record() {
    printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "${4:-}" "$((SECONDS - leg_clock))" \
        >>"$KESTRUNE_SUMMARY"
    leg_clock=$SECONDS
}

# leg_wanted LEG: true unless the leg was left out by name (then its line says so).
leg_wanted() {
    leg_clock=$SECONDS
    [[ "$legs_skip" == *" $1 "* ]] || return 0
    echo "== $1: left out (KESTRUNE_SKIP)"
    record "$1" 0 0 "left out on purpose (KESTRUNE_SKIP)"
    return 1
}

# counted_ctest LEG COMMAND...: runs a command that ends in a CTest run, shows its output, and
# records the counts of CTest's closing line. A command that ran no test fails the leg; exit code
# 125 means the tests could not be run at all (scripts/wine: no Wine session, no VM).
counted_ctest() {
    local leg=$1 log=build/logs/$1.log rc line total failed
    shift
    set +e
    "$@" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    set -e
    line=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -z "$line" ]; then
        local why="no test ran (exit code $rc)"
        [ "$rc" -ne 125 ] || why="the tests could NOT be run: the Wine session or its VM could not be had"
        echo "!! $leg: $why" >&2
        record "$leg" 0 1 "$why"
        return 1
    fi
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1 # CTest itself failed after its last test
    fi
    record "$leg" "$((total - failed))" "$failed"
    [ "$rc" -eq 0 ]
}

# counted_gtest LEG PROGRAM [ARGUMENTS...]: one GoogleTest program run directly, with the counts
# of its closing lines.
counted_gtest() {
    local leg=$1 log=build/logs/$1.log rc passed failed
    shift
    set +e
    "$@" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    set -e
    passed=$(sed -n -E 's/^\[  PASSED  \] ([0-9]+) tests?.*/\1/p' "$log" | tail -n 1)
    failed=$(sed -n -E 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -n 1)
    passed=${passed:-0} failed=${failed:-0}
    if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1 # ended before its summary (a sanitizer's report, a crash)
    fi
    record "$leg" "$passed" "$failed"
    [ "$rc" -eq 0 ]
}

# build_leg LEG COMMAND...: a build step of a leg; when it fails, the leg's line says so.
build_leg() {
    local leg=$1
    shift
    "$@" && return 0
    echo "!! $leg: the build failed" >&2
    record "$leg" 0 1 "the build failed"
    return 1
}

# print_summary: every leg's line, then the overall count; false when anything failed.
print_summary() {
    echo
    echo "== summary"
    awk -F '\t' '
        { passed += $2; failed += $3; seconds += $5
          printf "%-24s %s (%s s)\n", $1 ":", ($4 != "" ? $4 : $2 " passed, " $3 " failed"), $5 }
        END { printf "overall: %d passed, %d failed (%d s)\n", passed, failed, seconds
              exit failed > 0 }
    ' "$KESTRUNE_SUMMARY"
}
