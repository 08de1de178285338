#!/usr/bin/env bash
# qt-source.sh DIR: unpacks Debian's qtbase source into DIR/qtbase-*, through a private
# apt set-up so the machine's own apt configuration is never touched.
set -euo pipefail
dir=$1
mkdir -p "$dir/apt/lists/partial" "$dir/apt/sources"
# The same mirrors and suites the machine uses for binaries, as source entries.
for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    sed -n '/^Types:.*\bdeb\b/,/^$/p' "$f" | sed 's/^Types:.*/Types: deb-src/'
    echo
done >"$dir/apt/sources/debian-src.sources"
if [ -r /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$dir/apt/sources/debian-src.list"
fi
aptopts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$dir/apt/sources"
    -o "Dir::State::Lists=$dir/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
apt-get "${aptopts[@]}" update
(cd "$dir" && apt-get "${aptopts[@]}" source qtbase-opensource-src)
