#!/usr/bin/env bash
# The whole product in one command: builds the three programs and both programmer libraries,
# compiles the demo project in examples/ with its map and its page, shows what the image holds
# with qs71dump and extracts its sounds as WAV files, then writes and verifies the image on the
# emulated programmer, and says where each result is. Nothing is rebuilt when nothing changed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
image="$build/demo.bin"
map="$build/demo.map"
sounds="$build/demo-sounds"
chip="$build/demo-chip.otp"
page="$build/demo.html"

step() { printf '\n== %s\n' "$*"; }

"$top/scripts/deps.sh" base
# Configured once; ninja re-runs CMake by itself when a CMakeLists.txt changes.
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DQS71_WERROR=ON >/dev/null
fi
step "build: qs71gen, qs71dump, qs71prog and both programmer libraries"
cmake --build "$build" --target qs71gen qs71dump qs71prog qs71_usb_writer \
  qs71_usb_writer_emulated

step "qs71gen: examples/demo.qs -> $image"
# The script names its wave files relative to its own folder.
(cd "$top/examples" && "$build/gen/qs71gen" --map "$map" --html "$page" demo.qs "$image")

step "qs71dump: what the image holds, and its sounds back as WAV files"
rm -rf "$sounds"
"$build/tools/qs71dump/qs71dump" --extract "$sounds" "$image"

step "qs71prog: blank check, write and verify on the emulated programmer"
# An OTP part is written once: every run takes a new blank part. The chip file holds the
# part's own factory bytes in the system area, so it never equals the image byte for byte;
# qs71prog --verify is the comparison that counts.
rm -f "$chip"
"$build/tools/qs71prog/qs71prog" --emulate="$chip" --write "$image"

cat <<EOF

Results:
  image           $image
  map (qs71gen)   $map
  page            $page (open it in a browser: the part, each sound to see and hear)
  sounds          $sounds/ ($(find "$sounds" -name '*.wav' | wc -l) WAV files)
  emulated chip   $chip (check it with: qs71prog --emulate=$chip --verify $image)
  programs        $build/gen/qs71gen, $build/tools/qs71dump/qs71dump, $build/tools/qs71prog/qs71prog
  libraries       $build/usbwriter/libqs71_usb_writer.so, $build/usbwriter/libqs71_usb_writer_emulated.so
EOF
