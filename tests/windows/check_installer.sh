#!/usr/bin/env bash
# check_installer.sh SETUP_EXE VERSION DEPLOYDIR
# Checks the installer under Wine as Windows would use it: a silent install, the
# installed program in a folder users cannot write (and with an administrator's
# writable devlist.json there), install and uninstall refused while Varnitt runs,
# a silent uninstall, an upgrade over an older version (built here from DEPLOYDIR
# with one more file) installed in another folder, and an upgrade refused while another
# program holds a file, of the new version or one that only the older version has; and
# the machine PATH, which the installer extends and the uninstaller gives back.
# It runs in an empty network namespace, inside the Wine environment that
# tests/windows/wine-run.sh prepares there (a fresh prefix, its own display and home,
# and its own mount namespace, where the install folder is made read-only).
# Exit: 0 pass, 1 fail, 77 skipped (no network namespace available).
set -u
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1-}" != --inside ]; then
    if [ $# -ne 3 ] || [ ! -f "$1" ] || [ ! -f "$3/varnitt.exe" ] || [ ! -f "$3/varnitt-cli.exe" ]; then
        echo "usage: $0 SETUP_EXE VERSION DEPLOYDIR" >&2
        exit 1
    fi
    exec "$here/../netns/in-empty-netns.sh" "$here/wine-run.sh" --shell \
        bash "$here/check_installer.sh" --inside "$(readlink -f "$1")" "$2" "$(readlink -f "$3")"
fi
setup=$2
version=$3
deployed=$4
smoke_dir=$here/../smoke
started=$(date +%s)
failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; return 1; fi; }

work=$(mktemp -d -t varnitt-check.XXXXXX)
mounted=()
cleanup() {
    local m
    for m in "${mounted[@]}"; do umount "$m" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

show_log() { [ -s "$1" ] && sed 's/^/    | /' "$1" | tail -n 20; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# wine_cmdline LOG COMMAND-LINE: runs a Windows command line as written and gives its exit
# code. (Wine quotes an argument that holds a space, and NSIS takes /D= and _?= only unquoted.)
wine_cmdline() {
    local log=$1
    shift
    printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$*" >"$work/run.bat"
    timeout 300 wine cmd /c "$(winpath "$work/run.bat")" </dev/null >"$log" 2>&1
}

# Waits until every process of this prefix has ended; the uninstaller's copy
# in TEMP and Wine's own services included.
wine_settle() { timeout "${1:-120}" wineserver -w; }

# A program that holds a file open, or reads the access a mutex grants Everyone.
cat >"$work/standin.c" <<'EOF'
#include <windows.h>
#include <aclapi.h>
#include <stdio.h>
#include <string.h>
int main(int argc, char **argv)
{
    if (argc == 3 && (!strcmp(argv[1], "hold") || !strcmp(argv[1], "hold-shared"))) {
        DWORD share = argv[1][4] ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
        if (CreateFileA(argv[2], GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL) == INVALID_HANDLE_VALUE)
            return printf("cannot open %s\n", argv[2]), 1;
        printf("holding\n");
        fflush(stdout);
        Sleep(INFINITE);
    }
    if (argc == 3 && !strcmp(argv[1], "mutex")) {
        HANDLE mutex = OpenMutexA(READ_CONTROL, FALSE, argv[2]);
        PACL dacl = NULL;
        PSECURITY_DESCRIPTOR descriptor;
        if (!mutex || GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &dacl, NULL, &descriptor))
            return printf("cannot read %s\n", argv[2]), 1;
        SID_IDENTIFIER_AUTHORITY world = { SECURITY_WORLD_SID_AUTHORITY };
        PSID everyone;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        ACCESS_MASK mask = 0;
        for (DWORD i = 0; dacl && i < dacl->AceCount; i++) {
            ACCESS_ALLOWED_ACE *ace;
            if (GetAce(dacl, i, (void **)&ace) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&ace->SidStart, everyone))
                mask |= ace->Mask;
        }
        return printf("Everyone: 0x%08lx\n", mask), 0;
    }
    return 2;
}
EOF
standin=$work/standin.exe
x86_64-w64-mingw32-gcc -O -o "$standin" "$work/standin.c" -ladvapi32 2>&1 || fail "building the stand-in program"
# hold MODE FILE: the stand-in holds the Windows path FILE until release; fails if it cannot.
hold() {
    wine "$standin" "$1" "$2" </dev/null >"$work/hold.log" 2>&1 &
    holder=$!
    for _ in $(seq 300); do grep -qs holding "$work/hold.log" && break; kill -0 "$holder" 2>/dev/null || break; sleep 0.2; done
    grep -qs holding "$work/hold.log" || { fail "the stand-in holds $2 ($(tail -n 1 "$work/hold.log"))"; return 1; }
}
release() { kill "$holder" 2>/dev/null; wait "$holder"; wine_settle; }

# The older version: the same folder plus one file in a folder of its own.
old_version=0.9
old_setup=$work/varnitt-$old_version-test-setup.exe
mkdir -p "$work/old"
cp -a "$deployed" "$work/old/varnitt"
mkdir "$work/old/varnitt/retired"
printf 'only in %s\r\n' "$old_version" >"$work/old/varnitt/retired/notes.txt"
env -u VARNITT_SIGN_PKCS12 -u VARNITT_SIGN_PASSWORD_FILE -u VARNITT_SIGN_PKCS11_MODULE -u VARNITT_SIGN_PKCS11_KEY \
    -u VARNITT_SIGN_PKCS11_CERT -u VARNITT_SIGN_PIN_FILE "$here/../../packaging/windows/make-installer.sh" \
    "$work/old/varnitt" "$old_version" "$here/../../packaging/windows/varnitt.ico" "$old_setup" \
    >"$work/make-old.log" 2>&1 || { fail "building the older installer"; show_log "$work/make-old.log"; }

# --- the version resource ---
expected_vi=$(grep -oE '^[0-9]+(\.[0-9]+){0,3}' <<<"$version")
while [ "$(tr -cd . <<<"$expected_vi" | wc -c)" -lt 3 ]; do expected_vi=$expected_vi.0; done
resource=$(/usr/bin/python3 - "$setup" <<'EOF'
# VS_FIXEDFILEINFO's file version and the LegalCopyright string of the version resource.
import re, struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", data, at + 8)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
key = "LegalCopyright".encode("utf-16-le") + b"\0\0"
at = data.find(key) + len(key)
at += (4 - at % 4) % 4
value = re.match(rb"((?:[^\0].|\0[^\0])*)\0\0", data[at:], re.S).group(1)
print(value.decode("utf-16-le", "replace"))
EOF
)
check "version resource carries $expected_vi (got $(head -n 1 <<<"$resource"))" \
    test "$(head -n 1 <<<"$resource")" = "$expected_vi"
check "LegalCopyright is the project's (got $(tail -n 1 <<<"$resource"))" \
    test "$(tail -n 1 <<<"$resource")" = "Copyright 2026 The Varnitt developers"

# --- the machine PATH ---
env_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
# machine_path: the type and the value of the machine PATH, as "TYPE VALUE".
machine_path() {
    wine reg query "$env_key" /v Path </dev/null 2>/dev/null | tr -d '\r' |
        sed -n 's/^    [Pp][Aa][Tt][Hh]    \(REG_[A-Z_]*\)    /\1 /p'
}
set_machine_path() { wine reg add "$env_key" /v Path /t REG_EXPAND_SZ /d "$1" /f </dev/null >/dev/null 2>&1; }
# check_path WHAT EXPECTED: the machine PATH is the REG_EXPAND_SZ EXPECTED, to the character.
check_path() {
    local got
    got=$(machine_path)
    check "$1" test "$got" = "REG_EXPAND_SZ $2" ||
        diff <(tr ';' '\n' <<<"REG_EXPAND_SZ $2") <(tr ';' '\n' <<<"$got") | head -n 10
}
# A site's PATH, kept as written (REG_EXPAND_SZ). The lookups through PATH use this short
# one: this Wine gives a new process only about the first thousand characters of a longer one.
site_path='%SystemRoot%\system32;%SystemRoot%;C:\Site Tools\bin;%SystemRoot%\System32\Wbem'
set_machine_path "$site_path"
check_path "the site PATH is set" "$site_path"
# 0 when this Wine gives a new process the PATH from the registry.
wine cmd /c 'echo %PATH%' </dev/null 2>/dev/null | tr -d '\r' | grep -qF 'C:\Site Tools\bin'
registry_path=$?

# --- install ---
timeout 300 wine "$setup" /S "/LOG=$(winpath "$work/install-steps.log")" </dev/null >"$work/install.log" 2>&1
code=$?
wine_settle
check "silent install exits 0 (got $code)" test "$code" = 0
[ "$code" = 0 ] || show_log "$work/install.log"

instdir="$WINEPREFIX/drive_c/Program Files/Varnitt"
for f in varnitt.exe varnitt-cli.exe Qt5Core.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll licenses/Varnitt.txt uninstall.exe; do
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

uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
key="$uninstall_root\\Varnitt"
reg_value() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
check "uninstall entry DisplayName is Varnitt" test "$(reg_value DisplayName)" = Varnitt
check "uninstall entry DisplayVersion is $version" test "$(reg_value DisplayVersion)" = "$version"
quiet=$(reg_value QuietUninstallString)
check "QuietUninstallString names uninstall.exe with /S ($quiet)" \
    test "$quiet" = '"C:\Program Files\Varnitt\uninstall.exe" /S'

# Wine has no firewall service (and its netsh.exe answers 0 to anything): there the
# installer must say that it added no rule, and go on.
if wine reg query 'HKLM\System\CurrentControlSet\Services\MpsSvc' >/dev/null 2>&1; then
    firewall_line='Added the Windows Firewall rules Varnitt: UDP from any address to varnitt.exe and to varnitt-cli.exe.'
else
    echo "    (this Wine has no Windows Firewall service, MpsSvc)"
    firewall_line='Windows Firewall is not running: the firewall rules for varnitt.exe and varnitt-cli.exe were not added.'
fi
check "install log says: $firewall_line" grep -qsF "$firewall_line" "$work/install-steps.log"
check_path "the install folder appended to the site PATH" "$site_path;C:\Program Files\Varnitt"
check "PathEntry recorded" test "$(reg_value PathEntry)" = 'C:\Program Files\Varnitt'
check "install log says: Added C:\Program Files\Varnitt to the system PATH." \
    grep -qsF 'Added C:\Program Files\Varnitt to the system PATH.' "$work/install-steps.log"
# varnitt-cli, named without a folder in a new Command Prompt, runs.
if [ "$registry_path" = 0 ]; then
    (cd "$work" && timeout 120 wine cmd /c varnitt-cli --help) </dev/null >"$work/cli.log" 2>&1
    code=$?
    check "varnitt-cli --help, found through PATH, exits 0 (got $code)" \
        eval 'test "$code" = 0 && grep -qs "varnitt-cli COMMAND --help" "$work/cli.log"' || show_log "$work/cli.log"
else
    echo "SKIP: varnitt-cli through PATH: this Wine does not give a new process the PATH from the registry"
fi
[ -s "$work/install-steps.log" ] && show_log "$work/install-steps.log"

# --- the installed program ---
cat >"$work/window.py" <<'EOF'
# window.py wait|close PID TITLE: waits for the program's window; "close" then closes it
# the way a window manager does for the user. (Debian's python3, which has python3-xlib.)
import os, sys, time
from Xlib import X, display
sys.path.insert(0, os.environ["SMOKE_DIR"])
from xwindow import close_request, wait_for_window
action, app, title = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def running():
    try:
        os.kill(app, 0)
        return True
    except OSError:
        return False
dpy = display.Display()
window = wait_for_window(dpy, title, running, 90)
if window is None:
    print("program ended before its window appeared" if not running() else "no window appeared")
    sys.exit(1)
geometry = window.get_geometry()
print("window up: %dx%d" % (geometry.width, geometry.height))
if action == "wait":
    sys.exit(0)
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
window() { SMOKE_DIR=$smoke_dir /usr/bin/python3 "$work/window.py" "$@"; }

# start_app: starts the installed varnitt.exe; its Linux process id is in $app.
start_app() {
    (cd "$instdir" && exec timeout 120 wine "C:\\Program Files\\Varnitt\\varnitt.exe") </dev/null >"$work/app.log" 2>&1 &
    app=$!
}
# run_app WHAT: starts Varnitt, closes its window like a user and checks that it exits 0.
run_app() {
    local closed code
    start_app
    window close "$app" Varnitt >"$work/close.log" 2>&1
    closed=$?
    check "$1: window appeared and closed on WM_DELETE_WINDOW ($(tail -n 1 "$work/close.log"))" test "$closed" = 0
    [ "$closed" = 0 ] || { show_log "$work/close.log"; kill "$app" 2>/dev/null; }
    wait "$app"
    code=$?
    check "$1: program exits 0 after its window is closed (got $code)" test "$code" = 0
    [ "$code" = 0 ] || show_log "$work/app.log"
    wine_settle
}

# A folder users cannot write, as Program Files is on Windows (Wine lets anyone write there).
read_only() {
    mount --bind "$1" "$1" && mounted=("$1" "${mounted[@]}") && mount -o remount,bind,ro "$1"
}
rm -f "$instdir/devlist.json"
if read_only "$instdir" && ! touch "$instdir/.probe" 2>/dev/null; then
    run_app "read-only install folder"
    check "read-only install folder: no devlist.json written" test ! -e "$instdir/devlist.json"
    umount "$instdir" && mounted=("${mounted[@]:1}")

    # An administrator's writable devlist.json there is written in place.
    printf '[]\n' >"$work/admin-devlist.json"
    chmod 666 "$work/admin-devlist.json"
    inode=$(stat -c %i "$work/admin-devlist.json")
    : >"$instdir/devlist.json"
    if read_only "$instdir" && mount --bind "$work/admin-devlist.json" "$instdir/devlist.json"; then
        mounted=("$instdir/devlist.json" "${mounted[@]}")
        run_app "writable devlist.json in a read-only folder"
        check "writable devlist.json in a read-only folder: rewritten in place as an empty list with CR LF" \
            cmp -s "$work/admin-devlist.json" <(printf '[\r\n]\r\n') ||
            { od -c "$work/admin-devlist.json" | head -n 5; show_log "$work/app.log"; }
        check "writable devlist.json in a read-only folder: still the same file" \
            test "$(stat -c %i "$work/admin-devlist.json")" = "$inode"
    else
        fail "placing a writable devlist.json in the read-only install folder"
    fi
    for m in "${mounted[@]}"; do umount "$m"; done
    mounted=()
    cp "$work/admin-devlist.json" "$instdir/devlist.json"
else
    fail "making the install folder read-only"
fi

# --- install and uninstall while Varnitt runs: refused, and nothing changed ---
# snapshot [FOLDER]: contents, and the change times that any rewrite moves, even with the same bytes.
snapshot() {
    local dir=${1:-$instdir}
    (cd "$dir" && find . -type f -exec md5sum {} + | LC_ALL=C sort)
    find "$dir" "$shortcut" -printf '%P %i %C@\n' 2>&1 | LC_ALL=C sort
    wine reg query "$key" /s 2>&1 | tr -d '\r'
    machine_path
}
start_app
if window wait "$app" Varnitt >"$work/wait.log" 2>&1; then
    # Another user's installer and Varnitt must be able to wait on it and open it.
    everyone=$(wine "$standin" mutex 'Global\org.varnitt.Varnitt.running' </dev/null 2>/dev/null | tr -d '\r')
    check "the running mutex lets Everyone wait on it and open it, nothing more ($everyone)" \
        test "$everyone" = "Everyone: 0x00100001"
    snapshot >"$work/before.txt"
    timeout 120 wine "$setup" /S </dev/null >"$work/install-running.log" 2>&1
    code=$?
    check "silent install while Varnitt runs exits non-zero (got $code)" test "$code" != 0
    check "silent install while Varnitt runs changes nothing" cmp -s "$work/before.txt" <(snapshot)
    wine_cmdline "$work/uninstall-running.log" '"C:\Program Files\Varnitt\uninstall.exe" /S _?=C:\Program Files\Varnitt'
    code=$?
    check "silent uninstall while Varnitt runs exits non-zero (got $code)" test "$code" != 0
    check "silent uninstall while Varnitt runs changes nothing" cmp -s "$work/before.txt" <(snapshot)

    # Interactively the installer asks first; closing that question is Cancel.
    timeout 120 wine "$setup" </dev/null >"$work/install-asks.log" 2>&1 &
    asking=$!
    window close "$asking" "Varnitt $version Setup" >"$work/ask.log" 2>&1
    asked=$?
    check "interactive install while Varnitt runs asks first ($(tail -n 1 "$work/ask.log"))" test "$asked" = 0 ||
        kill "$asking"
    wait "$asking"
    code=$?
    check "interactive install cancelled while Varnitt runs exits non-zero (got $code) and changes nothing" \
        eval 'test "$code" != 0 && cmp -s "$work/before.txt" <(snapshot)'
else
    fail "Varnitt started for the running-program checks ($(tail -n 1 "$work/wait.log"))"
fi
window close "$app" Varnitt >/dev/null 2>&1 || kill "$app" 2>/dev/null
wait "$app"
wine_settle

# --- uninstall, as the system's list of programs would run it ---
# Without _?= the uninstaller copies itself to TEMP, starts the copy and returns;
# waiting for the prefix to go quiet waits for that copy too.
cp "$instdir/devlist.json" "$work/kept-devlist.json"
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
check "licenses folder removed" test ! -e "$instdir/licenses"
check "install directory holds only devlist.json" \
    test "$(cd "$instdir" 2>/dev/null && find . -mindepth 1 | LC_ALL=C sort | tr '\n' ' ')" = "./devlist.json "
check "devlist.json kept as it was" cmp -s "$instdir/devlist.json" "$work/kept-devlist.json" ||
    od -c "$instdir/devlist.json" | head -n 5
check "shortcut removed" test ! -e "$shortcut"
# The Uninstall key must be readable (else "absent" would only mean that reg failed).
wine reg query "$uninstall_root" </dev/null >"$work/reg.txt" 2>&1
code=$?
if [ "$code" != 0 ]; then
    fail "reading $uninstall_root after uninstalling (wine reg exit code $code)"
    show_log "$work/reg.txt"
else
    check "uninstall registry key removed" eval '! tr -d "\r" <"$work/reg.txt" | grep -qix ".*\\\\Uninstall\\\\Varnitt"'
fi
check_path "the uninstaller gives back the site PATH as it was" "$site_path"

# --- upgrade from an older version in another folder ---
# DisplayName of every entry of "Apps and features" that is Varnitt, with its DisplayVersion.
varnitt_entries() {
    wine reg query "$uninstall_root" /s </dev/null 2>/dev/null | tr -d '\r' | awk '
        /^HKEY_/ { if (name == "Varnitt") print key " " display; key = $0; name = ""; display = "" }
        $1 == "DisplayName" { name = $3 }
        $1 == "DisplayVersion" { display = $3 }
        END { if (name == "Varnitt") print key " " display }'
}
old_dir='C:\Lab Tools\Varnitt'
old_unix="$WINEPREFIX/drive_c/Lab Tools/Varnitt"
# Longer than an NSIS string: nothing of it may be lost.
long_path='%SystemRoot%\system32;%SystemRoot%'
for i in $(seq 100 199); do long_path+=";C:\\Site Tools\\package $i\\bin"; done
long_path+=';%SystemRoot%\System32\Wbem'
old_entry="$long_path;$old_dir"
if [ -f "$old_setup" ]; then
    set_machine_path "$long_path"
    check_path "the long site PATH (${#long_path} characters) is set" "$long_path"
    wine_cmdline "$work/install-old.log" "\"$(winpath "$old_setup")\" /S /D=$old_dir"
    code=$?
    wine_settle
    check "older version $old_version installs into $old_dir (exit code $code)" \
        test "$code" = 0 -a -f "$old_unix/retired/notes.txt" -a -f "$old_unix/uninstall.exe"
    # A saved list with a device, as Varnitt writes it; it must come through byte for byte.
    printf '[\r\n    {\r\n        "mac": "00:1A:2B:3C:4D:5E",\r\n        "name": "Lobby speaker \xe5\xa4\xa7\xe5\x8e\x85"\r\n    }\r\n]\r\n' \
        >"$work/devlist.json"
    cp "$work/devlist.json" "$old_unix/devlist.json"
    cp "$old_unix/uninstall.exe" "$work/old-uninstall.exe"
    check_path "older version: $old_dir appended to the long PATH, all of it kept" "$old_entry"

    # Held as fopen holds it (sharing reading and writing), a file the new version lacks stops the upgrade.
    if hold hold-shared "$old_dir\\retired\\notes.txt"; then
        snapshot "$old_unix" >"$work/before-held.txt"
        timeout 300 wine "$setup" /S "/LOG=$(winpath "$work/held-old-steps.log")" </dev/null >/dev/null 2>&1
        code=$?
        check "silent upgrade while a file only $old_version has is held exits non-zero (got $code)" test "$code" != 0
        check "its log names retired\\notes.txt" grep -qsF "$old_dir\\retired\\notes.txt is in use" "$work/held-old-steps.log" ||
            show_log "$work/held-old-steps.log"
        check "it changes nothing, $old_version's files and registry entries included" cmp -s "$work/before-held.txt" <(snapshot "$old_unix")
    fi
    release

    timeout 300 wine "$setup" /S "/LOG=$(winpath "$work/upgrade-steps.log")" </dev/null >"$work/upgrade.log" 2>&1
    code=$?
    wine_settle
    check "upgrade exits 0 (got $code)" test "$code" = 0
    [ "$code" = 0 ] || { show_log "$work/upgrade.log"; show_log "$work/upgrade-steps.log"; }
    check "upgrade installs where the older version was (its own uninstall.exe there)" \
        eval '[ -f "$old_unix/varnitt.exe" ] && ! cmp -s "$old_unix/uninstall.exe" "$work/old-uninstall.exe"'
    check "upgrade leaves the default folder alone" test ! -e "$instdir/varnitt.exe"
    entries=$(varnitt_entries)
    check "one Varnitt entry in Apps and features, version $version (got: $(tr '\n' ';' <<<"$entries"))" \
        test "$entries" = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Varnitt $version"
    check "its InstallLocation is $old_dir" test "$(reg_value InstallLocation)" = "$old_dir"
    check "the file only the older version had is gone, with its folder" test ! -e "$old_unix/retired"
    expected=$( (cd "$deployed" && find . -type f; printf '%s\n' ./devlist.json ./uninstall.exe ./varnitt.ico) |
        LC_ALL=C sort)
    check "the folder holds exactly the new version's files and devlist.json" \
        test "$(cd "$old_unix" && find . -type f | LC_ALL=C sort)" = "$expected"
    check "devlist.json survives the upgrade byte for byte" cmp -s "$old_unix/devlist.json" "$work/devlist.json"
    check_path "upgrade: $old_dir on PATH once" "$old_entry"
    check "upgrade: PathEntry recorded" test "$(reg_value PathEntry)" = "$old_dir"
    check "upgrade log says: Added $old_dir to the system PATH." \
        grep -qsF "Added $old_dir to the system PATH." "$work/upgrade-steps.log"

    # Another program holds varnitt.exe open (an old Varnitt without the mutex, say): the
    # upgrade must not skip it and report success.
    if hold hold "$old_dir\\varnitt.exe"; then
        snapshot "$old_unix" >"$work/before-held.txt"
        timeout 300 wine "$setup" /S "/LOG=$(winpath "$work/held-steps.log")" </dev/null >"$work/held.log" 2>&1
        code=$?
        check "silent upgrade over a held varnitt.exe exits non-zero (got $code)" test "$code" != 0
        check "its log names the file" grep -qsF "$old_dir\\varnitt.exe is in use" "$work/held-steps.log" ||
            show_log "$work/held-steps.log"
        check "it changes nothing" cmp -s "$work/before-held.txt" <(snapshot "$old_unix")
    fi
    release

    timeout 300 wine "$old_dir\\uninstall.exe" /S </dev/null >"$work/uninstall-upgraded.log" 2>&1
    code=$?
    wine_settle
    check "uninstalling the upgrade exits 0 (got $code)" test "$code" = 0
    check_path "uninstalling the upgrade gives back the long PATH as it was" "$long_path"
else
    fail "upgrade: no older installer"
fi

# --- a folder already on PATH, written another way: neither added again nor removed ---
had_path='%SystemRoot%\system32;C:\PROGRAM FILES\varnitt\;%SystemRoot%;C:\Site Tools\bin'
set_machine_path "$had_path"
check_path "a PATH that has the install folder is set" "$had_path"
timeout 300 wine "$setup" /S "/LOG=$(winpath "$work/had-steps.log")" </dev/null >/dev/null 2>&1
code=$?
wine_settle
check "install over that PATH exits 0 (got $code)" test "$code" = 0
check_path "the folder already on PATH (another case, a trailing backslash) is not added again" "$had_path"
check "no PathEntry recorded" test -z "$(reg_value PathEntry)"
check "install log says: C:\Program Files\Varnitt is already on the system PATH." \
    grep -qsF 'C:\Program Files\Varnitt is already on the system PATH.' "$work/had-steps.log"
timeout 300 wine "$uninstaller" /S </dev/null >/dev/null 2>&1
code=$?
wine_settle
check "its uninstall exits 0 (got $code)" test "$code" = 0
check_path "the uninstaller leaves the folder it did not put on PATH" "$had_path"

echo "took $(($(date +%s) - started)) s"
if [ "$failures" = 0 ]; then
    echo "PASS: installer checks"
    exit 0
fi
echo "FAIL: $failures installer check(s) failed"
exit 1
