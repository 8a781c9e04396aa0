#!/usr/bin/env bash
# Builds the serial component's tests (the port and its watcher thread) with ThreadSanitizer
# in build-tsan/ and runs them; any data race or lock-order problem fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
# Configure output is shown when configure fails (GoogleTest missing, for one).
configure_log="$(mktemp "${TMPDIR:-/tmp}/qv-configure-XXXXXX.log")"
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TSAN=ON \
    -DQV_TESTS=ON -DQV_BENCH=OFF >"$configure_log" 2>&1 || { cat "$configure_log"; rm -f "$configure_log"; exit 1; }
rm -f "$configure_log"
cmake --build build-tsan --parallel 2 --target test_serial_port
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
build-tsan/bin/test_serial_port "$@"
