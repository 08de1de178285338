#!/usr/bin/env bash
# make-installer.sh DEPLOYDIR VERSION ICON OUTFILE
# Builds the Windows installer from a tree made by deploy.sh. The install and
# uninstall file lists are both generated from DEPLOYDIR, so the uninstaller
# removes exactly what was installed and nothing the user added.
# With a signing key configured (sign.sh names the variables), the uninstaller and the
# installer are signed by sign.sh as makensis writes them.
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 DEPLOYDIR VERSION ICON OUTFILE" >&2
    exit 2
fi
die() { echo "make-installer.sh: $*" >&2; exit 1; }

here=$(cd "$(dirname "$0")" && pwd)
[ -d "$1" ] || die "no directory $1"
deploydir=$(cd "$1" && pwd -P)
version=$2
[ -f "$3" ] || die "no icon at $3"
icon=$(readlink -f "$3")
mkdir -p "$(dirname "$4")"
outfile=$(cd "$(dirname "$4")" && pwd -P)/$(basename "$4")
command -v makensis >/dev/null || die "makensis is missing (Debian package nsis)"

for program in varnitt.exe varnitt-cli.exe; do
    [ -f "$deploydir/$program" ] || die "$deploydir has no $program"
done
# The licence page shows the project's terms.
[ -f "$deploydir/licenses/Varnitt.txt" ] || die "$deploydir has no licenses/Varnitt.txt"
# These names belong to the installer and to the user, never to the deployed tree.
for reserved in devlist.json uninstall.exe varnitt.ico; do
    [ ! -e "$deploydir/$reserved" ] || die "$deploydir must not contain $reserved"
done

# The version resource wants four numbers; "1.2" or "1.2.0~rc1" gives 1.2.0.0.
numeric=$(grep -oE '^[0-9]+(\.[0-9]+){0,3}' <<<"$version") || die "version $version does not start with a number"
while [ "$(tr -cd . <<<"$numeric" | wc -c)" -lt 3 ]; do numeric=$numeric.0; done

gen=$(mktemp -d)
trap 'rm -rf "$gen"' EXIT

files=()
while IFS= read -r -d '' f; do files+=("${f#./}"); done < <(cd "$deploydir" && find . -type f -print0 | LC_ALL=C sort -z)
dirs=()
while IFS= read -r -d '' d; do dirs+=("${d#./}"); done < <(cd "$deploydir" && find . -mindepth 1 -type d -print0 | LC_ALL=C sort -rz)

# Kept plain so that nothing in a name can be read as an NSIS variable or define.
for f in "${files[@]}" "${dirs[@]}" "$deploydir" "$icon"; do
    case $f in *[\$\"\\\`]*|*$'\n'*) die "unsupported character in path: $f" ;; esac
done

{
    last=
    for f in "${files[@]}"; do
        dir=$(dirname "$f")
        if [ "$dir" != "$last" ]; then
            if [ "$dir" = . ]; then echo 'SetOutPath "$INSTDIR"'; else echo "SetOutPath \"\$INSTDIR\\${dir//\//\\}\""; fi
            last=$dir
        fi
        echo "File \"$deploydir/$f\""
    done
    echo 'SetOutPath "$INSTDIR"'
} >"$gen/install.nsh"

# Where this version's files go; those of an installed version, whatever they are, the
# installer finds in its folder as it runs.
for f in "${files[@]}"; do echo "!insertmacro IF_IN_USE \"\$2\\${f//\//\\}\""; done >"$gen/in-use.nsh"

{
    for f in "${files[@]}"; do echo "Delete \"\$INSTDIR\\${f//\//\\}\""; done
    # Deepest first; a directory the user put files into stays.
    for d in "${dirs[@]}"; do echo "RMDir \"\$INSTDIR\\${d//\//\\}\""; done
} >"$gen/uninstall.nsh"

size_kb=$(( ($(cd "$deploydir" && find . -type f -printf '%s\n' | awk '{s += $1} END {print s}') + $(stat -c %s "$icon") + 1023) / 1024 ))

sign=()
signing=$("$here/sign.sh" --enabled) || die "signing is configured wrongly"
[ "$signing" = off ] || sign=("-DSIGN=$here/sign.sh")

makensis -V2 -INPUTCHARSET UTF8 \
    "-DDEPLOYDIR=$deploydir" "-DVERSION=$version" "-DVI_VERSION=$numeric" \
    "-DICON=$icon" "-DOUTFILE=$outfile" "-DGENDIR=$gen" "-DESTIMATED_SIZE_KB=$size_kb" \
    "${sign[@]}" "$here/varnitt.nsi" >&2
echo "$outfile"
