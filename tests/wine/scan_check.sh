#!/usr/bin/env bash
# One end-to-end scan: a VBScript host scans through Wine's TWAIN source
# manager and the virtual scanner while the robot presses the buttons; then
# peer tools check what reached the disk.
# Usage: scan_check.sh WINE_RUN PREFIX DSFILE ROBOT OUTDIR NAME FORMAT CONVERT
#                      RESULT PAGES COMPRESSION PDFPAGES STEP...
# PDFPAGES "-" means no PDF may exist. QV_SCAN_SCRIPT names the host script
# (scan.vbs by default, scan.js for the JScript host); QV_SCAN_BLOCK_PDF=1
# puts a folder where the PDF would go, so that the conversion must fail.
set -euo pipefail
wine_run=$1 prefix=$2 dsfile=$3 robot=$4 outdir=$5 name=$6 format=$7 convert=$8
result=$9 pages=${10} compression=${11} pdfpages=${12}
shift 12
here=$(cd "$(dirname "$0")" && pwd)
winpath() { echo "Z:$1" | tr / '\\'; }

bash "$here/../../scripts/install-virtual-scanner.sh" "$prefix" "$dsfile" >/dev/null
mkdir -p "$outdir"
tiff="$outdir/$name"
pdf="${tiff%.*}.pdf"
rm -rf "$tiff" "$pdf"
[ "${QV_SCAN_BLOCK_PDF:-0}" = 1 ] && mkdir -p "$pdf"
output=$(timeout 120 "$wine_run" C:\\windows\\syswow64\\cscript.exe //nologo \
  "$(winpath "$here/scripts/${QV_SCAN_SCRIPT:-scan.vbs}")" "$(winpath "$robot")" "$(winpath "$tiff")" \
  "$format" "$convert" "$@")
[ "${QV_SCAN_BLOCK_PDF:-0}" = 1 ] && rmdir "$pdf"
echo "$output"
fail() { echo "FAIL: $*" >&2; exit 1; }
grep -q "ScanResult=$result" <<<"$output" || fail "expected ScanResult=$result"
[ -f "$tiff" ] || fail "no TIFF written"
got_pages=$(tiffinfo "$tiff" 2>/dev/null | grep -c "^TIFF Directory")
[ "$got_pages" = "$pages" ] || fail "TIFF has $got_pages pages, expected $pages"
got_compression=$(tiffinfo "$tiff" 2>/dev/null | sed -n 's/^ *Compression Scheme: //p' | sort -u | paste -sd, -)
[ "$got_compression" = "$compression" ] || fail "TIFF compression $got_compression, expected $compression"
if [ "$pdfpages" = "-" ]; then
  if [ "$pdf" != "$tiff" ] && [ -f "$pdf" ]; then fail "a PDF was made"; fi
else
  [ -f "$pdf" ] || fail "no PDF"
  pdfinfo "$pdf" | grep -q "^Pages: *$pdfpages$" || fail "PDF pages: $(pdfinfo "$pdf" | grep Pages)"
  pdfinfo "$pdf" | grep -q "^Title: *Quorvex test scan$" || fail "PDF title"
  pdfinfo "$pdf" | grep -q "^Author: *Quorvex robot$" || fail "PDF author"
  qpdf --check "$pdf" >/dev/null || fail "qpdf --check"
fi
echo "scan_check: $name passed"
