#!/bin/sh
# One search against many simulated devices on the throw-away test LAN, reporting what a
# large site would feel: devices found, time to the last new row, CPU and peak memory.
# Run by hand (as root or an ordinary user: tests/sandbox.sh builds the LAN either way); not part of
# the test suite.
# Usage: tools/scale-run.sh [BIN_DIR [COUNT [DRIVER OPTIONS...]]]
#   BIN_DIR holds varnitt-scaledriver and varnitt-devsim (default: build/bin), COUNT is the
#   number of simulated devices (default 10000); the rest goes to the driver, for example
#   --force-receive-buffer 67108864 to see whether a larger socket buffer stops the drops
#   (that one needs real root).
set -eu

here=$(cd "$(dirname "$0")" && pwd)

if [ "${1-}" != "--in-lan" ]; then
    bin=$(cd "${1:-$here/../build/bin}" && pwd)
    count=${2:-10000}
    [ $# -gt 2 ] && shift 2 || set --
    for program in varnitt-scaledriver varnitt-devsim; do
        if [ ! -x "$bin/$program" ]; then
            echo "no $program in $bin; build the project first" >&2
            exit 1
        fi
    done
    exec "$here/../tests/sandbox.sh" lan -- "$here/scale-run.sh" --in-lan "$bin" "$count" "$@"
fi

# From here on: inside the sandbox LAN, on the app side.
bin=$2
count=$3
shift 3
work=$(mktemp -d)
devsim=
finish() {
    if [ -n "$devsim" ]; then
        kill -TERM "$devsim" 2>/dev/null || true
        wait "$devsim" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap finish EXIT

udp_counter() {
    # Second "Udp:" line of /proc/net/snmp holds the values, in the order the first names them.
    awk -v name="$1" '$1 == "Udp:" { if (!seen) { for (i = 2; i <= NF; i++) col[$i] = i; seen = 1 }
        else print $(col[name]) }' /proc/net/snmp
}

nsenter --net="$VARNITT_LAN_NS" "$bin/varnitt-devsim" --interface "$VARNITT_LAN_IF" --count "$count" --verbose \
    >"$work/devsim.out" 2>"$work/devsim.err" &
devsim=$!
tries=0
until grep -q '^ready$' "$work/devsim.out" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ] || ! kill -0 "$devsim" 2>/dev/null; then
        echo "the simulator did not start:" >&2
        cat "$work/devsim.err" >&2
        exit 1
    fi
    sleep 0.1
done

in_before=$(udp_counter InDatagrams)
overflow_before=$(udp_counter RcvbufErrors)

rc=0
QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 "$bin/varnitt-scaledriver" "$@" \
    >"$work/driver.out" 2>"$work/varnitt.log" || rc=$?

in_after=$(udp_counter InDatagrams)
overflow_after=$(udp_counter RcvbufErrors)
kill -TERM "$devsim" 2>/dev/null || true
wait "$devsim" 2>/dev/null || true
devsim=

if [ "$rc" -ne 0 ] || ! grep -q '^devices_found ' "$work/driver.out"; then
    echo "the driver failed (exit $rc):" >&2
    cat "$work/driver.out" >&2
    grep 'varnitt-scaledriver' "$work/varnitt.log" >&2 || tail -5 "$work/varnitt.log" >&2
    exit 1
fi

value() { sed -n "s/^$1 //p" "$work/driver.out" | head -n 1; }
stats=$(sed -n 's/^varnitt-devsim: \(received .*\)/\1/p' "$work/devsim.err")
requests=$(grep -c '^"{' "$work/varnitt.log" || true)

echo "Scale run: one search, $count simulated devices"
printf '  %-40s %s / %s\n' "devices found / present" "$(value devices_found)" "$count"
printf '  %-40s %s\n' "seconds from click to last new row" "$(value last_new_row_s)"
printf '  %-40s %s\n' "seconds from click to search end" "$(value search_end_s)"
printf '  %-40s %s (%s of them after the click)\n' "CPU seconds of the program" "$(value cpu_s)" \
    "$(awk -v a="$(value cpu_s)" -v b="$(value cpu_before_click_s)" 'BEGIN { printf "%.3f", a - b }')"
printf '  %-40s %s (goal < 150)\n' "peak memory, MB (ru_maxrss)" "$(value peak_rss_mb)"
printf '  %-40s %s\n' "search requests (each on every socket)" "$requests"
printf '  %-40s %s\n' "simulator" "${stats:-no statistics}"
printf '  %-40s %s\n' "datagrams the program read" "$(value datagrams_received)"
printf '  %-40s %s\n' "datagrams the kernel delivered (Udp)" "$((in_after - in_before))"
printf '  %-40s %s\n' "dropped, receive buffer full" "$((overflow_after - overflow_before))"
sed -n 's/^receive_buffer_bytes \(.*\) \([0-9]*\)$/  receive buffer of the socket on \1: \2 bytes/p' "$work/driver.out"
printf '  %-40s %s\n' "net.core.rmem_max here" "$(cat /proc/sys/net/core/rmem_max)"
