#!/bin/sh
# Builds the Debian package from a build tree, checks it with lintian, checks its
# control fields and file list, and starts the program extracted from it.
# usage: check_package.sh BUILD_DIR VERSION START_AND_CLOSE IN_EMPTY_NETNS
set -eu
build=$1 version=$2 smoke=$3 netns=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/varnitt-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$work/varnitt_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "no $deb"; ls "$work"; exit 1; }
status=0
fail() { echo "$*"; status=1; }

lintian --display-info --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
cat "$work/lintian.log"
! grep -q '^E:' "$work/lintian.log" || fail "lintian reports errors"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "wrong Version"
[ "$(dpkg-deb -f "$deb" Section)" = "net" ] || fail "wrong Section"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libqt5widgets5' || fail "Depends lacks the Qt libraries"

# Exactly the product's files: anything else (a test, a benchmark) fails here.
cat >"$work/expected" <<'LIST'
./usr/bin/varnitt
./usr/bin/varnitt-cli
./usr/bin/varnitt-devsim
./usr/share/applications/org.varnitt.Varnitt.desktop
./usr/share/doc/varnitt/changelog.gz
./usr/share/doc/varnitt/copyright
./usr/share/icons/hicolor/128x128/apps/org.varnitt.Varnitt.png
./usr/share/icons/hicolor/256x256/apps/org.varnitt.Varnitt.png
./usr/share/icons/hicolor/48x48/apps/org.varnitt.Varnitt.png
./usr/share/man/man1/varnitt-cli.1.gz
./usr/share/man/man1/varnitt-devsim.1.gz
./usr/share/man/man1/varnitt.1.gz
./usr/share/metainfo/org.varnitt.Varnitt.metainfo.xml
LIST
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort >"$work/files"
diff -u "$work/expected" "$work/files" || fail "unexpected file list"

dpkg-deb -x "$deb" "$work/root"
changelog=$(gzip -dc "$work/root/usr/share/doc/varnitt/changelog.gz" | sed -n '1s/^varnitt (\([^)]*\)).*/\1/p')
[ "$changelog" = "$version" ] || fail "changelog's latest entry is $changelog, not $version"

"$smoke" "$work/root/usr/bin/varnitt" "$netns" || exit $?
exit $status
