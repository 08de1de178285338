#!/bin/sh
# Runs a command on a throw-away two-namespace LAN: an app side with two IPv4
# addresses and a device side, joined by a veth pair in 198.51.100.0/24.
# Nothing touches the host's interfaces; both namespaces go on every exit.
# Exit code 77 tells CTest the test was skipped where namespaces are unavailable.
# Usage: lan.sh -- COMMAND [ARGS...]
[ "${1-}" = "--" ] && shift
if [ $# -eq 0 ]; then
    echo "usage: $0 -- COMMAND [ARGS...]" >&2
    exit 2
fi
if ! command -v ip >/dev/null 2>&1 || [ "$(id -u)" -ne 0 ]; then
    echo "cannot create network namespaces here (needs root and iproute2's ip); skipping" >&2
    exit 77
fi

# Namespaces left by a run that was killed outright carry its dead pid.
for ns in $(ip netns list 2>/dev/null | sed -n 's/^\(vnt-[a-z]*-[0-9a-f]*-[0-9a-f]*\).*/\1/p'); do
    pid=$(printf '%s' "$ns" | cut -d- -f3)
    if ! kill -0 "$((0x$pid))" 2>/dev/null; then
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
        ip netns del "$ns" 2>/dev/null
    fi
done

# Unique per run so tests can run in parallel; veth names stay within 15 characters.
tag=$(printf '%x-%04x' $$ "$(od -An -N2 -tu2 /dev/urandom | tr -d ' ')")
app_ns=vnt-app-$tag
lan_ns=vnt-lan-$tag
app_if=vnA$(printf '%s' "$tag" | tr -d -)
lan_if=vnL$(printf '%s' "$tag" | tr -d -)
child=

# shellcheck disable=SC2317 # called from the traps
cleanup() {
    trap - EXIT INT TERM
    [ -n "$child" ] && kill -TERM "$child" 2>/dev/null && wait "$child" 2>/dev/null
    for ns in "$app_ns" "$lan_ns"; do
        pids=$(ip netns pids "$ns" 2>/dev/null)
        if [ -n "$pids" ]; then
            # shellcheck disable=SC2086 # one pid per word
            kill -TERM $pids 2>/dev/null
            sleep 0.2
            # shellcheck disable=SC2046
            kill -KILL $(ip netns pids "$ns" 2>/dev/null) 2>/dev/null
        fi
        ip netns del "$ns" 2>/dev/null
    done
}
trap 'cleanup' EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

if ! ip netns add "$app_ns" 2>/dev/null; then
    echo "cannot create network namespaces here (ip netns add failed); skipping" >&2
    exit 77
fi
# The pair is born inside the app namespace, so it never appears on the host.
if ! { ip netns add "$lan_ns" &&
    ip -n "$app_ns" link add "$app_if" type veth peer name "$lan_if" netns "$lan_ns" &&
    ip -n "$app_ns" addr add 198.51.100.1/24 dev "$app_if" &&
    ip -n "$app_ns" addr add 198.51.100.2/24 dev "$app_if" &&
    ip -n "$lan_ns" addr add 198.51.100.100/24 dev "$lan_if" &&
    ip -n "$app_ns" link set lo up &&
    ip -n "$lan_ns" link set lo up &&
    ip -n "$app_ns" link set "$app_if" multicast on up &&
    ip -n "$lan_ns" link set "$lan_if" multicast on up; }; then
    echo "building the test LAN failed" >&2
    exit 1
fi
# Until the kernel marks both ends operational their queues drop every packet.
tries=0
until ip -n "$app_ns" -o link show dev "$app_if" | grep -q 'state UP' &&
    ip -n "$lan_ns" -o link show dev "$lan_if" | grep -q 'state UP'; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "the test LAN's links did not come up" >&2
        exit 1
    fi
    sleep 0.05
done

export VARNITT_APP_NS="$app_ns" VARNITT_LAN_NS="$lan_ns"
export VARNITT_APP_IF="$app_if" VARNITT_LAN_IF="$lan_if"
export VARNITT_APP_ADDRS="198.51.100.1 198.51.100.2" VARNITT_LAN_ADDR=198.51.100.100

# In the background so a signal to this script is handled at once; stdin stays attached.
ip netns exec "$app_ns" "$@" <&0 &
child=$!
wait "$child"
rc=$?
child=
exit "$rc"
