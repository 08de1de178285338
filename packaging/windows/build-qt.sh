#!/usr/bin/env bash
# build-qt.sh: builds Debian's qtbase for x86_64-w64-mingw32 with only what Varnitt uses,
# into a cache outside the clone, and prints the install prefix on its last line.
#
# The cache key holds the Qt options, the MinGW compiler's version, this script and
# qt-source.sh, and the Debian revision of qtbase-opensource-src. That revision is
# resolved once, when no complete prefix for the rest of the key exists, and recorded
# in the prefix (qtbase-revision); VARNITT_QTBASE_REVISION asks for a given one, to
# reproduce a release. A prefix that is complete is reused as it is.
#
# No build path reaches a shipped binary: Qt is configured for a fixed prefix, installed
# into the cache with -extprefix, compiled with -ffile-prefix-map, and its DLLs carry no
# link time.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/varnitt
qt_version=5.15.8
target=x86_64-w64-mingw32
# Where Qt believes it is installed. Qt finds its plugins relative to its own DLLs, so
# this folder is never looked at on a user's machine; it only has to be the same everywhere.
fixed_prefix=C:/Varnitt-Qt-$qt_version

options=(
    -opensource -confirm-license -release -shared -silent
    -nomake examples -nomake tests
    -no-opengl -no-dbus -no-icu -no-openssl -no-direct2d -no-vulkan -no-libjpeg
    -qt-zlib -qt-pcre -qt-libpng -qt-harfbuzz -qt-freetype
    -feature-codecs -feature-big_codecs
    # Debian's tarball has no src/3rdparty/wintab.
    -no-feature-tabletevent
    # Modules and plugins Varnitt never loads.
    -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printer
    -no-feature-bearermanagement -no-feature-tuiotouch
)

die() { echo "build-qt.sh: $*" >&2; exit 1; }
command -v "$target-g++-posix" >/dev/null || die "$target-g++-posix is missing (g++-mingw-w64-x86-64-posix)"

mkdir -p "$cache"
# One run at a time per cache: two builds into one prefix would ruin both.
exec 9>>"$cache/build-qt.lock"
if ! flock -n 9; then
    echo "== waiting for another Qt build in $cache" >&2
    flock 9
fi

# The compiler, runtime and binutils that build Qt, and whose DLLs ship beside it.
toolchain=$("$target-g++-posix" --version | head -n 1)
for p in g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64; do
    toolchain+=" $p=$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo none)"
done
base=$(
    printf '%s\n' "$qt_version" "$target" "$fixed_prefix" "${options[@]}" "$toolchain"
    cat "$here/build-qt.sh" "$here/qt-source.sh"
)
base=$(sha256sum <<<"$base" | cut -c1-12)
stem=$cache/qt-$qt_version-$target-$base

# The newest complete prefix for this key, or the one of the revision asked for.
prefix=
for p in "$stem"-*/; do
    p=${p%/}
    [ -f "$p/.complete" ] && [ -f "$p/qtbase-revision" ] || continue
    if [ -n "${VARNITT_QTBASE_REVISION-}" ]; then
        [ "$(cat "$p/qtbase-revision")" = "$VARNITT_QTBASE_REVISION" ] || continue
    fi
    if [ -z "$prefix" ] || [ "$p/.complete" -nt "$prefix/.complete" ]; then prefix=$p; fi
done
if [ -n "$prefix" ]; then
    echo "Qt $qt_version for $target (qtbase-opensource-src $(cat "$prefix/qtbase-revision")): cached in $prefix" >&2
    echo "$prefix"
    exit 0
fi

# Leftovers of interrupted runs are never reused; the lock says nobody else is using them.
rm -rf "$cache"/src-*.partial "$cache"/resolve-apt

revision=${VARNITT_QTBASE_REVISION-}
if [ -z "$revision" ]; then
    revision=$("$here/qt-source.sh" resolve "$cache/resolve-apt")
    rm -rf "$cache/resolve-apt"
fi
case $revision in
*[!A-Za-z0-9.+~:-]* | "") die "not a Debian version: '$revision'" ;;
esac
key=$(printf '%s\n%s\n' "$base" "$revision" | sha256sum | cut -c1-12)
prefix=$stem-$key

# Unpacked beside, renamed when complete: a half-unpacked tree is never built.
src_root=$cache/src-$revision
source_dir=$(ls -d "$src_root"/qtbase-opensource-src-"$qt_version"* 2>/dev/null | head -n1 || true)
if [ -z "$source_dir" ] || [ ! -x "$source_dir/configure" ]; then
    rm -rf "$src_root" "$src_root.partial"
    mkdir -p "$src_root.partial"
    "$here/qt-source.sh" fetch "$src_root.partial" "$revision"
    rm -rf "$src_root.partial/apt"
    mv "$src_root.partial" "$src_root"
    source_dir=$(ls -d "$src_root"/qtbase-opensource-src-"$qt_version"* | head -n1)
fi

# Debian's default x86_64-w64-mingw32-g++ may be the win32-threads flavour; Qt gets the posix one.
tools=$cache/mingw-posix-bin
mkdir -p "$tools"
for t in ar as ld nm objcopy objdump ranlib strip windres dlltool; do
    ln -sf "/usr/bin/$target-$t" "$tools/$target-$t"
done
ln -sf "/usr/bin/$target-gcc-posix" "$tools/$target-gcc"
ln -sf "/usr/bin/$target-g++-posix" "$tools/$target-g++"

build_dir=$cache/build-qt-$key
mkdir -p "$build_dir"
cd "$build_dir"
# Whatever embeds a time (rcc, file times in resources) takes the source's own.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -STimestamp)
export SOURCE_DATE_EPOCH
# Paths as they appear in __FILE__ and the like, the same on every machine.
maps="-ffile-prefix-map=$source_dir=/usr/src/qtbase-opensource-src-$revision -ffile-prefix-map=$build_dir=/usr/src/qtbase-build"
start=$(date +%s)
if [ ! -f "$build_dir/.configured" ]; then
    echo "== Configuring Qt $qt_version (qtbase-opensource-src $revision) for $target" >&2
    "$source_dir/configure" -prefix "$fixed_prefix" -extprefix "$prefix" -xplatform win32-g++ \
        -device-option "CROSS_COMPILE=$tools/$target-" "${options[@]}" \
        "QMAKE_CFLAGS+=$maps" "QMAKE_CXXFLAGS+=$maps" "QMAKE_LFLAGS+=-Wl,--no-insert-timestamp" >&2
    touch "$build_dir/.configured"
    echo "== configure took $(($(date +%s) - start)) s" >&2
fi
echo "== Building Qt $qt_version for $target (about a quarter of an hour on two cores)" >&2
start=$(date +%s)
make -j"$(nproc)" >&2
make install >&2
echo "== Qt build and install took $(($(date +%s) - start)) s" >&2

# What the licence folder and SOURCES.txt of a release say about this Qt.
echo "$revision" >"$prefix/qtbase-revision"
echo "$toolchain" >"$prefix/toolchain"
mkdir -p "$prefix/licenses"
for f in LICENSE.LGPLv3 LICENSE.GPL3; do
    cp "$source_dir/$f" "$prefix/licenses/$f"
done
cp "$source_dir/debian/copyright" "$prefix/licenses/debian-copyright"
touch "$prefix/.complete"
rm -rf "$build_dir" "$src_root"
echo "$prefix"
