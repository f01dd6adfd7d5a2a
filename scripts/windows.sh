#!/usr/bin/env bash
# The Windows target. Cross-builds qs71gen.exe, qs71prog.exe, qs71dump.exe and
# qs71_usb_writer.dll for 32-bit Windows on x86 (the product) with a static runtime, checks
# the DLL's export and imports, and runs the Windows binaries under Wine: every end-to-end case
# of the generator (images byte-identical to the Linux build, output equal once line ends are
# normalised), a Windows host that loads the DLL with LoadLibrary and GetProcAddress, the
# DLL's Windows port against a fake HID bus and a pipe programmer (time-outs, unplug, short
# reports, vanishing devices), and the tools: qs71dump.exe's map of the demo image against the
# Linux build's, qs71prog.exe writing and verifying it through the emulated DLL, running a
# signed job into a SQLite trace, a Windows station on a line of PostgreSQL servers over TLS
# beside a Linux one (scripts/windows_line.sh), and qs71prog.exe with the production DLL and
# no programmer.
#
# Wine runs a 32-bit program only where 32-bit Wine (wine32:i386) is installed and the kernel
# can execute 32-bit code. Where either is missing, this says so loudly, with the reason, and
# the same sources built for 64-bit Windows are run under 64-bit Wine instead, so that the
# Windows code paths still run; the 32-bit build is still made and its exports checked.
# QS71_WINE32_MISSING, set by scripts/test.sh, carries apt's reason when scripts/deps.sh could
# not install 32-bit Wine.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
failures=0
passes=0
targets=(qs71gen qs71prog qs71dump qs71_usb_writer qs71_usb_writer_emulated qs71_dll_host
         qs71_wine_port_check)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passes=$((passes + 1)); }

cross_build() {  # build dir, toolchain file
  echo "== windows: cross-build in $1"
  cmake -S "$top" -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$2" -DQS71_WERROR=ON \
    >/dev/null && cmake --build "$1" -j "$jobs" --target "${targets[@]}"
}

# windows_imports, windows_imports_refused: the system DLLs each binary may import.
source "$top/scripts/windows_imports.sh"

# The imports of a binary against what its name allows (scripts/windows_imports.sh).
check_imports() {  # PE file
  local refused
  [ -f "$1" ] || { fail "no $1"; return; }
  refused=$(windows_imports_refused "$1")
  [ -z "$refused" ] || fail "$1 needs $refused, which a bare Windows does not have"
  echo "$1: imports [$(windows_imports "$1")]"
}

windows_binaries=(gen/qs71gen.exe tools/qs71prog/qs71prog.exe tools/qs71dump/qs71dump.exe
                  usbwriter/qs71_usb_writer.dll usbwriter/qs71_usb_writer_emulated.dll)
check_build_imports() {  # build dir
  local binary
  for binary in "${windows_binaries[@]}"; do check_imports "$1/$binary"; done
}

# The DLL is for i386 and exports the plain names (the production DLL nothing else).
check_dll() {  # dll, the exports expected
  local dll=$1 expected=$2 dump
  dump=$(i686-w64-mingw32-objdump -p "$dll")
  grep -q "^Magic.*010b" <<<"$dump" || fail "$dll is not a 32-bit PE image"
  local exports
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s*\[ *[0-9]+\]' | awk '{print $NF}' | tr '\n' ' ')
  [[ "$exports" =~ $expected ]] || fail "$dll exports '$exports', expected $expected"
  echo "$dll: exports [$exports]"
}

# wine32_unavailable: why 32-bit programs cannot run under Wine here.
source "$top/scripts/wine32.sh"

run_e2e() {  # wine command, build dir
  local runner="$top/build/tests/e2e/qs71_e2e_runner"
  [ -x "$runner" ] || cmake --build "$top/build" --target qs71_e2e_runner >/dev/null
  local cases=()
  for c in "$top"/tests/e2e/cases/*.case; do
    grep -q '^only: linux' "$c" || cases+=("$c")
  done
  echo "== windows: ${#cases[@]} end-to-end cases under $1"
  rm -f "$2/e2e-again.log"
  "$runner" --gen "$2/gen/qs71gen.exe" --wrapper "$1" --crlf --work "$2/e2e_work" "${cases[@]}" |
    tee "$2/e2e.log" | grep -v '^PASS'
  if [ "${PIPESTATUS[0]}" -eq 0 ]; then
    passes=$((passes + ${#cases[@]}))
    return
  fi
  # On a loaded machine Wine now and then fails to start a program at all (exit 1, nothing
  # printed). Each failing case runs once more, on its own; one that fails again is a failure,
  # and the first run's failures stay in the log above.
  local again=() name still
  for name in $(sed -n 's/^FAIL //p' "$2/e2e.log"); do again+=("$top/tests/e2e/cases/$name.case"); done
  echo "== windows: ${#again[@]} failing case(s) once more under $1"
  "$runner" --gen "$2/gen/qs71gen.exe" --wrapper "$1" --crlf --work "$2/e2e_work" "${again[@]}" |
    tee "$2/e2e-again.log" | grep -vE '^PASS|^[0-9]+ passed, [0-9]+ failed$'
  still=$(grep -c '^FAIL ' "$2/e2e-again.log")
  echo "$((${#cases[@]} - still)) passed, $still failed"
  passes=$((passes + ${#cases[@]} - still))
  failures=$((failures + still))
  [ "$still" -eq 0 ] || echo "FAILED: $still end-to-end case(s) under $1"
  [ ${#again[@]} -gt 0 ] || fail "the end-to-end runner under $1 failed without naming a case"
}

# Sound preparation computes in floating point, where Windows and Linux could part: the cases
# that pin a prepared image's bytes (an image section, or the map's SHA-256 of it) must have
# run and passed here for every step that computes and every format libsndfile decodes.
preparation_steps=("--resample:--resample" "--loudness:--loudness" "--dither:--dither" "--trim:--trim"
                   "--highpass:--highpass" "24-bit WAV:bits=24" "float WAV:tag=3" "FLAC:container=flac"
                   "AIFF:container=aiff")
check_prepared_images() {  # wine command, build dir
  local entry case name covered missing=""
  for entry in "${preparation_steps[@]}"; do
    covered=""
    for case in "$top"/tests/e2e/cases/prepare_*.case; do
      name=$(basename "$case" .case)
      grep -q '^only: linux' "$case" && continue
      grep -q -- "${entry#*:}" <<<"$(sed -n '/^===/q;/^#/!p' "$case")" || continue
      grep -qE '^sha256 |^[0-9a-f]+: ' "$case" || continue
      grep -qx "PASS $name" "$2/e2e.log" "$2/e2e-again.log" 2>/dev/null && covered+=" $name"
    done
    echo "  ${entry%%:*}:${covered:- NONE}"
    [ -n "$covered" ] || missing+=" ${entry%%:*}"
  done
  if [ -z "$missing" ]; then
    pass "prepared images under $1 are byte for byte the Linux build's, for every step and input format above"
  else
    fail "no passing case under $1 pins the prepared image of:$missing"
  fi
}

run_dll_host() {  # wine command, build dir
  local host="$2/tests/windows/qs71_dll_host.exe" image="$2/demo.bin"
  echo "== windows: the DLL host under $1"
  $1 "$host" absent "$2/usbwriter/qs71_usb_writer.dll" | tr -d '\r' || fail "DLL host, no programmer"
  (cd "$top/examples" && $1 "$2/gen/qs71gen.exe" demo.qs "$image" >/dev/null) || fail "demo image"
  $1 "$host" program "$2/usbwriter/qs71_usb_writer_emulated.dll" "$image" | tr -d '\r' |
    grep -E '^(ok|FAILED|result|range|job)'
  [ "${PIPESTATUS[0]}" -eq 0 ] || fail "DLL host, emulated programmer"
}

# The production DLL, unchanged, with its SetupAPI imports pointed at a fake bus and its
# device path leading to the emulated programmer behind a named pipe.
run_port_check() {  # wine command, build dir
  local work="$2/wine_check_work"
  mkdir -p "$work"
  echo "== windows: the DLL's Windows port under $1"
  timeout 600 $1 "$2/usbwriter/wine_check/qs71_wine_port_check.exe" \
    "$2/usbwriter/qs71_usb_writer.dll" "$work" | tr -d '\r'
  [ "${PIPESTATUS[0]}" -eq 0 ] || fail "Windows port under $1"
}

# run_line_trace: a Windows station on a line of PostgreSQL servers, over TLS.
source "$top/scripts/windows_line.sh"

# The tools on the demo image (run_dll_host compiles it with qs71gen.exe). Each runs in the
# image's folder with a relative name, so that the Linux and the Windows output name it alike.
run_tools() {  # wine command, build dir
  local dir=$2 dump="$top/build/tools/qs71dump/qs71dump" out status
  echo "== windows: qs71dump.exe and qs71prog.exe under $1"
  [ -x "$dump" ] || cmake --build "$top/build" --target qs71dump >/dev/null
  # The same map as the Linux build prints, once line ends are normalised.
  if diff <(cd "$dir" && "$dump" demo.bin) <(cd "$dir" && $1 tools/qs71dump/qs71dump.exe demo.bin |
       tr -d '\r') >"$dir/dump-diff.log"; then
    pass "qs71dump.exe prints the Linux build's map of the demo image"
  else
    fail "qs71dump.exe's map differs from the Linux build's:"; head -20 "$dir/dump-diff.log"
  fi
  # Names that differ only in letter case are one file on Windows: a map and an image so named are refused.
  rm -f "$dir/case.bin" "$dir/CASE.BIN"; [[ "$(cd "$dir" && $1 gen/qs71gen.exe --map CASE.BIN "$top/examples/demo.qs" case.bin 2>&1 | tr -d '\r')" == *"CASE.BIN is the image output; refusing to write the map over it"* && ! -e "$dir/case.bin" ]] && pass "qs71gen.exe refuses a map and an image whose names differ only in case" || fail "qs71gen.exe wrote a map and an image whose names differ only in case"
  # Blank check, write and verify through the emulated DLL beside qs71prog.exe, then a verify
  # of the chip file alone.
  rm -f "$dir/demo-chip.otp"
  out=$(cd "$dir" && $1 tools/qs71prog/qs71prog.exe --emulate=demo-chip.otp --write demo.bin 2>&1 |
        tr -d '\r')
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] && grep -q "^qs71prog: done: blank check, write, verify on a 262144-byte chip" <<<"$out" &&
     (cd "$dir" && $1 tools/qs71prog/qs71prog.exe --emulate=demo-chip.otp --verify demo.bin >/dev/null 2>&1); then
    pass "qs71prog.exe writes and verifies the demo image through the emulated DLL"
  else
    fail "qs71prog.exe with the emulated DLL (exit $status):"; tail -5 <<<"$out"
  fi
  # A signed job with a lot of 2 run on the emulated socket into a SQLite trace, and its
  # report: jobs, signatures and the trace in the Windows build. The second part is an empty
  # file, which the emulator makes a new blank part in its place.
  local prog="tools/qs71prog/qs71prog.exe" report
  rm -rf "$dir/line"
  mkdir -p "$dir/line/keys" "$dir/line/socket"
  (cd "$dir" && $1 $prog --make-key line/alice && cp line/alice.pub line/keys/ &&
   $1 $prog --make-job line/demo.job --write demo.bin --lot 2 --sign line/alice &&
   $1 $prog --emulate=line/socket/part1.otp --identify && : >line/socket/part2.otp) \
    >"$dir/line/make.log" 2>&1
  out=$(cd "$dir" && QS71_TRUST_DIR=line/keys QS71_EMU_SOCKET=line/socket QS71_EMU_OPERATOR=0 \
        $1 $prog --emulate --job line/demo.job --production --trace line/trace.db 2>&1 | tr -d '\r')
  status=${PIPESTATUS[0]}
  report=$(cd "$dir" && $1 $prog --report - --trace line/trace.db 2>&1 | tr -d '\r')
  if [ "$status" -eq 15 ] && grep -Eq "^all +2 +2 " <<<"$report"; then
    pass "qs71prog.exe runs a signed job into a SQLite trace and reports it"
  else
    fail "qs71prog.exe with a signed job and a trace (exit $status, expected 15):"
    tail -5 "$dir/line/make.log"; tail -5 <<<"$out"; head -12 <<<"$report"
  fi
  run_line_trace "$1" "$dir"
  # The production DLL finds no programmer under Wine: exit 3 and the plain words.
  out=$(cd "$dir" && $1 tools/qs71prog/qs71prog.exe --write demo.bin 2>&1 | tr -d '\r')
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 3 ] &&
     grep -qx "qs71prog: no QS71 programmer found (USB 04d8:fe08) — is it plugged in?" <<<"$out"; then
    pass "qs71prog.exe with the production DLL and no programmer: exit 3 and its message"
  else
    fail "qs71prog.exe with the production DLL and no programmer (exit $status, expected 3):"
    tail -5 <<<"$out"
  fi
}

# The static audio libraries of both targets, which the cross-builds find through pkg-config.
"$top/scripts/windows_audio_libs.sh" i686-w64-mingw32 x86_64-w64-mingw32 ||
  fail "the audio libraries for Windows"
cross_build "$top/build-win" mingw-i686.cmake || fail "32-bit cross-build"
check_dll "$top/build-win/usbwriter/qs71_usb_writer.dll" \
  '^Qs71UsbCompareRange Qs71UsbHold Qs71UsbHoldProgrammer Qs71UsbJob Qs71UsbListIdentities Qs71UsbListProgrammers Qs71UsbRelease Qs71UsbReleaseProgrammer Qs71UsbVerifyRange Qs71UsbVerifyRangeOn Qs71UsbWriter Qs71UsbWriterOn $'
check_dll "$top/build-win/usbwriter/qs71_usb_writer_emulated.dll" \
  '(^| )Qs71UsbCompareRange Qs71UsbHold Qs71UsbHoldProgrammer Qs71UsbJob Qs71UsbListIdentities Qs71UsbListProgrammers Qs71UsbRelease Qs71UsbReleaseProgrammer Qs71UsbVerifyRange Qs71UsbVerifyRangeOn Qs71UsbWriter Qs71UsbWriterOn '
check_build_imports "$top/build-win"

no32=$(wine32_unavailable)
if [ -z "$no32" ]; then
  export WINEPREFIX="$top/build-win/wineprefix" WINEARCH=win32
  wine wineboot --init >/dev/null 2>&1
  run_e2e wine "$top/build-win"
  check_prepared_images wine "$top/build-win"
  run_dll_host wine "$top/build-win"
  run_port_check wine "$top/build-win"
  run_tools wine "$top/build-win"
else
  cat <<MSG
##########################################################################################
## WINE CANNOT RUN 32-BIT PROGRAMS ON THIS MACHINE:
## $no32
## The 32-bit qs71gen.exe, qs71prog.exe, qs71dump.exe and qs71_usb_writer.dll were built
## and their exports and imports checked, but NOT RUN. Running the same sources built for
## 64-bit Windows under 64-bit Wine instead.
##########################################################################################
MSG
  cross_build "$top/build-win64" mingw-x86_64.cmake || fail "64-bit cross-build"
  check_build_imports "$top/build-win64"
  export WINEPREFIX="$top/build-win64/wineprefix"
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  run_e2e /usr/lib/wine/wine64 "$top/build-win64"
  check_prepared_images /usr/lib/wine/wine64 "$top/build-win64"
  run_dll_host /usr/lib/wine/wine64 "$top/build-win64"
  run_port_check /usr/lib/wine/wine64 "$top/build-win64"
  run_tools /usr/lib/wine/wine64 "$top/build-win64"
fi

# The stage's count for scripts/test.sh: every end-to-end case and every tool check.
echo "$passes passed, $failures failed"
ran="the 32-bit build under 32-bit Wine"
[ -n "$no32" ] && ran="THE 64-BIT FALLBACK ONLY, because $no32"
[ "$failures" -eq 0 ] || { echo "windows: $failures failure(s); ran $ran"; exit 1; }
echo "windows: all checks passed; ran $ran"
