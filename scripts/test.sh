#!/usr/bin/env bash
# Sets up, checks the includes between folders, then builds and runs the
# whole test suite three ways (the presets of CMakePresets.json): the
# engine and zapfer-cli under ThreadSanitizer, everything under
# AddressSanitizer + UndefinedBehaviorSanitizer, and a normal build.
# Warnings are errors here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/check_includes.sh"

export CCACHE_DIR=${CCACHE_DIR:-$root/.ccache}
# The large test programs use precompiled headers, which the cache takes only
# with these.
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
jobs=$(nproc)

run_suite() {
    local preset=$1
    echo "== $preset"
    # Line tables only (-g1): stack traces keep their files and lines, and
    # the three builds take about a quarter less time than with full -g.
    (cd "$root" && cmake --preset "$preset" -DZAPFER_WERROR=ON -DZAPFER_BENCH=OFF \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null)
    (cd "$root" && cmake --build --preset "$preset" -j "$jobs")
    (cd "$root" && ctest --preset "$preset" -j "$jobs")
}

run_suite tsan
run_suite asan
run_suite default

# The Debian package, made from the normal build above (whose programs carry
# no test hooks), checked as a Debian system would. scripts/package.sh alone
# builds the release package with Debian's own flags.
"$root/scripts/check_package.sh" --from build
