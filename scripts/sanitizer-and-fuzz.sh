#!/usr/bin/env bash
# Second and third builds of the test run: the toolkit-free tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, then a short libFuzzer run of
# the reply reader and the parsers.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQDIPC_SANITIZE=ON \
    -DQDIPC_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j "$jobs" -L sanitize)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQDIPC_FUZZ=ON \
    -DQDIPC_BUILD_GUI=OFF -DQDIPC_BUILD_BENCH=OFF \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_targets
(cd build-fuzz && ctest --output-on-failure -L fuzz)
