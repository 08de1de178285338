#!/usr/bin/env bash
# check_cli.sh CLI_EXE DATA_DIR: varnitt-cli.exe on a Chinese Windows (ANSI code page 936)
# against the simulator on the test LAN. Names sent in GBK and in UTF-8 must print the same
# in a console on code page 936, in one on 1252, and as UTF-8 when redirected; and an apply
# must be verified. Runs inside tests/sandbox.sh lan --devsim and tests/windows/wine-run.sh
# --shell, whose console is a terminal that script(1) gives it.
set -u
cli=$1 data=$2
if [ -z "${VARNITT_DEVSIM_CONTROL-}" ] || [ ! -d /tmp/wine-run ]; then
    echo "$0: runs only inside tests/sandbox.sh lan --devsim and wine-run.sh --shell" >&2
    exit 1
fi
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); return 1; fi
}
work=$(mktemp -d)
trap 'kill "$client" 2>/dev/null; rm -rf "$work"' EXIT
command -v script >/dev/null || { echo "FAIL: script(1) is missing (bsdutils)"; exit 1; }

# The simulator lives while this client stays connected to the control server. Beside the
# site's four UTF-8 devices, a reply that writes its names in GBK.
coproc SIM { python3 - "$VARNITT_DEVSIM_CONTROL" "$VARNITT_LAN_IF" "$data" <<'EOF'
import base64, json, socket, sys
host, port = sys.argv[1].rsplit(":", 1)
def contents(name): return {"file": base64.b64encode(open(sys.argv[3] + "/" + name, "rb").read()).decode()}
arguments = ["--devices", contents("site-four.json"), "--raw-reply", contents("reply-gbk.json"), "--interface", sys.argv[2]]
connection = socket.create_connection((host, int(port)))
connection.sendall(json.dumps({"arguments": arguments}).encode() + b"\n")
for event in map(json.loads, connection.makefile("rb")):
    if event["event"] != "datagram":
        print(event["event"], event.get("message", event.get("output", "")), flush=True)
EOF
}
client=$SIM_PID
read -r started <&"${SIM[0]}"
[ "$started" = ready ] || { echo "FAIL: the simulator did not start: $started"; exit 1; }

cd "$(dirname "$cli")" || exit 1
exe=$(basename "$cli")
# console CODEPAGE ARGS: the text varnitt-cli shows in a console set to CODEPAGE, without
# the console's cursor controls and CRs.
console() {
    local cp=$1
    shift
    # Wide enough that the console wraps no line.
    script -qec "stty cols 400; wine cmd /c 'chcp $cp >nul & $exe $* 2>nul'" /dev/null </dev/null |
        sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\r//g'
    return "${PIPESTATUS[0]}"
}

wine "$exe" search </dev/null >"$work/redirected.txt" 2>"$work/search.err"
code=$?
check "search, redirected: exit 0 (got $code)" test "$code" = 0 || cat "$work/search.err"
tr -d '\r' <"$work/redirected.txt" >"$work/search.txt"
check "search, redirected: the GBK names as UTF-8" \
    grep -qE '^02:00:00:5e:00:05 +198\.51\.100\.50 .* 一楼大厅 +广播 +SA-200 +idle$' "$work/search.txt"
check "search, redirected: the UTF-8 names as UTF-8" \
    grep -qE '^02:00:00:5e:00:01 +192\.168\.1\.100 .* 广播室 +广播室音柱 +SA-200 +idle$' "$work/search.txt"
check "search, redirected: an accented name as UTF-8" grep -qE '^02:00:00:5e:00:03 .* Café ' "$work/search.txt"
for cp in 936 1252; do
    console "$cp" search >"$work/console-$cp.txt"
    check "search in a console on code page $cp shows what the redirected search wrote" \
        cmp -s "$work/console-$cp.txt" "$work/search.txt" || diff "$work/search.txt" "$work/console-$cp.txt" | head
done

wine "$exe" search --format csv </dev/null >"$work/found.csv" 2>/dev/null
check "search --format csv, redirected: UTF-8 without a mark" \
    grep -qx $'02:00:00:5e:00:05,198.51.100.50,255.255.255.0,198.51.100.254,no,80,1005,5060,一楼大厅,广播,SA-200,idle\r' \
    "$work/found.csv" || cat "$work/found.csv"

printf 'mac,ip,gateway\r\n02-00-00-5E-00-03,198.51.100.60,\r\n02:00:00:5e:00:01,198.51.100.61,198.51.100.254\r\n' \
    >"$work/plan.csv"
cp "$work/plan.csv" plan-check.csv
console 936 apply plan-check.csv --yes --interface "$VARNITT_APP_IF" >"$work/apply.txt"
code=$?
rm -f plan-check.csv
check "apply in a console: exit 0 (got $code), both devices verified" \
    eval 'test "$code" = 0 && test "$(grep -cE "^[23] +02.* verified$" "$work/apply.txt")" = 2' ||
    cat "$work/apply.txt"
wine "$exe" search </dev/null 2>/dev/null | tr -d '\r' >"$work/after.txt"
check "the search after apply finds the new addresses" \
    eval 'grep -qE "^02:00:00:5e:00:01 +198\.51\.100\.61 " "$work/after.txt" &&
        grep -qE "^02:00:00:5e:00:03 +198\.51\.100\.60 " "$work/after.txt"'

[ "$failures" = 0 ] && echo "PASS: varnitt-cli under Wine" && exit 0
echo "FAIL: $failures varnitt-cli check(s) failed"
exit 1
