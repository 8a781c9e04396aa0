#!/usr/bin/env bash
# Installs what is missing, builds the test flavour (AddressSanitizer + UBSan, warnings as
# errors) in build-test/ and runs every test with leak detection on, then builds and tries the
# Debian packages, fuzzes every target for a short fixed time and runs the serial tests under
# ThreadSanitizer. Prints how long each stage took, so that growth shows from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."

stage_name=""
stage_start=0
stage_times=()
end_stage() {
    [ -n "$stage_name" ] || return 0
    stage_times+=("$(printf '%-18s %5d s%s' "$stage_name" $((SECONDS - stage_start)) "${1:-}")")
    stage_name=""
}
stage() {
    end_stage
    stage_name="$1"
    stage_start=$SECONDS
    echo "== $stage_name"
}
# Also when a stage fails: the stages up to it and the failed one, with their times.
report_times() {
    local status=$?
    [ "$status" -eq 0 ] || end_stage "  FAILED"
    end_stage
    echo "== Stage times"
    printf '  %s\n' "${stage_times[@]}"
    printf '  %-18s %5d s\n' "total" "$SECONDS"
}
trap report_times EXIT

stage "setup"
./scripts/setup.sh

stage "ASan build"
# Configure output is shown when configure fails (GoogleTest missing, for one).
configure_log="$(mktemp "${TMPDIR:-/tmp}/qv-configure-XXXXXX.log")"
if ! cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_TESTS=ON \
    -DQV_BENCH=OFF >"$configure_log" 2>&1; then
    cat "$configure_log"
    rm -f "$configure_log"
    exit 1
fi
rm -f "$configure_log"
cmake --build build-test --parallel 2

stage "ASan tests"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# Leaks below Qt that are not ours are suppressed there, each with its reason; the programs
# the end-to-end tests start inherit this.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-test && ctest --output-on-failure --no-tests=error --timeout 180 -j2 "$@")

stage "packages"
./scripts/package_test.sh

stage "fuzzing"
./scripts/fuzz_ci.sh

stage "ThreadSanitizer"
./scripts/tsan_test.sh
