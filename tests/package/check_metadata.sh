#!/bin/sh
# Validates the desktop entry, the AppStream data and the manual pages, and
# checks that the simulator's page describes every option its --help prints.
# usage: check_metadata.sh DESKTOP METAINFO MANDIR DEVSIM IN_EMPTY_NETNS
set -eu
desktop=$1 metainfo=$2 mandir=$3 devsim=$4 netns=$5
status=0

desktop-file-validate "$desktop" || status=1
# appstreamcli 1.0 fails on its warning that there is no homepage, and the project has
# none: that one warning passes, by its tag; any other warning or error fails.
report=$(appstreamcli validate --no-net --format=yaml "$metainfo" 2>&1) && validated=1 || validated=0
printf '%s\n' "$report"
if [ $validated -eq 0 ]; then
    blocking=$(printf '%s\n' "$report" | awk '
        function issue() { if (severity == "error" || severity == "warning") print tag, severity }
        /^- / { issue(); tag = ""; severity = "" }
        /^(- |  )tag: / { tag = $NF }
        /^(- |  )severity: / { severity = $NF }
        END { issue() }')
    [ "$blocking" = "url-homepage-missing warning" ] || status=1
fi

for page in "$mandir"/*.1; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "$page: $warnings"
        status=1
    fi
done

# --help only prints, but the simulator never runs outside a namespace of its own.
help=$("$netns" "$devsim" --help)
options=$(printf '%s\n' "$help" | sed -n '/^Options:/,$ s/^  \(-[a-z], \)\{0,1\}--\([a-z-]*\).*/\2/p')
[ -n "$options" ] || { echo "no options found in varnitt-devsim --help"; exit 1; }
# The tag lines of the page's .TP items, where each option is described.
tags=$(awk 'previous == ".TP" { print } { previous = $0 }' "$mandir/varnitt-devsim.1")
for option in $options; do
    roff=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
    if ! printf '%s\n' "$tags" | grep -Eq "\\\\-\\\\-$roff( |\"|$)"; then
        echo "varnitt-devsim.1 does not describe --$option"
        status=1
    fi
done
[ $status -eq 0 ] && echo "desktop entry, AppStream data and manual pages pass; $(echo $options | wc -w) simulator options described"
exit $status
