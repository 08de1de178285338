#!/bin/sh
# Starts each program where it must not work: in a sandbox whose interface carries
# 192.0.2.1/24, a stand-in for a real LAN (tests/sandbox.sh standin). Each must fail with
# its refusal on stderr and put not one packet on that interface; varnitt-devsim, started
# without --interface, must exit with status 2 and say why. Windows programs (.exe) run
# under Wine (tests/windows/wine-run.sh, which allows this stand-in network for these runs
# only) and must leave nothing in /. Given tests/windows/wine-run.sh itself, it must refuse
# to start Wine beside 203.0.113.1/24, a network it never allows, and beside the stand-in
# network when this script has not named it. On a test network outside a sandbox (its
# mark removed) the Linux programs and wine-run.sh must refuse too.
# Exit code 77 tells CTest the test was skipped: no namespaces here.
# Usage: refusal.sh PROGRAM...
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1-}" != --one ]; then
    # One case a line: ADDRESS STANDIN PROGRAM. STANDIN is the interface wine-run.sh is
    # told it may find the stand-in network on ("-": none). A fresh sandbox per case, so
    # late packets of one (IGMP reports repeat) cannot count against the next.
    failures=0
    while read -r address standin program; do
        "$here/../sandbox.sh" standin "$address" -- "$0" --one "$address" "$standin" "$program"
        rc=$?
        [ "$rc" -ne 77 ] || exit 77
        [ "$rc" -eq 0 ] || failures=$((failures + 1))
    done <<EOF2
$(for program in "$@"; do
        case $program in
        */wine-run.sh) printf '%s\n' "203.0.113.1/24 vnt-real $program" "192.0.2.1/24 - $program" \
            "198.51.100.1/24 nomark $program" ;;
        *.exe | */varnitt-devsim) printf '%s\n' "192.0.2.1/24 vnt-real $program" ;;
        *) printf '%s\n' "192.0.2.1/24 vnt-real $program" "198.51.100.1/24 nomark $program" ;;
        esac
    done)
EOF2
    [ "$failures" -eq 0 ]
    exit
fi
address=$2 standin=$3 program=$4
work=$(mktemp -d)

# Counts every frame on the interface, either way, until SIGTERM; then prints the count.
python3 -c '
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
' vnt-real >"$work/count" &
counter=$!
. "$here/../harness.sh"
wait_until "the packet counter did not start" grep -q '^ready$' "$work/count"

name=$(basename "$program")
label=$name
[ "$name" = wine-run.sh ] && label="$name beside $address"
reason=
if [ "$standin" = nomark ]; then
    # A test network, but not the sandbox's: its mark is gone.
    rm /tmp/.varnitt-sandbox
    unset VARNITT_WINE_STANDIN
    label="$label on a test network, outside a sandbox"
    reason="outside a sandbox"
    [ "$name" = wine-run.sh ] || reason="not inside a sandbox"
elif [ "$standin" = - ]; then
    unset VARNITT_WINE_STANDIN
    label="$label, not named"
else
    export VARNITT_WINE_STANDIN="$standin"
fi
find / -mindepth 1 -maxdepth 1 -printf '%f\n' >"$work/root-before"
case $program in
# A Windows program runs under Wine, whose prefix starts here too: Wine itself must not
# send anything either.
*.exe) "$here/../windows/wine-run.sh" "$program" -platform offscreen ;;
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
[ -z "$reason" ] || grep -q "$reason" "$work/err" || refused=1
if [ "$refused" -eq 0 ] && [ "$packets" = 0 ] && [ -z "$left" ]; then
    echo "PASS $label: exit status $rc, 0 packets: $(grep -m 1 -e 'refusing to' -e 'needs --interface' "$work/err")"
    exit 0
fi
echo "FAIL $label: exit status $rc, ${packets:-unknown} packets${left:+, left in /: $left}" \
    "(expected $expected, 0 packets)"
head -n 5 "$work/err"
exit 1
