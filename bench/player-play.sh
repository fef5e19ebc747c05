#!/usr/bin/env bash
# korinplayer against gst-play-1.0 on the same 20 s 720p H.264 clip with the
# same video sink: CPU time and peak RSS of a whole play to the end, and the
# time from process start to the pipeline's first PLAYING (korinplayer less
# its 600 ms start timer). For RSS, what korinplayer needs beyond a bare Qt
# window of the same size is compared with gst-play-1.0.
# Usage: bench/player-play.sh [BUILD-DIR] [VIDEO-SINK] [RUNS]   (needs DISPLAY)
set -euo pipefail
source "$(dirname "$0")/common.sh"
vsink="${2:-glimagesink}"
runs="${3:-3}"
player="$build/bin/korinplayer"
[ -x "$player" ] || { echo "no $player: build first" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "DISPLAY is not set: run under xvfb-run" >&2; exit 1; }

clip=$(clip720p)

# A bare Qt window the size of the player's, shown for three seconds.
bare="$work/bare-qt-window"
if [ ! -x "$bare" ]; then
  cat > "$work/bare-qt-window.cpp" <<'CPP'
#include <QApplication>
#include <QTimer>
#include <QWidget>
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget w;
    w.resize(1280, 976);
    w.show();
    QTimer::singleShot(3000, &app, &QApplication::quit);
    return app.exec();
}
CPP
  g++ -O2 -fPIC -o "$bare" "$work/bare-qt-window.cpp" $(pkg-config --cflags --libs Qt5Widgets)
fi

python3 - "$player" "$clip" "$vsink" "$runs" "$bare" <<'PY'
import os, re, signal, statistics, subprocess, sys, time

player, clip, vsink, runs, bare = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
START_TIMER = 0.600
playing = re.compile(rb"<playbin\d*> completed state change to PLAYING")
env = dict(os.environ, GST_DEBUG="GST_STATES:4", GST_DEBUG_NO_COLOR="1", QT_QPA_PLATFORM="xcb")

def run(cmd, stop_at=None, end_line=None):
    """Runs cmd; returns (seconds to first PLAYING, cpu seconds, peak RSS KiB).
    With end_line the process is ended once that line is printed (korinplayer
    stays open after its list ends)."""
    t0 = time.monotonic()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    first = None
    for line in p.stderr:
        if first is None and playing.search(line):
            first = time.monotonic() - t0
            if stop_at == "playing":
                break
        if end_line and end_line in line:
            break
    if stop_at or end_line:
        # os.kill, not Popen.poll/send_signal: those reap the child, and the
        # resource figures come from our own wait4 below.
        os.kill(p.pid, signal.SIGTERM)
    p.stderr.close()
    _, _, ru = os.wait4(p.pid, 0)
    return first, ru.ru_utime + ru.ru_stime, ru.ru_maxrss

ours_cmd = [player, clip]
ref_cmd = ["gst-play-1.0", "-q", "--no-interactive", "--videosink=" + vsink, clip]

# Taken in turns, so that a change in the machine's load touches both alike.
start_ours, start_ref = [], []
for _ in range(runs):
    start_ours.append(run(ours_cmd, stop_at="playing")[0] - START_TIMER)
    start_ref.append(run(ref_cmd, stop_at="playing")[0])
_, cpu_ours, rss_ours = run(ours_cmd, end_line=b"play next")
_, cpu_ref, rss_ref = run(ref_cmd)
_, _, rss_bare = run([bare])

s_ours, s_ref = statistics.median(start_ours), statistics.median(start_ref)
print(f"20 s 1280x720@30 H.264/AAC clip, video sink {vsink} (korinplayer's own choice: see its log)")
print(f"{'who':<14}{'cpu_s':>8}{'rss_kb':>10}{'start_s':>9}")
print(f"{'korinplayer':<14}{cpu_ours:>8.2f}{rss_ours:>10}{s_ours:>9.3f}")
print(f"{'gst-play-1.0':<14}{cpu_ref:>8.2f}{rss_ref:>10}{s_ref:>9.3f}")
print(f"{'bare Qt window':<14}{'':>8}{rss_bare:>10}")
print(f"ratio korinplayer/gst-play: cpu {cpu_ours / cpu_ref:.3f} (goal <= 1.05), "
      f"start {s_ours / s_ref:.3f} (goal <= 1.2), "
      f"rss beyond a bare Qt window {(rss_ours - rss_bare) / rss_ref:.3f} (goal <= 1.3)")
PY
