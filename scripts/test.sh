#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite three ways: a normal build,
# AddressSanitizer + UndefinedBehaviorSanitizer, and the engine and zapfer-cli
# under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
jobs=$(nproc)

run_suite() {
    local dir=$1
    shift
    echo "== $dir"
    "$root/scripts/build.sh" "$dir" -DZAPFER_WERROR=ON -DZAPFER_BENCH=OFF "$@"
    ctest --test-dir "$root/$dir" --output-on-failure -j "$jobs" --timeout 300
}

run_suite build-tsan -DZAPFER_GUI=OFF -DZAPFER_SANITIZE=thread
run_suite build-asan -DZAPFER_SANITIZE=address,undefined
run_suite build

# The Debian package: built without tests, then checked as a Debian system would.
"$root/scripts/check_package.sh"
