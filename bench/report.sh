# Writes the measured part of bench/RESULTS.md. Sourced by bench/run.sh, which provides the
# settings and the helpers stat_of, prog_value and calc; reads $data/times.txt, load.txt,
# prog.txt and, after a profile run, profile.txt.

machine_lines() {
  local model cores mem kernel os hyper thp
  model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
  cores=$(nproc)
  mem=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
  kernel=$(uname -r)
  os=$(. /etc/os-release && echo "$PRETTY_NAME")
  hyper=$(lscpu | sed -n 's/^Hypervisor vendor: *//p' | head -1)
  thp=$(sed -n 's/.*\[\(.*\)\].*/\1/p' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || true)
  echo "| CPU | $model${hyper:+ (virtual machine, $hyper)} |"
  echo "| Cores | $cores |"
  echo "| Memory | $mem |"
  echo "| Kernel | $kernel |"
  echo "| System | $os |"
  echo "| Transparent huge pages | ${thp:-unknown} |"
}

tool_lines() {
  local commit dirty=""
  commit=$(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)
  [ -n "$(git -C "$top" status --porcelain -- gen usbwriter bench 2>/dev/null)" ] && dirty=" with local changes"
  echo "| qs71 | $commit$dirty, CMake Release (-O3), $(g++ --version | head -1) |"
  echo "| ffmpeg | $(ffmpeg -version | head -1 | cut -d' ' -f1-3) |"
  echo "| sox | $(sox --version 2>&1 | sed 's/^sox: *//') |"
  echo "| cat, dd | $(dd --version | head -1) |"
  command -v valgrind >/dev/null && echo "| valgrind | $(valgrind --version) |"
  return 0
}

load_lines() {
  awk '{ printf "| %s | %.0f %% | %s |\n", $1, $2 * 100, $3 }' "$data/load.txt"
}

mib() { calc "%.1f" "$1 / 1024"; }

# One row per tool of an encoding table; the ratio is qs71gen's best time over the tool's.
encoding_rows() {  # format label [frames]
  local f=$1 label=$2 frames=${3:-$long_frames} gen_best tool best
  gen_best=$(stat_of "qs71gen_$f" best)
  for tool in qs71gen ffmpeg sox; do
    best=$(stat_of "${tool}_$f" best)
    local ratio="—"
    [ "$tool" != qs71gen ] && ratio=$(calc "%.2f" "$gen_best / $best")
    printf '| %s | %s | %.3f | %.3f | %.3f | %.1f | %s | %d | %s |\n' "$label" "$tool" "$best" \
      "$(stat_of "${tool}_$f" median)" "$(stat_of "${tool}_$f" cpu)" \
      "$(calc "%.3f" "$frames / $best / 1e6")" "$(mib "$(stat_of "${tool}_$f" rss)")" \
      "$(stat_of "${tool}_$f" faults)" "$ratio"
  done
}

floor_rows() {
  local floor f best model
  floor=$(stat_of floor best)
  for f in adpcm ulaw pcm16; do
    best=$(stat_of "qs71gen_$f" best)
    model="— | —"
    if [ "$f" != adpcm ]; then
      model=$(printf '%.3f | %.2f' "$(stat_of "model_$f" best)" \
        "$(calc "%.4f" "$(stat_of "model_$f" best) / $floor")")
    fi
    printf '| %s | %.3f | %.3f | %.2f | %s |\n' "${f^^}" "$best" "$floor" \
      "$(calc "%.4f" "$best / $floor")" "$model"
  done
}

# The part's compiles without and with their maps, and the ratio of their best times.
map_rows() {
  local row name base label
  for row in "qs71gen_part|qs71gen_part|ADPCM, without --map" "qs71gen_part_map|qs71gen_part|ADPCM, with --map" \
    "qs71gen_part16|qs71gen_part16|PCM16, without --map" "qs71gen_part16_map|qs71gen_part16|PCM16, with --map"; do
    IFS='|' read -r name base label <<<"$row"
    printf '| %s | %.3f | %.3f | %.3f | %.1f | %s |\n' "$label" "$(stat_of "$name" best)" \
      "$(stat_of "$name" median)" "$(stat_of "$name" cpu)" "$(mib "$(stat_of "$name" rss)")" \
      "$([ "$name" = "$base" ] && echo — || calc "%.2f" "$(stat_of "$name" best) / $(stat_of "$base" best)")"
  done
}

# Peak memory of every qs71gen run against the length of its sound.
memory_rows() {
  local row name what frames
  for row in "qs71gen_part|ADPCM, 2 MiB image|$part_frames" "qs71gen_adpcm|ADPCM, 16 MiB image|$long_frames" \
    "qs71gen_ulaw|u-law, 16 MiB image|$long_frames" "qs71gen_pcm16|PCM16, 16 MiB image|$long_frames" \
    "qs71gen_ten|ADPCM, 16 MiB image|$ten_frames"; do
    IFS='|' read -r name what frames <<<"$row"
    printf '| %s | %s | %.1f | %s | %d |\n' "$what" "$(calc "%.1f" "$frames / $long_rate")" \
      "$(calc "%.1f" "$frames * 4 / 1048576")" "$(mib "$(stat_of "$name" rss)")" "$(stat_of "$name" faults)"
  done
}

# The largest peak memory of all qs71gen encoding runs, in KiB.
gen_peak_rss() {
  local name peak=0 v
  for name in qs71gen_part qs71gen_adpcm qs71gen_ulaw qs71gen_pcm16 qs71gen_ten; do
    v=$(stat_of "$name" rss)
    [ "$v" -gt "$peak" ] && peak=$v
  done
  echo "$peak"
}

scaling_rows() {
  local n prev="" best
  for n in "${scaling_counts[@]}"; do
    best=$(stat_of "scale_$n" best)
    local growth="—"
    [ -n "$prev" ] && growth=$(calc "%.1f" "$best / $prev")
    printf '| %d | %d | %.3f | %.3f | %.3f | %.1f | %s | %s | %s |\n' "$n" \
      "$(wc -l <"$data/scale$n.qs")" "$best" "$(stat_of "scale_$n" median)" \
      "$(stat_of "scale_$n" cpu)" "$(calc "%.1f" "$best / $n * 1e6")" "$growth" \
      "$(mib "$(stat_of "scale_$n" rss)")" "$(profile_value "ir_scale_$n" "%.0f" "/ $n")"
    prev=$best
  done
}

# Time per added item between two sizes: fixed costs (1024 sections, the image) drop out.
slope() {  # small large
  calc "%.1f" "($(stat_of "scale_$2" best) - $(stat_of "scale_$1" best)) / ($2 - $1) * 1e6"
}

ir_slope() {  # small large
  local a b
  a=$(profile_value "ir_scale_$1" "%.0f")
  b=$(profile_value "ir_scale_$2" "%.0f")
  if [ "$a" = "—" ] || [ "$b" = "—" ]; then echo "—"; else calc "%.0f" "($b - $a) / ($2 - $1)"; fi
}

profile_value() {  # key format [expression applied to the value]
  local v
  v=$(awk -v k="$1" '$1 == k { print $2 }' "$data/profile.txt" 2>/dev/null || true)
  if [ -z "$v" ]; then echo "—"; else calc "$2" "$v ${3:-}"; fi
}

programmer_row() {
  local total best
  total=$(prog_value requests_total)
  best=$(prog_value best_s)
  printf '| %d | %d | %d | %d | %d | %.4f | %.4f | %.2f | %.2f %% |\n' "$part_size" "$total" \
    "$(prog_value requests_74)" "$(prog_value requests_7A)" "$(prog_value requests_77)" "$best" \
    "$(prog_value median_s)" "$(calc "%.4f" "$best / $total * 1e6")" \
    "$(calc "%.4f" "$best / $total * 1e6 / 1000 * 100")"
}

verdict() { awk "BEGIN { exit !($1) }" && echo met || echo "**missed**"; }

faster_reference() {  # format
  awk -v a="$(stat_of "ffmpeg_$1" best)" -v b="$(stat_of "sox_$1" best)" 'BEGIN { print (a < b) ? a : b }'
}

target_rows() {
  local f gen_best ref floor us s1 s2 peak label
  peak=$(gen_peak_rss)
  printf '| Peak RSS of qs71gen at most 16 MiB, sounds of 90 s to 10 min | %s MiB | %s |\n' \
    "$(mib "$peak")" "$(verdict "$peak <= 16384")"
  for f in ulaw pcm16; do
    gen_best=$(stat_of "qs71gen_$f" best)
    floor=$(stat_of floor best)
    printf '| %s within 2x of the I/O floor (3 min, 16 MiB) | %.2fx | %s |\n' "${f^^}" \
      "$(calc "%.4f" "$gen_best / $floor")" "$(verdict "$gen_best <= 2 * $floor")"
  done
  for f in adpcm part; do
    label="3 min, 16 MiB"
    [ "$f" = part ] && label="90 s, 2 MiB part"
    gen_best=$(stat_of "qs71gen_$f" best)
    ref=$(faster_reference "$f")
    printf '| ADPCM at least 2x as fast as the faster of ffmpeg and sox (%s) | %.3f s vs %.3f s (%.2fx) | %s |\n' \
      "$label" "$gen_best" "$ref" "$(calc "%.4f" "$ref / $gen_best")" "$(verdict "2 * $gen_best <= $ref")"
  done
  s1=$(slope 100 1000)
  s2=$(slope 1000 10000)
  printf '| Linear scaling to 10000 (time per added item, 1000→10000 vs 100→1000) | %s vs %s µs | %s |\n' \
    "$s2" "$s1" "$(verdict "$s2 <= 2 * $s1")"
  us=$(calc "%.4f" "$(prog_value best_s) / $(prog_value requests_total) * 1e6")
  printf '| Host time per report under 10 µs | %.2f µs | %s |\n' "$us" "$(verdict "$us < 10")"
}

profile_section() {
  [ -s "$data/profile.txt" ] || { echo "Not run (valgrind missing or --no-profile)."; return; }
  cat "$data/profile.md"
}

measured_block() {  # load at start
  cat <<EOF
<!-- measured:begin (bench/run.sh replaces everything up to measured:end) -->
Run of $(date -u '+%Y-%m-%d %H:%M UTC'): \`bench/run.sh\`, $repeat interleaved runs per measurement;
"best" is the fastest run, "median" the middle one. Load average when the run began: $1.

### Machine

| | |
|---|---|
$(machine_lines)

### Tools

| | |
|---|---|
$(tool_lines)

### Load before each part

Share of both CPUs that other work used in the second before the part, and the 1-minute load
average. The run waits (up to ${max_wait} s) for the share to drop below $(calc "%.0f" "$quiet * 100") %.

| Part | Other work | Load average |
|---|---|---|
$(load_lines)

### 1. Encoding throughput

Input: \`long.wav\`, $long_frames samples (3 minutes at 44.1 kHz), 16-bit mono, sha256
\`$(sha256sum "$data/long.wav" | cut -c1-16)…\`. qs71gen compiles a one-sound script into a
$file_size-byte image (\`\$FILESIZE = ${file_size_hex}h\`, written as 0xFF first); ffmpeg
(\`-c:a adpcm_ima_wav\`, no trellis; \`pcm_mulaw -f mulaw\`; \`pcm_s16le -f s16le\`) and sox
(\`-t ima\`, \`-t ul\`, \`-t s16\`) encode the same file. Ratio: qs71gen's best time over the
tool's (below 1: qs71gen is faster).

| Format | Tool | Best wall (s) | Median wall (s) | Best CPU (s) | Msamples/s | Peak RSS (MiB) | Page faults | qs71gen ÷ tool |
|---|---|---|---|---|---|---|---|---|
$(encoding_rows adpcm ADPCM)
$(encoding_rows ulaw u-law)
$(encoding_rows pcm16 PCM16)

### 2. I/O floor

\`cat long.wav >/dev/null && dd if=/dev/zero of=floor.bin bs=1M count=$((file_size >> 20))\`: read the WAV,
write an image of the same size. Best $(printf '%.3f' "$(stat_of floor best)") s, median $(printf '%.3f' "$(stat_of floor median)") s,
CPU $(printf '%.3f' "$(stat_of floor cpu)") s, $(stat_of floor faults) page faults.

The streaming model (\`bench/stream_model.cpp\`) fills the image the same way and then reads,
encodes with qs71gen's own u-law and PCM16 block encoders and writes 65536 samples at a time,
with nothing else around it (no script, no layout, no checks): the least a generator that
streams can cost.

| Format | qs71gen best (s) | Floor best (s) | qs71gen ÷ floor | Streaming model best (s) | Model ÷ floor |
|---|---|---|---|---|---|
$(floor_rows)

### 3. A 2 MiB part

Input: \`part.wav\`, $part_frames samples ($(calc "%.1f" "$part_frames / $long_rate") s at 44.1 kHz), compiled as ADPCM
into a $part_size-byte image (\`\$FILESIZE = 200000h\`), the largest sound a 2 MiB part holds;
ffmpeg and sox as above. Floor: \`cat part.wav\` and \`dd\` of 2 MiB, best
$(printf '%.3f' "$(stat_of floor_part best)") s; qs71gen ÷ floor $(calc "%.2f" "$(stat_of qs71gen_part best) / $(stat_of floor_part best)").

| Format | Tool | Best wall (s) | Median wall (s) | Best CPU (s) | Msamples/s | Peak RSS (MiB) | Page faults | qs71gen ÷ tool |
|---|---|---|---|---|---|---|---|---|
$(encoding_rows part ADPCM "$part_frames")

The same compiles with \`--map\`, interleaved with those without it, for this part and for
$(calc "%.1f" "$part16_frames / $long_rate") s of PCM16 on the same part size: the map measures the sound and encodes it with
every codec, decoding each as the chip plays it; the images are the same byte for byte.

| Compile | Best wall (s) | Median wall (s) | Best CPU (s) | Peak RSS (MiB) | With map ÷ without |
|---|---|---|---|---|---|
$(map_rows)

### 4. Memory against the sound's length

Peak resident memory of the qs71gen runs above, and of 10 minutes of ADPCM (\`ten.wav\`,
$ten_frames samples) in the 16 MiB image; "samples held whole" is what the samples alone took
when the generator read a whole sound before encoding it (4 bytes each).

| Sound | Length (s) | Samples held whole (MiB) | Peak RSS (MiB) | Page faults |
|---|---|---|---|---|
$(memory_rows)

### 5. Script scaling

N constants (each defined from the previous one), N wave sounds (ADPCM, PCM8, PCM16 and u-law
in turn, one shared 256-sample WAV), flags on all 1024 sections and N group links naming sounds
and constants in scattered order and other letter case; \`\$FILESIZE = 400000h\`. Instructions
from callgrind (user space only, repeatable to the instruction).

| N | Script lines | Best wall (s) | Median wall (s) | Best CPU (s) | µs per item | Time × previous row | Peak RSS (MiB) | Instructions per item |
|---|---|---|---|---|---|---|---|---|
$(scaling_rows)

Time per added item (fixed costs drop out): $(slope 100 1000) µs from 100 to 1000, $(slope 1000 10000) µs
from 1000 to 10000; instructions per added item: $(ir_slope 100 1000) and $(ir_slope 1000 10000). A
quadratic lookup would make the second of each pair about ten times the first.

### 6. Programmer host overhead

One call of \`Qs71UsbWriter\` (blank check, write, verify) on \`qs71_usb_writer_emulated\` with
\`QS71_EMU_ID=6D611600\` (a $part_size-byte part), image compiled by qs71gen. Counts from
\`Qs71EmuRequestCount\`; the time covers the library and the emulated programmer answering in the
same process, so it is an upper bound on the host's own cost.

| Part (bytes) | Reports sent | Write data (0x74) | Verify data (0x7A) | Read data (0x77) | Best call (s) | Median call (s) | µs per report | Share of a 1 ms USB frame |
|---|---|---|---|---|---|---|---|---|
$(programmer_row)

### Targets

| Target | Measured | |
|---|---|---|
$(target_rows)

### Profile

$(profile_section)
<!-- measured:end -->
EOF
}

# Replaces the measured block of the results file, keeping everything around it.
write_results() {  # load at start
  local block="$data/measured.md"
  measured_block "$1" >"$block"
  replace_results_section measured "$out" "$block" ||
    { echo "# qs71 benchmark results"; echo; cat "$block"; } >"$out"
}
