#!/usr/bin/env bash
# fuzz.sh TARGET [SECONDS] [extra libFuzzer options...]
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs TARGET (command_reader,
# file_table, socket_responder, serial_responder, receive_session or
# paired_handshake) for SECONDS (default
# 600). The working corpus starts from tests/fuzz/corpus/TARGET; crashing or
# hanging inputs land
# in build-fuzz/artifacts/TARGET: copy each into tests/fuzz/corpus/TARGET once
# it is fixed, so the normal test run replays it.
set -euo pipefail
target=${1:?usage: fuzz.sh TARGET [SECONDS] [libFuzzer options...]}
seconds=${2:-600}
shift $(( $# >= 2 ? 2 : 1 ))
root=${ZAPFER_SOURCE:-$(cd "$(dirname "$0")/.." && pwd)}
build=${ZAPFER_FUZZ_BUILD:-$(cd "$(dirname "$0")/.." && pwd)/build-fuzz}

need=()
command -v clang++-14 >/dev/null || need+=(clang-14)
ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
    need+=(libclang-rt-14-dev)
if ((${#need[@]})); then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

# The fuzz preset of CMakePresets.json: clang 14, no window, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S "$root" -B "$build" --preset fuzz >/dev/null
cmake --build "$build" -j 2 --target "fuzz_$target"

corpus=$build/corpus/$target
artifacts=$build/artifacts/$target
mkdir -p "$corpus" "$artifacts"
cp -n "$root/tests/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
# A run allocates a few hundred KiB at most, so a 32 MiB quarantine still
# catches a use after free within it; the default 256 MiB makes every run touch
# fresh pages, which costs about a quarter of the rate.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=32}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Long enough for a table of 255 entries (about 65 KiB). The receive session's
# inputs are held to 4.5 KiB, about libFuzzer's own default and enough for
# every one of its seeds to load whole: its harness reaches whole blocks and
# files with small block sizes, while a longer input only serves more frames
# of the kinds a short one has (about 1,800 parser steps for 36 KiB). Grown
# that long, its inputs halved the rate by the end of ten minutes and found no
# more. A -max_len on the command line still wins.
max_len=70000
[[ $target == receive_session ]] && max_len=4608
exec "$build/tests/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=2048 -max_len="$max_len" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$@"
