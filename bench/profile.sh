# Instruction profiles for bench/RESULTS.md, from callgrind: unlike times they repeat to the
# instruction on a loaded machine. Sourced by bench/run.sh; writes $data/profile.txt (key value)
# and $data/profile.md (the tables). Callgrind sees user space only: page faults and system
# calls show up in the timed tables (page faults, CPU time) instead.

profile_frames=2646000  # 60 s at 44.1 kHz: long enough that start-up costs vanish

callgrind() {  # output command...
  local cg=$1
  shift
  valgrind --tool=callgrind --callgrind-out-file="$cg" "$@" >/dev/null 2>"$cg.log"
}

total_ir() { callgrind_annotate "$1" 2>/dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'; }

# The costliest functions by their own instructions, one per line: instructions, share and
# name, separated by tabs. The awk scripts here read their whole input: leaving early would
# stop callgrind_annotate with SIGPIPE, which pipefail turns into a failure.
top_functions() {  # callgrind-file count
  callgrind_annotate "$1" 2>/dev/null | awk -v max="$2" '
    /file:function/ { on = 1; getline; next }
    on && NF == 0 { on = 0 }
    on && n < max {
      line = $0
      ir = line; sub(/^ */, "", ir); sub(/ .*/, "", ir); gsub(",", "", ir)
      pct = line; sub(/^[^(]*\( */, "", pct); sub(/\).*/, "", pct)
      sub(/^ *[0-9,]+ +\([^)]*\) +/, "", line); sub(/^[^:]*:/, "", line); sub(/ \[[^]]*\]$/, "", line)
      printf "%s\t%s\t%s\n", ir, pct, line; n++ }'
}

function_rows() {  # callgrind-file count
  top_functions "$1" "$2" | awk -F'\t' '{ printf "| `%s` | %d | %s |\n", $3, $1, $2 }'
}

inclusive_ir() {  # callgrind-file function-prefix
  callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null |
    awk -v f="$2" '!found && index($0, f) { ir = $1; gsub(",", "", ir); found = 1 }
      END { print found ? ir : 0 }'
}

profile_encoders() {
  "$inputs" wav prof.wav "$profile_frames" "$long_rate" 1
  local kind f total
  echo "#### Generator, 60 s of the same signal ($profile_frames samples)"
  echo
  echo "| Format | Instructions per sample | Costliest functions (own instructions, share) |"
  echo "|---|---|---|"
  for kind in ADPCM ULAW PCM16; do
    f=${kind,,}
    printf '.GLOBAL $FILESIZE = 800000h\n.%s voice = "prof.wav"\n.SECTION [0] $GROUPS = voice(44100):0\n' \
      "$kind" >"prof-$f.qs"
    callgrind "cg-$f.out" "$gen" "prof-$f.qs" "prof-$f.bin"
    total=$(total_ir "cg-$f.out")
    echo "ir_$f $total" >>profile.txt
    printf '| %s | %.1f | %s |\n' "$kind" "$(calc "%.2f" "$total / $profile_frames")" \
      "$(top_functions "cg-$f.out" 3 | awk -F'\t' '{ printf "%s`%s` %s", sep, $3, $2; sep = "; " }')"
  done
  echo
}

profile_scaling() {
  local n
  for n in "${scaling_counts[@]}"; do
    callgrind "cg-scale$n.out" "$gen" "scale$n.qs" "scale$n.bin"
    echo "ir_scale_$n $(total_ir "cg-scale$n.out")" >>profile.txt
  done
  echo "#### Script scaling, N = ${scaling_counts[-1]}"
  echo
  echo "| Function | Own instructions | Share |"
  echo "|---|---|---|"
  function_rows "cg-scale${scaling_counts[-1]}.out" 8
  echo
}

profile_programmer() {
  local total device reports
  QS71_EMU_ID=6D611600 callgrind cg-prog.out "$prog" "$emulated" part.bin 1
  total=$(total_ir cg-prog.out)
  device=$(( $(inclusive_ir cg-prog.out "qs71::emu::EmulatedDevice::Write(") + \
               $(inclusive_ir cg-prog.out "qs71::emu::EmulatedDevice::Read(") ))
  reports=$(prog_value requests_total)
  echo "ir_prog $total" >>profile.txt
  echo "#### Programmer, one full job ($reports reports)"
  echo
  echo "| | Instructions | Per report |"
  echo "|---|---|---|"
  printf '| Whole process | %d | %.0f |\n' "$total" "$(calc "%.1f" "$total / $reports")"
  printf '| Emulated programmer (EmulatedDevice::Write and Read, inclusive) | %d | %.0f |\n' \
    "$device" "$(calc "%.1f" "$device / $reports")"
  printf '| Host side (everything else) | %d | %.0f |\n' "$((total - device))" \
    "$(calc "%.1f" "($total - $device) / $reports")"
  echo
  echo "| Function | Own instructions | Share |"
  echo "|---|---|---|"
  function_rows cg-prog.out 6
  echo
}

# Where the time goes including the kernel, which callgrind cannot see: perf's clock samples
# of one run per format on the long input. Skipped where perf cannot sample (containers,
# perf_event_paranoid).
profile_kernel() {
  local f
  perf record -q -e cpu-clock -o perf-probe.data true >/dev/null 2>&1 || return 0
  echo "#### Generator with the kernel, 10-minute input (perf, cpu-clock samples; [k] kernel)"
  echo
  echo "| Format | Largest shares of the samples |"
  echo "|---|---|"
  for f in adpcm ulaw pcm16; do
    perf record -q -e cpu-clock -F 10000 -o "perf-$f.data" "$gen" "$f.qs" "out-$f.bin" >/dev/null 2>&1
    printf '| %s | %s |\n' "${f^^}" "$(perf report -i "perf-$f.data" --no-children --stdio \
      --sort sym 2>/dev/null | awk '/^ +[0-9.]+%/ && n < 6 { pct = $1; $1 = ""; sub(/^ +/, "");
        printf "%s%s `%s`", sep, pct, $0; sep = "; "; n++ }')"
  done
  echo
}

run_profiles() {
  say "profiling with callgrind"
  cd "$data"
  rm -f profile.txt
  {
    profile_encoders
    profile_kernel
    profile_scaling
    profile_programmer
  } >profile.md
}
