# Sourced by the Wine harness (POSIX sh). private_tmp PATH...: covers /tmp with a tmpfs of
# this mount namespace's own, so that what a run leaves there goes with it. A checkout or
# build that lies in the host's /tmp stays reachable: the folders of /tmp that hold one of
# the PATHs (a colon-separated list counts as several) are bound back at their own paths,
# and named in private_tmp_kept.
private_tmp() {
    keep=
    set -f
    for path in "$@"; do
        for path in $(printf '%s' "$path" | tr ':' ' '); do
            case $path in
            /tmp/?*)
                top=${path#/tmp/}
                top=${top%%/*}
                case " $keep " in *" $top "*) ;; *) keep="$keep $top" ;; esac
                ;;
            esac
        done
    done
    set +f
    private_tmp_kept=$keep
    # The host's /tmp, still reachable through this descriptor once the tmpfs covers it.
    exec 8</tmp
    if ! mount -t tmpfs -o mode=1777 tmpfs /tmp; then
        echo "$0: cannot mount a private /tmp" >&2
        return 1
    fi
    for top in $keep; do
        [ -e "/proc/self/fd/8/$top" ] || continue
        if [ -d "/proc/self/fd/8/$top" ]; then mkdir "/tmp/$top"; else : >"/tmp/$top"; fi
        # No canonical paths: the link through the descriptor must not resolve to /tmp/$top.
        if ! mount --no-canonicalize --bind "/proc/self/fd/8/$top" "/tmp/$top"; then
            echo "$0: cannot keep /tmp/$top reachable" >&2
            return 1
        fi
    done
    exec 8<&-
}
