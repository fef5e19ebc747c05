#!/usr/bin/env bash
# ThreadSanitizer run of the camera's engine adapter (scripted and real engine)
# and storage watcher tests, in a build folder of its own (default build-tsan).
# Reports lying wholly inside Qt, GLib and GStreamer (not instrumented) are
# suppressed by tests/korincamera/tsan.supp; any other report, or a failing
# test, fails the run. Needs xvfb-run (the real-engine test uses X11).
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
cmake --build "$build" -j2 --target tst_engine_adapter tst_storage_watcher tst_adapter_engine || exit 1

export TSAN_OPTIONS="suppressions=$src/tests/korincamera/tsan.supp halt_on_error=0 second_deadlock_stack=1"
logs="$build/tsan-logs"
mkdir -p "$logs"
status=0
# name, Qt platform
for t in tst_engine_adapter:offscreen tst_storage_watcher:offscreen tst_adapter_engine:xcb; do
  name=${t%%:*}
  log="$logs/$name.log"
  # setarch -R: no address randomisation, whose spread this TSan cannot map on some kernels.
  (cd "$build" && QT_QPA_PLATFORM=${t#*:} xvfb-run -a -s "-screen 0 1280x1024x24" \
     setarch "$(uname -m)" -R "bin/$name") >"$log" 2>&1
  rc=$?
  reports=$(grep -c '^WARNING: ThreadSanitizer' "$log")
  echo "$name: exit $rc, $reports ThreadSanitizer report(s) (log: $log)"
  if [ "$rc" -ne 0 ] || [ "$reports" -ne 0 ]; then
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "ThreadSanitizer: no report in our code" || echo "ThreadSanitizer check FAILED"
exit "$status"
