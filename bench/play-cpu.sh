#!/usr/bin/env bash
# Plays the same 720p H.264 clip with our engine (mcplay) and with gst-play-1.0,
# one after the other, with the same sinks, and prints CPU time, peak RSS and
# the ratios. Usage: bench/play-cpu.sh [BUILD-DIR] [VIDEO-SINK]
set -euo pipefail
source "$(dirname "$0")/common.sh"
vsink="${2:-ximagesink}"
clip=$(clip720p)
if [ -z "${DISPLAY:-}" ] && [ "$vsink" != fakesink ]; then
  echo "DISPLAY is not set: run under xvfb-run or pass fakesink" >&2
  exit 1
fi

measure() { # label command... ; prints "label cpu_s rss_kb wall_s"
  local label=$1; shift
  local out; out=$(mktemp)
  /usr/bin/time -f "%U %S %M %e" -o "$out" "$@" >/dev/null 2>&1
  read -r u s m e < "$out"; rm -f "$out"
  printf '%s %.2f %d %.2f\n' "$label" "$(echo "$u + $s" | bc -l)" "$m" "$e"
}

echo "20 s 1280x720@30 H.264/AAC clip, video sink $vsink, audio sink fakesink (synchronised)"
ours=$(measure engine "$build/bin/mcplay" "$clip" "$vsink" fakesink)
# The engine synchronises a fake audio sink to the clock: so does gst-play's.
ref=$(measure gst-play gst-play-1.0 -q --no-interactive --videosink="$vsink" --audiosink="fakesink sync=true" "$clip")
printf '%-10s %8s %10s %8s\n' who cpu_s rss_kb wall_s
for r in "$ours" "$ref"; do printf '%-10s %8s %10s %8s\n' $r; done
read -r _ c1 m1 _ <<<"$ours"; read -r _ c2 m2 _ <<<"$ref"
printf 'ratio engine/gst-play: cpu %.3f, rss %.3f\n' "$(echo "$c1 / $c2" | bc -l)" "$(echo "$m1 / $m2" | bc -l)"
