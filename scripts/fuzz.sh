#!/bin/sh
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build/fuzz and runs each for the given number of seconds (20 by default), starting from the
# seed corpus in fuzz/corpus/<target>. What a run learns stays in build/fuzz/corpus; a crash
# leaves its input in build/fuzz/artifacts and fails the script.
#   ./scripts/fuzz.sh          20 s per target
#   ./scripts/fuzz.sh 3600     an hour per target
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-20}"
root="$(pwd)"
build="$root/build/fuzz"
targets="fuzz_line_reader fuzz_settings fuzz_run_control fuzz_srec_check"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export QT_QPA_PLATFORM=offscreen
# A smaller quarantine keeps long runs of the window target under libFuzzer's memory limit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=64}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}"
mkdir -p "$build/artifacts"
for target in $targets; do
    echo "=== $target: $seconds s ==="
    mkdir -p "$build/corpus/$target"
    "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096 \
        -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "$root/fuzz/corpus/$target"
done
echo "=== fuzzing passed ==="
