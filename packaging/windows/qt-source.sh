#!/usr/bin/env bash
# qt-source.sh versions DIR           prints the revisions of the pinned source that Debian
#                                     offers now, newest first
# qt-source.sh fetch DIR REVISION DEST
#                                     unpacks exactly that revision into DEST/qtbase-*; the
#                                     pinned revision must match the pin's .dsc checksum
# qt-source.sh pin                    moves the pin (qtbase.pin beside this script) to the
#                                     newest revision Debian offers
# The source comes from the pin's Debian release and its security suite, whatever release
# this machine runs, through a private apt set-up (in DIR/apt, or a temporary folder for
# pin) that takes only the mirrors of the machine's Debian entries and checks what it
# reads against Debian's archive keyring. The machine's own apt configuration is never
# touched, and no third-party repository can offer a source of that name.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pin=$here/qtbase.pin
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

usage() {
    echo "usage: $0 versions DIR | fetch DIR REVISION DEST | pin" >&2
    exit 2
}
die() { echo "qt-source.sh: $*" >&2; exit 1; }
pin_value() { sed -n "s/^$1:[[:space:]]*//p" "$pin"; }

[ $# -ge 1 ] || usage
mode=$1
case $mode in
versions) [ $# -eq 2 ] || usage; state=$2 ;;
fetch) [ $# -eq 4 ] || usage; state=$2 ;;
pin)
    [ $# -eq 1 ] || usage
    state=$(mktemp -d)
    trap 'rm -rf "$state"' EXIT
    ;;
*) usage ;;
esac
release=$(pin_value Release)
package=$(pin_value Source)
[ -n "$release" ] && [ -n "$package" ] || die "$pin names no Release or Source"
[ -f "$keyring" ] || die "$keyring is missing (debian-archive-keyring)"

# A Debian entry is signed with Debian's archive key or served from a debian.org host.
is_debian_uri() {
    case $1 in
    http://*.debian.org/* | https://*.debian.org/* | http://debian.org/* | https://debian.org/*) return 0 ;;
    esac
    return 1
}

# "URI SUITE" for each Debian entry of the machine, deb822 and one-line styles alike.
debian_entries() {
    local f stanza text uris suites debian u s
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        # One stanza per paragraph; awk hands each to the shell on a line of its own.
        awk -v RS= '{ gsub(/\n/, "\x1f"); print }' "$f" | while IFS= read -r stanza; do
            text=$(printf '%s' "$stanza" | tr '\037' '\n')
            grep -Eq '^Types:(.*[[:space:]])?deb([[:space:]]|$)' <<<"$text" || continue
            ! grep -Eiq '^Enabled:[[:space:]]*no' <<<"$text" || continue
            uris=$(sed -n 's/^URIs:[[:space:]]*//p' <<<"$text")
            suites=$(sed -n 's/^Suites:[[:space:]]*//p' <<<"$text")
            debian=0
            grep -Eq '^Signed-By:.*debian-archive-keyring' <<<"$text" && debian=1
            for u in $uris; do is_debian_uri "$u" && debian=1; done
            [ "$debian" -eq 1 ] || continue
            for u in $uris; do for s in $suites; do echo "$u $s"; done; done
        done
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -r "$f" ] || continue
        while read -r kind rest; do
            [ "$kind" = deb ] || continue
            read -r u s _ <<<"$(sed 's/^\[[^]]*\][[:space:]]*//' <<<"$rest")"
            if is_debian_uri "$u" || grep -q 'debian-archive-keyring' <<<"$rest"; then echo "$u $s"; fi
        done <"$f"
    done
}

# The machine's mirrors, each serving the pinned release or its security suite: a mirror
# of the archive serves every release, so only which of the two it is matters.
apt_dir=$state/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/sources"
main_uris=$(debian_entries | awk '$2 !~ /-security$/ { print $1 }' | sort -u | tr '\n' ' ')
security_uris=$(debian_entries | awk '$2 ~ /-security$/ { print $1 }' | sort -u | tr '\n' ' ')
[ -n "$main_uris" ] || die "this machine's apt configuration names no Debian archive"
[ -n "$security_uris" ] || die "this machine's apt configuration names no Debian security archive"
cat >"$apt_dir/sources/qtbase.sources" <<EOF
Types: deb-src
URIs: $main_uris
Suites: $release
Components: main
Signed-By: $keyring

Types: deb-src
URIs: $security_uris
Suites: $release-security
Components: main
Signed-By: $keyring
EOF
aptopts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
    -o "Dir::State::Lists=$apt_dir/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
apt-get -q "${aptopts[@]}" update >&2

# "VERSION DSC-SHA256" of every revision on offer, newest first.
offered() {
    apt-cache "${aptopts[@]}" showsrc "$package" | awk -v pkg="$package" '
        /^Package:/ { p = $2 } /^Version:/ { v = $2 } /^[A-Z]/ { sums = 0 } /^Checksums-Sha256:/ { sums = 1; next }
        sums && p == pkg && $3 ~ /\.dsc$/ { print v, $1 }' | sort -u | newest_first
}
# Sorts "VERSION ..." lines in Debian's order of versions, newest first.
newest_first() {
    local -a items
    local i j t
    mapfile -t items
    for ((i = 0; i < ${#items[@]}; i++)); do
        for ((j = i + 1; j < ${#items[@]}; j++)); do
            if dpkg --compare-versions "${items[j]%% *}" gt "${items[i]%% *}"; then
                t=${items[i]} items[i]=${items[j]} items[j]=$t
            fi
        done
    done
    [ ${#items[@]} -eq 0 ] || printf '%s\n' "${items[@]}"
}

case $mode in
versions)
    offered | awk '{ print $1 }'
    ;;
fetch)
    revision=$3
    rm -rf "$state/download"
    mkdir -p "$state/download"
    (cd "$state/download" && apt-get -q "${aptopts[@]}" source --download-only "$package=$revision") >&2
    dsc=$state/download/${package}_${revision#*:}.dsc
    [ -f "$dsc" ] || die "apt-get did not fetch $package $revision"
    if [ "$revision" = "$(pin_value Version)" ]; then
        [ "$(sha256sum <"$dsc" | cut -d' ' -f1)" = "$(pin_value Dsc-SHA256)" ] ||
            die "the .dsc of $package $revision does not have the SHA-256 that $pin names"
    fi
    # apt checked every file against the signed index; the .dsc's own signature needs a
    # keyring of Debian's developers, which this check does not rely on.
    (cd "$4" && dpkg-source -x "$dsc") >&2
    rm -rf "$state/download"
    ;;
pin)
    read -r version sum < <(offered | head -n 1) || true
    [ -n "${version-}" ] || die "Debian offers no $package in $release"
    {
        sed -n '/^#/p' "$pin"
        echo "Release: $release"
        echo "Source: $package"
        echo "Version: $version"
        echo "Dsc-SHA256: $sum"
    } >"$pin.new"
    mv "$pin.new" "$pin"
    echo "$pin: $package $version"
    ;;
esac
