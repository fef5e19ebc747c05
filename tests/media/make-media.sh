#!/usr/bin/env bash
# make-media.sh OUTDIR
#
# Makes the media the engine tests play, with GStreamer only. Every file is
# small and short; the whole set takes a few seconds. A stamp file records a
# complete set, so a second run with the same script does nothing.
#
#   clip.{mp4,mov,mkv,avi,flv,ts}  4 s, 320x240@25 H.264 + 48 kHz stereo AAC,
#                                  a key frame every second (frames 0,25,50,75)
#   colours.mp4     4 s, 320x240 video only: solid red 0-2 s, solid blue 2-4 s
#   oddwidth.mp4    2 s, 322x240 (3*322 not a multiple of 4), vertical colour bars
#   multi.mkv       5 s, H.264, two AAC tracks (eng 440 Hz, fra 880 Hz) and a
#                   subtitle track made from the .srt below (language deu)
#   tenaudio.mkv    2 s, ten AAC tracks, no video
#   tagged.ogg      3 s Vorbis with title/artist/album
#   tone.wav        2 s PCM
#   tagged.mp3, tagged.flac  3 s with tags, a comment longer than 256 bytes
#                   and a 64x48 JPEG front cover (tagged by tag-audio.py)
#   subs.mp4 + subs.srt  5 s clip, text "Hello" 0.5-1.5 s and the two lines
#                   "Two" / "Lines" 3.0-4.0 s, nothing in between (and a last
#                   cue at 4.5-4.9 s)
#   cut.mkv         the first ~60% of clip.mkv: damaged but still playable
#   bad-empty.mp4   zero bytes
#   bad-truncated.mp4  the first half of clip.mp4 (its index is at the end)
#   bad-random.mkv  64 KiB of pseudo-random bytes
#   bad-text.mp4    a text file
set -euo pipefail

# Bump when the set of media or how they are made changes.
STAMP_VERSION=7

out=${1:?usage: make-media.sh OUTDIR}
tagger=$(cd "$(dirname "$0")" && pwd)/tag-audio.py

mkdir -p "$out"
cd "$out"

good=(clip.mp4 clip.mov clip.mkv clip.avi clip.flv clip.ts colours.mp4 oddwidth.mp4
      multi.mkv tenaudio.mkv tagged.ogg tone.wav tagged.mp3 tagged.flac subs.mp4 cut.mkv)
other=(subs.srt bad-truncated.mp4 bad-random.mkv bad-text.mp4)

stamp=.media-stamp
if [[ -f $stamp && $(cat "$stamp") == "$STAMP_VERSION" && -f bad-empty.mp4 ]]; then
  complete=1
  for f in "${good[@]}" "${other[@]}"; do
    [[ -s $f ]] || { complete=0; break; }
  done
  if [[ $complete == 1 ]]; then
    echo "test media in $out are up to date"
    exit 0
  fi
fi
rm -f "$stamp"

launch() {
  gst-launch-1.0 -q "$@"
}

# Encoder settings shared by every H.264 clip: no B-frames (AVI and FLV keep
# them badly), no scene-cut key frames (ultrafast), one key frame per second.
H264="x264enc speed-preset=ultrafast bframes=0 key-int-max=25 ! video/x-h264,profile=constrained-baseline ! h264parse"
AAC="avenc_aac ! aacparse"

video() { # frames width height pattern
  echo "videotestsrc num-buffers=$1 pattern=$4 ! video/x-raw,format=I420,width=$2,height=$3,framerate=25/1,pixel-aspect-ratio=1/1 ! $H264"
}
audio() { # seconds freq
  echo "audiotestsrc num-buffers=$(( $1 * 50 )) samplesperbuffer=960 freq=$2 ! audio/x-raw,rate=48000,channels=2 ! $AAC"
}

# Containers.
for entry in "mp4 mp4mux" "mov qtmux" "mkv matroskamux" "avi avimux" "flv flvmux" "ts mpegtsmux"; do
  set -- $entry
  launch $2 name=m ! filesink location=clip.$1.part \
    $(video 100 320 240 ball) ! queue ! m. \
    $(audio 4 440) ! queue ! m.
  mv clip.$1.part clip.$1
done

# Known colours at known times: red for frames 0-49, blue for 50-99.
launch concat name=c ! $H264 ! mp4mux ! filesink location=colours.mp4.part \
  videotestsrc num-buffers=50 pattern=red ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! c. \
  videotestsrc num-buffers=50 pattern=blue ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 ! c.
mv colours.mp4.part colours.mp4

# Odd width: vertical bars show any shear of rows.
launch $(video 50 322 240 smpte100) ! mp4mux ! filesink location=oddwidth.mp4.part
mv oddwidth.mp4.part oddwidth.mp4

# Subtitles: the same timing for the file beside subs.mp4 and the MKV track.
# GStreamer's SRT type finder looks at the first 129 bytes, so a shorter file
# is not recognised as subtitles at all: the third cue keeps it longer.
cat > subs.srt <<'EOF'
1
00:00:00,500 --> 00:00:01,500
Hello

2
00:00:03,000 --> 00:00:04,000
Two
Lines

3
00:00:04,500 --> 00:00:04,900
The end of the test subtitles
EOF

launch mp4mux name=m ! filesink location=subs.mp4.part \
  $(video 125 320 240 ball) ! queue ! m. \
  $(audio 5 440) ! queue ! m.
mv subs.mp4.part subs.mp4

launch matroskamux name=m ! filesink location=multi.mkv.part \
  $(video 125 320 240 ball) ! queue ! m. \
  $(audio 5 440) ! taginject tags="language-code=eng" ! queue ! m. \
  $(audio 5 880) ! taginject tags="language-code=fra" ! queue ! m. \
  filesrc location=subs.srt ! subparse ! text/x-raw,format=utf8 ! taginject tags="language-code=deu" ! queue ! m.
mv multi.mkv.part multi.mkv

# Ten audio tracks.
branches=()
for i in 0 1 2 3 4 5 6 7 8 9; do
  branches+=($(audio 2 $(( 300 + 50 * i ))) ! queue ! m.)
done
launch matroskamux name=m ! filesink location=tenaudio.mkv.part "${branches[@]}"
mv tenaudio.mkv.part tenaudio.mkv

# Audio only.
launch audiotestsrc num-buffers=150 samplesperbuffer=882 freq=550 ! audio/x-raw,rate=44100,channels=2 ! \
  audioconvert ! taginject tags='"title=\"Ogg Test Title\",artist=\"Ogg Test Artist\",album=\"Ogg Test Album\""' ! \
  vorbisenc ! oggmux ! filesink location=tagged.ogg.part
mv tagged.ogg.part tagged.ogg

launch audiotestsrc num-buffers=100 samplesperbuffer=441 ! audio/x-raw,format=S16LE,rate=22050,channels=1 ! \
  wavenc ! filesink location=tone.wav.part
mv tone.wav.part tone.wav

# Tagged with a cover and a comment longer than any fixed text field: in FLAC
# of two-byte characters (a reader must cut at a character boundary), in MP3
# (Latin-1 frames) of 300 digits.
launch videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,format=I420,width=64,height=48 ! jpegenc \
  ! filesink location=cover.jpg
tone="audiotestsrc num-buffers=300 samplesperbuffer=441 freq=660 ! audio/x-raw,rate=44100,channels=2 ! audioconvert"
launch $tone ! lamemp3enc target=bitrate bitrate=128 ! filesink location=tone.mp3
launch $tone ! flacenc ! filesink location=tone.flac
digits=$(for i in {0..299}; do printf %d $(( i % 10 )); done)
accents=$(printf '\xc3\xa9%.0s' {1..200})
for f in mp3 flac; do
  comment=$([[ $f == mp3 ]] && echo "$digits" || echo "$accents")
  python3 "$tagger" tone.$f tagged.$f.part cover.jpg title="Korin Test Title" artist="Korin Test Artist" \
    album="Korin Test Album" genre=Test comment="$comment"
  mv tagged.$f.part tagged.$f
done
rm -f tone.mp3 tone.flac cover.jpg

# A recording cut short: an MKV is readable up to its last whole cluster.
size=$(stat -c %s clip.mkv)
head -c $(( size * 6 / 10 )) clip.mkv > cut.mkv

# Bad copies.
: > bad-empty.mp4
size=$(stat -c %s clip.mp4)
head -c $(( size / 2 )) clip.mp4 > bad-truncated.mp4
openssl enc -aes-128-ctr -nosalt -pass pass:korin-test-media -pbkdf2 < /dev/zero 2>/dev/null \
  | head -c 65536 > bad-random.mkv || true
if [[ $(stat -c %s bad-random.mkv) -ne 65536 ]]; then
  head -c 65536 /dev/urandom > bad-random.mkv
fi
printf 'This is not a video.\nJust some text with an .mp4 name.\n' > bad-text.mp4

# Every good file must be readable by GStreamer's own discoverer.
for f in "${good[@]}"; do
  if ! report=$(gst-discoverer-1.0 "$f" 2>&1) || ! grep -q 'Duration:' <<<"$report" \
     || grep -qi 'error\|missing plugin' <<<"$report"; then
    echo "make-media.sh: $f is not readable:" >&2
    echo "$report" >&2
    exit 1
  fi
done

# The subtitle file is recognised as such.
if ! grep -q 'application/x-subtitle' <<<"$(gst-typefind-1.0 subs.srt)"; then
  echo "make-media.sh: subs.srt is not recognised as subtitles" >&2
  exit 1
fi

# Tags with spaces survive gst-launch's quoting.
if ! grep -q 'title: Ogg Test Title' <<<"$(gst-discoverer-1.0 -v tagged.ogg)"; then
  echo "make-media.sh: tagged.ogg has no title tag" >&2
  exit 1
fi

echo "$STAMP_VERSION" > "$stamp"
echo "test media written to $out"
