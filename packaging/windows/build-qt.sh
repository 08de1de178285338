#!/usr/bin/env bash
# build-qt.sh: builds Debian's qtbase for x86_64-w64-mingw32 with only what Varnitt uses,
# into a cache outside the clone, and prints the install prefix on its last line.
#
# The source is the revision that qtbase.pin names (qt-source.sh fetches it from the pinned
# Debian release). The cache key holds that revision, the Qt options, the MinGW
# compiler's version and these two scripts; a prefix that is complete is reused as it is.
# VARNITT_QTBASE_REVISION asks for another revision of the pinned release's source, one
# that Debian still offers or the cache still holds.
# Debian's archive keeps only the newest revision of a suite: when the pinned one has left
# it and no cache holds it, the newest is built instead and this says so, unless
# VARNITT_QT_REQUIRE_PIN=1 (a release), which then fails. Each run also says when Debian
# offers a revision newer than the pin.
#
# No build path reaches a shipped binary: Qt is configured for a fixed prefix, installed
# into the cache with -extprefix, compiled with -ffile-prefix-map, and its DLLs carry no
# link time.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/varnitt
target=x86_64-w64-mingw32
pinned=$(sed -n 's/^Version:[[:space:]]*//p' "$here/qtbase.pin")

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
    printf '%s\n' "$target" "${options[@]}" "$toolchain"
    cat "$here/build-qt.sh" "$here/qt-source.sh"
)
# prefix_of REVISION: the cache folder of Qt built from that revision.
prefix_of() {
    printf '%s/qt-%s-%s\n' "$cache" "$target" "$(printf '%s\n%s\n' "$base" "$1" | sha256sum | cut -c1-12)"
}
say() { echo "build-qt.sh: $*" >&2; }

revision=${VARNITT_QTBASE_REVISION:-$pinned}
case $revision in
*[!A-Za-z0-9.+~:-]* | "") die "not a Debian version: '$revision'" ;;
esac
# What Debian offers now; without an answer a cached build still serves.
offered=$("$here/qt-source.sh" versions "$cache/qt-source" 2>"$cache/qt-source.log") ||
    { offered=; say "could not ask Debian which revisions it offers ($(tail -n 1 "$cache/qt-source.log"))"; }
newest=$(head -n 1 <<<"$offered")
if [ -n "$newest" ] && dpkg --compare-versions "$newest" gt "$pinned"; then
    say "Debian offers qtbase-opensource-src $newest, newer than the pinned $pinned;" \
        "packaging/windows/qt-source.sh pin moves the pin"
fi
prefix=$(prefix_of "$revision")
[ -f "$prefix/.complete" ] || [ -n "$offered" ] || die "no cached Qt from qtbase-opensource-src $revision to use"
if [ ! -f "$prefix/.complete" ] && ! grep -qxF -- "$revision" <<<"$offered"; then
    say "qtbase-opensource-src $revision is no longer in Debian's archive and no cached Qt holds it;" \
        "packaging/windows/qt-source.sh pin moves the pin to ${newest:-the newest revision}"
    [ "${VARNITT_QT_REQUIRE_PIN:-0}" != 1 ] || die "a release is built from its pin only"
    [ -n "$newest" ] && [ -z "${VARNITT_QTBASE_REVISION-}" ] || die "no revision to build"
    say "building with the newest revision, $newest, instead"
    revision=$newest
    prefix=$(prefix_of "$revision")
fi
if [ -f "$prefix/.complete" ]; then
    echo "Qt $(cat "$prefix/qt-version") for $target (qtbase-opensource-src $revision): cached in $prefix" >&2
    echo "$prefix"
    exit 0
fi
key=$(basename "$prefix")
key=${key##*-}

# Leftovers of interrupted runs are never reused; the lock says nobody else is using them.
rm -rf "$cache"/src-*.partial

# Unpacked beside, renamed when complete: a half-unpacked tree is never built.
src_root=$cache/src-$revision
source_dir=$(ls -d "$src_root"/qtbase-opensource-src-* 2>/dev/null | head -n1 || true)
if [ -z "$source_dir" ] || [ ! -x "$source_dir/configure" ]; then
    rm -rf "$src_root" "$src_root.partial"
    mkdir -p "$src_root.partial"
    "$here/qt-source.sh" fetch "$cache/qt-source" "$revision" "$src_root.partial"
    mv "$src_root.partial" "$src_root"
    source_dir=$(ls -d "$src_root"/qtbase-opensource-src-* | head -n1)
fi
# The version is the source's own.
qt_version=$(sed -n 's/^MODULE_VERSION[[:space:]]*=[[:space:]]*//p' "$source_dir/.qmake.conf")
[[ $qt_version =~ ^5\.[0-9]+\.[0-9]+$ ]] || die "no Qt 5 version in $source_dir/.qmake.conf"
# Where Qt believes it is installed. Qt finds its plugins relative to its own DLLs, so
# this folder is never looked at on a user's machine; it only has to be the same everywhere.
fixed_prefix=C:/Varnitt-Qt-$qt_version

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
# Paths as they appear in __FILE__ and the like, the same on every machine. -MD leaves the
# compiler's list of each object's sources beside it, to tell which bundled libraries went in.
maps="-ffile-prefix-map=$source_dir=/usr/src/qtbase-opensource-src-$revision -ffile-prefix-map=$build_dir=/usr/src/qtbase-build -MD"
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

# What the licence folder, SOURCES.txt and the bill of materials of a release say about this Qt.
echo "$revision" >"$prefix/qtbase-revision"
echo "$qt_version" >"$prefix/qt-version"
sed -n 's/^Release:[[:space:]]*//p' "$here/qtbase.pin" >"$prefix/qtbase-release"
echo "$toolchain" >"$prefix/toolchain"
mkdir -p "$prefix/licenses"
for f in LICENSE.LGPLv3 LICENSE.GPL3; do
    cp "$source_dir/$f" "$prefix/licenses/$f"
done
cp "$source_dir/debian/copyright" "$prefix/licenses/debian-copyright"
# Each library of src/3rdparty that the target's objects were compiled from (the host's
# tools in qmake/ and src/tools/ are not shipped): its qt_attribution.json and headers,
# from which the bill of materials reads names, versions and licences.
rm -rf "$prefix/3rdparty"
mkdir -p "$prefix/3rdparty"
# A file that #includes another's source names it as ../../3rdparty/..., hence realpath.
find "$build_dir" \( -path "$build_dir/qmake" -o -path "$build_dir/src/tools" \) -prune -o -name '*.d' -print0 |
    xargs -0 cat | tr -s ' \\' '\n\n' | grep -F /3rdparty/ | sort -u | xargs -r realpath -m |
    grep -o "^$source_dir/src/3rdparty/[^/]*/" | sort -u | while read -r dir; do
        [ -f "$dir/qt_attribution.json" ] || continue
        (cd "$source_dir/src/3rdparty" && find "$(basename "$dir")" \( -name qt_attribution.json -o -name '*.h' \) \
            -print0 | xargs -0 cp --parents -t "$prefix/3rdparty")
    done
[ -f "$prefix/3rdparty/zlib/qt_attribution.json" ] || die "found no bundled libraries in the build's dependency files"
touch "$prefix/.complete"
rm -rf "$build_dir" "$src_root"
echo "$prefix"
