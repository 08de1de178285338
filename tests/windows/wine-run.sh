#!/bin/sh
# Runs a Windows program under Wine in the network namespace this script is started in
# (tests/netns/in-empty-netns.sh or lan.sh), with a Wine prefix of its own that is first
# started here and ended here: Wine makes its sockets in its wineserver and reads the
# interfaces through its own services, both living where the prefix started.
# Usage: wine-run.sh [--broker DEVSIM] [--qtest] EXE [ARGS...]
#        wine-run.sh --shell COMMAND [ARGS...]
#   --broker DEVSIM  lets the program start the Linux simulator DEVSIM on the LAN
#                    (tests/windows/devsim-broker.py)
#   --qtest          EXE is a Qt Test program: its report is shown on stdout (Qt Test on
#                    Windows sends a plain-text report on stdout to the debugger instead),
#                    and a run without a complete report or with no passed test
#                    function fails
#   --shell          runs the Linux COMMAND in the prepared Wine environment (prefix,
#                    display, home), for checks that run several Windows programs
# The run has a PID namespace and a /tmp (a tmpfs) of its own: whatever ends this script,
# even SIGKILL, the kernel ends every process of it, and nothing of it stays in the host's
# /tmp. A checkout or build that lies in the host's /tmp stays reachable: the folders of
# /tmp that hold this script, the working folder, a path argument, the DLL folders or
# LOCPATH are bound into the private /tmp at their own paths.
# Wine drops every QT_ variable: a Qt GUI program needs "-platform offscreen" among ARGS.
# VARNITT_WINE_DLL_DIRS: the Linux folders (colon-separated) of the DLLs it needs.
# VARNITT_WINE_SCREEN (default 1280x1024x24) and VARNITT_WINE_DPI (default 96, a 100 %
# desktop): the display's size and the DPI Windows reports (LogPixels).
# VARNITT_WINE_STANDIN: set by tests/netns/refusal.sh to the interface of its stand-in for
# a real LAN, which may then carry 192.0.2.0/24 addresses.
here=$(cd "$(dirname "$0")" && pwd)
PATH=$PATH:/usr/sbin:/sbin

if [ -z "${VARNITT_WINE_ISOLATED-}" ]; then
    # The rule of tests/netns/testnetworkguard.h: every interface that is up, loopback
    # aside, has a 198.51.100.0/24 address and no other but IPv6 link-local ones. "Up" is
    # the switched-on flag, so a port whose cable is out counts too (Qt's guard skips it).
    refuse() {
        echo "$0: refusing to start Wine $1; run it inside the test harness's namespace" >&2
        exit 1
    }
    command -v ip >/dev/null 2>&1 || refuse "without ip (iproute2) to check the interfaces"
    links=$(ip -o link show) || refuse "without a list of the interfaces"
    addresses=$(ip -o addr show) || refuse "without a list of the addresses"
    foreign=$(printf '%s\n--\n%s\n' "$links" "$addresses" | awk -v standin="${VARNITT_WINE_STANDIN-}" '
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
        }')
    [ -z "$foreign" ] || refuse "beside $foreign"
    for tool in unshare setpriv mount; do
        command -v "$tool" >/dev/null 2>&1 || {
            echo "$0: $tool (util-linux) is missing" >&2
            exit 1
        }
    done
    . "$here/../netns/isolated.sh"
    export VARNITT_WINE_ISOLATED=1
    run_isolated unshare --mount --pid --fork --kill-child -- sh "$0" "$@"
fi

# From here on: PID 1 of the run's PID namespace, in its own mount namespace.
if [ $$ -ne 1 ]; then
    echo "$0: VARNITT_WINE_ISOLATED is for wine-run.sh itself" >&2
    exit 2
fi
unset VARNITT_WINE_ISOLATED
# Xvfb's socket and lock, Wine's server folder (Debian's Wine makes a /tmp/wine-XXXXXX
# that nothing removes; upstream's /tmp/.wine-UID is shared by every user namespace) and
# the prefix all go here.
. "$here/private-tmp.sh"
private_tmp "$here" "$PWD" "$@" "${LOCPATH-}" "${VARNITT_WINE_DLL_DIRS-}" || exit 1
# Xvfb compiles its keymap into /var/lib/xkb/server-DISPLAY.xkm, and with a /tmp of its
# own every run's Xvfb is display 0: runs side by side would delete each other's keymap
# while it is read, and their Xvfb would die.
if [ -d /var/lib/xkb ] && ! mount -t tmpfs -o mode=0755 tmpfs /var/lib/xkb; then
    echo "$0: cannot give Xvfb a keymap folder of its own" >&2
    exit 1
fi
# lan.sh names its namespaces by processes of its PID namespace, which the /proc of this
# one no longer shows: bound to files first.
for ns in VARNITT_APP_NS VARNITT_LAN_NS; do
    eval "file=\${$ns-}"
    [ -n "$file" ] || continue
    if ! { : >"/tmp/.$ns" && mount --bind "$file" "/tmp/.$ns"; }; then
        echo "$0: cannot keep the network namespace $file" >&2
        exit 1
    fi
    export "$ns=/tmp/.$ns"
done
if ! mount -t proc proc /proc; then
    echo "$0: cannot mount /proc for the run's PID namespace" >&2
    exit 1
fi
TMPDIR=/tmp
export TMPDIR
mkdir -m 1777 /tmp/.X11-unix

broker_devsim=
if [ "${1-}" = "--broker" ]; then
    broker_devsim=$2
    shift 2
fi
mode=wine
case ${1-} in
--qtest | --shell)
    mode=${1#--}
    shift
    ;;
esac
if [ $# -eq 0 ]; then
    echo "usage: $0 [--broker DEVSIM] [--qtest | --shell] EXE [ARGS...]" >&2
    exit 2
fi
if ! command -v wine >/dev/null 2>&1 || ! command -v Xvfb >/dev/null 2>&1; then
    echo "wine or Xvfb is missing" >&2
    exit 1
fi

if [ -n "${VARNITT_WINE_DLL_DIRS-}" ]; then
    WINEPATH=$(printf '%s' "$VARNITT_WINE_DLL_DIRS" | sed 's|:/|;Z:/|g; s|^|Z:|' | tr / '\\')
    export WINEPATH
fi

work=$(mktemp -d)
xvfb=
broker=
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko prompts, and no menu entries or links written into anyone's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir "$work/home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
    XDG_CACHE_HOME="$work/home/.cache"
unset WINESERVER WINELOADER
# This Wine finds fonts-wine's Tahoma, the Windows dialog font, only through fontconfig.
mkdir -p "$XDG_DATA_HOME"
ln -s /usr/share/wine/fonts "$XDG_DATA_HOME/fonts"
# An orderly end; anything left goes with this script, PID 1, and /tmp with its namespace.
cleanup() {
    [ -n "$broker" ] && kill -TERM "$broker" 2>/dev/null
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
}
trap 'cleanup' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Wine's desktop process wants an X display even for an offscreen program.
dpi=${VARNITT_WINE_DPI:-96}
Xvfb -displayfd 3 -nolisten tcp -screen 0 "${VARNITT_WINE_SCREEN:-1280x1024x24}" -dpi "$dpi" \
    3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
tries=0
until [ -s "$work/display" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    fi
    sleep 0.05
done
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

if ! wine wineboot --init </dev/null >"$work/wineboot.log" 2>&1; then
    echo "creating the Wine prefix failed:" >&2
    cat "$work/wineboot.log" >&2
    exit 1
fi
# A program that crashes ends at once with its Windows status, instead of waiting behind
# Wine's crash dialog until the test's timeout.
if ! wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >>"$work/wineboot.log" 2>&1; then
    echo "turning Wine's crash dialog off failed:" >&2
    cat "$work/wineboot.log" >&2
    exit 1
fi
# The display scale a user picks in Windows' settings; read by programs at their start.
if [ "$dpi" != 96 ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        </dev/null >>"$work/wineboot.log" 2>&1 &&
        wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
            /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >>"$work/wineboot.log" 2>&1 || {
        echo "setting the display scale failed:" >&2
        cat "$work/wineboot.log" >&2
        exit 1
    }
fi

if [ -n "$broker_devsim" ]; then
    mkdir "$work/broker"
    python3 "$here/devsim-broker.py" "$work/broker" "$broker_devsim" &
    broker=$!
    # The program looks for a live broker once, at its start.
    tries=0
    until [ -s "$work/broker/broker.pid" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 400 ] || ! kill -0 "$broker" 2>/dev/null; then
            echo "the simulator broker did not start" >&2
            exit 1
        fi
        sleep 0.05
    done
    export VARNITT_BROKER_DIR="$work/broker"
fi

# In the background so a signal to this script is handled at once, not when it ends.
run() {
    "$@" </dev/null &
    wait $!
}
# qtest_once EXE [ARGS...]: one run of a Qt Test program; sets rc.
qtest_once() {
    rm -f "$work/report.txt"
    # What Wine and the program say besides the report, shown only when the run failed.
    run env WINEDEBUG=err+all,fixme-all wine "$@" -o "Z:$work/report.txt,txt" 2>"$work/stderr.log"
    rc=$?
    cat "$work/report.txt" 2>/dev/null
    # A program that ended before its report's totals, or passed no test function of its
    # own (Qt Test counts initTestCase and cleanupTestCase as passed tests), proves nothing.
    passed=$(grep -s '^PASS   : ' "$work/report.txt" |
        grep -c -v -e '::initTestCase()' -e '::cleanupTestCase()')
    if ! grep -qs '^Totals: ' "$work/report.txt"; then
        echo "$0: $(basename "$1") exited with status $rc and left no complete test report:" \
            "counted as failed" >&2
        [ "$rc" -ne 0 ] || rc=1
    elif [ "$rc" -eq 0 ] && [ "$passed" -eq 0 ]; then
        echo "$0: $(basename "$1") passed no test function: counted as failed" >&2
        rc=1
    fi
    if [ "$rc" -ne 0 ] && [ -s "$work/stderr.log" ]; then
        echo "$0: the last of what Wine and $(basename "$1") wrote to stderr:" >&2
        tail -n 40 "$work/stderr.log" >&2
    fi
}
case $mode in
qtest)
    qtest_once "$@"
    # A crash of the program itself ends it with a Windows status (0xC0000005 gives 5). A
    # Linux signal kills Wine's own process: Debian 12's Wine has been seen to segfault as
    # a test program ends, its report complete. That says nothing of the program, so it
    # runs once more, and says so.
    if [ "$rc" -gt 128 ] && [ "$rc" -ne 130 ] && [ "$rc" -ne 143 ]; then
        echo "$0: Wine itself died of signal $((rc - 128)); running $(basename "$1") once more" >&2
        qtest_once "$@"
    fi
    ;;
shell)
    run "$@"
    rc=$?
    ;;
*)
    run wine "$@"
    rc=$?
    ;;
esac
exit "$rc"
