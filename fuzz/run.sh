#!/bin/bash
# Builds and runs a libFuzzer target for a given time.
#   fuzz/run.sh TARGET SECONDS [BUILD_DIR]
#   fuzz/run.sh all SECONDS [BUILD_DIR]
# TARGET is fuzz_datagram, fuzz_setip or fuzz_savedlist. BUILD_DIR defaults to build-fuzz/.
# New corpus entries go to BUILD_DIR/fuzz-corpus/TARGET (the seeds in fuzz/corpus stay
# untouched), crash inputs to BUILD_DIR/fuzz-artifacts/TARGET, the log to BUILD_DIR/fuzz-logs.
# Exits non-zero on any crash, leak, timeout or sanitizer report. fuzz_datagram is skipped
# (and says so) where no network namespace can be made.
set -u

fuzz_dir=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$fuzz_dir")
targets=(fuzz_datagram fuzz_setip fuzz_savedlist)

usage() {
    echo "usage: $0 fuzz_datagram|fuzz_setip|fuzz_savedlist|all SECONDS [BUILD_DIR]" >&2
    exit 2
}

[ $# -ge 2 ] && [ $# -le 3 ] || usage
target=$1
seconds=$2
build=${3:-$root/build-fuzz}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || usage
# The runs happen in a directory of their own, so the build path must not be relative.
mkdir -p "$build" && build=$(cd "$build" && pwd) || exit 1
if [ "$target" != all ] && [[ ! " ${targets[*]} " =~ " $target " ]]; then
    usage
fi

max_len_of() {
    case $1 in
    fuzz_datagram) echo 65507 ;; # the largest UDP payload over IPv4
    fuzz_setip) echo 256 ;;
    fuzz_savedlist) echo 16384 ;;
    esac
}

build_targets() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DVARNITT_FUZZ=ON \
            -DVARNITT_BUILD_TESTS=OFF -DVARNITT_BUILD_BENCHMARKS=OFF || return 1
    fi
    cmake --build "$build" -j"$(nproc)" --target "$@"
}

run_one() {
    local name=$1
    local binary=$build/bin/$name
    local corpus=$build/fuzz-corpus/$name
    local artifacts=$build/fuzz-artifacts/$name
    local log=$build/fuzz-logs/$name.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"

    local wrapper=()
    if [ "$name" = fuzz_datagram ]; then
        # The main window opens discovery sockets on every interface it sees.
        wrapper=("$root/tests/netns/in-empty-netns.sh")
        "${wrapper[@]}" true 2>/dev/null
        if [ $? -eq 77 ]; then
            echo "== $name skipped: no network namespace can be made here (needs root or user namespaces)"
            return 0
        fi
    fi

    # Files the targets write (the saved list's round trip) stay in a directory of this run;
    # tmpfs, because every save syncs the file to disk.
    local work
    work=$(mktemp -d /dev/shm/varnitt-fuzz.XXXXXX 2>/dev/null || mktemp -d)

    echo "== $name: ${seconds}s, log $log"
    (
        cd "$work" || exit 1
        export TMPDIR=$work
        export QT_QPA_PLATFORM=offscreen
        # Datagrams are decoded with the local encoding: make it the same on every host.
        export LC_ALL=C.UTF-8
        export ASAN_OPTIONS=detect_leaks=1
        # Full unwinding: Qt has no frame pointers, and the suppressions name a Qt frame.
        export LSAN_OPTIONS=suppressions=$fuzz_dir/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        exec "${wrapper[@]}" "$binary" \
            -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -max_len="$(max_len_of "$name")" -dict="$fuzz_dir/dict/$name.dict" \
            -artifact_prefix="$artifacts/" -print_final_stats=1 \
            "$corpus" "$fuzz_dir/corpus/$name"
    ) >"$log" 2>&1
    local status=$?
    rm -rf "$work"

    grep -E '^(Done [0-9]+ runs|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" | awk '!seen[$0]++'
    local report
    report=$(grep -nE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|==fuzz== |deadly signal|ALARM: working on the last Unit' "$log")
    if [ $status -ne 0 ] || [ -n "$report" ]; then
        echo "!! $name FAILED (exit status $status)"
        [ -n "$report" ] && echo "$report" | head -20
        echo "-- last lines of $log:"
        tail -n 60 "$log"
        grep -o 'Test unit written to .*' "$log" | sed 's/^/-- /'
        return 1
    fi
    echo "== $name passed"
}

if [ "$target" = all ]; then
    if ! build_targets "${targets[@]}"; then
        for name in "${targets[@]}"; do
            echo "!! $name FAILED (the fuzz build failed)"
        done
        exit 1
    fi
    failed=()
    for name in "${targets[@]}"; do
        run_one "$name" || failed+=("$name")
    done
    if [ ${#failed[@]} -ne 0 ]; then
        echo "failed: ${failed[*]}"
        exit 1
    fi
    exit 0
fi

build_targets "$target" || exit 1
run_one "$target"
