#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while from its committed
# seed corpus; any crash, leak or sanitizer report fails the run and leaves the input in
# build-fuzz/artifacts/. Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DQS71_FUZZ=ON -DQS71_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_script fuzz_wave fuzz_replies
mkdir -p "$build/artifacts"
status=0
for target in script wave replies; do
  work="$build/corpus-$target"
  mkdir -p "$work"
  echo "== fuzz_$target for ${seconds}s"
  if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$work" "$top/fuzz/corpus/$target" \
      >"$build/fuzz_$target.log" 2>&1; then
    grep -E "stat::number_of_executed_units" "$build/fuzz_$target.log" | sed "s/^/fuzz_$target: /"
  else
    echo "fuzz_$target FAILED:"; tail -40 "$build/fuzz_$target.log"; status=1
  fi
done
exit $status
