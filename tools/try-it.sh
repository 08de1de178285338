#!/bin/sh
# Runs on the app side of the LAN of tests/sandbox.sh lan: starts the
# simulator with COUNT devices on the device side, then Varnitt on the user's display.
# Usage (through sandbox.sh lan): try-it.sh BINDIR COUNT
set -eu
bindir=$1
count=$2

# Under sudo, root needs the invoking user's X authority to reach the display.
if [ -z "${XAUTHORITY:-}" ] && [ -n "${SUDO_USER:-}" ]; then
    XAUTHORITY=$(getent passwd "$SUDO_USER" | cut -d: -f6)/.Xauthority
    export XAUTHORITY
fi

out=$(mktemp)
nsenter --net="$VARNITT_LAN_NS" "$bindir/varnitt-devsim" --interface "$VARNITT_LAN_IF" --count "$count" >"$out" &
sim=$!
trap 'kill "$sim" 2>/dev/null; rm -f "$out"' EXIT INT TERM
tries=0
until grep -q '^ready$' "$out"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$sim" 2>/dev/null; then
        echo "the device simulator did not start" >&2
        exit 1
    fi
    sleep 0.1
done
echo "$count simulated devices are on the test network; press Search Devices in Varnitt."
"$bindir/varnitt"
