#!/bin/sh
# Starts each program where it must not work: in a network namespace whose interface
# carries 192.0.2.1/24, a stand-in for a real LAN. Each must fail with its refusal on
# stderr and put not one packet on that interface; varnitt-devsim, started without
# --interface, must exit with status 2 and say why. Windows programs (.exe) run under Wine
# (tests/windows/wine-run.sh, which allows this stand-in network for these runs only) and
# must leave nothing in /. Given tests/windows/wine-run.sh itself, it must refuse to start
# Wine beside 203.0.113.1/24, a network it never allows, and beside the stand-in network
# when this script has not named it.
# Exit code 77 tells CTest the test was skipped: neither root nor user namespaces.
# Usage: refusal.sh PROGRAM...
if [ "${1-}" != "--inside" ]; then
    PATH=$PATH:/usr/sbin:/sbin
    export PATH
    for isolate in "unshare --net" "unshare --user --map-root-user --net"; do
        if $isolate true 2>/dev/null; then
            exec $isolate -- "$0" --inside "$@"
        fi
    done
    echo "cannot create a network namespace here (needs root or user namespaces); skipping" >&2
    exit 77
fi
shift

real_if=vnt-real
work=$(mktemp -d)
counter=
peer_side=
trap '[ -n "$counter" ] && kill "$counter" 2>/dev/null; [ -n "$peer_side" ] && kill "$peer_side"; rm -rf "$work"' EXIT

ip link set lo up
# The cable's other end lives in a namespace of its own, as the rest of a real LAN would.
setpriv --pdeathsig KILL -- unshare --net -- sleep infinity &
peer_side=$!
tries=0
while [ "$(readlink "/proc/$peer_side/ns/net" 2>/dev/null)" = "$(readlink /proc/$$/ns/net)" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$peer_side" 2>/dev/null; then
        echo "cannot create the stand-in network's far side" >&2
        exit 1
    fi
    sleep 0.02
done
# build_link ADDRESS/PREFIX: a fresh link per program, so late packets of one (IGMP reports
# repeat) cannot count against the next. No IPv6 addresses, so the kernel itself stays
# quiet on it.
build_link() {
    ip link del "$real_if" 2>/dev/null
    if ! { ip link add "$real_if" type veth peer name vnt-peer netns "$peer_side" &&
        ip link set "$real_if" addrgenmode none &&
        nsenter --net="/proc/$peer_side/ns/net" ip link set vnt-peer addrgenmode none &&
        ip addr add "$1" dev "$real_if" &&
        nsenter --net="/proc/$peer_side/ns/net" ip link set vnt-peer up &&
        ip link set "$real_if" multicast on up; }; then
        echo "building the stand-in network failed" >&2
        exit 1
    fi
    # Qt counts an interface as up only once it has a carrier; until then a program would
    # not see the stand-in network at all.
    tries=0
    until ip -o link show dev "$real_if" | grep -q 'state UP'; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "the stand-in network's link did not come up" >&2
            exit 1
        fi
        sleep 0.05
    done
}

# Counts every frame on the interface, either way, until SIGTERM; then prints the count.
count_packets() {
    exec python3 -c '
import signal, socket, sys
sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))
sock.bind((sys.argv[1], 0))
count = 0
def finish(*_):
    print(count, flush=True)
    sys.exit(0)
signal.signal(signal.SIGTERM, finish)
print("ready", flush=True)
while True:
    sock.recv(65535)
    count += 1
' "$real_if"
}

# One case a line: ADDRESS STANDIN PROGRAM. STANDIN is the interface wine-run.sh is told it
# may find the stand-in network on ("-": none). wine-run.sh itself runs twice: beside a
# network it never allows, and beside the stand-in network nobody named to it.
cases=$(for program in "$@"; do
    case $program in
    */wine-run.sh) printf '%s\n' "203.0.113.1/24 $real_if $program" "192.0.2.1/24 - $program" ;;
    *) printf '%s\n' "192.0.2.1/24 $real_if $program" ;;
    esac
done)
failures=0
while read -r address standin program; do
    name=$(basename "$program")
    label=$name
    [ "$name" = wine-run.sh ] && label="$name beside $address"
    if [ "$standin" = - ]; then
        unset VARNITT_WINE_STANDIN
        label="$label, not named"
    else
        export VARNITT_WINE_STANDIN="$standin"
    fi
    build_link "$address"
    # The last counter's "ready" must not stand for this one's.
    rm -f "$work/count"
    count_packets >"$work/count" &
    counter=$!
    tries=0
    until grep -q '^ready$' "$work/count" 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "the packet counter did not start" >&2
            exit 1
        fi
        sleep 0.05
    done

    find / -mindepth 1 -maxdepth 1 -printf '%f\n' >"$work/root-before"
    case $program in
    # A Windows program runs under Wine, whose prefix starts here too: Wine itself must
    # not send anything either.
    *.exe) "$(dirname "$0")/../windows/wine-run.sh" "$program" -platform offscreen ;;
    */wine-run.sh) "$program" --shell true ;;
    *) QT_QPA_PLATFORM=offscreen "$program" ;;
    esac </dev/null >"$work/out" 2>"$work/err"
    rc=$?
    # Drive Z: of Wine is the host's /, where a test's folders must never go.
    left=$(find / -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -vxF -f "$work/root-before" | tr '\n' ' ')
    # The last datagrams of a program that did send would still be on their way.
    sleep 0.3
    kill -TERM "$counter"
    wait "$counter"
    counter=
    packets=$(sed -n '2p' "$work/count")

    if [ "$name" = varnitt-devsim ]; then
        expected="exit status 2 and \"needs --interface\""
        [ "$rc" -eq 2 ] && grep -q 'needs --interface' "$work/err"
    elif [ "$name" = wine-run.sh ]; then
        expected="a failing exit status and \"refusing to start Wine\""
        [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ] && grep -q 'refusing to start Wine' "$work/err"
    else
        expected="a failing exit status and \"refusing to run\""
        [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ] && grep -q 'refusing to run' "$work/err"
    fi
    refused=$?
    if [ "$refused" -eq 0 ] && [ "$packets" = 0 ] && [ -z "$left" ]; then
        echo "PASS $label: exit status $rc, 0 packets: $(grep -m 1 -e 'refusing to' -e 'needs --interface' "$work/err")"
    else
        echo "FAIL $label: exit status $rc, ${packets:-unknown} packets${left:+, left in /: $left}" \
            "(expected $expected, 0 packets)"
        head -n 5 "$work/err"
        failures=$((failures + 1))
    fi
done <<EOF
$cases
EOF
[ "$failures" -eq 0 ]
