#!/usr/bin/env bash
# check_reproducible.sh [CHECKOUT]
# Checks out CHECKOUT's HEAD (default: this one; uncommitted changes play no part) into two
# fresh folders of different path lengths and runs `./varnitt.sh release` in each, one
# after the other, the second under another time zone, umask and locale. Both use the
# same Qt cache. Passes when the .deb, the zip, its bill of materials and the installer are
# the same bytes, the first build's SHA256SUMS verifies the second's files, and no shipped
# file names either folder, this checkout or the Qt cache. Where the pinned Qt source has
# left Debian's archive and no cache holds it, both build with the newest revision. On a difference it names the artefact and shows
# where it lies: diffoscope's report if installed, else the differing members and files
# and their first differing bytes.
# Exit: 0 identical, 1 different or a build failed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=$(cd "${1:-$here/..}" && pwd -P)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/varnitt

work=$(mktemp -d "${TMPDIR:-/tmp}/varnitt-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
a=$work/a
b=$work/second-build-in-a-longer-folder/varnitt
head=$(git -C "$checkout" rev-parse HEAD) || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# release DIR TZ UMASK LOCALE: a fresh checkout of HEAD in DIR, released there.
release() {
    local dir=$1 start rc
    start=$(date +%s)
    mkdir -p "$dir"
    git -C "$dir" init -q &&
        git -C "$dir" fetch -q "$checkout" HEAD &&
        git -C "$dir" checkout -q --detach FETCH_HEAD || return 1
    # The commit's own time, worked out in the clone; a release built here is unsigned,
    # as signatures are made afresh for each.
    (cd "$dir" && umask "$3" &&
        env -u SOURCE_DATE_EPOCH -u VARNITT_SIGN_PKCS12 -u VARNITT_SIGN_PASSWORD_FILE \
            -u VARNITT_SIGN_PKCS11_MODULE -u VARNITT_SIGN_PKCS11_KEY -u VARNITT_SIGN_PKCS11_CERT \
            -u VARNITT_SIGN_PIN_FILE -u VARNITT_SIGN_TIMESTAMP_URL TZ="$2" LC_ALL="$4" VARNITT_QT_REQUIRE_PIN=0 ./varnitt.sh release) \
        >"$dir.log" 2>&1
    rc=$?
    echo "== release in $dir: $(($(date +%s) - start)) s$([ "$rc" -eq 0 ] || echo ", FAILED")"
    [ "$rc" -eq 0 ] || { tail -n 40 "$dir.log"; return 1; }
}

# first_differences A B: up to five differing bytes (1-based offsets) and how many differ.
first_differences() {
    cmp -l "$1" "$2" 2>&1 | head -n 5 | sed 's/^/      /'
    echo "      $(cmp -l "$1" "$2" 2>/dev/null | wc -l) bytes differ; sizes $(stat -c %s "$1") and $(stat -c %s "$2")"
}

# compare_trees A B: every file that is missing on one side or differs.
compare_trees() {
    diff <(cd "$1" && find . | LC_ALL=C sort) <(cd "$2" && find . | LC_ALL=C sort) | sed 's/^/    /'
    (cd "$1" && find . -type f) | LC_ALL=C sort | while IFS= read -r f; do
        [ -f "$2/$f" ] && ! cmp -s "$1/$f" "$2/$f" || continue
        echo "    ${f#./} differs:"
        first_differences "$1/$f" "$2/$f"
    done
}

# explain NAME: where the two copies of artefact NAME differ.
explain() {
    local name=$1 x=$work/explain/$1 m
    if command -v diffoscope >/dev/null; then
        diffoscope --text - "$a/build/release/$name" "$b/build/release/$name" | head -n 200
        return
    fi
    mkdir -p "$x/a" "$x/b"
    case $name in
    *.deb)
        for side in a b; do
            (cd "$x/$side" && ar x "${!side}/build/release/$name")
        done
        for m in $(ar t "$a/build/release/$name"); do
            if ! cmp -s "$x/a/$m" "$x/b/$m"; then
                echo "  member $m differs; its listings:"
                diff <(tar -tvf "$x/a/$m") <(tar -tvf "$x/b/$m") | head -n 20 | sed 's/^/    /'
                mkdir -p "$x/a-$m" "$x/b-$m"
                tar -xf "$x/a/$m" -C "$x/a-$m" && tar -xf "$x/b/$m" -C "$x/b-$m"
                compare_trees "$x/a-$m" "$x/b-$m"
            fi
        done
        ;;
    *.zip)
        echo "  entries (names, modes, times):"
        diff <(zipinfo "$a/build/release/$name" | tail -n +2) <(zipinfo "$b/build/release/$name" | tail -n +2) |
            head -n 20 | sed 's/^/    /'
        unzip -q "$a/build/release/$name" -d "$x/a" && unzip -q "$b/build/release/$name" -d "$x/b"
        compare_trees "$x/a" "$x/b"
        ;;
    *)
        first_differences "$a/build/release/$name" "$b/build/release/$name"
        ;;
    esac
}

started=$(date +%s)
echo "== Two releases of $head, one after the other"
release "$a" UTC 022 C.UTF-8 || fail "the release in $a failed"
[ "$failures" -eq 0 ] && { release "$b" XYZ-5:45 002 C || fail "the release in $b failed"; }
if [ "$failures" -ne 0 ]; then
    echo "Reproducibility: not checked, a build failed"
    exit 1
fi

sums=$a/build/release/SHA256SUMS
names=$(awk '{ print $2 }' "$sums")
for kind in '_*.deb' '-windows-x64.zip' '-windows-x64.spdx.json' '-setup.exe'; do
    grep -q -- "^varnitt.*${kind//\*/.*}\$" <<<"$names" || fail "SHA256SUMS names no varnitt*$kind"
done
for name in $names; do
    if cmp -s "$a/build/release/$name" "$b/build/release/$name"; then
        echo "same bytes: $name"
    else
        fail "$name differs between the two builds"
        explain "$name"
    fi
done
(cd "$b/build/release" && sha256sum --quiet -c "$sums") || fail "the first build's SHA256SUMS does not verify the second's files"

# Neither the folders built in nor the Qt cache may show in anything shipped, in narrow
# or in UTF-16 strings. setup.exe is compressed: its files are the zip's.
content=$work/content
mkdir -p "$content"
for name in $names; do
    case $name in
    *.deb) dpkg-deb -x "$a/build/release/$name" "$content/deb" && dpkg-deb -e "$a/build/release/$name" "$content/deb-control" ;;
    *.zip) unzip -q "$a/build/release/$name" -d "$content/zip" ;;
    esac
done
cp "$a/build/release/"*-setup.exe "$a/build/release/"*.spdx.json "$content/"
leaks=$(find "$content" -type f -exec sh -c 'for f; do { strings -a "$f"; strings -a -e l "$f"; } | sed "s|^|$f: |"; done' sh {} + |
    grep -F -e "$a" -e "$b" -e "$checkout" -e "$cache")
if [ -n "$leaks" ]; then
    fail "build paths in shipped files:"
    head -n 20 <<<"$leaks" | sed "s|$content/||; s/^/    /"
else
    echo "no build path in $(find "$content" -type f | wc -l) shipped files"
fi

echo "SHA-256 of the two builds:"
sed 's/^/    /' "$sums"
echo "== reproducibility check: $(($(date +%s) - started)) s"
[ "$failures" -eq 0 ] && echo "Reproducible: the two builds are the same bytes"
[ "$failures" -eq 0 ]
