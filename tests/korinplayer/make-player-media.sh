#!/usr/bin/env bash
# make-player-media.sh OUTDIR
# The clips the player tests play, made with GStreamer; a stamp skips the work
# when the set is already complete.
#   a.mp4, b.mp4         1 s, 320x240 H.264 + AAC (playlist items)
#   long.mp4             30 s, 320x240 H.264, a key frame every second
#   dir/c.mp4, dir/sub/d.mp4, dir/notes.txt   a folder to scan
#   bad-random.mkv       random bytes; bad-text.mp4 a text file;
#   bad-truncated.mp4    the first half of long.mp4 (no index)
#   two-audio.mp4        4 s, H.264 + two AAC tracks (440 Hz, then silence)
set -euo pipefail
out=${1:?usage: make-player-media.sh OUTDIR}
STAMP=3
mkdir -p "$out/dir/sub"
cd "$out"
if [[ -f .stamp && $(cat .stamp) == "$STAMP" ]]; then
  echo "player test media in $out are up to date"
  exit 0
fi
rm -f .stamp

H264="x264enc speed-preset=ultrafast bframes=0 key-int-max=25 ! h264parse"
clip() { # file seconds pattern
  gst-launch-1.0 -q mp4mux name=m ! filesink location="$1.part" \
    videotestsrc num-buffers=$(( $2 * 25 )) pattern=$3 \
      ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! $H264 ! queue ! m. \
    audiotestsrc num-buffers=$(( $2 * 50 )) samplesperbuffer=960 \
      ! audio/x-raw,rate=48000,channels=2 ! avenc_aac ! aacparse ! queue ! m.
  mv "$1.part" "$1"
}
clip a.mp4 1 ball
clip b.mp4 1 snow
clip dir/c.mp4 1 smpte
clip dir/sub/d.mp4 1 pinwheel
gst-launch-1.0 -q videotestsrc num-buffers=750 pattern=ball \
  ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! timeoverlay ! $H264 \
  ! mp4mux ! filesink location=long.mp4.part
mv long.mp4.part long.mp4
echo "not media" > dir/notes.txt
head -c 65536 /dev/urandom > bad-random.mkv
printf 'this is only text, not a video\n%.0s' {1..200} > bad-text.mp4
head -c $(( $(stat -c %s long.mp4) / 2 )) long.mp4 > bad-truncated.mp4
gst-launch-1.0 -q mp4mux name=m ! filesink location=two-audio.mp4.part \
  videotestsrc num-buffers=100 ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! $H264 ! queue ! m. \
  audiotestsrc num-buffers=200 samplesperbuffer=960 freq=440 ! audio/x-raw,rate=48000,channels=2 \
    ! avenc_aac ! aacparse ! queue ! m. \
  audiotestsrc num-buffers=200 samplesperbuffer=960 wave=silence ! audio/x-raw,rate=48000,channels=1 \
    ! avenc_aac ! aacparse ! queue ! m.
mv two-audio.mp4.part two-audio.mp4
echo "$STAMP" > .stamp
