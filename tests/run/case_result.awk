# One test's result, from its program's one run (run_program.sh): passes when the test passed,
# says "[  SKIPPED ]" when it was skipped, and fails with the test's messages otherwise. One awk
# and nothing else, since in the VM every process a test starts costs a noticeable time.
#   awk -v name=NAME -v output=LOG -f case_result.awk RESULTS
$1 == "text" && $2 == name {
    line = $0
    sub(/^text [^ ]+ /, "", line)
    print line
}
$1 == "end" && $2 == name { outcome = $3 }
END {
    if (outcome == "passed")
        exit 0
    if (outcome == "skipped") {
        print "[  SKIPPED ] " name
        exit 0
    }
    if (outcome == "")
        print "no result: the program's run ended before this test; its output: " output
    else
        print name " " outcome "; the program's output: " output
    exit 1
}
