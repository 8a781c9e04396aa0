#!/usr/bin/env bash
# Builds the serial component's tests (the port on the GUI thread against peers writing from
# threads of their own) with ThreadSanitizer in build-tsan/ and runs them; any data race or
# lock-order problem fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TSAN=ON \
    -DQV_TESTS=ON >/dev/null
cmake --build build-tsan --parallel 2 --target test_serial_port
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
build-tsan/bin/test_serial_port "$@"
