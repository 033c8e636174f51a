#!/usr/bin/env bash
# Long scans through the product under Wine, run by hand (not by CTest):
#   scan_stress.sh BUILD kills [KILLS] [PAGES]   kill -9 the host at random
#       moments of a PAGES-page scan (20, 50); each time tiffinfo must read
#       the document and it must hold every page finished before the kill
#   scan_stress.sh BUILD batch [PAGES] [DPI]     a true-colour batch (200,
#       300 dpi) accepted and converted; the host's memory is sampled while
#       it scans and after
#   scan_stress.sh BUILD fulldisk                a scan into a 4 MB file
#       system: the window shows the error and the earlier pages stay
# BUILD is a Windows build tree (win32 or win64); run it inside a Wine session with a display,
# as the tests run (xvfb-run ... scripts/wine-session.sh PREFIX bash ...).
set -euo pipefail
build=$(cd "$1" && pwd)
mode=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$build/wine-run"
host="$build/tests/wine/qv_scan_host.exe"
work="$build/tests/wine/stress"
caption="Quorvex - scanning utility"
winpath() { echo "Z:$1" | tr / '\\'; }
mkdir -p "$work"
prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$wine_run")
bash "$here/../../scripts/install-virtual-scanner.sh" "$prefix" \
  "$build/tools/virtual-scanner/sane.ds" >/dev/null

# Settings of the virtual scanner: PAGES pages, each transfer logged.
feed() {
  printf 'pages = %s\nlog = %s\n' "$1" "$(winpath "$work/scanner.log")" >"$work/scanner.txt"
  rm -f "$work/scanner.log"
  export QUORVEX_VSCAN_SETTINGS
  QUORVEX_VSCAN_SETTINGS=$(winpath "$work/scanner.txt")
}

pages_in() { tiffinfo "$1" 2>/dev/null | grep -c '^TIFF Directory' || true; }

case "$mode" in
  kills)
    kills=${1:-20} pages=${2:-50}
    doc="$work/kill.tif"
    feed "$pages"
    rm -f "$doc"
    start=$(date +%s.%N)
    "$wine_run" "$host" "$(winpath "$doc")" 0 300 0 "window:$caption" click:Scan "page:$pages" \
      click:Cancel >/dev/null
    full=$(echo "$(date +%s.%N) - $start" | bc)
    echo "a whole $pages-page scan takes ${full}s"
    failures=0
    for ((k = 1; k <= kills; k++)); do
      rm -f "$doc"
      feed "$pages"
      moment=$(awk -v seed="$RANDOM" -v full="$full" 'BEGIN { srand(seed); printf "%.2f", 1 + rand() * (full - 1) }')
      "$wine_run" "$host" "$(winpath "$doc")" 0 300 0 "window:$caption" click:Scan \
        "page:$pages" click:Cancel >/dev/null 2>&1 &
      pid=$!
      sleep "$moment"
      kill -9 "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      # A page is finished once its transfer has ended: the page callback
      # wrote it before.
      # No log yet (killed before the source opened): no page finished.
      done_pages=$(grep -c 'ENDXFER' "$work/scanner.log" 2>/dev/null || true)
      done_pages=${done_pages:-0}
      if [ ! -e "$doc" ]; then
        echo "kill $k at ${moment}s: no document yet ($done_pages pages finished)"
        [ "$done_pages" = 0 ] || failures=$((failures + 1))
        continue
      fi
      errors=$(tiffinfo "$doc" 2>&1 >/dev/null | grep -ci error || true)
      got=$(pages_in "$doc")
      verdict=ok
      if [ "$errors" != 0 ] || [ "$got" -lt "$done_pages" ]; then
        verdict=FAILED
        failures=$((failures + 1))
      fi
      echo "kill $k at ${moment}s: $done_pages pages finished, tiffinfo reads $got, $errors errors: $verdict"
    done
    echo "kills: $kills, failures: $failures"
    [ "$failures" = 0 ]
    ;;
  batch)
    pages=${1:-200} dpi=${2:-300}
    # The robot waits for the last page: a batch takes many minutes.
    export QV_ROBOT_TIMEOUT_MS=$((pages * 30000))
    doc="$work/batch.tif"
    rm -f "$doc" "${doc%.tif}.pdf"
    feed "$pages"
    "$wine_run" "$host" "$(winpath "$doc")" 5 "$dpi" 1 "window:$caption" click:Scan \
      "page:$pages" sleep:8000 click:Accept >"$work/batch.out" 2>&1 &
    pid=$!
    : >"$work/batch.rss"
    while kill -0 "$pid" 2>/dev/null; do
      echo "$(date +%s) $(grep -c ENDXFER "$work/scanner.log" 2>/dev/null || echo 0) $(ps -o rss= -p "$pid" 2>/dev/null || echo 0)" >>"$work/batch.rss"
      sleep 1
    done
    wait "$pid" || true
    cat "$work/batch.out"
    awk -v pages="$pages" '$2 > 0 && $2 < pages { if ($3 > during) during = $3 }
      $2 >= pages { if (!after_start) after_start = $1; if ($1 - after_start <= 6 && $3 > after) after = $3 }
      END { printf "memory: at most %d MB while scanning, %d MB after the batch (before Accept)\n", during / 1024, after / 1024 }' \
      "$work/batch.rss"
    grep -q "ScanResult=1" "$work/batch.out" || { echo "FAILED: not accepted"; exit 1; }
    echo "TIFF pages: $(pages_in "$doc"), $(du -m "$doc" | cut -f1) MB"
    pdfinfo "${doc%.tif}.pdf" | grep '^Pages:'
    qpdf --check "${doc%.tif}.pdf" >/dev/null && echo "qpdf --check: ok"
    ;;
  fulldisk)
    disk="$work/disk"
    mkdir -p "$disk"
    mountpoint -q "$disk" || mount -t tmpfs -o size=4m tmpfs "$disk"
    trap 'umount "$disk"' EXIT
    doc="$disk/full.tif"
    feed 40
    "$wine_run" "$host" "$(winpath "$doc")" 5 300 0 "window:$caption" click:Scan \
      "message:Quorvex=*" click:Cancel | tee "$work/fulldisk.out"
    echo "pages kept: $(pages_in "$doc"), tiffinfo errors: $(tiffinfo "$doc" 2>&1 >/dev/null | grep -ci error || true)"
    ;;
  *)
    echo "usage: scan_stress.sh BUILD kills|batch|fulldisk ..." >&2
    exit 2
    ;;
esac
