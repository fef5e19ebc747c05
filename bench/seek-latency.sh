#!/usr/bin/env bash
# Accurate-seek latency of our engine and of a bare playbin on the same 720p
# clip, in one run. Usage: bench/seek-latency.sh [BUILD-DIR] [SEEKS]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build}"
"$top/bench/play-cpu.sh" "$build" fakesink >/dev/null # makes the clip
"$build/bin/seek_latency" "$build/bench/clip720p.mp4" "${2:-40}"
