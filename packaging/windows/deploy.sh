#!/usr/bin/env bash
# deploy.sh QT_PREFIX EXE... OUTDIR
# Lays out a runnable Windows tree in OUTDIR, a folder that does not exist yet or is
# empty: the executables, the Qt plugins they load at run time, and every DLL these
# import (followed through the DLLs' own imports), read from their PE import tables.
# Windows' own DLLs are left out.
# licenses/ gets the terms of everything shipped and SOURCES.txt, which names the
# Debian source package and version each DLL was built from.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ $# -lt 3 ]; then
    echo "usage: $0 QT_PREFIX EXE... OUTDIR" >&2
    exit 2
fi
qt_prefix=$1
exes=("${@:2:$#-2}")
outdir=${!#}
target=x86_64-w64-mingw32
objdump=$target-objdump
gxx=$target-g++-posix

die() { echo "deploy.sh: $*" >&2; exit 1; }

[ -d "$qt_prefix" ] || die "no Qt prefix at $qt_prefix"
[ -f "$qt_prefix/qtbase-revision" ] && [ -f "$qt_prefix/qtbase-release" ] && [ -d "$qt_prefix/licenses" ] ||
    die "$qt_prefix does not record its qtbase source and licences (made by an older build-qt.sh)"
for exe in "${exes[@]}"; do
    [ -f "$exe" ] || die "no executable at $exe"
done
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

# Windows line ends, so that Notepad on any Windows shows the texts as lines.
crlf() { sed 's/\r$//; s/$/\r/' "$@"; }

# source_of FILE: "SOURCE-PACKAGE SOURCE-VERSION BINARY-PACKAGE BINARY-VERSION" of the Debian
# package that holds FILE.
source_of() {
    local binary
    binary=$(dpkg -S "$(readlink -f "$1")" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$binary" ] || die "no Debian package holds $1, so its source cannot be named"
    dpkg-query -W -f='${source:Package} ${source:Version} ${Package} ${Version}' "$binary"
}

# write_licenses DIR: every licence that covers a shipped file, and where its source is.
write_licenses() {
    local dir=$1 gcc_doc=/usr/share/doc/gcc-mingw-w64-base/copyright
    local mingw_doc=/usr/share/doc/mingw-w64-x86-64-dev/copyright
    [ -f "$gcc_doc" ] || die "$gcc_doc is missing (gcc-mingw-w64-base)"
    [ -f "$mingw_doc" ] || die "$mingw_doc is missing (mingw-w64-x86-64-dev)"
    mkdir -p "$dir"
    # The project's own terms, as packaging/copyright states them for the Debian package.
    awk '/^Copyright:/ { sub(/^Copyright: */, ""); print "Varnitt"; print "Copyright " $0; print ""; next }
         /^License:/ { body = 1; next }
         body && /^ / { sub(/^ /, ""); if ($0 == ".") $0 = ""; print }' "$here/../copyright" |
        crlf >"$dir/Varnitt.txt"
    crlf "$qt_prefix/licenses/LICENSE.LGPLv3" >"$dir/Qt-LGPL-3.txt"
    crlf "$qt_prefix/licenses/LICENSE.GPL3" >"$dir/GPL-3.txt"
    crlf "$qt_prefix/licenses/debian-copyright" >"$dir/copyright-qtbase.txt"
    # The exception's own text, from its heading to the next section of Debian's file.
    awk '/^GCC RUNTIME LIBRARY EXCEPTION$/ { on = 1 }
         on && /^[^ ].*:$/ { exit }
         on' "$gcc_doc" | crlf >"$dir/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt"
    grep -q 'No Weakening of GCC Copyleft' "$dir/GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt" ||
        die "the GCC Runtime Library Exception was not found whole in $gcc_doc"
    crlf "$gcc_doc" >"$dir/copyright-gcc-mingw-w64.txt"
    crlf "$mingw_doc" >"$dir/copyright-mingw-w64.txt"

    local f name qt_names='' src qt_release_name host_release_name own_names
    own_names=$(basename -a "${exes[@]}" | paste -sd, - | sed 's/,/, /g')
    # The release Qt's source came from, and the release of the machine that builds.
    qt_release_name=$(cat "$qt_prefix/qtbase-release")
    host_release_name=$(. /etc/os-release && echo "$VERSION_CODENAME")
    declare -A by_source=()
    for f in "${shipped[@]}"; do
        name=${f#"$out_abs"/}
        src=${source_of_file[$name]}
        name=${name//\//\\}
        case $src in
        qtbase-opensource-src*) qt_names="${qt_names:+$qt_names, }$name" ;;
        *) by_source[$src]="${by_source[$src]:+${by_source[$src]}, }$name" ;;
        esac
    done
    {
        echo "Where the corresponding source of each file in this folder is obtained"
        echo
        echo "Every library here was built from a Debian source package, named below with"
        echo "its exact version: Qt from Debian's $qt_release_name release, the MinGW runtime from"
        echo "its $host_release_name release. Get one with \"apt-get source NAME=VERSION\" there, or"
        echo "from https://snapshot.debian.org/package/NAME/VERSION/."
        echo
        echo "qtbase-opensource-src $(cat "$qt_prefix/qtbase-revision")"
        echo "    $qt_names"
        echo "    Qt $(cat "$qt_prefix/qt-version") under the LGPL-3 (Qt-LGPL-3.txt, GPL-3.txt, copyright-qtbase.txt):"
        echo "    Debian's source as apt-get source unpacks it, Debian's patches applied and"
        echo "    nothing else changed, built for x86_64-w64-mingw32 by"
        echo "    packaging/windows/build-qt.sh of the Varnitt source with:"
        echo "    $(cat "$qt_prefix/toolchain")"
        while read -r src_package src_version binary binary_version; do
            echo
            echo "$src_package $src_version"
            echo "    ${by_source["$src_package $src_version $binary $binary_version"]}"
            echo "    from the binary package $binary $binary_version"
            case $src_package in
            gcc-mingw-w64)
                echo "    GPL-3 with the GCC Runtime Library Exception (GPL-3.txt,"
                echo "    GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt, copyright-gcc-mingw-w64.txt)."
                echo "    It builds the GCC source of Debian's gcc-${binary_version%%.*} source package, version"
                echo "    ${binary_version%%+"$src_version"*}."
                ;;
            mingw-w64)
                echo "    winpthreads, under the MIT (expat) licence and the others in"
                echo "    copyright-mingw-w64.txt."
                ;;
            esac
        done < <(printf '%s\n' "${!by_source[@]}" | LC_ALL=C sort)
        echo
        echo "Varnitt itself ($own_names): see Varnitt.txt."
    } | crlf >"$dir/SOURCES.txt"
}

# Only a folder this run made (or found empty) is ever emptied again, on failure below.
if [ -e "$outdir" ] && { [ ! -d "$outdir" ] || [ -n "$(ls -A "$outdir")" ]; }; then
    die "$outdir exists and is not an empty folder; give a new one"
fi
mkdir -p "$outdir"
out_abs=$(cd "$outdir" && pwd -P)

declare -A origin=()    # deployed file -> where it came from
shipped=()
cp "${exes[@]}" "$out_abs/"
queue=("${exes[@]}")
for p in "${plugins[@]}"; do
    mkdir -p "$out_abs/$(dirname "$p")"
    cp "$qt_prefix/plugins/$p" "$out_abs/$p"
    queue+=("$qt_prefix/plugins/$p")
    origin[$out_abs/$p]=$qt_prefix/plugins/$p
    shipped+=("$out_abs/$p")
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
            origin[$out_abs/$(basename "${found[$key]}")]=${found[$key]}
            shipped+=("$out_abs/$(basename "${found[$key]}")")
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
# strip stamps each file with SOURCE_DATE_EPOCH, or else with the current time.
find "$out_abs" -type f \( -iname '*.dll' -o -iname '*.exe' \) -exec \
    env SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-0}" "$target-strip" --strip-debug {} +

# The Debian source package of each shipped DLL: "SOURCE VERSION" for Qt's own,
# "SOURCE VERSION BINARY VERSION" for the compiler's runtime.
declare -A source_of_file=()
for f in "${shipped[@]}"; do
    case $(readlink -f "${origin[$f]}") in
    "$(readlink -f "$qt_prefix")"/*) src="qtbase-opensource-src $(cat "$qt_prefix/qtbase-revision")" ;;
    *) src=$(source_of "${origin[$f]}") || exit 1 ;;
    esac
    source_of_file[${f#"$out_abs"/}]=$src
done

write_licenses "$out_abs/licenses"

# Every file laid out, with the Debian source package and version it was built from ("-"
# for Varnitt's own): "PATH<TAB>SOURCE VERSION", for the bill of materials.
(cd "$out_abs" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | while IFS= read -r f; do
    read -r src src_version _ <<<"${source_of_file[$f]:--}"
    printf '%s\t%s\n' "$f" "$src${src_version:+ $src_version}"
done
