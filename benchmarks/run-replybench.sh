#!/bin/sh
# Times the search reply path. The window it builds opens sockets on every usable
# interface, so it only ever runs in an empty network namespace.
# Usage: run-replybench.sh [PATH/TO/varnitt-replybench] [OPTIONS...]   (--help lists the options)
here=$(cd "$(dirname "$0")" && pwd)
bench="$here/../build/bin/varnitt-replybench"
case "${1-}" in
-* | "") ;;
*)
    bench=$1
    shift
    ;;
esac
if [ ! -x "$bench" ]; then
    echo "no benchmark program at $bench; build the varnitt-replybench target first" >&2
    exit 1
fi
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
exec "$here/../tests/netns/in-empty-netns.sh" "$bench" "$@"
