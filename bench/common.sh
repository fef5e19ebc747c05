# Sourced by the benchmarks: the build folder (first argument, else build/),
# a scratch folder inside it, and the shared 20 s 720p H.264/AAC clip.
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
work="$build/bench"
mkdir -p "$work"

# Prints the clip's path, making it once.
clip720p() {
  local clip="$work/clip720p.mp4"
  if [ ! -s "$clip" ]; then
    gst-launch-1.0 -q -e videotestsrc num-buffers=600 pattern=ball ! video/x-raw,width=1280,height=720,framerate=30/1 \
      ! timeoverlay ! x264enc speed-preset=veryfast bitrate=3000 key-int-max=30 ! h264parse ! mp4mux name=m \
      ! filesink location="$clip.part" audiotestsrc num-buffers=862 ! audioconvert ! avenc_aac ! aacparse ! m. >&2
    mv "$clip.part" "$clip"
  fi
  echo "$clip"
}
