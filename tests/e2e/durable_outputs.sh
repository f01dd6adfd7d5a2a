#!/bin/sh
# The map and the image survive a power cut: each one's data is synced before the rename that
# gives it its name, and its folder after it. Watched with strace; skipped where it cannot trace.
#   durable_outputs.sh QS71GEN SCRATCH-FOLDER
gen=$1
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
if ! strace -qq -o /dev/null true 2>/dev/null; then
  echo "SKIP durable_outputs: strace cannot trace processes here"
  exit 0
fi
printf '.GLOBAL $FILESIZE = 40000h\n' > script.qs
# The leak checker of a sanitized build cannot run under a tracer.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export ASAN_OPTIONS
strace -qq -e trace=fsync,rename,renameat,renameat2 -o trace.txt \
  "$gen" --map out.map script.qs out.bin > /dev/null || exit 1
calls=$(sed -n 's/^\([a-z0-9]*\)(.*/\1/p' trace.txt | sed 's/^renameat2*$/rename/' | tr '\n' ' ')
echo "calls: $calls"
[ "$calls" = "fsync rename fsync fsync rename fsync " ]
