#!/usr/bin/env bash
# Folder scan of korinplayer on a generated tree of 100 000 files (10 % media
# names, 100 folders): time from starting the scan to the whole batch being
# in the playlist, against `find` listing the same tree in the same run, and
# the longest stall of the user-interface thread during the scan (a 2 ms
# timer on that thread; the gap between two ticks less the interval).
# Usage: bench/player-scan.sh [BUILD-DIR] [RUNS]   (needs DISPLAY)
set -euo pipefail
source "$(dirname "$0")/common.sh"
runs="${2:-3}"
[ -x "$build/bin/player_scan_bench" ] || { echo "player_scan_bench not built in $build" >&2; exit 1; }
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

driver="$build/bin/player_scan_bench"

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
