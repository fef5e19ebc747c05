#!/usr/bin/env bash
# ThreadSanitizer run of the camera's engine adapter and storage watcher, in a
# build folder of its own (default build-tsan). Reports lying wholly inside
# the uninstrumented libraries (Qt, GLib, GStreamer and what they load) are
# suppressed by tests/korincamera/tsan.supp.
# - tst_engine_adapter (scripted engine) and tst_storage_watcher: any report,
#   or a failing test, fails the run.
# - tst_camera_window (the real recorder engine): a report with an access
#   made in the adapter or the camera (lib/, korincamera/) fails the run. Reports inside
#   the engines and in the test's hand-over through Qt's event queue are
#   counted and listed only: their ordering goes through GLib and GStreamer
#   queues and locks, which ThreadSanitizer cannot see, so they need reading;
#   those read and found ordered are suppressed by function in tsan.supp,
#   with the primitive that orders them.
# Needs xvfb-run (the real-engine test uses X11).
#   bash scripts/tsan-check.sh [build-folder]
set -uo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$src/build-tsan}"
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$src"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$src" -B "$build" -DKORIN_SANITIZE=thread "${launcher[@]}" >/dev/null || exit 1
cmake --build "$build" -j2 --target tst_engine_adapter tst_storage_watcher tst_camera_window || exit 1

export TSAN_OPTIONS="suppressions=$src/tests/korincamera/tsan.supp halt_on_error=0"
logs="$build/tsan-logs"
mkdir -p "$logs"
status=0
for name in tst_engine_adapter tst_storage_watcher tst_camera_window; do
  platform=offscreen
  [ "$name" = tst_camera_window ] && platform=xcb
  log="$logs/$name.log"
  # setarch -R: no address randomisation, whose spread TSan cannot always map.
  (cd "$build" && QT_QPA_PLATFORM=$platform xvfb-run -a -s "-screen 0 1280x1024x24" \
     setarch "$(uname -m)" -R "bin/$name") >"$log" 2>&1
  reports=$(grep -c '^WARNING: ThreadSanitizer' "$log")
  if [ "$name" = tst_camera_window ]; then
    # Reports where either access is made in the adapter's or the camera's own code.
    bad=$(awk 'BEGIN { RS = "==================\n" }
               /WARNING: ThreadSanitizer/ && /\n    #0 [^\n]* (\.\.\/)+(lib|korincamera)\// { n++ }
               END { print n + 0 }' "$log")
  else
    bad=$reports
  fi
  passed=no
  grep -qE '^Totals: .*, 0 failed' "$log" && passed=yes
  echo "$name: tests passed: $passed; $reports report(s), $bad failing the check (log: $log)"
  grep '^SUMMARY: ThreadSanitizer' "$log" | sed -E 's/^SUMMARY: ThreadSanitizer: //; s/\+0x[0-9a-f]+//' \
    | sort | uniq -c | sort -rn | sed 's/^/    /'
  if [ "$passed" != yes ] || [ "$bad" -ne 0 ]; then
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "ThreadSanitizer: no report in the adapter or the watcher" \
                    || echo "ThreadSanitizer check FAILED"
exit "$status"
