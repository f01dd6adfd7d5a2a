#!/usr/bin/env bash
# Builds everything and runs every test, in stages:
#   main      the native build with warnings as errors: unit tests and end-to-end cases
#   sanitize  the same suite again under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan      the library's calls on several programmers from several threads, qs71prog's
#             production loops, its screen's writer thread (a stopped terminal in tmux among
#             them) and the map's codec trial beside the compile, under
#             ThreadSanitizer (only the targets they need; any report fails the stage)
#   fuzz      each libFuzzer target for a while from its seed corpus (QS71_FUZZ_SECONDS, 60)
#   windows   the Windows cross-builds, and the Windows binaries run under Wine
#   package   the .deb and the Windows zips, their contents, and the .deb installed
#   browser   the image pages of qs71dump and qs71gen, and qs71prog's shift report of a trace
#             that emulated production runs record, opened from disk in Debian's chromium, and
#             the page qs71gen --serve serves, which must follow a changed wave file
#             (playwright-core from tests/browser/package-lock.json), each test within 300
#             seconds (QS71_BROWSER_SECONDS); their screenshots stay in build/browser-test and
#             build/browser-report-test
# QS71_STAGES="main sanitize" runs only those; a stage that does not exist fails the run. Any
# failure makes the run fail, and one that no test count holds (a stage that cannot run or
# build) counts as one failed in the final total. Each stage's wall time is printed after it,
# and again in the summary.
# scripts/deps.sh installs what is missing of the groups the stages need (base, sanitize,
# windows, wine64, wine32, browser, package). A group that cannot be installed (exit 10) is a
# warning here, not the end of the run: each stage names the groups it needs, and a stage whose
# group is missing fails, naming the packages and apt's reason. Without 32-bit Wine the windows
# stage runs its 64-bit fallback and says why. A setup that ends in any other way says nothing
# of what is installed, and no stage runs.
# The builds go through ccache, kept in build-ccache/ (QS71_CCACHE_DIR elsewhere): the .deb is
# built with the main build's compiler and flags, so on a clean clone it costs little more than
# linking; the base dir makes the cache independent of where the clone lies.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
stages=${QS71_STAGES:-main sanitize tsan fuzz windows package browser}
jobs=$(nproc)
passed=0
failed=0
failures=()

# A failure that no count of tests holds (a stage that cannot run or build, a runner that died
# before its summary) counts as one failed in the total.
fail() {  # what failed, the failed tests the counts already hold for it
  failures+=("$1")
  [ "${2:-0}" -gt 0 ] || failed=$((failed + 1))
}

# The groups of scripts/deps.sh each stage needs.
declare -A stage_groups=([main]="base" [sanitize]="base sanitize" [tsan]="base sanitize"
  [fuzz]="base sanitize" [windows]="base windows wine64 wine32" [package]="base package windows wine64"
  [browser]="base browser")
wanted=()
for stage in $stages; do
  [ -n "${stage_groups[$stage]+x}" ] && { wanted+=(${stage_groups[$stage]}); continue; }
  echo "== $stage: no such stage (the stages: ${!stage_groups[*]})"
  fail "$stage (no such stage)"
done

mkdir -p "$top/build-deps"
deps_status="$top/build-deps/missing"
: >"$deps_status"
unset QS71_WINE32_MISSING
# Only what the stages asked for: a group that never installs here costs no run that does not
# need it.
deps=0
[ ${#wanted[@]} -gt 0 ] && { QS71_DEPS_STATUS=$deps_status "$top/scripts/deps.sh" "${wanted[@]}"; deps=$?; }
case $deps in
  0) ;;
  10) echo "WARNING: the setup is incomplete (scripts/deps.sh exit 10); the stages that need what is missing will fail" ;;
  # Anything else leaves no word on what is installed: every stage would be a guess.
  *) echo "FAILED: the setup ended with exit $deps (scripts/deps.sh above says why); no stage runs"
     fail "setup (scripts/deps.sh exit $deps)"
     stages="" ;;
esac
# The reason 32-bit Wine is missing goes to the windows and package stages' banners.
wine32_missing=$(awk -F'\t' '$1 == "wine32" { print $2 ": " $3 }' "$deps_status")
[ -n "$wine32_missing" ] && export QS71_WINE32_MISSING=$wine32_missing
notes=()

# needs STAGE GROUP...: whether every group the stage needs is installed. A missing one fails
# the stage, with a line naming its packages and apt's reason: no stage is passed over in
# silence.
needs() {
  local stage=$1 g line lost=()
  shift
  for g in "$@"; do
    line=$(awk -F'\t' -v g="$g" '$1 == g' "$deps_status")
    [ -z "$line" ] && continue
    echo "== $stage: CANNOT RUN: the $g group is not installed ($(cut -f2 <<<"$line")): $(cut -f3 <<<"$line")"
    lost+=("$g")
  done
  [ ${#lost[@]} -eq 0 ] && return 0
  fail "$stage (not installed: ${lost[*]})"
  return 1
}

if command -v ccache >/dev/null; then
  export CCACHE_DIR=${QS71_CCACHE_DIR:-$top/build-ccache} CCACHE_BASEDIR=$top CCACHE_NOHASHDIR=1
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi

# Adds the counts of a ctest summary ("100% tests passed, 0 tests failed out of 225"); the
# failed ones are left in counted_bad.
count_ctest() {
  local line total
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$1" | tail -1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  counted_bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  counted_bad=${counted_bad:-0}
  passed=$((passed + ${total:-0} - counted_bad))
  failed=$((failed + counted_bad))
}

# Adds the counts of a runner summary ("40 passed, 0 failed"), the failed ones in counted_bad.
count_plain() {
  local line
  line=$(grep -E "^[0-9]+ passed, [0-9]+ failed$" "$1" | tail -1)
  passed=$((passed + $(cut -d' ' -f1 <<<"${line:-0 passed, 0 failed}")))
  counted_bad=$(cut -d' ' -f3 <<<"${line:-0 passed, 0 failed}")
  failed=$((failed + counted_bad))
}

run_suite() {  # build dir, label, extra cmake arguments...
  local build=$1 label=$2 log
  shift 2
  log="$build/ctest.log"
  echo "== $label: configure and build ($build)"
  cmake -S "$top" -B "$build" -G Ninja -DQS71_WERROR=ON "$@" >/dev/null &&
    cmake --build "$build" -j "$jobs" || { fail "$label build"; return 1; }
  echo "== $label: tests"
  # One test more than cores: the longest (the line under faults, a screen held for 30 s)
  # mostly wait, and would otherwise keep a core idle.
  ctest --test-dir "$build" --output-on-failure -j "$((jobs + 1))" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  count_ctest "$log"
  [ "$status" -eq 0 ] || fail "$label tests" "$counted_bad"
}

stage_main() { needs main base && run_suite "$top/build" main; }

# The sanitizer builds compile at -O1 with minimal debug information (-g1: functions and line
# tables), as the sanitizers advise, and the tests' own code at -O0: the reports keep file and
# line, and the builds take about a third of their time at -O2 with full debug information,
# which made them the longest part of the run.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                 "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                 "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

stage_sanitize() {
  needs sanitize base sanitize || return
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  # The line under faults runs in main; here its stations would run at the sanitizers' pace
  # against the line's own time limits (QS71_LINE_SECONDS_SANITIZE gives it seconds here).
  export QS71_LINE_SECONDS=${QS71_LINE_SECONDS_SANITIZE:-0}
  run_suite "$top/build-sanitize" sanitize -DQS71_SANITIZE=ON "${sanitizer_flags[@]}"
  unset ASAN_OPTIONS UBSAN_OPTIONS QS71_LINE_SECONDS
}

stage_tsan() {
  local build="$top/build-tsan" log="$top/build-tsan/ctest.log"
  needs tsan base sanitize || return
  echo "== tsan: configure and build ($build)"
  cmake -S "$top" -B "$build" -G Ninja -DQS71_WERROR=ON -DQS71_TSAN=ON "${sanitizer_flags[@]}" >/dev/null &&
    cmake --build "$build" -j "$jobs" \
      --target qs71_usb_e2e_tests qs71_usb_standin_tests qs71prog_production_tests qs71prog_tests \
      qs71gen_tests ||
    { fail "tsan build"; return 1; }
  echo "== tsan: tests"
  TSAN_OPTIONS="halt_on_error=1 exitcode=66" ctest --test-dir "$build" \
    -R '^(MultiProgrammer|ProgrammerIdentity|HidapiStandinListing|ProgProduction|ProgProgrammerIdentity|ProgScreen|ScreenWriter|SoundMeasureTest)\.' \
    --output-on-failure \
    -j "$jobs" 2>&1 |
    tee "$log"
  local status=${PIPESTATUS[0]}
  count_ctest "$log"
  [ "$status" -eq 0 ] || fail "tsan tests" "$counted_bad"
}

stage_fuzz() {
  needs fuzz base sanitize || return
  "$top/scripts/fuzz.sh" "${QS71_FUZZ_SECONDS:-60}" || fail "fuzz"
}

stage_windows() {
  needs windows base windows wine64 || return
  "$top/scripts/windows.sh" 2>&1 | tee "$top/build-win.log"
  local status=${PIPESTATUS[0]}
  count_plain "$top/build-win.log"
  [ "$status" -eq 0 ] || fail "windows" "$counted_bad"
  grep -q "64-BIT FALLBACK ONLY" "$top/build-win.log" &&
    notes+=("$(grep -o "windows: .*64-BIT FALLBACK ONLY.*" "$top/build-win.log" | tail -1)")
}

# After windows: the zips come from its cross-build folders.
stage_package() {
  needs package base package windows wine64 || return
  "$top/scripts/package.sh" 2>&1 | tee "$top/build-package.log"
  local status=${PIPESTATUS[0]}
  count_plain "$top/build-package.log"
  [ "$status" -eq 0 ] || fail "package" "$counted_bad"
}

# Its own budget: a browser that hangs must not hold the run until CI's own limit.
stage_browser() {
  local build="$top/build" test log status
  needs browser base browser || return
  echo "== browser: the image pages and the shift report in chromium"
  cmake -S "$top" -B "$build" -G Ninja -DQS71_WERROR=ON >/dev/null &&
    cmake --build "$build" -j "$jobs" --target qs71gen qs71dump qs71prog &&
    (cd "$top/tests/browser" && npm ci --no-audit --no-fund >/dev/null) ||
    { fail "browser build"; return 1; }
  for test in page_test shift_report_test live_page_test; do
    log="$build/browser-$test.log"
    (cd "$top/tests/browser" &&
      timeout "${QS71_BROWSER_SECONDS:-300}" node "$test.mjs" "$build" "$top/examples") 2>&1 |
      tee "$log"
    status=${PIPESTATUS[0]}
    count_plain "$log"
    [ "$status" -eq 0 ] || fail "browser $test" "$counted_bad"
  done
}

timings=()
for stage in $stages; do
  [ -n "${stage_groups[$stage]+x}" ] || continue
  start=$SECONDS
  "stage_$stage"
  timings+=("$stage $((SECONDS - start)) s")
  echo "== $stage: $((SECONDS - start)) s"
done

echo
for note in "${notes[@]}"; do echo "NOTE: $note"; done
if [ ${#failures[@]} -ne 0 ]; then
  echo "FAILED: ${failures[*]}"
fi
echo "stage times: $(IFS=,; echo "${timings[*]}" | sed 's/,/, /g') (total $SECONDS s)"
echo "total: $passed passed, $failed failed"
[ ${#failures[@]} -eq 0 ] && [ "$failed" -eq 0 ]
