#!/usr/bin/env bash
# README's test command, run as a new user runs it (as root, on a clean clone of HEAD), in
# a fresh Debian 13 root; then, in that root, the package built here on Debian 12 is
# installed with apt and started on Xvfb in an empty network namespace, and the Wine tests
# of the Windows build made here (build-windows, by ./varnitt.sh windows) run with Debian
# 13's Wine. Needs root. Ends with a Summary line: the suite's results, one for the
# package and the Windows build's.
# usage: tests/debian13/run.sh [DEB]    (without DEB: ./varnitt.sh package builds it, in a
#                                        clone of HEAD of the stage's own)
#
# The base root is kept in ~/.cache/varnitt/debian13/base/ with its key, and made again
# when its package lists are a week old or this script, varnitt.sh's package lists or the
# mirror change. It already holds the packages of the suite and Wine, so that a run does
# not spend minutes installing them: the test command's own install step runs and finds
# nothing missing.
# A run works on an overlay over the base whose upper layer is a tmpfs; that and every
# other mount live in a mount and PID namespace of the run's own, so the kernel drops
# them however the run ends, SIGKILL included.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
self=$here/tests/debian13/run.sh
cache=${XDG_CACHE_HOME:-$HOME/.cache}/varnitt/debian13

if [ "${1-}" != --inside ]; then
    started=$(date +%s)
    if [ "$(id -u)" -ne 0 ]; then
        echo "run.sh: the Debian 13 stage needs root (debootstrap, chroot, mounts)" >&2
        exit 1
    fi
    if ! command -v debootstrap >/dev/null; then
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap ||
            exit 1
    fi
    deb=${1-}
    [ -n "$deb" ] && deb=$(realpath "$deb")
    mkdir -p "$cache/mnt"
    # shellcheck source=../harness.sh
    . "$here/tests/harness.sh"
    run_isolated unshare --mount --pid --fork --kill-child -- bash "$self" --inside "$deb" "$started"
fi

# From here on: PID 1 of the run's namespaces. A TERM ends everything at once.
deb=$2 started=$3
trap 'kill -KILL -1 2>/dev/null; exit 143' TERM INT
work=$cache/mnt
log=$work/log

# logged COMMAND...: shows COMMAND's output and keeps it in $log; in the background, so
# that a TERM is handled while it runs. Only this script's own Summary line is one.
logged() {
    rm -f "$log.rc"
    { "$@" 2>&1; echo $? >"$log.rc"; } | tee "$log" | sed -u 's/^Summary: /Debian 13 suite: /' &
    wait $!
    return "$(cat "$log.rc" 2>/dev/null || echo 1)"
}

# in_root ROOT COMMAND...: COMMAND chrooted into ROOT, which is made a mount point, with
# /proc, /sys, /dev, /run and /tmp of its own, in a mount namespace that ends with it.
in_root() {
    unshare --mount -- sh -c '
        r=$1
        shift
        mount --rbind "$r" "$r" && mount -t proc proc "$r/proc" && mount -t sysfs sysfs "$r/sys" &&
            mount --rbind /dev "$r/dev" && mount -t tmpfs run "$r/run" &&
            mount -t tmpfs -o mode=1777 tmp "$r/tmp" || exit 1
        exec chroot "$r" env -i HOME=/root TERM=dumb DEBIAN_FRONTEND=noninteractive \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"' sh "$@"
}

# The host's Debian mirrors, from its apt sources.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
targets=$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' 2>/dev/null | sort -u)
mirror=$(awk -v r="$codename" '$1 == r { print $2; exit }' <<<"$targets")
security=$(awk -v r="$codename-security" '$1 == r { print $2; exit }' <<<"$targets")
# The suite's package lists as varnitt.sh has them; evaluated inside the root.
arrays=$(sed -n '/^packages=(/,/^as_root() {/p' "$here/varnitt.sh" | sed '$d')
# What the Wine tests of the Windows build need beyond the suite's packages.
wine_packages=(wine wine64 fonts-wine)
key=$({ cat "$self"; echo "$arrays"; echo "$mirror $security"; } | sha256sum | cut -c1-16)

# The base is a folder holding the root and its key, renamed into place once complete:
# a kill at any point leaves either the old base whole, no base, or leftovers that the
# next build removes, never a key over a partial root.
make_base() {
    local new=$work/base packages
    rm -rf "$cache/base.new" "$cache/base.old" "$cache/base.key"
    debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        trixie "$new" "$mirror" || return 1
    printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
        "$mirror" trixie "$security" trixie-security >"$new/etc/apt/sources.list"
    cp /etc/resolv.conf "$new/etc/resolv.conf"
    packages=$(in_root "$new" bash -c "$arrays"'
        echo "${packages[@]}" "${test_packages[@]}"') || return 1
    packages="$packages ${wine_packages[*]}"
    echo "Installing into the base: $packages"
    # shellcheck disable=SC2086 # one package a word
    in_root "$new" sh -c 'apt-get update && apt-get install -y --no-install-recommends "$@" &&
        apt-get clean' sh $packages || return 1
    # Built on the tmpfs, then copied; the key goes in last.
    mkdir "$cache/base.new" && cp -a "$new" "$cache/base.new/root" && rm -rf "$new" &&
        echo "$key" >"$cache/base.new/key" || return 1
    if [ -e "$cache/base" ]; then mv "$cache/base" "$cache/base.old" || return 1; fi
    mv "$cache/base.new" "$cache/base" && rm -rf "$cache/base.old"
}

passed=0 failed=0 skipped=0
count() {
    case $1 in
    passed) passed=$((passed + 1)) ;;
    *) failed=$((failed + 1)) ;;
    esac
}
finish() {
    echo "== Debian 13: $(($(date +%s) - started)) s in all"
    echo "Summary: $passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
    exit
}

if [ -z "$mirror" ] || [ -z "$security" ]; then
    echo "!! this machine's apt sources name no Debian mirror and security mirror for $codename"
    count failed
    finish
fi
if ! mount -t tmpfs -o size=16g,mode=0700 varnitt-debian13 "$work"; then
    echo "!! no tmpfs for the Debian 13 root"
    count failed
    finish
fi
if [ -z "$deb" ]; then
    step=$(date +%s)
    # In a clone of HEAD of the stage's own: nothing is built as root in the checkout.
    if git clone -q "$here" "$work/package" && logged "$work/package/varnitt.sh" package; then
        deb=$(sed -n 's/^Package: //p' "$log" | tail -n 1)
        rm -rf "$work/package/build-package"
    fi
    echo "== Debian 12 package: $(($(date +%s) - step)) s"
fi
exec 9>"$cache/lock"
flock 9
step=$(date +%s)
if [ "$(cat "$cache/base/key" 2>/dev/null)" != "$key" ] || [ -n "$(find "$cache/base/key" -mtime +6 2>/dev/null)" ]; then
    echo "== Making the Debian 13 base root from $mirror and $security"
    make_base &
    if ! wait $!; then
        echo "!! the Debian 13 base root could not be made: the suite, the package and the Windows" \
            "tests count as failed"
        count failed
        count failed
        count failed
        finish
    fi
fi
# Other runs may share the base, but not replace it while this one uses it.
flock -s 9
echo "== Debian 13 base root: $(($(date +%s) - step)) s"

root=$work/root
mkdir -p "$work/upper" "$work/overlay" "$root"
mount -t overlay -o "lowerdir=$cache/base/root,upperdir=$work/upper,workdir=$work/overlay" varnitt-root "$root" &&
    git clone -q "$here" "$root/root/varnitt" &&
    git -C "$root/root/varnitt" log -1 --format='== Debian 13: testing %h %s' || {
    echo "!! could not set up the Debian 13 root"
    count failed
    count failed
    count failed
    finish
}

step=$(date +%s)
logged in_root "$root" sh -c 'cd /root/varnitt && ./varnitt.sh test'
echo "== Debian 13 suite: $(($(date +%s) - step)) s"
summary=$(sed -n 's/^Summary: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped$/\1 \2 \3/p' "$log" | tail -n 1)
if [ -z "$summary" ]; then
    echo "!! ./varnitt.sh test on Debian 13 printed no Summary line: counted as failed"
    summary="0 1 0"
fi
read -r p f s <<<"$summary"
passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))

step=$(date +%s)
if [ -f "$deb" ] && cp "$deb" "$root/root/" && logged in_root "$root" sh -c '
        cd /root && apt-get install -y ./varnitt_*.deb && varnitt=$(command -v varnitt) &&
        python3 varnitt/tests/smoke/start_and_close.py "$varnitt" varnitt/tests/netns/in-empty-netns.sh'; then
    count passed
else
    echo "!! the Debian 12 package ${deb:-(none built)} did not install and start on Debian 13"
    count failed
fi
echo "== Debian 13 package install and start: $(($(date +%s) - step)) s"

# The Windows build's CTest files name the checkout, Qt, the MinGW runtime and the Linux
# simulator by their absolute paths: the root gets them at the same paths, the checkout
# with its writes (the Wine prefix, CTest's records) kept on the tmpfs, the rest read-only.
windows=$here/build-windows
mount_windows_build() {
    local qt devsim dlls dir done_dir dirs=() bound=("$here")
    [ -f "$windows/CTestTestfile.cmake" ] || {
        echo "!! no Windows build in $windows (./varnitt.sh windows makes it)"
        return 1
    }
    qt=$(sed -n 's/^CMAKE_PREFIX_PATH:[A-Z]*=//p' "$windows/CMakeCache.txt")
    devsim=$(sed -n 's/^VARNITT_LINUX_DEVSIM:[A-Z]*=//p' "$windows/CMakeCache.txt")
    dlls=$(sed -n 's/.*VARNITT_WINE_DLL_DIRS=\([^;"]*\).*/\1/p' "$windows/tests/CTestTestfile.cmake" | head -n 1)
    IFS=: read -r -a dirs <<<"$dlls"
    mkdir -p "$work/checkout-upper" "$work/checkout-work" "$root$here" &&
        mount -t overlay -o "lowerdir=$here,upperdir=$work/checkout-upper,workdir=$work/checkout-work" \
            varnitt-checkout "$root$here" || return 1
    for dir in "$qt" "${dirs[@]}" "$(dirname "$devsim")"; do
        dir=$(realpath -m "$dir")
        for done_dir in "${bound[@]}"; do
            case $dir/ in "$done_dir"/*) continue 2 ;; esac
        done
        mkdir -p "$root$dir" && mount --bind -o ro "$dir" "$root$dir" || return 1
        bound+=("$dir")
    done
}
# What reads the files with the build machine's MinGW tools stays with the Debian 12 half:
# the resource checks, and the scale check, which deploys the program first.
step=$(date +%s)
if mount_windows_build && logged in_root "$root" sh -c 'cd "$1" && rm -f junit-debian13.xml &&
        ctest --output-on-failure -j2 --timeout 600 --output-junit "$1/junit-debian13.xml" \
            -E "^(windows_manifest|windows_files|scale_check)$"' sh "$windows"; then
    rc=0
else
    rc=$?
fi
if [ -f "$windows/CTestTestfile.cmake" ]; then
    read -r p f s <<<"$("$here/tests/junit-summary.py" "$root$windows/junit-debian13.xml")"
    if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
        echo "!! the Windows tests on Debian 13 ended with status $rc, their report naming no failed test:" \
            "counted as one failure"
        f=1
    fi
    passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
else
    count failed
fi
echo "== Debian 13 Windows tests under Wine: $(($(date +%s) - step)) s"
finish
