#!/usr/bin/env bash
# Thumbnail of a 60 s 720p recording-like clip (1280x720@30 H.264 with a key
# frame each second and AAC, in MP4, as the camera records): time from the
# thumbnail request to the JPEG written (goal <= 0.5 s), beside
# gst-launch-1.0 decoding the frame at the same position (10 s) into a JPEG,
# in the same run. gst-launch-1.0 cannot seek, so it decodes from the start.
#
#   bench/thumbnail.sh [BUILD_DIR] [RUNS]      (default: build, 5)
set -euo pipefail
source "$(dirname "$0")/common.sh"
runs="${2:-5}"
tool="$build/bin/thumbnail_bench"
[ -x "$tool" ] || { echo "thumbnail_bench not built in $build" >&2; exit 1; }
clip="$work/rec60s720p.mp4"
if [ ! -s "$clip" ]; then
  gst-launch-1.0 -q -e videotestsrc num-buffers=1800 pattern=smpte horizontal-speed=4 \
    ! video/x-raw,format=I420,width=1280,height=720,framerate=30/1,pixel-aspect-ratio=1/1 ! clockoverlay \
    ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=2764 key-int-max=30 ! h264parse ! queue \
    ! mp4mux name=m ! filesink location="$clip.part" \
    audiotestsrc num-buffers=3000 samplesperbuffer=960 ! audio/x-raw,rate=48000,channels=2 \
    ! avenc_aac ! aacparse ! queue ! m.
  mv "$clip.part" "$clip"
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

ours=$("$tool" "$clip" "$runs" 2>/dev/null)
ref=""
for _ in $(seq "$runs"); do
  t0=$(date +%s%N)
  gst-launch-1.0 -q filesrc location="$clip" ! qtdemux ! h264parse ! avdec_h264 \
    ! videorate ! video/x-raw,framerate=1/10 ! identity eos-after=2 ! videoconvert ! jpegenc \
    ! multifilesink location="$work/gst-frame.jpg" >/dev/null 2>&1
  ref+="$(( ($(date +%s%N) - t0) / 1000 ))e-3"$'\n'
done
rm -f "$work/gst-frame.jpg" "$clip"_thumbnail.jpg

echo "60 s 1280x720@30 H.264/AAC MP4, frame at 10 s, $runs runs, $(nproc) cores"
printf '%-34s first %7.1f ms  median %7.1f ms  max %7.1f ms\n' "thumbnailer (request -> file)" \
  "$(head -1 <<<"$ours")" "$(median <<<"$ours")" "$(sort -n <<<"$ours" | tail -1)"
printf '%-34s first %7.1f ms  median %7.1f ms  max %7.1f ms\n' "gst-launch-1.0 (decode to 10 s)" \
  "$(head -1 <<<"$ref" | awk '{ print $1 + 0 }')" "$(awk 'NF { print $1 + 0 }' <<<"$ref" | median)" \
  "$(awk 'NF { print $1 + 0 }' <<<"$ref" | sort -n | tail -1)"
worst=$(sort -n <<<"$ours" | tail -1)
awk -v w="$worst" 'BEGIN { printf "goal (every run <= 500 ms): %s\n", (w <= 500) ? "met" : "missed" }'
