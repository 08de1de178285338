#!/bin/sh
# A whole site of simulated devices: plan, then apply --yes, timed, on the test LAN of
# tests/sandbox.sh (never on a real network). Prints wall time, CPU time and peak memory
# of each command, the datagrams the simulator received, and how many devices verified.
# Usage: run-sitebench.sh [BINDIR] [COUNT] [CONFIG_DROP_PERCENT]
here=$(cd "$(dirname "$0")" && pwd)
bindir=${1:-$here/../build/bin}
count=${2:-1000}
drop=${3:-0}
if [ -z "${VARNITT_LAN_NS-}" ]; then
    exec "$here/../tests/sandbox.sh" lan -- "$0" "$(cd "$bindir" && pwd)" "$count" "$drop"
fi
set -eu
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$work"' EXIT INT TERM
nsenter --net="$VARNITT_LAN_NS" "$bindir/varnitt-devsim" --interface "$VARNITT_LAN_IF" --count "$count" \
    --config-drop-percent "$drop" --seed 29 --verbose >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
until grep -q '^ready$' "$work/sim.out"; do
    kill -0 "$sim" || { cat "$work/sim.err"; exit 1; }
    sleep 0.1
done
# measure LABEL STDOUT_FILE COMMAND...
measure() {
    label=$1 out=$2
    shift 2
    /usr/bin/time -f "$label: %e s wall, %U s user + %S s system CPU, %M kB peak, exit %x" -o "$work/time" \
        "$@" >"$out" 2>"$work/stderr" || true
    cat "$work/time"
}
measure plan /dev/null "$bindir/varnitt-cli" plan --first 10.20.0.1 --mask 255.255.0.0 --gateway 10.20.255.254 \
    --output "$work/plan.csv"
measure "apply --yes" "$work/report.json" "$bindir/varnitt-cli" apply "$work/plan.csv" --yes --format json
echo "devices: $count; config_net replies dropped: $drop %"
echo "verified: $(grep -c '"result": "verified"' "$work/report.json") of $(($(wc -l <"$work/plan.csv") - 1)) rows"
kill "$sim"
wait "$sim" || true
# Every datagram the command line sent reached the simulator: one wire, one receiver.
echo "datagrams from varnitt-cli (received by the simulator): $(tail -n 1 "$work/sim.err" | sed 's/^varnitt-devsim: //')"
