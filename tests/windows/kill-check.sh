#!/usr/bin/env bash
# Kills a Wine test with SIGKILL while its program runs, as CTest does at a timeout, and
# checks that nothing of it outlives it: no process (Wine's, Xvfb, the simulator) and no
# file in the /tmp it was started with, here the one of this check's own sandbox.
# Usage: kill-check.sh --case "NAME..." COMMAND... [--case "NAME..." COMMAND...]
#   NAME...  programs (the start of their file names) that must all be running, besides
#            wineserver and Xvfb, when the kill comes; the first, the test program, is
#            stopped just before it; COMMAND the test's command line as CTest runs it
# Exit: 0 pass, 1 fail, 77 skipped (no namespaces here).
set -u
if [ "${1-}" != --inside ]; then
    exec "$(dirname "$0")/../sandbox.sh" empty -- "$0" --inside "$@"
fi
shift
# The sandbox's own /tmp, and the host's folders it bound in (the checkout, when it lies
# in /tmp): none of them is a run's.
kept_tmp=$(cd /tmp && find . -mindepth 1 -maxdepth 1 -printf '%P\n')
own=/tmp/.kill-check
mkdir "$own"

# Every process of a run carries its tag in its environment; a process whose environment
# is gone is a zombie, already ended.
tagged() {
    grep -lsxzF "VARNITT_KILL_CHECK=$1" /proc/[0-9]*/environ | cut -d/ -f3
}
# The run's processes: the tagged ones, and any other in a PID namespace of theirs that is
# not this check's.
processes_of() {
    local tag=$1 pids ns
    pids=$(tagged "$tag")
    [ -n "$pids" ] || return 0
    ns=$(for pid in $pids; do readlink "/proc/$pid/ns/pid"; done 2>/dev/null | sort -u |
        grep -vxF "$(readlink /proc/self/ns/pid)")
    {
        echo "$pids"
        [ -z "$ns" ] || find /proc/[0-9]*/ns/pid -maxdepth 0 -printf '%l %p\n' 2>/dev/null |
            grep -F -f <(echo "$ns") | sed 's|.* /proc/\([0-9]*\)/.*|\1|'
    } | sort -un
}
# "PID NAME" per process: the file name of argv[0] (a Windows path for a Wine program),
# its command name where argv[0] is empty. Zombies drop out.
describe() {
    local pid name
    for pid in "$@"; do
        grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null && continue
        name=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | head -n 1 | sed 's|.*[/\\]||')
        [ -n "$name" ] || name=$(cat "/proc/$pid/comm" 2>/dev/null) || continue
        echo "$pid $name"
    done
}

failures=0
case_no=0
# run_case NAMES COMMAND...: 0 pass, 1 fail, 2 the run ended before the kill (try again).
run_case() {
    local names=$1 tag top waited=0 missing running left files program rc
    shift
    case_no=$((case_no + 1))
    tag=$$-$case_no
    VARNITT_KILL_CHECK=$tag "$@" >"$own/out.$case_no" 2>&1 &
    top=$!
    # The middle of the run: its program and everything it needs are up.
    while :; do
        # shellcheck disable=SC2046 # one pid per word
        running=$(describe $(processes_of "$tag"))
        missing=
        for name in wineserver Xvfb $names; do
            # By the start of the name: Wine's server is wineserver64 on a 64-bit system.
            awk -v name="$name" 'index(tolower($2), tolower(name)) == 1 { found = 1 } END { exit !found }' \
                <<<"$running" || missing="$missing $name"
        done
        [ -z "$missing" ] && break
        if ! kill -0 "$top" 2>/dev/null || [ "$waited" -ge 2400 ]; then
            echo "FAIL $names: the run ended, or 240 s passed, before$missing ran"
            tail -n 20 "$own/out.$case_no"
            kill -KILL "$top" 2>/dev/null
            wait "$top" 2>/dev/null
            return 1
        fi
        waited=$((waited + 1))
        sleep 0.1
    done
    # The test program is stopped first, so the run cannot end on its own meanwhile.
    program=$(awk -v name="${names%% *}" 'index(tolower($2), tolower(name)) == 1 { print $1 }' <<<"$running")
    # shellcheck disable=SC2086 # one pid per word
    kill -STOP $program 2>/dev/null
    kill -KILL "$top"
    wait "$top" 2>/dev/null
    rc=$?
    # The kernel ends a PID namespace's processes at once; the wait only covers their exit.
    waited=0
    # shellcheck disable=SC2046 # one pid per word
    while left=$(describe $(processes_of "$tag")) && [ -n "$left" ] && [ "$waited" -lt 300 ]; do
        waited=$((waited + 1))
        sleep 0.1
    done
    # The host's folders bound in (the checkout, when it lies in /tmp) are not the run's.
    files=$(cd /tmp && find . -mindepth 1 -maxdepth 1 -printf '%P\n' |
        grep -vxF -e "${own##*/}" -e "$kept_tmp" | tr '\n' ' ')
    # What a run left must not count against the next one.
    # shellcheck disable=SC2046 # one pid per word
    [ -z "$left" ] || kill -KILL $(echo "$left" | cut -d' ' -f1) 2>/dev/null
    for f in $files; do rm -rf "/tmp/$f"; done
    if [ "$rc" -ne 137 ]; then
        echo "$names: the run ended by itself (exit status $rc) before the kill; once more"
        return 2
    fi
    if [ -z "$left" ] && [ -z "$files" ]; then
        echo "PASS $names: killed while running $(echo "$running" | cut -d' ' -f2 | sort -u | tr '\n' ' ')-" \
            "nothing left"
        return 0
    fi
    echo "FAIL $names: 30 s after SIGKILL still running: $(echo "$left" | tr '\n' ' ');" \
        "left in /tmp: ${files:-nothing}"
    return 1
}

[ "${1-}" = --case ] || {
    echo "usage: $0 --case \"NAME...\" COMMAND... [--case ...]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    shift # --case
    names=$1
    shift
    command=()
    while [ $# -gt 0 ] && [ "$1" != --case ]; do
        command+=("$1")
        shift
    done
    for _ in 1 2 3; do
        run_case "$names" "${command[@]}"
        result=$?
        [ "$result" -eq 2 ] || break
    done
    [ "$result" -eq 0 ] || failures=$((failures + 1))
done
[ "$failures" -eq 0 ]
