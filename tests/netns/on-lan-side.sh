#!/bin/sh
# Runs a command on the device side of the test LAN that tests/netns/lan.sh built.
# Usage (inside lan.sh): on-lan-side.sh COMMAND [ARGS...]
if [ -z "${VARNITT_LAN_NS-}" ] || [ ! -e "$VARNITT_LAN_NS" ]; then
    echo "$0: no test LAN here; run this inside tests/netns/lan.sh" >&2
    exit 1
fi
exec nsenter --net="$VARNITT_LAN_NS" -- "$@"
