#!/usr/bin/env bash
# Set-up, build and run Varnitt on Debian 12.
#   ./varnitt.sh start        install what is missing, build, start Varnitt
#   ./varnitt.sh test         install what is missing, build, run the whole test suite
#   ./varnitt.sh try [COUNT]  build, then start Varnitt in a private test network
#                             against COUNT simulated devices (default 25; needs root)
#   ./varnitt.sh package      install what is missing, build the Debian package into build/
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir="$here/build"
fuzz_seconds=${VARNITT_FUZZ_SECONDS:-30}
packages=(cmake make g++ qtbase5-dev qtbase5-dev-tools xvfb xauth python3 python3-xlib iproute2 util-linux procps fonts-dejavu-core)
# dpkg-shlibdeps (dpkg-dev) and file work out the package's Depends.
package_packages=(dpkg-dev file)
# Only the test suite's fuzzing needs clang and its libFuzzer runtime; its package
# checks need the validators, lintian and man.
test_packages=(clang libclang-rt-14-dev "${package_packages[@]}" lintian desktop-file-utils appstream man-db)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=() p
    for p in "${packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

# build DIR [CMAKE ARGS...]
build() {
    local dir=$1
    shift
    cmake -S "$here" -B "$dir" "$@"
    cmake --build "$dir" -j"$(nproc)"
}

run_tests() {
    (cd "$1" && ctest --output-on-failure -j2 --timeout 600)
}

need_display() {
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "varnitt: no display available (DISPLAY is not set); run this from a desktop session." >&2
        exit 1
    fi
}

case "${1:-}" in
start)
    install_missing
    build "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    need_display
    exec "$build_dir/bin/varnitt"
    ;;
test)
    install_missing "${test_packages[@]}"
    build "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    echo "== Test suite, normal build"
    run_tests "$build_dir"
    build "$here/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DVARNITT_SANITIZE=ON -DVARNITT_BUILD_BENCHMARKS=OFF
    echo "== Test suite, AddressSanitizer and UndefinedBehaviorSanitizer build"
    run_tests "$here/build-sanitize"
    echo "== Fuzzing, $fuzz_seconds s per target"
    "$here/fuzz/run.sh" all "$fuzz_seconds"
    # Reached only when every step above passed (set -e).
    total=0
    for dir in "$build_dir" "$here/build-sanitize"; do
        count=$(cd "$dir" && ctest -N | sed -n 's/^Total Tests: //p')
        total=$((total + count))
    done
    echo "Summary: $((total + 3)) passed, 0 failed"
    ;;
package)
    install_missing "${package_packages[@]}"
    # A build folder of its own, so the test build keeps its type and its tests.
    build "$here/build-package" -DCMAKE_BUILD_TYPE=Release -DVARNITT_BUILD_TESTS=OFF -DVARNITT_BUILD_BENCHMARKS=OFF
    rm -f "$here/build-package"/varnitt_*.deb
    (cd "$here/build-package" && cpack)
    deb=$(cd "$here/build-package" && echo varnitt_*.deb)
    mkdir -p "$build_dir"
    mv "$here/build-package/$deb" "$build_dir/$deb"
    echo "Package: $build_dir/$deb"
    ;;
try)
    count=${2:-25}
    if [ "$(id -u)" -ne 0 ]; then
        echo "varnitt: 'try' builds a private test network and needs root: run it with sudo." >&2
        exit 1
    fi
    install_missing
    build "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    need_display
    exec "$here/tests/netns/lan.sh" -- "$here/tools/try-it.sh" "$build_dir/bin" "$count"
    ;;
*)
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
