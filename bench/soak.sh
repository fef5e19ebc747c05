#!/usr/bin/env bash
# Memory soak: resident memory (VmRSS) of the recorder engine over 500 1 s
# start/stop cycles, of the play engine over 500 files played to their end,
# and of the camera's thumbnailer over 200 thumbnails, each beside the same
# loop in bare GStreamer in the same run (separate processes). Prints RSS
# after 20 cycles, at the end, the growth per cycle in between and the
# growth over the last half of the cycles. About 45 min at full counts.
#
#   bench/soak.sh [BUILD_DIR] [SCALE] [WHAT...]
#     SCALE (or SOAK_SCALE): multiplies the cycle counts, e.g. 0.2 for a
#       quick run (at least 40 cycles each); default 1.
#     WHAT: any of record play thumbnail; default all three.
set -euo pipefail
source "$(dirname "$0")/common.sh"
scale="${2:-${SOAK_SCALE:-1}}"
shift $(( $# < 2 ? $# : 2 ))
what=("$@")
[ $# -gt 0 ] || what=(record play thumbnail)
for tool in soak_record soak_play soak_thumbnail; do
  [ -x "$build/bin/$tool" ] || { echo "$tool not built in $build" >&2; exit 1; }
done

# A 1 s 1280x720@30 H.264/AAC MP4 like the camera's recordings.
clip="$work/soak1s.mp4"
if [ ! -s "$clip" ]; then
  gst-launch-1.0 -q -e videotestsrc num-buffers=30 pattern=smpte \
    ! video/x-raw,format=I420,width=1280,height=720,framerate=30/1 ! x264enc tune=zerolatency \
    speed-preset=ultrafast key-int-max=30 ! h264parse ! queue ! mp4mux name=m ! filesink location="$clip.part" \
    audiotestsrc num-buffers=50 samplesperbuffer=960 ! audio/x-raw,rate=48000,channels=2 ! avenc_aac \
    ! aacparse ! queue ! m.
  mv "$clip.part" "$clip"
fi

scaled() { awk -v n="$1" -v s="$scale" 'BEGIN { printf "%d", n * s + 0.5 }'; }

# One side: "label cycles N rss20 A rssmid B rssend C" -> a table row.
row() {
  awk -v name="$1" '{ n = $3; w = $5; m = $7; e = $9
    printf "  %-18s %6d %9.1f MB %9.1f MB %9.1f kB %+9.1f MB\n", name, n, w / 1024, e / 1024,
      (e - w) / (n - 20), (e - m) / 1024 }'
}

side() { # tool engine|bare arg cycles
  local log="$work/$1-$2.log"
  "$build/bin/$1" "$2" "$3" "$4" 2>"$log" || { echo "$1 $2 failed, see $log" >&2; return 1; }
}

soak() { # title tool arg cycles
  local ours bare
  ours=$(side "$2" engine "$3" "$4")
  bare=$(side "$2" bare "$3" "$4")
  echo "$1"
  row engine <<<"$(grep -- '-engine ' <<<"$ours")"
  row "bare GStreamer" <<<"$(grep -- '-bare ' <<<"$bare")"
}

echo "memory soak, VmRSS; $(nproc) cores, shared with whatever else runs: figures are noisy"
printf '  %-18s %6s %12s %12s %12s %12s\n' "" cycles "after 20" "at end" "per cycle" "last half"
for w in "${what[@]}"; do
  case "$w" in
    record) soak "recorder start/stop, 1 s 1280x720 H.264/MP4" soak_record "$work" "$(scaled 500)" ;;
    play) soak "play engine set_file/play to end/stop, 1 s 720p clip" soak_play "$clip" "$(scaled 500)" ;;
    thumbnail) soak "thumbnailer, 720p clip" soak_thumbnail "$clip" "$(scaled 200)" ;;
    *) echo "unknown: $w" >&2; exit 2 ;;
  esac
done
