#!/usr/bin/env bash
# Icons between ImageMagick and the Windows build: ImageMagick makes an icon
# and dumps the pixels it reads in it; the Windows test (under Wine) loads
# it, compares, and leaves our own icon with the pixels it holds; ImageMagick
# must then read our icon cleanly with those pixels.
# Usage: win32_peer_files.sh WINE_RUN TEST_EXE DIR
set -euo pipefail
wine_run=$1 test_exe=$2 dir=$3
rm -rf "$dir"
mkdir -p "$dir"
convert -size 32x32 gradient:red-blue -swirl 90 -alpha off "$dir/peer.ico"
convert "$dir/peer.ico" -depth 8 "rgb:$dir/peer.rgb"
QV_PEER_DIR="Z:$(echo "$dir" | tr / '\\')" "$wine_run" "$test_exe" \
  --gtest_also_run_disabled_tests --gtest_filter='PeerFiles.*'
report=$(identify "$dir/ours.ico" 2>&1)
echo "$report"
if grep -qi warning <<<"$report"; then
  echo "ImageMagick warns about our icon" >&2
  exit 1
fi
convert "$dir/ours.ico" -depth 8 "rgb:$dir/ours-read.rgb"
cmp "$dir/ours.rgb" "$dir/ours-read.rgb"
echo "ImageMagick reads our icon with its pixels"
