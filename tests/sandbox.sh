#!/bin/sh
# The one way a test runs isolated: network, PID and mount namespaces of its own (inside a
# user namespace when not root), a private /tmp and /proc, and the links of MODE. The
# kernel ends every process and namespace of the run on any exit, even a SIGKILL.
# Usage: sandbox.sh MODE [OPTIONS] -- COMMAND [ARGS...]
#   empty             loopback only
#   lan [--two-cables] [--devsim PATH]
#                     a test LAN: this side (COMMAND's) has 198.51.100.1 and .2/24, the
#                     device side .100/24, on a veth pair; --two-cables adds a second cable
#                     (.129/25 here, .130/25 there), like a laptop with Ethernet and Wi-Fi;
#                     --devsim runs PATH's simulator control server on the device side
#   standin CIDR      one interface, vnt-real, carrying CIDR: a stand-in for a real LAN,
#                     where every program must refuse to run
#   sandbox.sh probe          exits 0 where namespaces can be made
#   sandbox.sh check [IF]     prints the first interface outside a test network and exits
#                             1; interface IF may carry 192.0.2.0/24 (the stand-in's)
# Exit code 77: neither root nor user namespaces, so nothing can be isolated here.
# COMMAND finds VARNITT_SANDBOX (the mode) and, on a LAN, VARNITT_APP_IF, VARNITT_LAN_IF,
# VARNITT_APP_ADDRS, VARNITT_LAN_ADDR, VARNITT_LAN_NS (the device side's namespace file),
# with two cables VARNITT_APP2_IF and VARNITT_LAN2_IF, with --devsim VARNITT_DEVSIM_CONTROL
# (ADDRESS:PORT, as the server says it listens). /tmp/.varnitt-sandbox names the network namespace the sandbox made.
here=$(cd "$(dirname "$0")" && pwd)
PATH=$PATH:/usr/sbin:/sbin
export PATH
. "$here/harness.sh"

# The rule of testnetworkguard.h: every interface that is up, loopback aside, has a
# 198.51.100.0/24 address and no other but IPv6 link-local ones. "Up" is the switched-on
# flag, so a port whose cable is out counts too (Qt's guard skips it).
foreign_interface() {
    links=$(ip -o link show) && addresses=$(ip -o addr show) || {
        echo "(no list of the interfaces)"
        return
    }
    printf '%s\n--\n%s\n' "$links" "$addresses" | awk -v standin="$1" '
        $0 == "--" { addresses = 1; next }
        !addresses {
            name = $2; sub(/:$/, "", name); sub(/@.*/, "", name)
            flags = $3; gsub(/[<>]/, "", flags)
            n = split(flags, flag, ",")
            up = 0; loopback = 0
            for (i = 1; i <= n; i++) {
                if (flag[i] == "UP") up = 1
                if (flag[i] == "LOOPBACK") loopback = 1
            }
            if (up && !loopback) { watched[name] = 1; order[++count] = name }
            next
        }
        $2 in watched {
            address = $4; sub(/\/.*/, "", address)
            if ($3 == "inet" && (address ~ /^198\.51\.100\./ || ($2 == standin && address ~ /^192\.0\.2\./)))
                onTestLan[$2] = 1
            else if (!($3 == "inet6" && tolower(address) ~ /^fe[89ab][0-9a-f]:/)) {
                print $2 " (" address ")"; found = 1; exit
            }
        }
        END {
            if (found) exit
            for (i = 1; i <= count; i++)
                if (!(order[i] in onTestLan)) { print order[i] " (no 198.51.100.x address)"; exit }
        }'
}

# Covers /tmp with a tmpfs of the mount namespace's own. A checkout or build in the host's
# /tmp stays reachable: the folders of /tmp that hold one of the PATHs (colon-separated
# lists count as several) are bound back at their own paths.
private_tmp() {
    # One name a line, so that names with spaces stay whole.
    keep=
    newline='
'
    set -f
    IFS=:
    for path in "$@"; do
        for part in $path; do
            case $part in
            /tmp/?*)
                top=${part#/tmp/}
                top=${top%%/*}
                case "$newline$keep" in *"$newline$top$newline"*) ;; *) keep="$keep$top$newline" ;; esac
                ;;
            esac
        done
    done
    # The host's /tmp, still reachable through this descriptor once the tmpfs covers it.
    exec 8</tmp
    mount -t tmpfs -o mode=1777 tmpfs /tmp || return 1
    IFS=$newline
    for top in $keep; do
        [ -e "/proc/self/fd/8/$top" ] || continue
        if [ -d "/proc/self/fd/8/$top" ]; then mkdir "/tmp/$top"; else : >"/tmp/$top"; fi
        # No canonical paths: the link through the descriptor must not resolve to /tmp/$top.
        mount --no-canonicalize --bind "/proc/self/fd/8/$top" "/tmp/$top" || return 1
    done
    unset IFS
    set +f
    exec 8<&-
}

isolation() {
    for isolate in "unshare --net --pid --mount-proc --fork --kill-child" \
        "unshare --user --map-root-user --net --pid --mount-proc --fork --kill-child"; do
        $isolate true 2>/dev/null && return 0
    done
    return 1
}

case ${1-} in
probe)
    isolation
    exit
    ;;
check)
    foreign=$(foreign_interface "${2-}")
    [ -z "$foreign" ] || { echo "$foreign"; exit 1; }
    exit 0
    ;;
--inside) ;;
empty | lan | standin)
    for tool in ip nsenter setpriv unshare mount; do
        command -v $tool >/dev/null 2>&1 || {
            echo "$0: $tool (iproute2, util-linux) is missing" >&2
            exit 1
        }
    done
    if ! isolation; then
        echo "cannot create namespaces here (needs root or unprivileged user namespaces); skipping" >&2
        exit 77
    fi
    # shellcheck disable=SC2086 # the command is meant to split into words
    run_isolated $isolate -- sh "$0" --inside "$@"
    ;;
*)
    sed -n '5,16 s/^# \{0,1\}//p' "$0" >&2
    exit 2
    ;;
esac

# From here on: PID 1 of the run's PID namespace, in its new network and mount namespaces.
shift
mode=$1
shift
cables=1 devsim='' standin=''
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
    --two-cables) cables=2 ;;
    --devsim) devsim=$2 && shift ;;
    *) standin=$1 ;;
    esac
    shift
done
shift
if [ $# -eq 0 ] || { [ "$mode" = standin ] && [ -z "$standin" ]; }; then
    echo "usage: $0 empty|lan [--two-cables] [--devsim PATH]|standin CIDR -- COMMAND [ARGS...]" >&2
    exit 2
fi
if [ $$ -ne 1 ]; then
    echo "$0: --inside is for sandbox.sh itself" >&2
    exit 2
fi
# A command given an X display keeps reaching it: its socket is in /tmp/.X11-unix.
private_tmp "$here" "$PWD" "$@" "$devsim" "${LOCPATH-}" "${VARNITT_WINE_DLL_DIRS-}" "${VARNITT_WINE_PREFIX-}" \
    ${DISPLAY:+/tmp/.X11-unix} "${XAUTHORITY-}" || {
    echo "$0: cannot make a private /tmp" >&2
    exit 1
}
# Temporary files go to the private /tmp, the default. TMPDIR stays unset: Wine 10 (Debian
# 13) aborts booting a prefix whenever it is set.
unset TMPDIR
# Lets /sys/class/net show this namespace's interfaces.
mount -t sysfs sysfs /sys 2>/dev/null
ip link set lo up

child=''
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
}
trap 'cleanup' EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

if [ "$mode" != empty ]; then
    # The far side is the network namespace of a process that only waits.
    unshare --net -- sleep infinity &
    holder=$!
    VARNITT_LAN_NS=/proc/$holder/ns/net
    other_side() { [ "$(readlink "$VARNITT_LAN_NS" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ]; }
    wait_until "the far side's network namespace did not come" other_side
    far() { nsenter --net="$VARNITT_LAN_NS" -- "$@"; }
    far ip link set lo up
    here_links='' far_links=''
    # cable HERE THERE ADDRESS/PREFIX [ADDRESS/PREFIX THERE]: a veth pair across.
    cable() {
        here_links="$here_links $1"
        far_links="$far_links $2"
        ip link add "$1" type veth peer name "$2" netns "$holder" && ip addr add "$3" dev "$1" &&
            { [ -z "${4-}" ] || far ip addr add "$4" dev "$2"; } &&
            # No IPv6 addresses on the stand-in, so the kernel itself stays quiet on it.
            { [ "$mode" != standin ] || { ip link set "$1" addrgenmode none && far ip link set "$2" addrgenmode none; }; } &&
            far ip link set "$2" multicast on up && ip link set "$1" multicast on up
    }
    case $mode in
    standin) cable vnt-real vnt-peer "$standin" ;;
    *)
        cable vnt-app vnt-lan 198.51.100.1/24 198.51.100.100/24 && ip addr add 198.51.100.2/24 dev vnt-app &&
            # A /25 of its own, so each side routes the other cable's addresses over that cable.
            { [ "$cables" = 1 ] || cable vnt-app2 vnt-lan2 198.51.100.129/25 198.51.100.130/25; }
        ;;
    esac || {
        echo "$0: building the links failed" >&2
        exit 1
    }
    [ "$cables" = 1 ] || export VARNITT_APP2_IF=vnt-app2 VARNITT_LAN2_IF=vnt-lan2
    # Until the kernel marks both ends operational their queues drop every packet; and Qt
    # counts an interface as up only once it has a carrier.
    links_up() {
        for link in $here_links; do
            ip -o link show dev "$link" | grep -q 'state UP' || return 1
        done
        for link in $far_links; do
            far ip -o link show dev "$link" | grep -q 'state UP' || return 1
        done
    }
    wait_until "the links did not come up" links_up
fi
if [ "$mode" = lan ]; then
    export VARNITT_LAN_NS VARNITT_APP_IF=vnt-app VARNITT_LAN_IF=vnt-lan
    export VARNITT_APP_ADDRS="198.51.100.1 198.51.100.2" VARNITT_LAN_ADDR=198.51.100.100
    if [ -n "$devsim" ]; then
        far "$devsim" --control 65177 --interface vnt-lan >/tmp/.devsim-control &
        control=$!
        # The address is the server's own choice; only a whole line counts.
        listening() {
            [ -f /tmp/.devsim-control ] || return 1
            while IFS= read -r line; do
                case $line in "listening on "?*) VARNITT_DEVSIM_CONTROL=${line#listening on } && return 0 ;; esac
            done </tmp/.devsim-control
            return 1
        }
        control_ready() { listening || ! kill -0 "$control" 2>/dev/null; }
        wait_until "the simulator control server did not start" control_ready
        listening || {
            echo "$0: the simulator control server ended without listening" >&2
            exit 1
        }
        export VARNITT_DEVSIM_CONTROL
    fi
fi
readlink /proc/self/ns/net >/tmp/.varnitt-sandbox
export VARNITT_SANDBOX="$mode"

# In the background so a signal to this script is handled at once; stdin stays attached.
"$@" <&0 &
child=$!
wait "$child"
rc=$?
child=
exit "$rc"
