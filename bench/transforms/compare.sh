#!/usr/bin/env bash
# Builds the transform comparison natively and prints our time against
# libvips (in process) and ImageMagick for the same page, as ratios ours / peer.
#   bench/transforms/compare.sh [build-dir] [rounds] [name filter]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/native}
rounds=${2:-7}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset native -B "$build" >/dev/null
fi
cmake --build "$build" --target transforms_compare -j2 >/dev/null
exec "$build/bench/transforms/transforms_compare" "$rounds" "${3:-}"
