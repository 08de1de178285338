#!/usr/bin/env bash
# build-qt.sh: builds Debian's qtbase for x86_64-w64-mingw32 with only what Varnitt uses,
# into a cache outside the clone, and prints the install prefix on its last line.
# A prefix that is already complete is reused as it is.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/varnitt
qt_version=5.15.8
target=x86_64-w64-mingw32

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
hash=$(printf '%s\n' "$qt_version" "$target" "${options[@]}" | sha256sum | cut -c1-12)
prefix=$cache/qt-$qt_version-$target-$hash

if [ -f "$prefix/.complete" ]; then
    echo "Qt $qt_version for $target: cached in $prefix" >&2
    echo "$prefix"
    exit 0
fi

# Debian's default x86_64-w64-mingw32-g++ may be the win32-threads flavour; Qt gets the posix one.
tools=$cache/mingw-posix-bin
mkdir -p "$tools"
for t in ar as ld nm objcopy objdump ranlib strip windres dlltool; do
    ln -sf "/usr/bin/$target-$t" "$tools/$target-$t"
done
ln -sf "/usr/bin/$target-gcc-posix" "$tools/$target-gcc"
ln -sf "/usr/bin/$target-g++-posix" "$tools/$target-g++"

src_root=$cache/src
source_dir=$(ls -d "$src_root"/qtbase-opensource-src-"$qt_version"* 2>/dev/null | head -n1 || true)
if [ -z "$source_dir" ] || [ ! -x "$source_dir/configure" ]; then
    rm -rf "$src_root"
    mkdir -p "$src_root"
    "$here/qt-source.sh" "$src_root" >&2
    source_dir=$(ls -d "$src_root"/qtbase-opensource-src-"$qt_version"* | head -n1)
fi

build_dir=$cache/build-qt-$hash
mkdir -p "$build_dir"
cd "$build_dir"
start=$(date +%s)
if [ ! -f "$build_dir/.configured" ]; then
    echo "== Configuring Qt $qt_version for $target" >&2
    "$source_dir/configure" -prefix "$prefix" -xplatform win32-g++ \
        -device-option "CROSS_COMPILE=$tools/$target-" "${options[@]}" >&2
    touch "$build_dir/.configured"
    echo "== configure took $(($(date +%s) - start)) s" >&2
fi
echo "== Building Qt $qt_version for $target (about a quarter of an hour on two cores)" >&2
start=$(date +%s)
make -j"$(nproc)" >&2
make install >&2
echo "== Qt build and install took $(($(date +%s) - start)) s" >&2
touch "$prefix/.complete"
rm -rf "$build_dir" "$src_root"
echo "$prefix"
