#!/usr/bin/env bash
# A run that proves nothing counts as failed: wine-run.sh --qtest fails a program that
# exits 0 without a complete test report or with no passed test function, and .ci/run
# counts a half that printed no Summary line as one failure.
# Usage: counting-check.sh WORK_DIR CI_RUN
#   WORK_DIR  a folder for the stand-in programs, outside /tmp (wine-run.sh hides /tmp)
#   CI_RUN    the project's .ci/run
# Exit: 0 pass, 1 fail, 77 skipped (no network namespace here).
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1
ci_run=$2
rm -rf "$work"
mkdir -p "$work"
failures=0
result() { # result NAME OK DETAILS
    if [ "$2" = yes ]; then echo "PASS $1"; else echo "FAIL $1: $3"; failures=$((failures + 1)); fi
}

# Stand-ins for a Qt Test program that exits 0: Wine's cmd runs a batch file, which finds
# the report file that wine-run.sh asks for ("-o FILE,txt") in %2 and writes the given
# lines (separated by ";") into it. Last column: whether wine-run.sh must fail.
while IFS='|' read -r name lines expected_rc; do
    file=$work/${name// /-}
    {
        echo '@echo off'
        [ -z "$lines" ] || tr ';' '\n' <<<"$lines" | sed 's/.*/echo &>>%2/'
        echo 'exit /b 0'
    } | sed 's/$/\r/' >"$file.bat"
    "$here/../netns/in-empty-netns.sh" "$here/wine-run.sh" --qtest cmd /c "Z:$file.bat" >"$file.out" 2>&1
    rc=$?
    if [ "$rc" -eq 77 ]; then
        echo "cannot create a network namespace here; skipping" >&2
        exit 77
    fi
    ok=no
    if [ "$expected_rc" = 0 ]; then
        [ "$rc" -eq 0 ] && ok=yes
    elif [ "$rc" -ne 0 ] && grep -q 'counted as failed' "$file.out"; then
        ok=yes
    fi
    result "wine-run.sh --qtest, $name: exit status $rc" "$ok" "$(tail -n 3 "$file.out" | tr '\n' ' ')"
done <<'EOF'
no report||1
cut short|PASS   : T::initTestCase();PASS   : T::f()|1
only init and cleanup passed|PASS   : T::initTestCase();SKIP   : T::f() not here;PASS   : T::cleanupTestCase();Totals: 2 passed, 0 failed, 1 skipped, 0 blacklisted, 1ms|1
one function passed|PASS   : T::initTestCase();PASS   : T::f();PASS   : T::cleanupTestCase();Totals: 3 passed, 0 failed, 0 skipped, 0 blacklisted, 1ms|0
EOF

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
EOF
[ "$failures" -eq 0 ]
