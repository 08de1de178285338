#!/bin/sh
# Runs a command on a throw-away two-namespace LAN: an app side with two IPv4
# addresses and a device side, joined by a veth pair in 198.51.100.0/24.
# Nothing touches the host's interfaces. As root the namespaces are made directly;
# anyone else gets them inside a user namespace, where they are root over nothing
# but these namespaces. Everything runs in a private PID namespace too, so the
# kernel ends every process and both namespaces on any exit, even a SIGKILL.
# Exit code 77 tells CTest the test was skipped: neither root nor user namespaces.
# Usage: lan.sh [--two-cables] -- COMMAND [ARGS...]
#
# The command runs on the app side and finds in its environment:
#   VARNITT_APP_NS, VARNITT_LAN_NS   the network namespace files of both sides
#   VARNITT_APP_IF, VARNITT_LAN_IF   the two ends of the cable
#   VARNITT_APP_ADDRS, VARNITT_LAN_ADDR
#   VARNITT_ON_LAN_SIDE              a command that runs its arguments on the device side
# With --two-cables the app side has a second interface too, on a cable of its own to
# the device side, like a laptop with Ethernet and Wi-Fi:
#   VARNITT_APP2_IF, VARNITT_LAN2_IF  its two ends (198.51.100.129/25 and .130/25)
here=$(cd "$(dirname "$0")" && pwd)
# ip lives in sbin, which a plain user's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin
export PATH

if [ "${1-}" != "--inside" ]; then
    cables=1
    if [ "${1-}" = "--two-cables" ]; then
        cables=2
        shift
    fi
    [ "${1-}" = "--" ] && shift
    if [ $# -eq 0 ]; then
        echo "usage: $0 -- COMMAND [ARGS...]" >&2
        exit 2
    fi
    if ! command -v ip >/dev/null 2>&1 || ! command -v nsenter >/dev/null 2>&1 ||
        ! command -v setpriv >/dev/null 2>&1; then
        echo "cannot build the test LAN here (needs iproute2 and util-linux); skipping" >&2
        exit 77
    fi
    isolate="unshare --net --pid --fork --kill-child --mount-proc"
    if ! $isolate true 2>/dev/null; then
        isolate="unshare --user --map-root-user --net --pid --fork --kill-child --mount-proc"
        if ! $isolate true 2>/dev/null; then
            echo "cannot create network namespaces here (needs root or unprivileged user namespaces); skipping" >&2
            exit 77
        fi
    fi
    . "$here/isolated.sh"
    # shellcheck disable=SC2086 # the command is meant to split into words
    run_isolated $isolate -- "$here/lan.sh" --inside "$cables" "$@"
fi
cables=$2
shift 2
# Anywhere else the links below would be made on the host's own network.
if [ $$ -ne 1 ]; then
    echo "$0: --inside is for lan.sh itself" >&2
    exit 2
fi

# From here on: PID 1 of a fresh PID namespace, in the app side's new network namespace.
# Names need not be unique: nobody else sees these namespaces.
app_if=vnt-app
lan_if=vnt-lan
holder=
child=

# shellcheck disable=SC2317 # called from the traps
cleanup() {
    trap - EXIT INT TERM
    if [ -n "$child" ] && kill -TERM "$child" 2>/dev/null; then
        # A while to finish; whatever is left goes when this script, PID 1, exits.
        tries=0
        while kill -0 "$child" 2>/dev/null && [ "$tries" -lt 40 ]; do
            tries=$((tries + 1))
            sleep 0.05
        done
    fi
    [ -n "$holder" ] && kill -KILL "$holder" 2>/dev/null
}
trap 'cleanup' EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

# The device side is the network namespace of a process that only waits.
unshare --net -- sleep infinity &
holder=$!
tries=0
while [ "$(readlink "/proc/$holder/ns/net" 2>/dev/null)" = "$(readlink /proc/$$/ns/net)" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$holder" 2>/dev/null; then
        echo "cannot create the device side's network namespace" >&2
        exit 1
    fi
    sleep 0.02
done

export VARNITT_APP_NS=/proc/$$/ns/net VARNITT_LAN_NS=/proc/$holder/ns/net
export VARNITT_APP_IF="$app_if" VARNITT_LAN_IF="$lan_if"
export VARNITT_APP_ADDRS="198.51.100.1 198.51.100.2" VARNITT_LAN_ADDR=198.51.100.100
export VARNITT_ON_LAN_SIDE="$here/on-lan-side.sh"

on_lan() { "$VARNITT_ON_LAN_SIDE" "$@"; }

# The pair is born here and its other end moved straight to the device side.
if ! { ip link add "$app_if" type veth peer name "$lan_if" netns "$holder" &&
    ip addr add 198.51.100.1/24 dev "$app_if" &&
    ip addr add 198.51.100.2/24 dev "$app_if" &&
    on_lan ip addr add 198.51.100.100/24 dev "$lan_if" &&
    ip link set lo up &&
    on_lan ip link set lo up &&
    ip link set "$app_if" multicast on up &&
    on_lan ip link set "$lan_if" multicast on up; }; then
    echo "building the test LAN failed" >&2
    exit 1
fi
app_ifs=$app_if
lan_ifs=$lan_if
if [ "$cables" = 2 ]; then
    # A /25 of its own, so each side routes the other cable's addresses over that cable.
    if ! { ip link add vnt-app2 type veth peer name vnt-lan2 netns "$holder" &&
        ip addr add 198.51.100.129/25 dev vnt-app2 &&
        on_lan ip addr add 198.51.100.130/25 dev vnt-lan2 &&
        ip link set vnt-app2 multicast on up &&
        on_lan ip link set vnt-lan2 multicast on up; }; then
        echo "building the test LAN's second cable failed" >&2
        exit 1
    fi
    export VARNITT_APP2_IF=vnt-app2 VARNITT_LAN2_IF=vnt-lan2
    app_ifs="$app_ifs vnt-app2"
    lan_ifs="$lan_ifs vnt-lan2"
fi
# Until the kernel marks both ends operational their queues drop every packet.
links_up() {
    for link in $app_ifs; do
        ip -o link show dev "$link" | grep -q 'state UP' || return 1
    done
    for link in $lan_ifs; do
        on_lan ip -o link show dev "$link" | grep -q 'state UP' || return 1
    done
}
tries=0
until links_up; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "the test LAN's links did not come up" >&2
        exit 1
    fi
    sleep 0.05
done
# Lets /sys/class/net show this side's interfaces, as ip netns exec would.
mount -t sysfs sysfs /sys 2>/dev/null

# In the background so a signal to this script is handled at once; stdin stays attached.
"$@" <&0 &
child=$!
wait "$child"
rc=$?
child=
exit "$rc"
