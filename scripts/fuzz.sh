#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while from its committed
# seed corpus; any crash, leak or sanitizer report fails the run and leaves the input in
# build-fuzz/artifacts/. The targets run at the same time. Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DQS71_FUZZ=ON -DQS71_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_script fuzz_wave fuzz_adpcm fuzz_prepare fuzz_project fuzz_replies fuzz_job fuzz_policy qs71gen qs71prog
mkdir -p "$build/artifacts"

# The job reader's seed beside the committed fragments: the demo image as a job signed by a
# key of this run, and that key as the one the target's station trusts, so that the fuzzer
# starts from a job that passes every check, signature included.
job_seed() {
  local seed="$build/job-seed" prog="$build/tools/qs71prog/qs71prog"
  rm -rf "$seed"
  mkdir -p "$seed/trust" "$build/corpus-job"
  cp -r "$top/examples" "$seed/project"
  (cd "$seed/project" && "$build/gen/qs71gen" demo.qs "$seed/demo.bin" >/dev/null) &&
    "$prog" --make-key "$seed/key" >/dev/null && cp "$seed/key.pub" "$seed/trust/" &&
    "$prog" --make-job "$build/corpus-job/demo-signed.job" --write "$seed/demo.bin" \
      --sign "$seed/key" --lot 100 --job-name seed >/dev/null
}
job_seed || { echo "fuzz: the job reader's seed could not be made"; exit 1; }
export QS71_TRUST_DIR="$build/job-seed/trust"

# The targets run side by side: libFuzzer is single-threaded, and one after the other they would
# leave a core idle for the whole stage.
# The preparation resamples and filters every input whole: bounded, a run still tries thousands.
declare -A limits=([prepare]="-max_len=4096")
fuzz_one() {  # target
  local work="$build/corpus-$1"
  mkdir -p "$work"
  # shellcheck disable=SC2086  # the limits are separate arguments
  "$build/fuzz/fuzz_$1" -max_total_time="$seconds" -print_final_stats=1 ${limits[$1]:-} \
    -artifact_prefix="$build/artifacts/$1-" "$work" "$top/fuzz/corpus/$1" >"$build/fuzz_$1.log" 2>&1
}
targets=(script wave adpcm prepare project replies job policy)
echo "== ${targets[*]/#/fuzz_} for ${seconds}s each, side by side"
pids=()
for target in "${targets[@]}"; do
  fuzz_one "$target" &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    grep -E "stat::number_of_executed_units" "$build/fuzz_$target.log" | sed "s/^/fuzz_$target: /"
  else
    echo "fuzz_$target FAILED:"; tail -40 "$build/fuzz_$target.log"; status=1
  fi
done
exit $status
