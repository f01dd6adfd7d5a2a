#!/usr/bin/env bash
# The plain compile (no preparation option) of the 3-minute 44.1 kHz sound into a 16 MiB image
# beside references that also sync their output to the disk, as qs71gen syncs its image before
# it takes its name: sox and ffmpeg encoding the same file, each followed by `sync FILE`, and
# `cat` copying the WAV into a file and syncing it. Also the 2 MiB part with and without --map.
# Every command of a group runs once per round, rounds interleaved; best and median are kept.
#
#   bench/synced.sh [--no-write]
#
# Rewrites its section of bench/RESULTS.md (between synced:begin and synced:end) unless
# --no-write. Uses bench/run.sh's build directory, builds what is missing there.
#   QS71_BENCH_BUILD     build directory (build-bench)
#   QS71_BENCH_REPEAT    rounds (7)
#   QS71_BENCH_BASELINE  another qs71gen to run in the same rounds (e.g. the last release's), as
#                        "baseline" rows: a before and after measured under the same load
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/bench/results_section.sh"
build=${QS71_BENCH_BUILD:-$top/build-bench}
repeat=${QS71_BENCH_REPEAT:-7}
baseline=${QS71_BENCH_BASELINE:-}
write=1
[ "${1:-}" = --no-write ] && write=0
data=$build/bench-data/synced
gen=$build/gen/qs71gen
timed=$build/bench/qs71_bench_timed
inputs=$build/bench/qs71_bench_inputs

command -v sox >/dev/null && command -v ffmpeg >/dev/null || {
  echo "bench: needs sox and ffmpeg (apt-get install sox ffmpeg)" >&2
  exit 1
}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON -DQS71_TESTS=OFF >/dev/null
cmake --build "$build" --target qs71gen qs71_bench_timed qs71_bench_inputs >/dev/null
mkdir -p "$data"
cd "$data"

script() {  # kind wave file-size-hex path
  printf '%s\n' ".GLOBAL \$FILESIZE = $3h" ".$1 voice = \"$2\"" '.SECTION [0] $GROUPS = voice(44100):0' >"$4"
}

# The inputs of bench/run.sh: the same seeds, the same bytes.
[ -f long.wav ] || "$inputs" wav long.wav 7938000 44100 1
[ -f part.wav ] || "$inputs" wav part.wav 3960000 44100 3
for kind in ADPCM ULAW PCM16; do script "$kind" long.wav 1000000 "${kind,,}.qs"; done
script ADPCM part.wav 200000 part.qs

ff="ffmpeg -nostdin -hide_banner -loglevel error -y -i long.wav"
sx="sox -V1 long.wav"
# name|command; the references through sh, which costs them a process start more than qs71gen.
commands=(
  "qs71gen_adpcm|$gen adpcm.qs adpcm.bin"
  "sox_adpcm|sh -c '$sx -t ima sox.ima && sync sox.ima'"
  "ffmpeg_adpcm|sh -c '$ff -c:a adpcm_ima_wav ff.wav && sync ff.wav'"
  "qs71gen_ulaw|$gen ulaw.qs ulaw.bin"
  "sox_ulaw|sh -c '$sx -t ul sox.ul && sync sox.ul'"
  "ffmpeg_ulaw|sh -c '$ff -c:a pcm_mulaw -f mulaw ff.ul && sync ff.ul'"
  "qs71gen_pcm16|$gen pcm16.qs pcm16.bin"
  "sox_pcm16|sh -c '$sx -t s16 sox.raw && sync sox.raw'"
  "ffmpeg_pcm16|sh -c '$ff -c:a pcm_s16le -f s16le ff.raw && sync ff.raw'"
  "cat|sh -c 'cat long.wav >cat.bin && sync cat.bin'"
  "qs71gen_part|$gen part.qs part.bin"
  "qs71gen_part_map|$gen --map part.map part.qs part-map.bin"
)
if [ -n "$baseline" ]; then
  commands+=(
    "baseline_adpcm|$baseline adpcm.qs base-adpcm.bin"
    "baseline_ulaw|$baseline ulaw.qs base-ulaw.bin"
    "baseline_pcm16|$baseline pcm16.qs base-pcm16.bin"
    "baseline_part|$baseline part.qs base-part.bin"
    "baseline_part_map|$baseline --map base-part.map part.qs base-part-map.bin"
  )
fi

: >times.txt
for _ in $(seq "$repeat"); do
  for entry in "${commands[@]}"; do
    name=${entry%%|*}
    line=$(eval "\"$timed\" -- ${entry#*|}" 2>>errors.txt)
    [ "${line##* }" = 0 ] || { echo "bench: $name failed" >&2; exit 1; }
    echo "$name $line" >>times.txt
  done
done
cmp -s part.bin part-map.bin || { echo "bench: the map changed the image" >&2; exit 1; }
if [ -n "$baseline" ]; then
  for f in adpcm ulaw pcm16 part; do
    cmp -s "$f.bin" "base-$f.bin" || { echo "bench: $f.bin differs from the baseline's" >&2; exit 1; }
  done
fi

python3 - "$repeat" "$(cut -d' ' -f1-3 /proc/loadavg)" "$baseline" >section.md <<'EOF'
import datetime, statistics, sys

repeat, load, baseline = int(sys.argv[1]), sys.argv[2], sys.argv[3]
runs = {}
for line in open("times.txt"):
    name, wall, user, system, rss, faults, status = line.split()
    runs.setdefault(name, []).append((float(wall), float(user) + float(system), int(rss)))

def best(n): return min(w for w, _, _ in runs[n])
def median(n): return statistics.median(w for w, _, _ in runs[n])
def cpu(n): return min(c for _, c, _ in runs[n])
def cpu_median(n): return statistics.median(c for _, c, _ in runs[n])
def rss(n): return max(r for _, _, r in runs[n]) / 1024

rows = []
def row(label, n):
    rows.append(f"| {label} | {best(n):.3f} | {median(n):.3f} | {cpu(n):.3f} | {cpu_median(n):.3f} | {rss(n):.1f} |")

for f, label in (("adpcm", "ADPCM"), ("ulaw", "u-law"), ("pcm16", "PCM16")):
    row(f"{label}: qs71gen", f"qs71gen_{f}")
    if baseline: row(f"{label}: baseline qs71gen", f"baseline_{f}")
    row(f"{label}: sox + sync", f"sox_{f}")
    row(f"{label}: ffmpeg + sync", f"ffmpeg_{f}")
row("cat + sync", "cat")
row("2 MiB ADPCM part: qs71gen", "qs71gen_part")
row("2 MiB ADPCM part: qs71gen --map", "qs71gen_part_map")
if baseline:
    row("2 MiB ADPCM part: baseline qs71gen", "baseline_part")
    row("2 MiB ADPCM part: baseline qs71gen --map", "baseline_part_map")

def ratio(a, ref_best, ref_median):
    return best(a) / ref_best, median(a) / ref_median

def fastest(f, stat):
    return min(stat(f"sox_{f}"), stat(f"ffmpeg_{f}"))

targets = []
def target(text, values, limit):
    b, m = values
    verdict = "met" if b <= limit and m <= limit else ("met by the best runs" if b <= limit else "missed")
    targets.append(f"| {text} | {b:.2f} | {m:.2f} | {limit} | {verdict} |")

for f, label in (("pcm16", "PCM16"), ("ulaw", "u-law")):
    target(f"{label} ÷ cat + sync", ratio(f"qs71gen_{f}", best("cat"), median("cat")), 2.0)
target("ADPCM ÷ the faster of sox and ffmpeg + sync",
       ratio("qs71gen_adpcm", fastest("adpcm", best), fastest("adpcm", median)), 0.5)
target("2 MiB part: with --map ÷ without", ratio("qs71gen_part_map", best("qs71gen_part"), median("qs71gen_part")), 2.0)
if baseline:
    for f in ("adpcm", "ulaw", "pcm16"):
        b, m = ratio(f"baseline_{f}", fastest(f, best) if f == "adpcm" else best("cat"),
                     fastest(f, median) if f == "adpcm" else median("cat"))
        targets.append(f"| (baseline) {f} ÷ {'the faster reference' if f == 'adpcm' else 'cat + sync'} | {b:.2f} | {m:.2f} | | |")
    b, m = ratio("baseline_part_map", best("baseline_part"), median("baseline_part"))
    targets.append(f"| (baseline) 2 MiB part: with --map ÷ without | {b:.2f} | {m:.2f} | | |")

when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
text = f"""<!-- synced:begin (bench/synced.sh replaces everything up to synced:end) -->
Run of {when}: `bench/synced.sh`{" with `QS71_BENCH_BASELINE`" if baseline else ""}, {repeat} interleaved rounds; load average
at the start {load}. Wall and CPU (user + system) time in seconds; peak RSS the largest of the runs.

| Command | Best wall | Median wall | Best CPU | Median CPU | Peak RSS (MiB) |
|---|---|---|---|---|---|
{chr(10).join(rows)}

| Ratio | Best | Median | Limit | |
|---|---|---|---|---|
{chr(10).join(targets)}
<!-- synced:end -->"""
print(text)
EOF
cat section.md
[ "$write" = 0 ] || replace_results_section synced "$top/bench/RESULTS.md" section.md || {
  echo "bench: bench/RESULTS.md has no synced:begin and synced:end markers" >&2
  exit 1
}
