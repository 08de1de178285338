#!/bin/sh
# Runs a Windows program under Wine inside a sandbox of tests/sandbox.sh, whose network,
# PID and mount namespaces and /tmp the run takes as its own: its Wine prefix starts here
# and ends here, as Wine makes its sockets in its wineserver and reads the interfaces
# through its own services, both living where the prefix started.
# Usage: wine-run.sh [--qtest] EXE [ARGS...]
#        wine-run.sh --shell COMMAND [ARGS...]
#        wine-run.sh --make-prefix DIR [PROBE]
#   --qtest        EXE is a Qt Test program: its report is shown on stdout (Qt Test on
#                  Windows sends a plain-text report on stdout to the debugger instead).
#                  A run without a complete report or with no passed test function
#                  fails, and so does one in which Wine dies of a signal (named on
#                  stderr), even as it exits after a complete report
#   --shell        runs the Linux COMMAND in the prepared Wine environment (prefix,
#                  display, home), for checks that run several Windows programs
#   --make-prefix  makes a fresh prefix and copies it to DIR: runs given its path in
#                  VARNITT_WINE_PREFIX start from a copy instead of booting Wine's own;
#                  PROBE (interfaces-probe.exe) tells it whether this Wine lists the
#                  interfaces with their prefixes, and runs from the copy make up for it
# Wine drops every QT_ variable: a Qt GUI program needs "-platform offscreen" among ARGS.
# VARNITT_WINE_DLL_DIRS: the Linux folders (colon-separated) of the DLLs it needs.
# VARNITT_WINE_SCREEN (default 1280x1024x24) and VARNITT_WINE_DPI (default 96, a 100 %
# desktop): the display's size and the DPI Windows reports (LogPixels).
# VARNITT_WINE_STANDIN: set by tests/netns/refusal.sh to the interface of its stand-in for
# a real LAN, which may then carry 192.0.2.0/24 addresses.
here=$(cd "$(dirname "$0")" && pwd)
PATH=$PATH:/usr/sbin:/sbin
. "$here/../harness.sh"

refuse() {
    echo "$0: refusing to start Wine $1; run it inside tests/sandbox.sh" >&2
    exit 1
}
[ "$(cat /tmp/.varnitt-sandbox 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ] ||
    refuse "outside a sandbox of its own"
foreign=$("$here/../sandbox.sh" check "${VARNITT_WINE_STANDIN-}") || refuse "beside $foreign"

mode=wine
case ${1-} in
--qtest | --shell | --make-prefix)
    mode=${1#--}
    shift
    ;;
esac
if [ $# -eq 0 ]; then
    echo "usage: $0 [--qtest | --shell | --make-prefix] EXE [ARGS...]" >&2
    exit 2
fi
if ! command -v wine >/dev/null 2>&1 || ! command -v Xvfb >/dev/null 2>&1; then
    echo "wine or Xvfb is missing" >&2
    exit 1
fi
# One place for every run, so that a copied prefix finds the paths it was made with.
work=/tmp/wine-run
if ! mkdir "$work" 2>/dev/null; then
    echo "$0: one Wine run per sandbox" >&2
    exit 1
fi
# Xvfb compiles its keymap into /var/lib/xkb/server-DISPLAY.xkm, and with a /tmp of its
# own every run's Xvfb is display 0: runs side by side would delete each other's keymap
# while it is read, and their Xvfb would die.
if [ -d /var/lib/xkb ] && ! mount -t tmpfs -o mode=0755 tmpfs /var/lib/xkb; then
    echo "$0: cannot give Xvfb a keymap folder of its own" >&2
    exit 1
fi
# Its own display too, never one in a folder of the host's that the sandbox let through.
mkdir -p /tmp/.X11-unix && mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix || exit 1

if [ -n "${VARNITT_WINE_DLL_DIRS-}" ]; then
    WINEPATH=$(printf '%s' "$VARNITT_WINE_DLL_DIRS" | sed 's|:/|;Z:/|g; s|^|Z:|' | tr / '\\')
    export WINEPATH
fi
xvfb=
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
# An orderly end; anything left goes with the sandbox.
cleanup() {
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
xvfb_done() { [ -s "$work/display" ] || ! kill -0 "$xvfb" 2>/dev/null; }
wait_until "Xvfb did not start" xvfb_done
if [ ! -s "$work/display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY

# wine_setup DESCRIPTION WINE_ARGS...: one set-up step; its output only shown on failure.
wine_setup() {
    what=$1
    shift
    wine "$@" </dev/null >>"$work/setup.log" 2>&1 && return
    echo "$what failed:" >&2
    cat "$work/setup.log" >&2
    exit 1
}
if [ "$mode" != make-prefix ] && [ -d "${VARNITT_WINE_PREFIX-}" ]; then
    cp -a "$VARNITT_WINE_PREFIX" "$WINEPREFIX" || exit 1
else
    wine_setup "creating the Wine prefix" wineboot --init
    # A program that crashes ends at once with its Windows status, instead of waiting
    # behind Wine's crash dialog until the test's timeout.
    wine_setup "turning Wine's crash dialog off" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
        /t REG_DWORD /d 0 /f
    # Debian's Wine 10 fails the request for the interfaces with their prefixes
    # (ERROR_INVALID_DATA) while any route of length 0 has no gateway, as the kernel's
    # IPv6 placeholders on lo never have: Qt then sees no interface at all.
    if [ "$mode" = make-prefix ] && [ -n "${2-}" ]; then
        wine "$2" </dev/null >/dev/null 2>&1
        if [ $? -eq 13 ]; then
            echo "$0: this Wine cannot list the interfaces while a route of length 0 has no gateway;" \
                "its runs on a test network get such routes with a gateway" >&2
            : >"$WINEPREFIX/.varnitt-gateway-routes"
        fi
    fi
fi
# Default routes via a gateway that never answers, on the run's own link, in the two
# tables whose placeholders trip that Wine; the test network sends nothing more for them.
if [ -e "$WINEPREFIX/.varnitt-gateway-routes" ] && [ "$mode" != make-prefix ]; then
    link=$(ip -o link show up | awk -F': ' '$2 != "lo" { sub(/@.*/, "", $2); print $2; exit }')
    if [ -n "$link" ]; then
        for table in main local; do
            ip -6 route add default via fe80::1 dev "$link" metric 4294967295 table "$table" || {
                echo "$0: cannot add the gateway routes this Wine needs on $link" >&2
                exit 1
            }
        done
        echo "$0: this Wine cannot list the interfaces beside a route of length 0 without a gateway:" \
            "gateway routes on $link stand in for them" >&2
    fi
fi
# The display scale a user picks in Windows' settings; read by programs at their start.
if [ "$dpi" != 96 ]; then
    wine_setup "setting the display scale" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
    wine_setup "setting the display scale" reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$dpi" /f
fi

# In the background so a signal to this script is handled at once, not when it ends.
run() {
    "$@" </dev/null &
    wait $!
}
case $mode in
make-prefix)
    # Written aside and renamed, so no run copies half a prefix.
    wineserver -w && rm -rf "$1.new" && cp -a "$WINEPREFIX" "$1.new" && rm -rf "$1" && mv "$1.new" "$1"
    rc=$?
    ;;
qtest)
    # What Wine and the program say besides the report, shown only when the run failed.
    run env WINEDEBUG=err+all,fixme-all wine "$@" -o "Z:$work/report.txt,txt" 2>"$work/stderr.log"
    rc=$?
    cat "$work/report.txt" 2>/dev/null
    # A program that ended before its report's totals, or passed no test function of its
    # own (Qt Test counts initTestCase and cleanupTestCase as passed tests), proves nothing.
    passed=$(grep -s '^PASS   : ' "$work/report.txt" | grep -c -v -e '::initTestCase()' -e '::cleanupTestCase()')
    if ! grep -qs '^Totals: ' "$work/report.txt"; then
        echo "$0: $(basename "$1") exited with status $rc and left no complete test report:" \
            "counted as failed" >&2
        [ "$rc" -ne 0 ] || rc=1
    elif [ "$passed" -eq 0 ]; then
        echo "$0: $(basename "$1") passed no test function: counted as failed" >&2
        [ "$rc" -ne 0 ] || rc=1
    fi
    # A signal that kills Wine fails the run even after a complete report: on Windows a
    # crash at exit is one the user sees, and exit is when the saved list is written.
    if [ "$rc" -gt 128 ] && signal=$(kill -l "$((rc - 128))" 2>/dev/null); then
        echo "$0: Wine died of signal SIG$signal ($((rc - 128))) running $(basename "$1"): counted as failed" >&2
    fi
    if [ "$rc" -ne 0 ] && [ -s "$work/stderr.log" ]; then
        echo "$0: the last of what Wine and $(basename "$1") wrote to stderr:" >&2
        tail -n 40 "$work/stderr.log" >&2
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
