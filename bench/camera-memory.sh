#!/usr/bin/env bash
# The camera's resident memory 5 s after each of ten 1920x1080 recordings'
# thumbnails is written (goal: the tenth within 60 MB of the first), under
# Xvfb, recording into a scratch home folder.
#
#   bench/camera-memory.sh [BUILD_DIR] [RECORDINGS] [SECONDS]   (default: build, 10, 3)
set -euo pipefail
source "$(dirname "$0")/common.sh"
tool="$build/bin/camera_memory_bench"
[ -x "$tool" ] || { echo "camera_memory_bench not built in $build" >&2; exit 1; }
home="$(realpath "$work")/camera-home"
rm -rf "$home" && mkdir -p "$home"
echo "camera, ${2:-10} recordings of ${3:-3} s at 1920x1080; $(nproc) cores shared with whatever else runs"
HOME="$home" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$tool" "${2:-10}" "${3:-3}" 2>"$work/camera-memory.log"
rm -rf "$home"
