#!/usr/bin/env bash
# Builds the default preset and runs the benchmarks: micro benchmarks, then
# latency, throughput, headroom, allocations and idle cost of the pipeline
# against the polling design, printed as one table, then the native and the
# managed backend side by side (about 4 minutes in all).
#   scripts/bench.sh            full run
#   scripts/bench.sh --quick    short run, coarser figures
# Other arguments go to the bench program (and from it to Google Benchmark).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target quelto_bench >/dev/null
build/default/bin/quelto_bench "$@"
# The two backends side by side (the managed one needs Mono), when built.
if cmake --build --preset default -j "$(nproc)" --target quelto_bench_backends quelto_bench_backends_native \
    >/dev/null 2>&1; then
  echo
  quick=()
  [[ " $* " == *" --quick "* ]] && quick=(--quick)
  python3 bench/backends.py build/default/native-fake/quelto_bench_backends_native \
    build/default/managed-fake/quelto_bench_backends "${quick[@]}"
fi
