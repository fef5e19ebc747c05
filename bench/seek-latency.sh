#!/usr/bin/env bash
# Accurate-seek latency of our engine and of a bare playbin on the same 720p
# clip, in one run. Usage: bench/seek-latency.sh [BUILD-DIR] [SEEKS]
set -euo pipefail
source "$(dirname "$0")/common.sh"
"$build/bin/seek_latency" "$(clip720p)" "${2:-40}"
