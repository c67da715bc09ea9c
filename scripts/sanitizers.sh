#!/usr/bin/env bash
# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, then
# the threaded tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset asan
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan -j "$(nproc)"

cmake --preset tsan
cmake --build --preset tsan -j "$(nproc)"
ctest --preset tsan -j "$(nproc)" -L threaded
