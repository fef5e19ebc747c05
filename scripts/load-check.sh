#!/usr/bin/env bash
# Runs the whole test suite (ctest under Xvfb) while two busy loops at nice 5
# keep both cores loaded, several times in a row; the first failing run fails
# the check. The suite must not depend on an idle machine.
#   bash scripts/load-check.sh [build-folder] [runs]   (defaults: build, 3)
set -uo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$src/build}"
runs="${2:-3}"
[ -f "$build/CTestTestfile.cmake" ] || { echo "no test build in $build (cmake -S . -B build && cmake --build build)"; exit 1; }

hogs=()
stop_hogs() { [ ${#hogs[@]} -gt 0 ] && kill "${hogs[@]}" 2>/dev/null; wait 2>/dev/null; }
trap stop_hogs EXIT
for _ in 1 2; do
  nice -n 5 sh -c 'while :; do :; done' &
  hogs+=($!)
done
echo "load-check: two busy loops at nice 5 (pids ${hogs[*]}), $runs runs"

for run in $(seq 1 "$runs"); do
  echo "load-check: run $run of $runs"
  if ! (cd "$build" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure); then
    echo "load-check: run $run failed"
    exit 1
  fi
done
echo "load-check: $runs of $runs runs passed under load"
