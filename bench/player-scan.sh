#!/usr/bin/env bash
# Folder scan of korinplayer on a generated tree of 100 000 files (10 % media
# names, 100 folders): time from starting the scan to the whole batch being
# in the playlist, against `find` listing the same tree in the same run, and
# the longest stall of the user-interface thread during the scan (a 2 ms
# timer on that thread; the gap between two ticks less the interval).
# Usage: bench/player-scan.sh [BUILD-DIR] [RUNS]   (needs DISPLAY)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
runs="${2:-3}"
work="$build/bench"
mkdir -p "$work"
lib="$build/lib"
[ -f "$lib/libkorinplayer_core.a" ] || { echo "no $lib/libkorinplayer_core.a: build first" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "DISPLAY is not set: run under xvfb-run" >&2; exit 1; }

tree="$work/scan-tree"
if [ ! -f "$tree/.complete" ]; then
  rm -rf "$tree"
  for d in $(seq -w 0 99); do
    mkdir -p "$tree/d$d"
    (cd "$tree/d$d" && for i in $(seq -w 0 999); do
       if (( 10#$i % 10 == 0 )); then echo > "clip $i.mp4"; else echo > "data $i.bin"; fi
     done)
  done
  touch "$tree/.complete"
fi

driver="$work/player-scan-driver"
if [ ! -x "$driver" ] || [ "$lib/libkorinplayer_core.a" -nt "$driver" ]; then
  cat > "$work/player-scan-driver.cpp" <<'CPP'
#include "korinplayer.h"
#include "loadstylesheet.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>
#include <cstdio>
int main(int argc, char** argv)
{
    // The tree comes in SCAN_TREE: an argument would be scanned by the
    // window's own command line as well.
    QApplication app(argc, argv);
    initPlayerResources();
    korinplayer w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 2;
    QTest::qWait(500);
    QElapsedTimer clock;
    qint64 last = 0, stall = 0, done = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        stall = qMax(stall, now - last - 2000000);
        last = now;
    });
    QObject::connect(w.playlist, &QMediaPlaylist::mediaInserted, [&] { done = clock.nsecsElapsed(); });
    clock.start();
    tick.start(2);
    w.startReadDir(QString::fromLocal8Bit(qgetenv("SCAN_TREE")), false, true);
    while (done < 0 && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    // A little more to catch what the insertion costs the views.
    QTest::qWait(200);
    std::printf("%.1f %.1f %d\n", done / 1e6, stall / 1e6, w.playlist->mediaCount());
    return done < 0;
}
CPP
  g++ -std=c++17 -O2 -fPIC -o "$driver" "$work/player-scan-driver.cpp" \
    -I"$top/korinplayer" -I"$top/engines/mediacore/include" -I"$top/lib" \
    "$lib/libkorinplayer_core.a" "$lib/libkorin_colorkey.a" -L"$lib" -lmediacore-1.0 -Wl,-rpath,"$lib" \
    $(pkg-config --cflags --libs Qt5Widgets Qt5Multimedia Qt5Test gstreamer-1.0 glib-2.0)
fi

echo "tree: 100000 files, 10000 media names"
for r in $(seq "$runs"); do
  sync
  t0=$(date +%s%N)
  n=$(find "$tree" -type f -name '*.mp4' | wc -l)
  t1=$(date +%s%N)
  read -r scan stall count < <(SCAN_TREE="$tree" QT_QPA_PLATFORM=xcb "$driver" 2>/dev/null)
  find_ms=$(( (t1 - t0) / 1000000 ))
  echo "run $r: find ${find_ms} ms ($n files) | scan to playlist ${scan} ms ($count items)" \
       "| ratio $(awk -v a="$scan" -v b="$find_ms" 'BEGIN{printf "%.2f", (b>0)?a/b:0}')" \
       "| longest UI stall ${stall} ms"
done
