#!/usr/bin/env bash
# Set-up, build and run Varnitt on Debian 12 or 13.
#   ./varnitt.sh start        install what is missing, build, start Varnitt
#   ./varnitt.sh test         install what is missing, build, run the whole test suite
#   ./varnitt.sh try [COUNT]  build, then start Varnitt in a private test network
#                             against COUNT simulated devices (default 25)
#   ./varnitt.sh package      install what is missing, build the Debian package into build/
#   ./varnitt.sh windows      install what is missing, build Qt for Windows (once, cached),
#                             build and test the Windows program under Wine, leave its
#                             zip and installer in build/, and check that two clones of
#                             this commit build the same bytes
#   ./varnitt.sh release      build the Debian package, the Windows zip and installer from
#                             scratch into build/release/, with SHA256SUMS over the three
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir="$here/build"
fuzz_seconds=${VARNITT_FUZZ_SECONDS:-30}
# The package names below are those of Debian 12 and 13; elsewhere they may not exist.
case "${1:-}" in
start | test | package | windows | release | try)
    os=$( (. /etc/os-release &&
        echo "${ID:-}:${VERSION_ID:-}:${PRETTY_NAME:-${ID:-} ${VERSION_ID:-}}") 2>/dev/null || true)
    case $os in
    debian:12:* | debian:13:*) ;;
    *)
        os=${os##*:}
        echo "varnitt: set-up supports Debian 12 and Debian 13 only; this system is ${os:-unknown}." >&2
        exit 1
        ;;
    esac
    ;;
esac
packages=(cmake make g++ qtbase5-dev qtbase5-dev-tools xvfb xauth python3 python3-xlib iproute2 util-linux procps fonts-dejavu-core)
# dpkg-shlibdeps (dpkg-dev) and file work out the package's Depends.
package_packages=(dpkg-dev file)
# The scale check reads the window's texts off a screenshot with tesseract.
ocr_packages=(tesseract-ocr tesseract-ocr-eng)
# Only the test suite's fuzzing needs clang and its libFuzzer runtime (libclang-rt-dev
# pulls the one of the default clang, 14 on Debian 12, 19 on 13); its package checks
# need the validators, lintian and man.
test_packages=(clang libclang-rt-dev "${package_packages[@]}" lintian desktop-file-utils appstream man-db
    "${ocr_packages[@]}")
# The Windows build: the cross compiler, Qt's source and what building it takes, Wine to
# test under, the packers, osslsigncode to sign (with a certificate) and to check
# signatures, and openssl for the signing check's throw-away certificates.
windows_packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 dpkg-dev xz-utils perl
    wine wine64 fonts-wine nsis zip unzip osslsigncode openssl "${ocr_packages[@]}"
    # Signing with a hardware key goes through OpenSSL's PKCS#11 engine; its check makes
    # a software token (SoftHSM) and its key with pkcs11-tool (OpenSC).
    libengine-pkcs11-openssl softhsm2 opensc
    # Qt's source is checked against Debian's archive keyring; the bill of materials' check
    # parses its licence expressions with Debian's SPDX parser, a Node.js module.
    debian-archive-keyring nodejs node-spdx-expression-parse
    # The Chinese Windows run compiles a zh_CN locale from its sources.
    locales
    # The release takes the commit's time from git; the reproducibility check clones with it.
    git)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Archives, installers and embedded resources carry this time instead of the build's, so
# every build of a commit gives the same bytes: the commit's time, or outside a git
# checkout the date of the latest changelog entry.
source_date_epoch() {
    if [ "$(git -C "$here" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$here" && pwd -P)" ]; then
        git -C "$here" log -1 --format=%ct
    else
        date -d "$(sed -n 's/^ -- .*>  //p' "$here/packaging/changelog" | head -n 1)" +%s
    fi
}
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(source_date_epoch)}
export SOURCE_DATE_EPOCH

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

passed=0
failed=0
skipped=0

# count_result NAME passed|failed|skipped: a result of a step outside CTest.
count_result() {
    case $2 in
    passed) passed=$((passed + 1)) ;;
    skipped)
        # Only where no namespaces can be made may a network step skip.
        if "$here/tests/sandbox.sh" probe; then
            echo "!! $1 was skipped although namespaces work here: counted as failed"
            failed=$((failed + 1))
        else
            skipped=$((skipped + 1))
        fi
        ;;
    *) failed=$((failed + 1)) ;;
    esac
}

# test_stage DIR LABEL [CMAKE ARGS...]: builds and runs the suite; CTest's JUnit report counts.
test_stage() {
    local dir=$1 label=$2 rc p f s
    shift 2
    if ! build "$dir" "$@"; then
        echo "!! the $label build failed: counted as one failure"
        failed=$((failed + 1))
        return
    fi
    echo "== Test suite, $label"
    rm -f "$dir/junit.xml"
    (cd "$dir" && ctest --output-on-failure -j2 --timeout 600 --output-junit "$dir/junit.xml")
    rc=$?
    read -r p f s <<<"$("$here/tests/junit-summary.py" "$dir/junit.xml")"
    if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
        echo "!! ctest exited with status $rc, its report naming no failed test: counted as one failure"
        f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
    skipped=$((skipped + s))
}

# fuzz_stage SECONDS: each target counts once, from fuzz/run.sh's "== NAME passed" lines.
fuzz_stage() {
    local log line
    echo "== Fuzzing, $1 s per target"
    log=$(mktemp)
    "$here/fuzz/run.sh" all "$1" | tee "$log"
    while IFS= read -r line; do
        case $line in
        "== fuzz_"*" passed") count_result "${line#== }" passed ;;
        "== fuzz_"*" skipped"*) count_result "${line#== }" skipped ;;
        "!! fuzz_"*" FAILED"*) count_result "${line#!! }" failed ;;
        esac
    done <"$log"
    rm -f "$log"
}

# stage NAME COMMAND...: runs one step of a longer job and says on stderr how long it took.
stage() {
    local name=$1 start rc
    shift
    start=$(date +%s)
    "$@"
    rc=$?
    echo "== $name: $(($(date +%s) - start)) s$([ "$rc" -eq 0 ] || echo ", FAILED")" >&2
    return "$rc"
}

# counted_stage NAME COMMAND...: a stage that counts once in the summary, passed or failed.
counted_stage() {
    if stage "$@"; then
        count_result "$1" passed
    else
        count_result "$1" failed
        return 1
    fi
}

project_version() {
    sed -n 's/^project(Varnitt VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt"
}

# make_deb BUILD_DIR OUT_DIR: the Debian package, built in BUILD_DIR, moved into OUT_DIR.
make_deb() {
    local dir=$1 out=$2 deb
    build "$dir" -DCMAKE_BUILD_TYPE=Release -DVARNITT_BUILD_TESTS=OFF -DVARNITT_BUILD_BENCHMARKS=OFF || return 1
    rm -f "$dir"/varnitt_*.deb
    # The package's folders and ar members take their modes from the umask.
    (cd "$dir" && umask 022 && cpack) || return 1
    deb=$(cd "$dir" && echo varnitt_*.deb)
    mkdir -p "$out"
    mv "$dir/$deb" "$out/$deb"
    echo "Package: $out/$deb"
}

# windows_artefacts QT_PREFIX VERSION BUILD_DIR OUT_DIR: from BUILD_DIR's two programs the
# deployed folder (in BUILD_DIR/deploy), and its zip, bill of materials and the installer in
# OUT_DIR. With a key (packaging/windows/sign.sh) every program and DLL of the folder,
# plugins included, the uninstaller and the installer are signed.
windows_artefacts() {
    local qt_prefix=$1 version=$2 win_build=$3 out=$4 name deploy folder signing
    name=varnitt-$version-windows-x64
    deploy=$win_build/deploy
    folder=$deploy/$name
    signing=$("$here/packaging/windows/sign.sh" --enabled) || return 1
    echo "Signing: $signing"
    # deploy.sh fills only a folder that is new.
    rm -rf "$deploy"
    mkdir -p "$deploy" "$out"
    "$here/packaging/windows/deploy.sh" "$qt_prefix" "$win_build/bin/varnitt.exe" \
        "$win_build/bin/varnitt-cli.exe" "$folder" >"$deploy/origins.tsv" || return 1
    if [ "$signing" = on ]; then
        "$here/packaging/windows/sign.sh" "$folder" || return 1
    fi
    rm -f "$out/$name.zip" "$out/$name.spdx.json" "$out/varnitt-$version-setup.exe"
    # The same bytes from every build of the commit: sorted names, no extra fields, modes
    # that do not depend on the umask, and the commit's time, in UTC since zip stores local time.
    chmod -R u=rwX,go=rX "$folder"
    find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    (cd "$deploy" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -@ "$out/$name.zip") || return 1
    "$here/packaging/windows/sbom.py" "$folder" "$deploy/origins.tsv" "$qt_prefix" "$version" \
        >"$out/$name.spdx.json" || return 1
    "$here/packaging/windows/make-installer.sh" "$folder" "$version" \
        "$here/packaging/windows/varnitt.ico" "$out/varnitt-$version-setup.exe" || return 1
    ls -l "$out/$name.zip" "$out/$name.spdx.json" "$out/varnitt-$version-setup.exe"
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
    # Every stage runs even when one fails; the last line tells what happened.
    set +e
    test_stage "$build_dir" "normal build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    test_stage "$here/build-sanitize" "AddressSanitizer and UndefinedBehaviorSanitizer build" \
        -DCMAKE_BUILD_TYPE=Debug -DVARNITT_SANITIZE=ON -DVARNITT_BUILD_BENCHMARKS=OFF
    fuzz_stage "$fuzz_seconds"
    echo "Summary: $passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
    ;;
package)
    install_missing "${package_packages[@]}"
    # A build folder of its own, so the test build keeps its type and its tests.
    make_deb "$here/build-package" "$build_dir"
    ;;
windows)
    install_missing "${windows_packages[@]}"
    started=$(date +%s)
    version=$(project_version)
    set +e
    # The Windows LAN tests drive the Linux simulator.
    stage "Linux build (simulator)" build "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    qt_prefix=$(stage "Qt for Windows" "$here/packaging/windows/build-qt.sh" | tail -n 1)
    if [ ! -f "$qt_prefix/.complete" ]; then
        echo "!! Qt for Windows could not be built"
        count_result "Qt for Windows" failed
    else
        stage "Windows build and tests" test_stage "$here/build-windows" "Windows build under Wine" \
            -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$qt_prefix" \
            -DCMAKE_BUILD_TYPE=Release -DVARNITT_LINUX_DEVSIM="$build_dir/bin/varnitt-devsim"
        # The checks below start Wine from the prefix the suite made, not a fresh one each.
        export VARNITT_WINE_PREFIX=$here/build-windows/tests/wine-prefix
        if stage "zip and installer" windows_artefacts "$qt_prefix" "$version" "$here/build-windows" "$build_dir"; then
            deployed=$here/build-windows/deploy/varnitt-$version-windows-x64
            counted_stage "installer under Wine" "$here/tests/windows/check_installer.sh" \
                "$build_dir/varnitt-$version-setup.exe" "$version" "$deployed"
            counted_stage "signing" "$here/tests/windows/check_signing.sh" "$deployed" "$version"
            counted_stage "bill of materials" "$here/tests/windows/check_sbom.py" \
                "$build_dir/varnitt-$version-windows-x64.zip" "$build_dir/varnitt-$version-windows-x64.spdx.json"
        else
            count_result "zip and installer" failed
        fi
        counted_stage "reproducible build" "$here/tests/check_reproducible.sh"
    fi
    echo "== windows: $(($(date +%s) - started)) s in all"
    echo "Summary: $passed passed, $failed failed, $skipped skipped"
    [ "$failed" -eq 0 ]
    ;;
release)
    install_missing "${package_packages[@]}" "${windows_packages[@]}"
    version=$(project_version)
    release_dir=$build_dir/release
    work=$here/build-release
    commit=$(git -C "$here" rev-parse HEAD 2>/dev/null || echo "no git checkout")
    if [ -n "$(git -C "$here" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
        echo "!! uncommitted changes: this release cannot be rebuilt from commit $commit" >&2
    fi
    # Fresh build folders: nothing of an earlier build (a resource compiled under another
    # commit's time, say) reaches a release.
    rm -rf "$work" "$release_dir"
    make_deb "$work/linux" "$release_dir"
    # A release is built from the Qt source its commit pins; only the reproducibility check
    # may take the newest revision when the pinned one has left Debian's archive.
    qt_prefix=$(VARNITT_QT_REQUIRE_PIN=${VARNITT_QT_REQUIRE_PIN:-1} "$here/packaging/windows/build-qt.sh" | tail -n 1)
    [ -f "$qt_prefix/.complete" ] || { echo "varnitt: Qt for Windows could not be built" >&2; exit 1; }
    build "$work/windows" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_PREFIX_PATH="$qt_prefix" -DCMAKE_BUILD_TYPE=Release -DVARNITT_BUILD_TESTS=OFF
    windows_artefacts "$qt_prefix" "$version" "$work/windows" "$release_dir"
    (cd "$release_dir" && sha256sum -- varnitt_*.deb "varnitt-$version-windows-x64.zip" \
        "varnitt-$version-windows-x64.spdx.json" "varnitt-$version-setup.exe" >SHA256SUMS)
    echo "Release $version of $commit (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH," \
        "qtbase-opensource-src $(cat "$qt_prefix/qtbase-revision")) in $release_dir:"
    cat "$release_dir/SHA256SUMS"
    ;;
try)
    count=${2:-25}
    install_missing
    build "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    need_display
    exec "$here/tests/sandbox.sh" lan -- "$here/tools/try-it.sh" "$build_dir/bin" "$count"
    ;;
*)
    sed -n '2,/^set -euo/ s/^# \{0,1\}//p' "$0"
    exit 2
    ;;
esac
