#!/bin/sh
# A signal during a compile leaves no scratch name beside the outputs, not even the hidden name
# that a finished map or image is linked to just before its rename; a signal ignored at start
# (nohup) stays ignored. strace raises the signal at that very step; skipped where it cannot trace.
#   termination_cleanup.sh QS71GEN SCRATCH-FOLDER
gen=$1
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
if ! strace -qq -o /dev/null true 2>/dev/null; then
  echo "SKIP termination_cleanup: strace cannot trace processes here"
  exit 0
fi
printf '.GLOBAL $FILESIZE = 40000h\n' > script.qs
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export ASAN_OPTIONS
failed=0
# SIGNAL HUP-IGNORED EXPECTED-STATUS EXPECTED-FILES: the signal raised at the first linkat (the map's).
while read -r signal ignored status files; do
  rm -rf run && mkdir run && cp script.qs run/ || exit 1
  (cd run && if [ "$ignored" = yes ]; then trap '' HUP; else trap - HUP; fi && strace -qq -o /dev/null -e trace=linkat \
    -e inject=linkat:signal="$signal":when=1 "$gen" --map out.map script.qs out.bin > /dev/null 2>&1)
  got_status=$?
  got_files=$(cd run && ls -A | tr '\n' ' ')
  echo "$signal (SIGHUP ignored: $ignored): exit $got_status, files: $got_files"
  [ "$got_status" = "$status" ] && [ "$got_files" = "$files " ] || failed=1
done <<'ROWS'
TERM no 143 script.qs
HUP no 129 script.qs
HUP yes 0 out.bin out.map script.qs
ROWS
exit $failed
