#!/usr/bin/env bash
# Makes a 5-second clip with GStreamer and plays it in korinplayer.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
out="$top/build/demo"
mkdir -p "$out"
clip="$out/demo.mp4"
if [ ! -s "$clip" ]; then
  gst-launch-1.0 -q -e videotestsrc num-buffers=150 pattern=ball ! video/x-raw,width=640,height=360,framerate=30/1 \
    ! timeoverlay ! x264enc tune=zerolatency speed-preset=ultrafast ! h264parse ! mp4mux name=m ! filesink location="$clip" \
    audiotestsrc num-buffers=215 ! audioconvert ! avenc_aac ! aacparse ! m.
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: start an X server (or run under xvfb-run); playing with mcplay without a window" >&2
  exec "$top/build/bin/mcplay" "$clip" fakesink
fi
exec "$top/build/bin/korinplayer" "$clip"
