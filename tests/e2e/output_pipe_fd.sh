#!/bin/sh
# An output named through /proc/self/fd/N that leads to a pipe gets the whole image, and the
# name stays what it is. The pipe is the child's own descriptor 3, never this shell's output.
# When that pipe is the child's own standard output, the listing goes to standard error instead
# of into the image.
#   output_pipe_fd.sh QS71GEN SCRATCH-FOLDER
gen=$1
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
printf '.GLOBAL $FILESIZE = 40000h\n' > script.qs
"$gen" script.qs plain.bin > plain.txt || exit 1
{ "$gen" script.qs /proc/self/fd/3 3>&1 > /dev/null; echo $? > status; } | cat > piped.bin
echo "exit $(cat status), $(wc -c < piped.bin) bytes"
[ "$(cat status)" = 0 ] && cmp piped.bin plain.bin || exit 1
{ "$gen" --html p.html script.qs /dev/stdout 2> listing.txt; echo $? > status; } | cat > stdout.bin
echo "exit $(cat status), $(wc -c < stdout.bin) bytes on standard output"
[ "$(cat status)" = 0 ] && cmp stdout.bin plain.bin && cmp listing.txt plain.txt
