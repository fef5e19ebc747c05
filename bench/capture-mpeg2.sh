#!/usr/bin/env bash
# MPEG-2 recording benchmark: for every size the test pattern offers, 10 s
# of MPEG-2 in MKV through libcapturecore (capture-record); prints the frames
# in the file against 10 s x 30 fps (goal: within 5 %), how long the stop
# took (goal: under 1 s) and the encoded size.  Then six 3 s recordings in
# one process, with the resident memory before and after each: the first
# loads the encoder and the muxer's plugins once; the five after it must
# grow it by at most 10 MB.  Run it once more with both cores busy to see
# the margin.
#
#   bench/capture-mpeg2.sh [BUILD_DIR]      (default: build)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
tool="$build/bin/capture-record"
[ -x "$tool" ] || { echo "capture-record not built in $build" >&2; exit 1; }
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
seconds=10

count_frames() {
  gst-launch-1.0 -v filesrc location="$1" ! parsebin ! fakesink silent=false 2>&1 | grep -c 'last-message = chain' || true
}

echo "MPEG-2 in MKV, ${seconds} s per size, test pattern at 30 fps, $(nproc) cores"
for size in 320x240 640x480 800x600 1280x720 1920x1080; do
  "$tool" -o "$out/$size.mkv" -c 2 -e 4 -s "$size" -r 30 -d "$seconds" -a 1 >"$out/$size.log" 2>/dev/null
  stop=$(sed -n 's/.*stop took \([0-9]*\) ms.*/\1/p' "$out/$size.log")
  frames=$(count_frames "$out/$size.mkv")
  coded=$(gst-discoverer-1.0 "$out/$size.mkv" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
  awk -v s="$size" -v n="$frames" -v want=$((seconds * 30)) -v stop="$stop" -v c="$coded" 'BEGIN {
    d = (n - want) / want * 100; if (d < 0) d = -d
    printf "%-9s frames %4d of %d (%4.1f %% off: %s)  stop %4d ms (%s)  encoded at %s\n", s, n, want, d,
      (d <= 5) ? "met" : "missed", stop, (stop < 1000) ? "met" : "missed", c }'
done

echo "six 3 s MPEG-2 recordings at 1280x720 in one process (resident memory):"
"$tool" -o "$out/repeat.mkv" -c 2 -e 4 -s 1280x720 -r 30 -d 3 -a 1 -k 6 2>/dev/null | tee "$out/repeat.log" |
  grep -o 'rss.*' | sed 's/^/  /'
awk '/rss before recording/ { start = $4 } /recorded/ { n++; if (n == 1) first = $(NF - 1); last = $(NF - 1) } END {
  printf "first recording: %+.1f MB\n", (first - start) / 1024
  g = (last - first) / 1024
  printf "growth over the five after it: %+.1f MB (goal <= 10 MB): %s\n", g, (g <= 10) ? "met" : "missed" }' \
  "$out/repeat.log"
