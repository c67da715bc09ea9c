#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset, clang) and runs each for a
# bounded time: scripts/fuzz.sh [seconds per target, default 45] [target...]
# New inputs go to build/fuzz/corpus/<target>; the seeds in fuzz/corpus stay
# as committed. A crash or a finding leaves its input in
# build/fuzz/artifacts/<target>/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(config_file records event)

scripts/install-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in "${targets[@]}"; do
  work=build/fuzz/corpus/$target
  artifacts=build/fuzz/artifacts/$target
  mkdir -p "$work" "$artifacts"
  options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  [[ -f fuzz/$target.dict ]] && options+=(-dict="fuzz/$target.dict")
  log=build/fuzz/$target.log
  echo "== fuzz_$target for ${seconds} s"
  if build/fuzz/fuzz/fuzz_"$target" "${options[@]}" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "   ${runs:-?} executions, $(find "$work" -type f | wc -l) inputs in the working corpus, no finding"
  else
    status=1
    echo "   FAILED: see $log and $artifacts/"
    grep -E '^(fuzz:|==[0-9]+==ERROR|SUMMARY)' "$log" | head -5 || true
  fi
done
exit "$status"
