#!/usr/bin/env bash
# Builds qs71gen and compiles the demo project in examples/ into an OTP image.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" base
cmake -S "$top" -B "$top/build" -G Ninja -DQS71_WERROR=ON >/dev/null
cmake --build "$top/build" --target qs71gen
cd "$top/examples"
"$top/build/gen/qs71gen" demo.qs "$top/build/demo.bin"
echo "Image written to $top/build/demo.bin ($(stat -c %s "$top/build/demo.bin") bytes)"
