#!/usr/bin/env bash
# qs71gen --watch: how long a changed wave file takes to reach the image. A watch runs on the
# demo (4 short sounds) and on 40 sounds of 2 s each prepared with --resample --loudness (a
# designer's part); one wave file is rewritten with other samples, and the time from the end of
# that write to the new image under its name is taken, REPEAT times each. The figure holds the
# 200 ms the watch waits for writes to settle. Replaces its section of bench/RESULTS.md.
#
#   bench/watch.sh
#
# Environment:
#   QS71_BENCH_BUILD   build directory (build-bench)
#   QS71_BENCH_REPEAT  changes per case; median and largest are reported (10)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
repeat=${QS71_BENCH_REPEAT:-10}
data=$build/bench-watch
results=$top/bench/RESULTS.md
source "$top/bench/results_section.sh"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qs71gen >/dev/null
rm -rf "$data"
mkdir -p "$data/demo" "$data/forty"
cp -r "$top/examples/demo.qs" "$top/examples/sounds" "$data/demo/"

load=$(cut -d' ' -f1-3 /proc/loadavg)
table=$(python3 - "$build/gen/qs71gen" "$data" "$repeat" <<'PY'
import math, os, signal, statistics, struct, subprocess, sys, time, wave

gen, data, repeat = sys.argv[1], sys.argv[2], int(sys.argv[3])

def tone(path, freq, seconds, rate=22050):
    with wave.open(path, 'wb') as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate)
        w.writeframes(b''.join(struct.pack('<h', int(9000 * math.sin(2 * math.pi * freq * i / rate)))
                               for i in range(int(seconds * rate))))

forty = os.path.join(data, 'forty')
with open(os.path.join(forty, 'forty.qs'), 'w') as s:
    s.write('.GLOBAL $FILESIZE = 200000h\n')
    for i in range(40):
        tone(os.path.join(forty, f'take{i}.wav'), 200 + 20 * i, 2.0)
        s.write(f'.ADPCM take{i} = "take{i}.wav"\n')
    for i in range(40):
        s.write(f'.SECTION [{i % 16 + 1}] $GROUPS = take{i}(16000):0\n')

def stamp(path):
    try:
        st = os.stat(path)
        return (st.st_ino, st.st_mtime_ns)
    except FileNotFoundError:
        return None

def measure(folder, args, wav, make):
    image = os.path.join(folder, args[-1])
    proc = subprocess.Popen([gen, '--watch'] + args, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    proc.stderr.readline()  # the first compile's status
    times = []
    for n in range(repeat):
        before = stamp(image)
        make(os.path.join(folder, wav), n)
        written = time.monotonic()
        while stamp(image) == before:
            time.sleep(0.001)
        times.append((time.monotonic() - written) * 1000)
        proc.stderr.readline()
    proc.send_signal(signal.SIGTERM)
    proc.wait()
    return statistics.median(times), max(times)

rows = [
    ('demo: 4 sounds, no preparation', measure(os.path.join(data, 'demo'), ['demo.qs', 'demo.bin'], 'sounds/chime.wav',
                                               lambda p, n: tone(p, 500 + 50 * n, 0.3, 8000))),
    ('40 sounds of 2 s, --resample --loudness -20', measure(forty, ['--resample', '--loudness', '-20', 'forty.qs', 'forty.bin'],
                                                         'take7.wav', lambda p, n: tone(p, 300 + 50 * n, 2.0))),
]
print(f'| case ({repeat} changes) | median ms | largest ms |')
print('|---|---|---|')
for name, (median, largest) in rows:
    print(f'| {name} | {median:.0f} | {largest:.0f} |')
PY
)
block=$data/section.md
{
  echo "<!-- watch:begin (bench/watch.sh replaces everything up to watch:end) -->"
  echo "Run of $(date -u '+%Y-%m-%d %H:%M') UTC: \`bench/watch.sh\`, $repeat changes per case; load average at the start $load."
  echo
  echo "$table"
  echo "<!-- watch:end -->"
} >"$block"
echo "$table"
replace_results_section watch "$results" "$block" ||
  { printf '\n## qs71gen --watch: a changed wave file to the new image\n\n' >>"$results"; cat "$block" >>"$results"; }
