# Sourced by the harness scripts (POSIX sh).

# run_isolated COMMAND...: runs COMMAND, an unshare that makes a PID namespace, and exits
# with its status. Not exec'd: unshare holds back SIGINT and SIGTERM, so this shell passes
# them on to its child, PID 1 inside. And it dies with this shell, its child with it, and
# with that everything inside.
run_isolated() {
    setpriv --pdeathsig KILL -- "$@" <&0 &
    isolated=$!
    # shellcheck disable=SC2317 # called from the traps
    stop() {
        inner=$(cat "/proc/$isolated/task/$isolated/children" 2>/dev/null)
        # shellcheck disable=SC2086 # one pid per word
        if [ -n "$inner" ]; then kill -TERM $inner 2>/dev/null; else kill -KILL "$isolated" 2>/dev/null; fi
        wait "$isolated"
        exit "$1"
    }
    trap 'stop 130' INT
    trap 'stop 143' TERM
    wait "$isolated"
    exit $?
}

# wait_until WHAT COMMAND...: polls COMMAND for up to 10 s; if it never succeeds, says
# that WHAT and exits with status 1.
wait_until() {
    what=$1
    shift
    tries=0
    until "$@"; do
        tries=$((tries + 1))
        if [ "$tries" -gt 200 ]; then
            echo "$0: $what" >&2
            exit 1
        fi
        sleep 0.05
    done
}
