#!/usr/bin/env bash
# Recorder engine benchmark: 20 s of 1280x720@30 H.264 into MP4 from the test
# pattern, once through libcapturecore (capture-record) and once through the
# equivalent gst-launch-1.0 pipeline; prints CPU time, peak RSS, whether each
# kept real time, the CPU ratio (goal <= 1.1), and the snapshot latency
# (goal <= 150 ms).
#
#   bench/capture-record.sh [BUILD_DIR]      (default: build)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
tool="$build/bin/capture-record"
[ -x "$tool" ] || { echo "capture-record not built in $build" >&2; exit 1; }
seconds=20
frames=$((seconds * 30))
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

# The engine's default H.264 bit rate for 1280x720@30 (0.1 bit per pixel).
kbps=$((1280 * 720 * 30 / 10 / 1000))

measure() { # name, then the command; writes name.time
  local name="$1"; shift
  /usr/bin/time -f "%U %S %M %e" -o "$out/$name.time" "$@" >"$out/$name.log" 2>&1
}

count_frames() {
  gst-launch-1.0 -v filesrc location="$1" ! qtdemux ! fakesink silent=false 2>&1 | grep -c 'chain' || true
}

duration_of() {
  gst-discoverer-1.0 "$1" | sed -n 's/^ *Duration: \([0-9]*\):\([0-9]*\):\([0-9.]*\).*/\1 \2 \3/p' |
    awk '{ printf "%.3f", $1 * 3600 + $2 * 60 + $3 }'
}

measure engine "$tool" -o "$out/engine.mp4" -s 1280x720 -r 30 -d "$seconds" -a 1
measure gst gst-launch-1.0 -q -e videotestsrc is-live=true pattern=smpte horizontal-speed=4 \
  num-buffers=$frames ! video/x-raw,format=I420,width=1280,height=720,framerate=30/1,pixel-aspect-ratio=1/1 \
  ! clockoverlay silent=true ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=$kbps key-int-max=30 \
  ! h264parse ! mp4mux fragment-duration=500 \
  ! filesink buffer-mode=unbuffered location="$out/gst.mp4"

report() { # name
  local name="$1" u s rss wall cpu n dur kept
  read -r u s rss wall <"$out/$name.time"
  cpu=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
  n=$(count_frames "$out/$name.mp4")
  dur=$(duration_of "$out/$name.mp4")
  # Real time kept: at least 97 % of the frames of 20 s made it into the file.
  kept=$(awk -v n="$n" -v f="$frames" 'BEGIN { print (n >= 0.97 * f) ? "yes" : "no" }')
  printf '%-7s cpu %6.2f s  rss %7.1f MiB  wall %6.2f s  frames %4d  duration %7.3f s  real time kept: %s\n' \
    "$name" "$cpu" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$wall" "$n" "$dur" "$kept"
  echo "$cpu" >"$out/$name.cpu"
}

echo "1280x720@30 H.264 MP4, ${seconds} s, test pattern, $(nproc) cores"
report engine
report gst
awk -v a="$(cat "$out/engine.cpu")" -v b="$(cat "$out/gst.cpu")" \
  'BEGIN { r = a / b; printf "cpu ratio engine/gst-launch: %.3f (goal <= 1.1): %s\n", r, (r <= 1.1) ? "met" : "missed" }'

# Snapshot latency at 1280x720 while the preview pipeline runs.
"$tool" -o - -p "$out/snap.jpg" -n 20 -s 1280x720 -r 30 -a 1 2>/dev/null | grep 'snapshot latency' |
  awk '{ print; if ($7 + 0 > 150) print "snapshot latency goal (150 ms): missed"; else print "snapshot latency goal (150 ms): met" }'
