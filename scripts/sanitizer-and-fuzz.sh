#!/usr/bin/env bash
# Second and third builds of the test run: the toolkit-free tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, then a short libFuzzer run of
# the reply reader, the parsers and the SOAP reader of ONVIF answers.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# Both builds are presets of CMakePresets.json (build-asan/, build-fuzz/).
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz
