#!/usr/bin/env bash
# deploy.sh QT_PREFIX EXE OUTDIR
# Lays out a runnable Windows tree in OUTDIR: the executable, the Qt plugins it
# loads at run time, and every DLL these import (followed through the DLLs'
# own imports), read from their PE import tables. Windows' own DLLs are left out.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 QT_PREFIX EXE OUTDIR" >&2
    exit 2
fi
qt_prefix=$1
exe=$2
outdir=$3
target=x86_64-w64-mingw32
objdump=$target-objdump
gxx=$target-g++-posix

die() { echo "deploy.sh: $*" >&2; exit 1; }

[ -d "$qt_prefix" ] || die "no Qt prefix at $qt_prefix"
[ -f "$exe" ] || die "no executable at $exe"
command -v "$objdump" >/dev/null || die "$objdump is missing"
command -v "$gxx" >/dev/null || die "$gxx is missing"

# Plugins are loaded by name at run time, so no import table points at them.
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll)
for p in "${plugins[@]}"; do
    [ -f "$qt_prefix/plugins/$p" ] || die "missing Qt plugin $qt_prefix/plugins/$p"
done

# -print-file-name echoes the bare name back when it finds nothing.
runtime_dir() {
    local f
    f=$("$gxx" -print-file-name="$1")
    [ "$f" != "$1" ] && [ -f "$f" ] || die "$gxx cannot find $1"
    dirname "$(readlink -f "$f")"
}
gcc_runtime=$(runtime_dir libstdc++-6.dll)
pthread_runtime=$(runtime_dir libwinpthread-1.dll)
search_dirs=("$qt_prefix/bin" "$gcc_runtime" "$pthread_runtime")
# mingw-w64 ships an import library for each DLL that Windows itself provides.
implib_dir=$(runtime_dir libkernel32.a)

# Lower-cased name -> first file of that name along the search path.
declare -A found=()
for d in "${search_dirs[@]}"; do
    [ -d "$d" ] || continue
    while IFS= read -r -d '' f; do
        key=$(basename "$f")
        key=${key,,}
        [ -n "${found[$key]:-}" ] || found[$key]=$f
    done < <(find "$d" -maxdepth 1 -type f -iname '*.dll' -print0)
done

is_system_dll() {
    local name=${1,,}
    name=${name%.dll}
    case $name in
        api-ms-win-*|ext-ms-*) return 0 ;;
        # Import libraries exist for these too, but they are redistributables, not part of Windows.
        msvcr[0-9]*|msvcp[0-9]*|vcruntime*|d3dx*|d3dcsx*) return 1 ;;
        d3dcompiler_*) [ "$name" = d3dcompiler_47 ] || return 1 ;;
    esac
    [ -f "$implib_dir/lib$name.a" ]
}

imports_of() {
    local dump
    dump=$("$objdump" -p "$1") || die "cannot read the import table of $1"
    sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$dump" | tr -d '\r'
}

# Refuse to empty a directory holding what we are about to copy.
mkdir -p "$outdir"
out_abs=$(cd "$outdir" && pwd -P)
[ "$out_abs" != / ] || die "refusing to use / as OUTDIR"
case "$(readlink -f "$exe")/" in "$out_abs"/*) die "EXE lies inside OUTDIR $outdir" ;; esac
case "$(readlink -f "$qt_prefix")/" in "$out_abs"/*) die "QT_PREFIX lies inside OUTDIR $outdir" ;; esac
find "$out_abs" -mindepth 1 -delete

cp "$exe" "$out_abs/"
queue=("$exe")
for p in "${plugins[@]}"; do
    mkdir -p "$out_abs/$(dirname "$p")"
    cp "$qt_prefix/plugins/$p" "$out_abs/$p"
    queue+=("$qt_prefix/plugins/$p")
done

declare -A seen=()      # lower-cased DLL names already handled
declare -A missing=()   # DLL name -> who imports it
i=0
while [ $i -lt ${#queue[@]} ]; do
    pe=${queue[$i]}
    i=$((i + 1))
    deps=$(imports_of "$pe")
    while IFS= read -r dll; do
        [ -n "$dll" ] || continue
        key=${dll,,}
        if [ -n "${found[$key]:-}" ]; then
            [ -z "${seen[$key]:-}" ] || continue
            seen[$key]=1
            cp "${found[$key]}" "$out_abs/"
            queue+=("${found[$key]}")
        elif ! is_system_dll "$dll"; then
            missing[$dll]="${missing[$dll]:+${missing[$dll]}, }$(basename "$pe")"
        fi
    done <<<"$deps"
done

if [ ${#missing[@]} -gt 0 ]; then
    for dll in "${!missing[@]}"; do
        echo "deploy.sh: $dll (imported by ${missing[$dll]}) is neither in ${search_dirs[*]} nor a Windows DLL" >&2
    done
    # A partial tree would package into an installer that cannot start.
    find "$out_abs" -mindepth 1 -delete
    exit 1
fi

# Debian's MinGW runtime DLLs carry their debug information (libstdc++ alone 23 MB).
find "$out_abs" -type f \( -iname '*.dll' -o -iname '*.exe' \) -exec "$target-strip" --strip-debug {} +

(cd "$out_abs" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
