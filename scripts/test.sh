#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: unit tests, end-to-end cases.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh" all
cmake -S "$top" -B "$top/build" -G Ninja -DQS71_WERROR=ON >/dev/null
cmake --build "$top/build" -j "$(nproc)"
ctest --test-dir "$top/build" --output-on-failure -j "$(nproc)"
