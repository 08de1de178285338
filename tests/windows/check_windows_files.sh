#!/usr/bin/env bash
# check_windows_files.sh VERSION QT_PREFIX EXE...
# Each program carries VERSION as Windows' four numbers, its own name, the copyright and no link time;
# the toolchain file finds Qt in the prefix given and never Linux Qt; deploy.sh fills a
# new or empty folder and leaves a folder in use as it was.
set -u
version=$1 qt_prefix=$2
shift 2
exes=("$@")
here=$(cd "$(dirname "$0")" && pwd)
deploy=$here/../../packaging/windows/deploy.sh
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

# 1.0 is 1, 0, 0, 0 and 1.0.1 is 1, 0, 1, 0.
IFS=. read -r major minor patch _ <<<"$version"
numbers="$major, $minor, ${patch:-0}, 0"
for exe in "${exes[@]}"; do
    name=$(basename "$exe")
    rc=$(x86_64-w64-mingw32-windres -i "$exe" -O rc) || { echo "FAIL: cannot read the resources of $exe"; exit 1; }
    check "$name: FILEVERSION $numbers" grep -qx " FILEVERSION $numbers" <<<"$rc"
    check "$name: PRODUCTVERSION $numbers" grep -qx " PRODUCTVERSION $numbers" <<<"$rc"
    check "$name: FileVersion $version" grep -qF "VALUE \"FileVersion\", \"$version\"" <<<"$rc"
    check "$name: OriginalFilename" grep -qF "VALUE \"OriginalFilename\", \"$name\"" <<<"$rc"
    check "$name: LegalCopyright" grep -qF 'VALUE "LegalCopyright", "Copyright 2026 The Varnitt developers"' <<<"$rc"
    # The COFF header follows the "PE\0\0" whose offset is at 0x3c; its time stamp is at +8.
    pe=$(od -An -tu4 -j60 -N4 "$exe")
    stamp=$(od -An -tu4 -j$((pe + 8)) -N4 "$exe")
    check "$name: no link time in the PE header (found ${stamp// /})" test "${stamp// /}" = 0
done

work=$(mktemp -d "${TMPDIR:-/tmp}/varnitt-deploy.XXXXXX")
trap 'rm -rf "$work"' EXIT
state() { (cd "$work" && find . -printf '%p %s\n' | LC_ALL=C sort && find . -type f -exec md5sum {} + | LC_ALL=C sort); }

# row: NAME CMAKE_PREFIX_PATH EXPECTED_Qt5Core_DIR
probes=(
    "no prefix||Qt5Core_DIR-NOTFOUND"
    "the Qt prefix|$qt_prefix|$qt_prefix/lib/cmake/Qt5Core"
)
mkdir "$work/probe"
# Linux Qt's own folder is named too: only the root path modes keep it out.
linux_qt=/usr/lib/$(gcc -print-multiarch)/cmake
[ -d "$linux_qt/Qt5Core" ] || { echo "FAIL: no Linux Qt in $linux_qt to keep out"; failures=$((failures + 1)); }
printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(probe CXX)' \
    "find_package(Qt5Core QUIET PATHS $linux_qt)" 'message(STATUS "Qt5Core_DIR=${Qt5Core_DIR}")' \
    >"$work/probe/CMakeLists.txt"
for i in "${!probes[@]}"; do
    IFS='|' read -r name prefix expected <<<"${probes[$i]}"
    found=$(cmake -S "$work/probe" -B "$work/probe-$i" -DCMAKE_TOOLCHAIN_FILE="$here/../../cmake/mingw-w64-x86_64.cmake" \
        ${prefix:+"-DCMAKE_PREFIX_PATH=$prefix"} 2>&1 | sed -n 's/^-- Qt5Core_DIR=//p')
    check "with $name the toolchain finds Qt5Core at '$expected' (found '$found')" test "$found" = "$expected"
done
rm -rf "$work/probe"*

# row: NAME SETUP (shell code run in $work); each OUTDIR is $work/out.
refusals=(
    "a folder with a file|mkdir out && echo '[]' >out/devlist.json"
    "a folder with only a hidden file|mkdir out && touch out/.keep"
    "a folder with an empty folder|mkdir -p out/sub"
    "a file|echo data >out"
)
for row in "${refusals[@]}"; do
    name=${row%%|*}
    rm -rf "${work:?}"/* "$work"/.[!.]* 2>/dev/null
    (cd "$work" && eval "${row#*|}")
    before=$(state)
    "$deploy" "$qt_prefix" "${exes[@]}" "$work/out" >"$work.log" 2>&1
    code=$?
    check "deploy.sh refuses $name (exit $code)" test "$code" -ne 0
    check "deploy.sh leaves $name as it was" test "$before" = "$(state)"
done

# row: NAME SETUP
fills=("a new folder|:" "an empty folder|mkdir out")
for row in "${fills[@]}"; do
    name=${row%%|*}
    rm -rf "${work:?}"/*
    (cd "$work" && eval "${row#*|}")
    "$deploy" "$qt_prefix" "${exes[@]}" "$work/out" >"$work.log" 2>&1
    code=$?
    [ "$code" -eq 0 ] || tail -n 5 "$work.log"
    check "deploy.sh fills $name (exit $code)" test "$code" -eq 0
    for exe in "${exes[@]}"; do
        check "$name gets $(basename "$exe")" test -f "$work/out/$(basename "$exe")"
    done
    check "$name gets licenses/SOURCES.txt naming both programs" \
        grep -qF "Varnitt itself (varnitt.exe, varnitt-cli.exe): see Varnitt.txt." "$work/out/licenses/SOURCES.txt"
done
rm -f "$work.log"
[ "$failures" -eq 0 ]
