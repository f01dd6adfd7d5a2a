#!/usr/bin/env bash
# ADPCM quality: qs71gen's --adpcm-quality levels 0 to 3 beside ffmpeg's IMA ADPCM encoder
# (adpcm_ima_wav) at -trellis 0, 4, 8 and 16, on speech made here with espeak-ng (a male and a
# female voice, 8 and 16 kHz) and on the benchmark's 3-minute tone-and-noise file. For each: the
# SNR of the decoded sound against the encoder's input over the whole sound (qs71_bench_snr),
# wall time and peak RSS of the encoder (qs71_bench_timed). qs71gen's sounds are decoded as the
# chip plays them (qs71dump --extract), ffmpeg's by ffmpeg. Writes a table and a plot of SNR
# against time (gnuplot) into bench/RESULTS.md between its own markers. On the speech it also
# runs the generator's search at widths past level 3's (qs71_bench_snr --search), to show how
# much a wider search still gains and at what cost. Runs alone, or as the last part of
# bench/run.sh.
#
#   bench/adpcm_quality.sh
#
# Environment: QS71_BENCH_BUILD, QS71_BENCH_OUT as for bench/run.sh;
#   QS71_BENCH_ADPCM_LONG  0 leaves out the 3-minute file (1)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
# The benchmark's settings and helpers (build, out, say, install_missing, build_release).
source "$top/bench/run.sh"
long=${QS71_BENCH_ADPCM_LONG:-1}
data=$build/bench-data/adpcm
plot=$top/bench/adpcm_quality.png
snr=$build/bench/qs71_bench_snr
levels=(0 1 2 3)
trellises=(0 4 8 16)
# Search widths "survivors radius opposite fineness depth": level 3's, then wider, up to the
# finest buckets and deepest commits that still gain, and at the last one more codes tried.
widths=("128 1 0 4 32" "256 1 0 5 64" "512 1 0 6 128" "1024 1 0 6 128" "2048 1 0 7 128"
  "4096 1 0 7 128" "4096 2 2 7 128")
# The speech: fixed text, fixed voices and speed, so every run hears the same input.
text="Press the green button to hear the song again. The little train climbs the hill."
voices=("male en+m3" "female en+f3")

build_tools() {
  build_release
  cmake --build "$build" --target qs71_bench_snr
}

# speech_<voice>_<rate>.wav, 16-bit mono; long.wav as bench/run.sh makes it.
make_inputs() {
  local v name voice rate
  rm -rf "$data"
  mkdir -p "$data"
  cd "$data"
  for v in "${voices[@]}"; do
    read -r name voice <<<"$v"
    espeak-ng -v "$voice" -s 150 -w "raw_$name.wav" "$text"
    for rate in 8000 16000; do
      ffmpeg -loglevel error -y -i "raw_$name.wav" -ar "$rate" -ac 1 -c:a pcm_s16le -bitexact \
        -map_metadata -1 "speech_${name}_$rate.wav"
    done
  done
  [ "$long" = 1 ] && "$inputs" wav long.wav 7938000 44100 1
  return 0
}

rate_of() { ffprobe -v error -show_entries stream=sample_rate -of csv=p=0 "$1"; }

# A timed run, its line "WALL USER SYS MAXRSS FAULTS STATUS" on standard output; the run's own
# standard output goes to $timed_out (default /dev/null). A run under a second of CPU time is
# repeated, five in all, and the line of median CPU time is given: the machine is shared, and
# one short run varies by a third.
timed_run() {
  local first cpu lines i
  first=$("$timed" --out "${timed_out:-/dev/null}" -- "$@")
  cpu=$(awk '{ print $2 + $3 }' <<<"$first")
  if awk -v c="$cpu" 'BEGIN { exit !(c >= 1) }'; then echo "$first"; return; fi
  lines=$first
  for i in 2 3 4 5; do lines+=$'\n'$("$timed" --out "${timed_out:-/dev/null}" -- "$@"); done
  # A failed run is the answer, whichever it was.
  if awk '$NF != 0 { found = 1 } END { exit !found }' <<<"$lines"; then awk '$NF != 0' <<<"$lines" | head -1; return; fi
  sort -g -k2,2 <<<"$(awk '{ $2 = $2 + $3; $3 = 0; print }' <<<"$lines")" | sed -n 3p
}

# "WALL CPU RSS_KIB" of a timed run's line; CPU is user plus system time.
costs() { awk '{ printf "%s %.3f %s", $1, $2 + $3, $4 }' <<<"$1"; }

# A row "input encoder setting snr wall cpu rss_kib" per run. The speech goes into a 2 MiB
# part's image, the 3-minute file into 16 MiB: writing a larger image than the sound needs
# would be timed as encoding.
run_qs71gen() {  # wave
  local wave=$1 base=${1%.wav} q line size=200000h
  [ "$base" = long ] && size=1000000h
  printf '%s\n' ".GLOBAL \$FILESIZE = $size" ".ADPCM voice = \"$wave\"" \
    ".SECTION [0] \$GROUPS = voice($(rate_of "$wave")):0" >"$base.qs"
  for q in "${levels[@]}"; do
    line=$(timed_run "$gen" --adpcm-quality "$q" "$base.qs" "$base.q$q.bin")
    [ "${line##* }" = 0 ] || { say "qs71gen failed on $wave at level $q"; exit 1; }
    rm -rf "$base.q$q.x"
    "$dump" --extract "$base.q$q.x" "$base.q$q.bin" >/dev/null
    echo "$base qs71gen $q $("$snr" "$wave" "$base.q$q.x"/*.wav | cut -d' ' -f1) $(costs "$line")"
  done
}

run_ffmpeg() {  # wave
  local wave=$1 base=${1%.wav} t line
  for t in "${trellises[@]}"; do
    # 65536 nodes a sample: seconds for the speech, hours for the 3-minute file.
    if [ "$t" -gt 8 ] && [ "$base" = long ]; then continue; fi
    line=$(timed_run ffmpeg -nostdin -loglevel error -y -i "$wave" -c:a adpcm_ima_wav -trellis "$t" "$base.t$t.wav")
    [ "${line##* }" = 0 ] || { say "ffmpeg failed on $wave at trellis $t"; exit 1; }
    ffmpeg -nostdin -loglevel error -y -i "$base.t$t.wav" -c:a pcm_s16le "$base.t$t.dec.wav"
    echo "$base ffmpeg $t $("$snr" "$wave" "$base.t$t.dec.wav" | cut -d' ' -f1) $(costs "$line")"
  done
}

# A row "input search survivors/radius/opposite/fineness/depth snr wall cpu rss_kib" per width.
run_widths() {  # wave
  local wave=$1 base=${1%.wav} w line
  for w in "${widths[@]}"; do
    # shellcheck disable=SC2086 # the width is five numbers
    line=$(timed_out=$base.search.txt timed_run "$snr" --search $w "$wave")
    [ "${line##* }" = 0 ] || { say "the search at $w failed on $wave"; exit 1; }
    echo "$base search ${w// //} $(cut -d' ' -f1 "$base.search.txt") $(costs "$line")"
  done
}

# One colour per input; qs71gen's levels solid with dots, ffmpeg dashed with squares, the wider
# searches dotted with crosses.
make_plot() {
  local series=() base enc colour=0 style
  declare -A styles=([qs71gen]="dt 1 pt 7" [ffmpeg]="dt 2 pt 5" [search]="dt 3 pt 2")
  for base in $(cut -d' ' -f1 rows.txt | sort -u); do
    colour=$((colour + 1))
    for enc in qs71gen ffmpeg search; do
      awk -v b="$base" -v e="$enc" '$1 == b && $2 == e { print ($6 > 0.001 ? $6 : 0.001), $4 }' rows.txt >"plot_${base}_$enc.dat"
      [ -s "plot_${base}_$enc.dat" ] || continue
      style=${styles[$enc]}
      series+=("'plot_${base}_$enc.dat' using 1:2 with linespoints lc $colour $style title '$base $enc'")
    done
  done
  gnuplot <<GP
set terminal pngcairo size 900,600 noenhanced
set output '$plot'
set logscale x
set xlabel 'encoder CPU time (s, user + system, log scale)'
set ylabel 'SNR (dB)'
set key outside right
set grid
plot $(IFS=,; echo "${series[*]}")
GP
}

results_block() {
  echo "<!-- adpcm-quality:begin (bench/adpcm_quality.sh replaces everything up to adpcm-quality:end) -->"
  echo "## ADPCM quality: qs71gen --adpcm-quality beside ffmpeg adpcm_ima_wav -trellis"
  echo
  echo "Measured $(date -u +%Y-%m-%d) on $(nproc) CPUs, load at start $1; ffmpeg $(ffmpeg -version | head -1 | cut -d' ' -f3)."
  echo "SNR of the decoded sound against the encoder's input over the whole sound; wall and CPU"
  echo "(user + system) time of the encoder's process (qs71gen: the whole compile, ffmpeg: the"
  echo "encode alone), and its peak RSS. The machine is shared: CPU time is the fairer measure, and"
  echo "a run under a second of it is the median of five."
  echo "ffmpeg -trellis 16 (65536 nodes a sample) runs on the speech only: on the 3-minute file it"
  echo "would take hours."
  echo
  echo "| input | encoder | setting | SNR dB | wall s | CPU s | peak RSS MiB |"
  echo "|---|---|---|---|---|---|---|"
  awk '$2 != "search" { printf "| %s | %s | %s %s | %.2f | %.3f | %.3f | %.1f |\n", $1, $2, ($2 == "qs71gen" ? "level" : "trellis"), $3, $4, $5, $6, $7 / 1024 }' rows.txt
  echo
  echo "### How much a wider search still gains"
  echo
  echo "The generator's search run by qs71_bench_snr --search at widths past level 3's (the first"
  echo "row): paths kept per sample, magnitudes tried around the nearest, magnitudes tried with the"
  echo "other sign, merge buckets of step / 2^fineness, and samples between commits (the depth a"
  echo "commit reaches back). Each is played as the chip plays it. CPU time is the whole"
  echo "process's (reading the wave, the search, the playback, the SNR); \"of t8\" is that time over"
  echo "ffmpeg -trellis 8's on the same input. The target is -trellis 8 + 0.5 dB."
  echo
  echo "| input | width | SNR dB | CPU s | of t8 | peak RSS MiB | target dB | -trellis 16 dB |"
  echo "|---|---|---|---|---|---|---|---|"
  # A -trellis 8 run too short to time shows "-" rather than a ratio.
  awk '$2 == "ffmpeg" && $3 == 8 { t8[$1] = $4; c8[$1] = $6 } $2 == "ffmpeg" && $3 == 16 { t16[$1] = $4 }
    $2 == "search" { row[++n] = $0 }
    END { for (i = 1; i <= n; ++i) { split(row[i], f, " ")
      ratio = c8[f[1]] > 0 ? sprintf("%.2f", f[6] / c8[f[1]]) : "-"
      printf "| %s | %s | %.2f | %.3f | %s | %.1f | %.2f | %.2f |\n", f[1], f[3], f[4], f[6], ratio, f[7] / 1024,
        t8[f[1]] + 0.5, t16[f[1]] } }' rows.txt
  echo
  echo "![SNR against time](adpcm_quality.png)"
  echo "<!-- adpcm-quality:end -->"
}

write_results() {  # load at start
  local block="$data/adpcm.md"
  results_block "$1" >"$block"
  replace_results_section adpcm-quality "$out" "$block" || { echo; cat "$block"; } >>"$out"
}

main() {
  install_missing espeak-ng ffmpeg gnuplot-nox
  build_tools
  make_inputs
  local load_start wave
  load_start=$(cut -d' ' -f1-3 /proc/loadavg)
  : >rows.txt
  for wave in speech_{male,female}_{8000,16000}.wav $([ "$long" = 1 ] && echo long.wav); do
    say "$wave"
    run_qs71gen "$wave" | tee -a rows.txt
    run_ffmpeg "$wave" | tee -a rows.txt
    [ "$wave" = long.wav ] || run_widths "$wave" | tee -a rows.txt
  done
  make_plot
  write_results "$load_start"
  say "results written to $out, plot to $plot"
}

main "$@"
