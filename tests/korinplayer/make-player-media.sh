#!/usr/bin/env bash
# make-player-media.sh OUTDIR: the clips the player tests play (1 s a.mp4, b.mp4, dir/c.mp4,
# dir/sub/d.mp4; 30 s long.mp4; broken bad-*; two-audio.mp4; subs/ with .srt, .SRT and an internal
# track; tagged mp3s), made with GStreamer; a stamp skips the work when the set is complete.
set -euo pipefail
out=${1:?usage: make-player-media.sh OUTDIR}
STAMP=8
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out/dir/sub" "$out/subs/v1.2"
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
SRT='1
00:00:01,000 --> 00:00:03,000
First line of the test subtitles

2
00:00:04,000 --> 00:00:05,000
Second line, shown for one second only

3
00:00:05,100 --> 00:00:05,900
Tom & Jerry <i>x</i> a<b <i>y</i>
'
black() { # file seconds
  gst-launch-1.0 -q videotestsrc num-buffers=$(( $2 * 25 )) pattern=black \
    ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! $H264 ! mp4mux ! filesink location="$1.part"
  mv "$1.part" "$1"
}
black subs/srt.mp4 6
cp subs/srt.mp4 subs/upper.mp4
cp subs/srt.mp4 subs/v1.2/noext
printf '%s' "$SRT" > subs/srt.srt
printf '%s' "$SRT" > subs/upper.SRT
printf '%s' "$SRT" > subs/v1.srt
gst-launch-1.0 -q matroskamux name=m ! filesink location=subs/internal.mkv.part \
  videotestsrc num-buffers=150 pattern=black ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 \
    ! $H264 ! queue ! m. \
  filesrc location=subs/srt.srt ! subparse ! text/x-raw,format=utf8 ! queue ! m.
mv subs/internal.mkv.part subs/internal.mkv
gst-launch-1.0 -q videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,width=64,height=48 ! pngenc \
  ! filesink location=cover.png
gst-launch-1.0 -q audiotestsrc num-buffers=150 samplesperbuffer=960 ! audio/x-raw,rate=48000,channels=2 \
  ! lamemp3enc ! filesink location=song.raw.mp3
tag() { python3 "$here/../media/tag-audio.py" "$@"; }
tag song.raw.mp3 song.mp3 cover.png title="Korin Test Song" artist="Korin Band" album="Test Album" \
  year=2024 genre=Ambient
tag song.raw.mp3 bare.mp3 - title="Bare Song" artist=Nobody
rm -f song.raw.mp3
echo "$STAMP" > .stamp
