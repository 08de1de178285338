#!/usr/bin/env bash
# check_cli.sh CLI_EXE DEVSIM DATA_DIR: varnitt-cli.exe on a Chinese Windows (ANSI code page 936)
# against the simulator on the test LAN. Names sent in GBK and in UTF-8 print the same in
# consoles on code pages 936 and 1252 (terminals that script(1) gives Wine) as redirected in
# UTF-8, and an apply is verified. Runs inside sandbox.sh lan and wine-run.sh --shell.
set -u
cli=$1 devsim=$2 data=$3
[ -n "${VARNITT_LAN_NS-}" ] && [ -d /tmp/wine-run ] || { echo "$0: runs only inside the sandbox" >&2; exit 1; }
failures=0
check() { if "${@:2}"; then echo "PASS: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); return 1; fi; }

# On the device side: the site's four UTF-8 devices, and a reply that writes its names in GBK.
coproc SIM { exec nsenter --net="$VARNITT_LAN_NS" "$devsim" --interface "$VARNITT_LAN_IF" \
    --devices "$data/site-four.json" --raw-reply "$data/reply-gbk.json"; }
work=$(mktemp -d)
trap 'kill "$SIM_PID" 2>/dev/null; rm -rf "$work"' EXIT
read -r started <&"${SIM[0]}"
[ "$started" = ready ] || { echo "FAIL: the simulator did not start: $started"; exit 1; }

cd "$(dirname "$cli")" || exit 1
exe=$(basename "$cli")
# console CODEPAGE ARGS: what varnitt-cli shows in a console on CODEPAGE, wide enough that no
# line wraps, without the console's cursor controls and CRs.
console() {
    script -qec "stty cols 400; wine cmd /c 'chcp $1 >nul & $exe ${*:2} 2>nul'" /dev/null </dev/null |
        sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\r//g'
    return "${PIPESTATUS[0]}"
}

wine "$exe" search </dev/null 2>/dev/null | tr -d '\r' >"$work/search.txt"
check "search, redirected: names sent in GBK and in UTF-8 as UTF-8" eval \
    'grep -qE "^02:00:00:5e:00:05 +198\.51\.100\.50 .* 一楼大厅 +广播 +SA-200 +idle$" "$work/search.txt" &&
     grep -qE "^02:00:00:5e:00:01 .* 广播室 +广播室音柱 +SA-200 +idle$" "$work/search.txt" &&
     grep -qE "^02:00:00:5e:00:03 .* Café " "$work/search.txt"' || cat "$work/search.txt"
for cp in 936 1252; do
    console "$cp" search >"$work/console.txt"
    check "search in a console on code page $cp shows the same" cmp -s "$work/console.txt" "$work/search.txt" ||
        diff "$work/search.txt" "$work/console.txt" | head
done

printf 'mac,ip,gateway\r\n02-00-00-5E-00-03,198.51.100.60,\r\n02:00:00:5e:00:01,198.51.100.61,198.51.100.254\r\n' \
    >"$work/plan.csv"
console 936 apply "Z:$work/plan.csv" --yes --interface "$VARNITT_APP_IF" >"$work/apply.txt"
code=$?
check "apply in a console: exit 0 (got $code), both devices verified" eval \
    'test "$code" = 0 && test "$(grep -cE "^[23] +02.* verified$" "$work/apply.txt")" = 2' || cat "$work/apply.txt"
[ "$failures" = 0 ]
