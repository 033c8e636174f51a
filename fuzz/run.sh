#!/usr/bin/env bash
# Runs fuzz targets one after another for a given time each, from the seed
# corpus plus what earlier runs found (kept in the user's cache, not the repo).
#   fuzz/run.sh BUILD_DIR SECONDS TARGET...   e.g. fuzz/run.sh build/fuzz 3600 pdf bmp
# A slow input on a loaded machine is not a finding, hence the long timeout.
# A crash stops that target; its input and log stay in the corpus folder and
# the script exits non-zero at the end.
set -uo pipefail
build=$(realpath "$1"); seconds=$2; shift 2
root=${QUORVEX_CACHE:-$HOME/.cache/quorvex}/fuzz
mkdir -p "$root/seeds"
# Two runs of this script (other targets) may start together: one writes the
# seeds at a time.
flock "$root/seeds.lock" "$build/fuzz/fuzz_seeds" "$root/seeds" >/dev/null
status=0
for target in "$@"; do
  corpus="$root/corpus-$target"; mkdir -p "$corpus" "$root/findings-$target"
  log="$root/$target.log"
  echo "fuzz_$target: ${seconds}s, log $log"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=300 \
    -print_final_stats=1 -artifact_prefix="$root/findings-$target/" \
    "$corpus" "$root/seeds" >"$log" 2>&1
  rc=$?
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$log" | sed "s/^/  /"
  if [ $rc -ne 0 ]; then
    echo "  fuzz_$target FOUND A FAULT (exit $rc): see $log and $root/findings-$target/"
    status=1
  fi
done
exit $status
