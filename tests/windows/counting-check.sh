#!/usr/bin/env bash
# A run that proves nothing counts as failed, and one that proved its point counts as
# passed: wine-run.sh --qtest fails a program without a complete test report, with no
# passed test function, with a failure, or killed by a signal (which it names) even after
# a complete report, running the program once either way; junit-summary.py counts the
# reports CTest writes for a project with a test of each kind; .ci/run counts a half that
# printed no Summary line as one failure.
# Usage: counting-check.sh WORK_DIR CI_RUN CMAKE CTEST
#   WORK_DIR      a folder for the stand-in programs, outside /tmp (the sandbox hides /tmp)
#   CI_RUN        the project's .ci/run
#   CMAKE, CTEST  the cmake and ctest that run the suite
# Exit: 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1
ci_run=$2
cmake=$3
ctest=$4
rm -rf "$work"
mkdir -p "$work/bin"
failures=0
result() { # result NAME OK DETAILS
    if [ "$2" = yes ]; then echo "PASS $1"; else echo "FAIL $1: $3"; failures=$((failures + 1)); fi
}

# A stand-in for Wine: its set-up steps succeed; a program run writes STUB_REPORT's lines
# (separated by ";") to the report file named after -o, then exits with STUB_CODE, or dies
# of signal STUB_SIGNAL as Wine itself may.
cat >"$work/bin/wine" <<'EOF2'
#!/bin/sh
case $1 in wineboot | reg) exit 0 ;; esac
echo run >>"$STUB_RUNS"
report=
for arg; do
    [ "${previous-}" = -o ] && report=${arg#Z:} && report=${report%,txt}
    previous=$arg
done
[ -z "$STUB_REPORT" ] || printf '%s\n' "$STUB_REPORT" | tr ';' '\n' >"$report"
[ -z "$STUB_SIGNAL" ] || kill -"$STUB_SIGNAL" $$
exit "$STUB_CODE"
EOF2
printf '#!/bin/sh\nexit 0\n' >"$work/bin/wineserver"
chmod +x "$work/bin/wine" "$work/bin/wineserver"
complete='PASS   : T::initTestCase();PASS   : T::f();PASS   : T::cleanupTestCase();Totals: 3 passed, 0 failed, 0 skipped, 0 blacklisted, 1ms'
while IFS='|' read -r name report code signal expected said; do
    report=${report//COMPLETE/$complete}
    runs=$work/runs-${name// /-}
    out=$(PATH=$work/bin:$PATH STUB_RUNS=$runs STUB_REPORT=$report STUB_CODE=$code STUB_SIGNAL=$signal \
        VARNITT_WINE_PREFIX='' "$here/../sandbox.sh" empty -- "$here/wine-run.sh" --qtest T.exe 2>&1)
    rc=$?
    [ "$rc" -ne 77 ] || exit 77
    got=passes
    [ "$rc" -eq 0 ] || got=fails
    ok=no
    [ "$got" = "$expected" ] && [ "$(cat "$runs" 2>/dev/null)" = run ] && grep -qF -e "$said" <<<"$out" && ok=yes
    result "wine-run.sh --qtest, $name: $got (exit status $rc), program runs: $(wc -l <"$runs" 2>/dev/null)" \
        "$ok" "expected: $expected, one run, saying \"$said\"; $(tail -n 2 <<<"$out" | tr '\n' ' ')"
done <<'EOF2'
no report||0||fails
cut short|PASS   : T::initTestCase();PASS   : T::f()|0||fails
only init and cleanup passed|PASS   : T::initTestCase();SKIP   : T::f() not here;PASS   : T::cleanupTestCase();Totals: 2 passed, 0 failed, 1 skipped, 0 blacklisted, 1ms|0||fails
one function passed|COMPLETE|0||passes
complete, then Wine dies of SIGSEGV|COMPLETE|0|SEGV|fails|signal SIGSEGV (11)
complete, then Wine dies of SIGABRT|COMPLETE|0|ABRT|fails|signal SIGABRT (6)
cut short, then Wine dies of SIGSEGV|PASS   : T::initTestCase();PASS   : T::f()|0|SEGV|fails|signal SIGSEGV (11)
a failure, then Wine dies of SIGSEGV|PASS   : T::initTestCase();FAIL!  : T::f() no;PASS   : T::cleanupTestCase();Totals: 2 passed, 1 failed, 0 skipped, 0 blacklisted, 1ms|1|SEGV|fails|signal SIGSEGV (11)
complete, then a Windows crash status|COMPLETE|5||fails
EOF2

# junit-summary.py over the reports CTest writes for a project with a test of each kind. A
# row runs the tests its pattern picks (a fixture's setup comes along); without a pattern
# there is no report to read. Last, all of the rows' reports at once.
mkdir "$work/ctest"
cat >"$work/ctest/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(counting NONE)
enable_testing()
add_test(NAME passes COMMAND sh -c "exit 0")
add_test(NAME fails COMMAND sh -c "exit 1")
add_test(NAME skips-by-exit-code COMMAND sh -c "exit 77")
add_test(NAME skips-by-output COMMAND sh -c "echo not here")
add_test(NAME disabled COMMAND sh -c "exit 1")
add_test(NAME fixture-setup COMMAND sh -c "exit 1")
add_test(NAME needs-fixture COMMAND sh -c "exit 0")
add_test(NAME missing-program COMMAND ${CMAKE_CURRENT_BINARY_DIR}/never-built)
set_tests_properties(skips-by-exit-code PROPERTIES SKIP_RETURN_CODE 77)
set_tests_properties(skips-by-output PROPERTIES SKIP_REGULAR_EXPRESSION "not here")
set_tests_properties(disabled PROPERTIES DISABLED TRUE)
set_tests_properties(fixture-setup PROPERTIES FIXTURES_SETUP f)
set_tests_properties(needs-fixture PROPERTIES FIXTURES_REQUIRED f)
EOF
"$cmake" -S "$work/ctest" -B "$work/ctest/build" >"$work/ctest/cmake.log" 2>&1 ||
    result "configuring the CTest project" no "$(tail -n 3 "$work/ctest/cmake.log")"
reports=()
sum=(0 0 0)
while IFS='|' read -r name tests expected; do
    report=$work/ctest/report-${#reports[@]}.xml
    reports+=("$report")
    [ -z "$tests" ] || (cd "$work/ctest/build" && "$ctest" -R "$tests" --output-junit "$report" >/dev/null 2>&1)
    counts=$("$here/../junit-summary.py" "$report" 2>/dev/null)
    ok=no
    [ "$counts" = "$expected" ] && ok=yes
    result "junit-summary.py, $name: \"$counts\"" "$ok" "expected \"$expected\""
    read -r p f s <<<"$expected"
    sum=($((sum[0] + p)) $((sum[1] + f)) $((sum[2] + s)))
done <<'EOF'
passed|^passes$|1 0 0
failed|^fails$|0 1 0
skipped by its exit code|^skips-by-exit-code$|0 0 1
skipped by its output|^skips-by-output$|0 0 1
disabled|^disabled$|0 0 1
its fixture's setup failed|^needs-fixture$|0 2 0
its program is missing|^missing-program$|0 1 0
a report with no test|^none$|0 1 0
a report that cannot be read||0 1 0
EOF
counts=$("$here/../junit-summary.py" "${reports[@]}" 2>/dev/null)
ok=no
[ "$counts" = "${sum[*]}" ] && ok=yes
result "junit-summary.py, all of those reports: \"$counts\"" "$ok" "expected \"${sum[*]}\""

# .ci/run against a stand-in varnitt.sh: each half prints the given line (or nothing) and
# exits with the given status; the last two columns are .ci/run's last line and whether
# it must fail. The Debian 13 half always passes one.
mkdir -p "$work/ci/.ci"
cp "$ci_run" "$work/ci/.ci/run"
cat >"$work/ci/varnitt.sh" <<'EOF'
#!/usr/bin/env bash
line=STUB_${1^^}_LINE
code=STUB_${1^^}_CODE
[ -z "${!line}" ] || echo "${!line}"
exit "${!code}"
EOF
mkdir -p "$work/ci/tests/debian13"
printf '#!/usr/bin/env bash\nexec "$(dirname "$0")/../../varnitt.sh" debian13\n' >"$work/ci/tests/debian13/run.sh"
chmod +x "$work/ci/varnitt.sh" "$work/ci/tests/debian13/run.sh"
while IFS='|' read -r name test_line test_code windows_line windows_code expected expected_rc; do
    out=$(STUB_TEST_LINE=$test_line STUB_TEST_CODE=$test_code STUB_WINDOWS_LINE=$windows_line \
        STUB_WINDOWS_CODE=$windows_code STUB_DEBIAN13_LINE="Summary: 1 passed, 0 failed, 0 skipped" \
        STUB_DEBIAN13_CODE=0 bash "$work/ci/.ci/run" 2>&1)
    rc=$?
    last=$(tail -n 1 <<<"$out")
    ok=no
    [ "$last" = "$expected" ] && [ "$((rc != 0))" = "$expected_rc" ] && ok=yes
    result ".ci/run, $name: \"$last\", exit status $rc" "$ok" "expected \"$expected\", exit status $expected_rc"
done <<'EOF'
both summaries|Summary: 5 passed, 0 failed, 1 skipped|0|Summary: 3 passed, 0 failed, 0 skipped|0|Summary: 9 passed, 0 failed, 1 skipped|0
windows broke off|Summary: 5 passed, 0 failed, 0 skipped|0||1|Summary: 6 passed, 1 failed, 0 skipped|1
test without one, exit 0|nothing to count|0|Summary: 3 passed, 2 failed, 0 skipped|1|Summary: 4 passed, 3 failed, 0 skipped|1
the only fault: test without one, exit 0|nothing to count|0|Summary: 3 passed, 0 failed, 0 skipped|0|Summary: 4 passed, 1 failed, 0 skipped|1
EOF
[ "$failures" -eq 0 ]
