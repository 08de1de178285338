#!/usr/bin/env bash
# check_installer.sh SETUP_EXE
# Installs Varnitt silently under Wine, starts and closes the installed program
# like a user, uninstalls silently, and checks what each step left behind.
# It runs in an empty network namespace, inside the Wine environment that
# tests/windows/wine-run.sh prepares there (a fresh prefix, its own display and home).
# Exit: 0 pass, 1 fail, 77 skipped (no network namespace available).
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1-}" != --inside ]; then
    if [ $# -ne 1 ] || [ ! -f "$1" ]; then
        echo "usage: $0 SETUP_EXE" >&2
        exit 1
    fi
    exec "$here/../netns/in-empty-netns.sh" "$here/wine-run.sh" --shell \
        bash "$here/check_installer.sh" --inside "$(readlink -f "$1")"
fi
setup=$2
smoke_dir=$here/../smoke
started=$(date +%s)
failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

work=$(mktemp -d -t varnitt-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

show_log() { [ -s "$1" ] && sed 's/^/    | /' "$1" | tail -n 20; }

# Waits until every process of this prefix has ended; the uninstaller's copy
# in TEMP and Wine's own services included.
wine_settle() { timeout "${1:-120}" wineserver -w; }

# --- install ---
timeout 300 wine "$setup" /S </dev/null >"$work/install.log" 2>&1
code=$?
wine_settle
check "silent install exits 0 (got $code)" test "$code" = 0
[ "$code" = 0 ] || show_log "$work/install.log"

instdir="$WINEPREFIX/drive_c/Program Files/Varnitt"
for f in varnitt.exe Qt5Core.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll uninstall.exe; do
    check "installed $f" test -f "$instdir/$f"
done
(cd "$instdir" 2>/dev/null && find . -type f | LC_ALL=C sort) >"$work/installed.txt"
# All-users programs folder as this Wine lays it out (CSIDL_COMMON_PROGRAMS).
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Varnitt.lnk"
if [ -f "$shortcut" ]; then
    pass "shortcut in the all-users Start menu"
else
    fail "shortcut in the all-users Start menu; found instead: $(find "$WINEPREFIX/drive_c" -iname 'varnitt.lnk' | tr '\n' ' ')"
fi

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnitt'
reg_value() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
check "uninstall entry DisplayName is Varnitt" test "$(reg_value DisplayName)" = Varnitt
quiet=$(reg_value QuietUninstallString)
check "QuietUninstallString names uninstall.exe with /S ($quiet)" \
    test "$quiet" = '"C:\Program Files\Varnitt\uninstall.exe" /S'

# --- start and close the installed program ---
rm -f "$instdir/devlist.json"
(cd "$instdir" && exec timeout 90 wine "C:\\Program Files\\Varnitt\\varnitt.exe") </dev/null >"$work/app.log" 2>&1 &
app=$!
/usr/bin/python3 - "$app" "$smoke_dir" >"$work/close.log" 2>&1 <<'EOF'
# Closes the Varnitt window the way a window manager does for the user.
# (Debian's python3, which has python3-xlib.)
import os, sys, time
from Xlib import X, display
sys.path.insert(0, sys.argv[2])
from xwindow import close_request, wait_for_window
app = int(sys.argv[1])
def running():
    try:
        os.kill(app, 0)
        return True
    except OSError:
        return False
dpy = display.Display()
window = wait_for_window(dpy, "Varnitt", running, 90)
if window is None:
    print("program ended before its window appeared" if not running() else "no Varnitt window appeared")
    sys.exit(1)
geometry = window.get_geometry()
print("window up: %dx%d" % (geometry.width, geometry.height))
event = close_request(dpy, window)
# A close that lands while the program is still starting up can go unseen; a
# user would click again, so this does too, until the window goes away.
deadline = time.time() + 30
sent = 0
while time.time() < deadline:
    try:
        if window.get_attributes().map_state != X.IsViewable:
            break
        if sent == 0 or time.time() >= next_send:
            window.send_event(event)
            dpy.flush()
            sent += 1
            next_send = time.time() + 3
    except Exception:
        break  # the window is gone
    time.sleep(0.2)
else:
    print("window still open after %d close requests" % sent)
    sys.exit(1)
print("window closed after %d close request(s)" % sent)
EOF
closed=$?
check "Varnitt window appeared and closed on WM_DELETE_WINDOW ($(tail -n 1 "$work/close.log"))" test "$closed" = 0
[ "$closed" = 0 ] || { show_log "$work/close.log"; kill "$app" 2>/dev/null; }
wait "$app"
code=$?
check "program exits 0 after its window is closed (got $code)" test "$code" = 0
[ "$code" = 0 ] || show_log "$work/app.log"
check "devlist.json beside varnitt.exe holds an empty list with CR LF line ends" \
    cmp -s "$instdir/devlist.json" <(printf '[\r\n]\r\n')
wine_settle

# --- uninstall, as the system's list of programs would run it ---
# Without _?= the uninstaller copies itself to TEMP, starts the copy and returns;
# waiting for the prefix to go quiet waits for that copy too.
uninstaller=$(sed -n 's/^"\(.*\)" \/S$/\1/p' <<<"$quiet")
[ -n "$uninstaller" ] || uninstaller='C:\Program Files\Varnitt\uninstall.exe'
timeout 300 wine "$uninstaller" /S </dev/null >"$work/uninstall.log" 2>&1
code=$?
wine_settle
check "silent uninstall exits 0 (got $code)" test "$code" = 0

left=0
while IFS= read -r f; do
    [ -e "$instdir/$f" ] && { echo "    still there: $f"; left=1; }
done <"$work/installed.txt"
check "every installed file removed" test "$left" = 0
check "install directory holds only devlist.json" \
    test "$(cd "$instdir" 2>/dev/null && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')" = "./devlist.json "
check "shortcut removed" test ! -e "$shortcut"
wine reg query "$key" >/dev/null 2>&1
check "uninstall registry key removed" test $? -ne 0
wine_settle

echo "took $(( $(date +%s) - started )) s"
if [ "$failures" = 0 ]; then
    echo "PASS: installer checks"
    exit 0
fi
echo "FAIL: $failures installer check(s) failed"
exit 1
