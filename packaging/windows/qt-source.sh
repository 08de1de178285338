#!/usr/bin/env bash
# qt-source.sh resolve DIR            prints the newest revision of Debian's qtbase source
# qt-source.sh fetch DIR REVISION     unpacks exactly that revision into DIR/qtbase-*
# Both go through a private apt set-up in DIR/apt, built from the machine's Debian
# entries only, so the machine's own apt configuration is never touched and no
# third-party repository can offer a source of that name.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 resolve DIR | fetch DIR REVISION" >&2
    exit 2
fi
mode=$1
dir=$2
apt_dir=$dir/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/sources"

# A Debian entry is signed with Debian's archive key or served from a debian.org host.
is_debian_uri() {
    case $1 in
    http://*.debian.org/* | https://*.debian.org/* | http://debian.org/* | https://debian.org/*) return 0 ;;
    esac
    return 1
}

# deb822 stanzas: the binary ones that are Debian's, turned into source entries.
: >"$apt_dir/sources/debian-src.sources"
for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    # One stanza per paragraph; awk hands each to the shell on a line of its own.
    awk -v RS= '{ gsub(/\n/, "\x1f"); print }' "$f" | while IFS= read -r stanza; do
        text=$(printf '%s' "$stanza" | tr '\037' '\n')
        grep -Eq '^Types:.*\<deb\>' <<<"$text" || continue
        uris=$(sed -n 's/^URIs:[[:space:]]*//p' <<<"$text")
        debian=0
        grep -Eq '^Signed-By:.*debian-archive-keyring' <<<"$text" && debian=1
        for u in $uris; do is_debian_uri "$u" && debian=1; done
        [ "$debian" -eq 1 ] || continue
        sed 's/^Types:.*/Types: deb-src/' <<<"$text" >>"$apt_dir/sources/debian-src.sources"
        echo >>"$apt_dir/sources/debian-src.sources"
    done
done
: >"$apt_dir/sources/debian-src.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -r "$f" ] || continue
    while read -r kind rest; do
        [ "$kind" = deb ] || continue
        uri=$(sed 's/^\[[^]]*\][[:space:]]*//' <<<"$rest" | awk '{ print $1 }')
        if is_debian_uri "$uri" || grep -q 'debian-archive-keyring' <<<"$rest"; then
            echo "deb-src $rest" >>"$apt_dir/sources/debian-src.list"
        fi
    done <"$f"
done
if [ ! -s "$apt_dir/sources/debian-src.sources" ] && [ ! -s "$apt_dir/sources/debian-src.list" ]; then
    echo "$0: this machine's apt configuration names no Debian archive" >&2
    exit 1
fi

aptopts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
    -o "Dir::State::Lists=$apt_dir/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
apt-get -q "${aptopts[@]}" update >&2

case $mode in
resolve)
    newest=
    for v in $(apt-cache "${aptopts[@]}" showsrc qtbase-opensource-src | sed -n 's/^Version: //p'); do
        if [ -z "$newest" ] || dpkg --compare-versions "$v" gt "$newest"; then newest=$v; fi
    done
    [ -n "$newest" ] || { echo "$0: no qtbase-opensource-src in the Debian archive" >&2; exit 1; }
    echo "$newest"
    ;;
fetch)
    [ $# -eq 3 ] || { echo "usage: $0 fetch DIR REVISION" >&2; exit 2; }
    (cd "$dir" && apt-get -q "${aptopts[@]}" source "qtbase-opensource-src=$3") >&2
    ;;
*)
    echo "usage: $0 resolve DIR | fetch DIR REVISION" >&2
    exit 2
    ;;
esac
