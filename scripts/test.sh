#!/usr/bin/env bash
# Installs what is missing, builds the test flavour (AddressSanitizer + UBSan, warnings as
# errors) in build-test/ and runs every test, then builds and tries the Debian packages,
# fuzzes every target for a short fixed time and runs the serial tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON >/dev/null
cmake --build build-test --parallel 2
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-test
ctest --output-on-failure --timeout 180 -j2 "$@"
../scripts/package_test.sh
../scripts/fuzz_ci.sh
../scripts/tsan_test.sh
