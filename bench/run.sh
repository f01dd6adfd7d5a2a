#!/usr/bin/env bash
# The qs71 benchmark: encoding throughput beside ffmpeg and sox, the I/O floor, script scaling
# and the programmer's host overhead, all in one run on one machine. Builds its own Release
# configuration, makes its own inputs (fixed seeds), installs ffmpeg and sox when they are
# missing, and writes the measured tables into bench/RESULTS.md between its two markers; the
# text outside the markers (the analysis) is kept.
#
#   bench/run.sh [--no-profile]
#
# Environment:
#   QS71_BENCH_REPEAT    runs per measurement, interleaved; best and median are reported (7)
#   QS71_BENCH_BUILD     build directory (build-bench)
#   QS71_BENCH_OUT       results file (bench/RESULTS.md)
#   QS71_BENCH_QUIET     CPU share other work may use before a part starts (0.25 of the machine)
#   QS71_BENCH_MAX_WAIT  seconds to wait for that before measuring anyway (300)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
out=${QS71_BENCH_OUT:-$top/bench/RESULTS.md}
repeat=${QS71_BENCH_REPEAT:-7}
quiet=${QS71_BENCH_QUIET:-0.25}
max_wait=${QS71_BENCH_MAX_WAIT:-300}
profile=1
[ "${1:-}" = --no-profile ] && profile=0

data=$build/bench-data
times=$data/times.txt
gen=$build/gen/qs71gen
dump=$build/tools/qs71dump/qs71dump
timed=$build/bench/qs71_bench_timed
inputs=$build/bench/qs71_bench_inputs
prog=$build/bench/qs71_bench_prog
stream=$build/bench/qs71_bench_stream
emulated=$build/usbwriter/libqs71_usb_writer_emulated.so

# The long sound: 3 minutes at 44.1 kHz, 16-bit mono (15.9 MB). A 16 MiB image holds it even as
# PCM16, below the 16 MiB that the default 3-byte group addresses reach.
long_frames=7938000
long_rate=44100
file_size_hex=1000000
file_size=$((0x$file_size_hex))
# A full 2 MiB part: 90 s of ADPCM. And 10 minutes of ADPCM in the 16 MiB image, to show that
# the generator's memory does not grow with the sound.
part_frames=3960000
part_size=2097152
# The same part with PCM16: 22.7 s. Its compile is cheap, so the map's ADPCM trial weighs more.
part16_frames=1000000
ten_frames=26460000
scaling_counts=(100 1000 10000)

say() { echo "bench: $*" >&2; }

install_missing() {  # package...
  "$top/scripts/deps.sh" base
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Only the targets the benchmark runs, so that work in progress elsewhere cannot stop it.
build_release() {
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON \
    -DQS71_TESTS=OFF >/dev/null
  cmake --build "$build" --target qs71gen qs71dump qs71_usb_writer_emulated qs71_bench_timed \
    qs71_bench_inputs qs71_bench_prog qs71_bench_stream
}

write_script() {  # kind wave file-size-hex path
  printf '%s\n' ".GLOBAL \$FILESIZE = $3h" ".$1 voice = \"$2\"" '.SECTION [0] $GROUPS = voice(44100):0' >"$4"
}

make_inputs() {
  local kind n
  mkdir -p "$data"
  cd "$data"
  "$inputs" wav long.wav "$long_frames" "$long_rate" 1
  for kind in ADPCM PCM16 ULAW; do write_script "$kind" long.wav "$file_size_hex" "${kind,,}.qs"; done
  "$inputs" wav short.wav 256 8000 7
  for n in "${scaling_counts[@]}"; do "$inputs" script "$n" short.wav 400000h "scale$n.qs"; done
  "$inputs" wav part.wav "$part_frames" "$long_rate" 3
  write_script ADPCM part.wav 200000 part.qs
  "$inputs" wav part16.wav "$part16_frames" "$long_rate" 3
  write_script PCM16 part16.wav 200000 part16.qs
  "$inputs" wav ten.wav "$ten_frames" "$long_rate" 5
  write_script ADPCM ten.wav "$file_size_hex" ten.qs
  check_image part.qs part.bin "$part_frames"
}

# One compile of a benchmark script, checked: 0 errors, nothing on standard error but the
# warnings that a 44.1 kHz link and a 16 MiB image always get (none about an address or a
# length that would wrap), and qs71dump reads the image back with the sound's sample count.
check_image() {  # script image frames
  local base=${2%.bin}
  "$gen" "$1" "$2" >"$base.log" 2>"$base.err" || { say "qs71gen failed on $1"; exit 1; }
  grep -q "Complete with 0 Errors" "$base.log" || { say "$1: qs71gen reported errors"; exit 1; }
  if grep -v -e "cannot play 44100 Hz within 1 %" -e "a size no QS71 part has" "$base.err" | grep -q .; then
    say "$1: unexpected messages on standard error:"
    cat "$base.err" >&2
    exit 1
  fi
  "$dump" "$2" >"$base.dump" || { say "$2: qs71dump does not read it as an image"; exit 1; }
  grep -q " $3 samples" "$base.dump" || { say "$2: qs71dump does not find $3 samples"; exit 1; }
}

# Share of the whole machine that other processes keep busy, over one second.
busy_share() {
  local a b
  a=($(head -1 /proc/stat))
  sleep 1
  b=($(head -1 /proc/stat))
  awk -v u="$((b[1] + b[2] + b[3] + b[6] + b[7] + b[8] - a[1] - a[2] - a[3] - a[6] - a[7] - a[8]))" \
    -v i="$((b[4] + b[5] - a[4] - a[5]))" 'BEGIN { printf "%.2f", (u + i) ? u / (u + i) : 0 }'
}

# Waits until other work leaves the machine mostly idle, or until the wait runs out; records
# what the part started with.
wait_quiet() {  # part
  local waited=0 share
  share=$(busy_share)
  while awk -v s="$share" -v q="$quiet" 'BEGIN { exit !(s > q) }' && [ "$waited" -lt "$max_wait" ]; do
    say "machine busy (${share} of its CPUs), waiting before $1"
    sleep 9
    waited=$((waited + 10))
    share=$(busy_share)
  done
  echo "$1 $share $(cut -d' ' -f1 /proc/loadavg)" >>"$data/load.txt"
}

# One timed run; the output of the command is kept for the checks.
measure() {  # name command...
  local name=$1 line
  shift
  line=$("$timed" --out "$data/$name.out" -- "$@" 2>>"$data/$name.err")
  [ "${line##* }" = 0 ] || { say "$name failed: $*"; exit 1; }
  echo "$name $line" >>"$times"
}

# Runs every command of a group once per round, so that a burst of other work hits all of
# them alike rather than one tool's whole series. A name N stands for the array cmd_N.
run_group() {  # name...
  local round name
  for round in $(seq "$repeat"); do
    for name in "$@"; do
      local -n cmd="cmd_$name"
      measure "$name" "${cmd[@]}"
      unset -n cmd
    done
  done
}

run_encoding() {
  cd "$data"
  local ff=(ffmpeg -nostdin -hide_banner -loglevel error -y -i long.wav)
  local sx=(sox -V1 long.wav)
  cmd_qs71gen_adpcm=("$gen" adpcm.qs out-adpcm.bin)
  cmd_ffmpeg_adpcm=("${ff[@]}" -c:a adpcm_ima_wav ff-adpcm.wav)
  cmd_sox_adpcm=("${sx[@]}" -t ima sox-adpcm.ima)
  cmd_qs71gen_ulaw=("$gen" ulaw.qs out-ulaw.bin)
  cmd_ffmpeg_ulaw=("${ff[@]}" -c:a pcm_mulaw -f mulaw ff-ulaw.ul)
  cmd_sox_ulaw=("${sx[@]}" -t ul sox-ulaw.ul)
  cmd_qs71gen_pcm16=("$gen" pcm16.qs out-pcm16.bin)
  cmd_ffmpeg_pcm16=("${ff[@]}" -c:a pcm_s16le -f s16le ff-pcm16.raw)
  cmd_sox_pcm16=("${sx[@]}" -t s16 sox-pcm16.raw)
  # Read the WAV, write an image of the same size: what any tool must at least spend.
  cmd_floor=(sh -c "cat long.wav >/dev/null && dd if=/dev/zero of=floor.bin bs=1M count=$((file_size >> 20)) status=none")
  # The same encoders in a loop that does nothing else: the least a streaming generator costs.
  cmd_model_ulaw=("$stream" ULAW long.wav model-ulaw.bin "$file_size")
  cmd_model_pcm16=("$stream" PCM16 long.wav model-pcm16.bin "$file_size")
  wait_quiet encoding
  run_group qs71gen_adpcm ffmpeg_adpcm sox_adpcm qs71gen_ulaw ffmpeg_ulaw sox_ulaw \
    qs71gen_pcm16 ffmpeg_pcm16 sox_pcm16 floor model_ulaw model_pcm16
  local f
  for f in adpcm ulaw pcm16; do
    grep -q "Complete with 0 Errors" "qs71gen_$f.out" || { say "qs71gen $f reported errors"; exit 1; }
    check_image "$f.qs" "out-$f.bin" "$long_frames"
  done
}

# A 2 MiB part filled with ADPCM, beside the references on the same WAV and the floor of a
# 2 MiB image; and 10 minutes of ADPCM, for the memory.
run_part() {
  cd "$data"
  cmd_qs71gen_part=("$gen" part.qs out-part.bin)
  cmd_ffmpeg_part=(ffmpeg -nostdin -hide_banner -loglevel error -y -i part.wav -c:a adpcm_ima_wav ff-part.wav)
  cmd_sox_part=(sox -V1 part.wav -t ima sox-part.ima)
  cmd_floor_part=(sh -c "cat part.wav >/dev/null && dd if=/dev/zero of=floor-part.bin bs=1M count=$((part_size >> 20)) status=none")
  cmd_qs71gen_ten=("$gen" ten.qs out-ten.bin)
  # The same compiles with their maps: every codec tried on the sound and played back.
  cmd_qs71gen_part_map=("$gen" --map part.map part.qs out-part-map.bin)
  cmd_qs71gen_part16=("$gen" part16.qs out-part16.bin)
  cmd_qs71gen_part16_map=("$gen" --map part16.map part16.qs out-part16-map.bin)
  wait_quiet part
  run_group qs71gen_part ffmpeg_part sox_part floor_part qs71gen_ten qs71gen_part_map \
    qs71gen_part16 qs71gen_part16_map
  check_image part.qs out-part.bin "$part_frames"
  check_image part16.qs out-part16.bin "$part16_frames"
  local f
  for f in part part16; do
    cmp -s "out-$f.bin" "out-$f-map.bin" || { say "the map changed the image of $f.qs"; exit 1; }
    grep -q "^Codecs" "$f.map" || { say "$f.map has no codec table"; exit 1; }
  done
  check_image ten.qs out-ten.bin "$ten_frames"
}

run_scaling() {
  cd "$data"
  local names=() n
  for n in "${scaling_counts[@]}"; do
    eval "cmd_scale_$n=(\"\$gen\" scale$n.qs scale$n.bin)"
    names+=("scale_$n")
  done
  wait_quiet scaling
  run_group "${names[@]}"
  for n in "${scaling_counts[@]}"; do
    grep -q "Complete with 0 Errors" "scale_$n.out" || { say "scale$n reported errors"; exit 1; }
  done
}

run_programmer() {
  cd "$data"
  wait_quiet programmer
  QS71_EMU_ID=6D611600 "$prog" "$emulated" part.bin "$repeat" >prog.txt
}

# Statistics of one name from times.txt (name wall user sys rss faults status): best and
# median wall, best CPU (user + sys), peak memory and fewest page faults.
stat_of() {  # name best|median|cpu|rss|faults
  local column order=-g
  case $2 in
    best | median) column='$2' ;;
    cpu) column='$3 + $4' ;;
    rss) column='$5' order=-gr ;;
    faults) column='$6' ;;
  esac
  awk -v n="$1" "\$1 == n { print $column }" "$times" | sort $order |
    awk -v f="$2" '{ v[NR] = $1 } END { print (f == "median") ? v[int((NR + 1) / 2)] : v[1] }'
}

prog_value() { awk -v k="$1" '$1 == k { print $2 }' "$data/prog.txt"; }

calc() { awk "BEGIN { printf \"$1\", $2 }"; }

source "$top/bench/results_section.sh"
source "$top/bench/report.sh"
source "$top/bench/profile.sh"

main() {
  install_missing ffmpeg sox
  build_release
  make_inputs
  rm -f "$times" "$data/load.txt" "$data/profile.txt" "$data/profile.md"
  local load_start
  load_start=$(cut -d' ' -f1-3 /proc/loadavg)
  run_encoding
  run_part
  run_scaling
  run_programmer
  [ "$profile" = 1 ] && command -v valgrind >/dev/null && run_profiles
  write_results "$load_start"
  say "results written to $out"
  "$top/bench/adpcm_quality.sh"
}

# bench/adpcm_quality.sh takes the helpers above without running the benchmark.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then main "$@"; fi
