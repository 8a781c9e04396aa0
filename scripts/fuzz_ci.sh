#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan in build-fuzz/ and runs
# each one for a fixed time from a copy of its seed corpus (in a temporary folder removed
# on exit, so nothing is written into the repository). Fails when any target finds a crash,
# a leak, an out-of-memory or a time-out.
#
#   scripts/fuzz_ci.sh [SECONDS_PER_TARGET] [TARGET...]     (default: 20 s, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

seconds="${1:-20}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for src in fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/qvfuzz-ci-XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The fuzz targets only, not the tests; configure output is shown when configure fails.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQV_FUZZ=ON -DQV_SANITIZE=ON -DQV_TESTS=OFF -DQV_BENCH=OFF >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; exit 1; }
cmake --build build-fuzz --parallel 2 --target "${targets[@]}"

# The targets keep the files they write in memory when they can; a crashed target leaves its
# scratch folder behind, so it lives in a folder of this run's own.
scratch="$work"
[ -w /dev/shm ] && scratch="$(mktemp -d /dev/shm/qvfuzz-ci-XXXXXX)"
trap 'rm -rf "$work" "$scratch"' EXIT
export QV_FUZZ_SCRATCH="$scratch" TMPDIR="$scratch"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for t in "${targets[@]}"; do
    corpus="$work/corpus-$t"
    cp -r "fuzz/corpus/${t#fuzz_}" "$corpus"
    mkdir -p "$work/artifacts-$t"
    log="$work/$t.log"
    if build-fuzz/bin/"$t" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts-$t/" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        echo "$t: ${runs:-?} runs, ${rate:-?}/s, no failure"
    else
        echo "$t: FAILED"
        grep -E -A30 "^==[0-9]+==ERROR|runtime error|ALARM|out-of-memory|deadly signal" "$log" | head -60 || tail -40 "$log"
        # The input that failed, so it can be replayed from the log alone.
        for a in "$work/artifacts-$t"/*; do
            if [ -f "$a" ]; then
                echo "input $(basename "$a") (base64):"
                base64 -w 0 "$a" | head -c 20000
                echo
            fi
        done
        failed+=("$t")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found failures in: ${failed[*]}"
    exit 1
fi
echo "Fuzzing: ${#targets[@]} targets, ${seconds} s each, no failure"
