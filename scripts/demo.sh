#!/usr/bin/env bash
# The whole product in one command: builds the three programs and both programmer libraries,
# compiles the demo project in examples/ with its map and its page, shows what the image holds
# with qs71dump and extracts its sounds as WAV files, then writes and verifies the image on the
# emulated programmer; then, as a production engineer would, makes a key and a signed job,
# runs it on two emulated programmers into a trace of its own and writes the shift report;
# and says where each result is. Nothing is rebuilt when nothing changed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
image="$build/demo.bin"
map="$build/demo.map"
sounds="$build/demo-sounds"
chip="$build/demo-chip.otp"
page="$build/demo.html"
line="$build/demo"  # the production part: key, job, sockets, trace, log and report

step() { printf '\n== %s\n' "$*"; }

"$top/scripts/deps.sh" base
# Configured once; ninja re-runs CMake by itself when a CMakeLists.txt changes.
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DQS71_WERROR=ON >/dev/null
fi
step "build: qs71gen, qs71dump, qs71prog and both programmer libraries"
cmake --build "$build" --target qs71gen qs71dump qs71prog qs71_usb_writer \
  qs71_usb_writer_emulated

step "qs71gen: the project examples/demo.toml -> $image"
# The project holds the script and the settings of each sound; the script and the outputs
# named here go over the project's, so that the results land in the build folder.
"$build/gen/qs71gen" --project "$top/examples/demo.toml" --map "$map" --html "$page" \
  "$top/examples/demo.qs" "$image"

step "qs71dump: what the image holds, and its sounds back as WAV files"
rm -rf "$sounds"
"$build/tools/qs71dump/qs71dump" --extract "$sounds" "$image"

step "qs71prog: blank check, write and verify on the emulated programmer"
# An OTP part is written once: every run takes a new blank part. The chip file holds the
# part's own factory bytes in the system area, so it never equals the image byte for byte;
# qs71prog --verify is the comparison that counts.
rm -f "$chip"
"$build/tools/qs71prog/qs71prog" --emulate="$chip" --write "$image"

step "qs71prog: a signed job with a lot of 6, run on two emulated programmers into a trace"
# Everything of this part lives in its own folder, the trust folder and the trace included, so
# that the demo neither reads the station's keys nor writes into the user's own trace.
prog="$build/tools/qs71prog/qs71prog"
rm -rf "$line"
mkdir -p "$line/trusted-keys" "$line/sockets/1" "$line/sockets/2"
"$prog" --make-key "$line/engineer"
cp "$line/engineer.pub" "$line/trusted-keys/"
"$prog" --make-job "$line/demo.job" --write "$image" --lot 6 --work-order WO-0001 \
  --job-name demo --sign "$line/engineer"
for k in 1 2; do for i in 1 2 3 4; do
  "$prog" --emulate="$line/sockets/$k/part$i.otp" --identify >/dev/null
done; done
echo "stuck:0x1000" > "$line/sockets/2/part2.faults"  # one part fails its verify
status=0
# QS71_EMU_OPERATOR=0 stands for the operator who takes each finished part out of its socket.
QS71_TRUST_DIR="$line/trusted-keys" QS71_EMU_PROGRAMMERS=2 QS71_EMU_SOCKET="$line/sockets" \
  QS71_EMU_OPERATOR=0 "$prog" --emulate --job "$line/demo.job" --production --all --operator demo \
  --trace "$line/trace.db" --log "$line/parts.csv" || status=$?
echo "exit $status: 15 is the lot complete (8, a part failed, comes first when one did)"
"$prog" --report "$line/shift.html" --trace "$line/trace.db"
"$prog" --report - --trace "$line/trace.db" | sed -n '1,12p'

cat <<EOF

Results:
  image           $image
  map (qs71gen)   $map
  page            $page (open it in a browser: the part, each sound to see and hear)
  sounds          $sounds/ ($(find "$sounds" -name '*.wav' | wc -l) WAV files)
  emulated chip   $chip (check it with: qs71prog --emulate=$chip --verify $image)
  programs        $build/gen/qs71gen, $build/tools/qs71dump/qs71dump, $build/tools/qs71prog/qs71prog
  libraries       $build/usbwriter/libqs71_usb_writer.so, $build/usbwriter/libqs71_usb_writer_emulated.so
  signed job      $line/demo.job (key $line/engineer.pub; qs71prog --show-job shows it)
  trace           $line/trace.db (sqlite3, or qs71prog --export-csv / --report)
  shift report    $line/shift.html
EOF
