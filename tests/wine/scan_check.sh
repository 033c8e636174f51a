#!/usr/bin/env bash
# One end-to-end scan: a VBScript host scans through Wine's TWAIN source
# manager and the virtual scanner while the robot presses the buttons; then
# peer tools check what reached the disk.
# Usage: scan_check.sh WINE_RUN PREFIX DSFILE ROBOT OUTDIR NAME FORMAT CONVERT
#                      RESULT PAGES COMPRESSION PDFPAGES STEP...
# PDFPAGES "-" means no PDF may exist. QV_SCAN_SCRIPT names the host script
# (scan.vbs by default, scan.js for the JScript host); QV_SCAN_BLOCK_PDF=1
# puts a folder where the PDF would go, so that the conversion must fail.
# QV_SCAN_DPI and QV_SCAN_PAPER go to the host; with QV_SCAN_PAPER=none
# every PDF page is rendered at the scan's resolution and compared with its
# TIFF page: exactly for black and white, grey and palette pages, within
# the loss of JPEG for true colour.
set -euo pipefail
wine_run=$1 prefix=$2 dsfile=$3 robot=$4 outdir=$5 name=$6 format=$7 convert=$8
result=$9 pages=${10} compression=${11} pdfpages=${12}
shift 12
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/common.sh"
# The script host of the scanner's bitness: a 32-bit one lives in syswow64.
host_dir=syswow64
[ "$(qv_pe_bits "$dsfile")" = 64 ] && host_dir=system32
winpath() { echo "Z:$1" | tr / '\\'; }

bash "$here/../../scripts/install-virtual-scanner.sh" "$prefix" "$dsfile" >/dev/null
# QV_SCAN_WIDTHS="101 102 ...": the scanner feeds true-colour pages of these
# widths, so that QV_EXPECT_WIDTHS can tell which pages the document holds
# and in what order.
if [ -n "${QV_SCAN_WIDTHS:-}" ]; then
  feed="$outdir/${name%.*}-pages"
  rm -rf "$feed"
  mkdir -p "$feed"
  index=0
  for width in $QV_SCAN_WIDTHS; do
    index=$((index + 1))
    convert -size "${width}x60" gradient:white-navy -type TrueColor "BMP3:$feed/page$(printf %02d $index).bmp"
  done
  printf 'folder = %s\n' "$(winpath "$feed")" >"$feed.txt"
  export QUORVEX_VSCAN_SETTINGS
  QUORVEX_VSCAN_SETTINGS=$(winpath "$feed.txt")
fi
mkdir -p "$outdir"
tiff="$outdir/$name"
pdf="${tiff%.*}.pdf"
rm -rf "$tiff" "$pdf"
[ "${QV_SCAN_BLOCK_PDF:-0}" = 1 ] && mkdir -p "$pdf"
output=$(timeout 120 "$wine_run" "C:\\windows\\$host_dir\\cscript.exe" //nologo \
  "$(winpath "$here/scripts/${QV_SCAN_SCRIPT:-scan.vbs}")" "$(winpath "$robot")" "$(winpath "$tiff")" \
  "$format" "$convert" "$@")
[ "${QV_SCAN_BLOCK_PDF:-0}" = 1 ] && rmdir "$pdf"
echo "$output"
fail() { echo "FAIL: $*" >&2; exit 1; }
grep -q "ScanResult=$result" <<<"$output" || fail "expected ScanResult=$result"
[ -f "$tiff" ] || fail "no TIFF written"
got_pages=$(tiffinfo "$tiff" 2>/dev/null | grep -c "^TIFF Directory")
[ "$got_pages" = "$pages" ] || fail "TIFF has $got_pages pages, expected $pages"
if [ -n "${QV_EXPECT_WIDTHS:-}" ]; then
  got_widths=$(tiffinfo "$tiff" 2>/dev/null | sed -n 's/^ *Image Width: \([0-9]*\).*/\1/p' | paste -sd' ' -)
  [ "$got_widths" = "$QV_EXPECT_WIDTHS" ] || fail "pages of widths $got_widths, expected $QV_EXPECT_WIDTHS"
fi
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
  if [ "${QV_SCAN_PAPER:-}" = none ]; then
    # The TIFF pages as libtiff renders them; the PDF pages at four times
    # the scan's resolution, where pdftoppm samples images without
    # smoothing, every fourth pixel taken.
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    dpi=${QV_SCAN_DPI:-300}
    tiff2rgba -c none "$tiff" "$work/rgba.tif" || fail "tiff2rgba"
    for ((page = 1; page <= pdfpages; page++)); do
      pdftoppm -r $((4 * dpi)) -f $page -l $page -singlefile -png "$pdf" "$work/pdf" \
        || fail "pdftoppm page $page"
      convert "$work/pdf.png" -sample 25% -alpha off "$work/sampled.png"
      convert "$work/rgba.tif[$((page - 1))]" -alpha off -depth 8 "$work/tiff.png"
      if [ "$format" = 5 ]; then
        psnr=$(compare -metric PSNR "$work/tiff.png" "$work/sampled.png" null: 2>&1 || true)
        awk -v p="$psnr" 'BEGIN { exit !(p == "inf" || p + 0 >= 30) }' \
          || fail "page $page differs from the TIFF page beyond JPEG loss (PSNR $psnr dB)"
      else
        differ=$(compare -metric AE "$work/tiff.png" "$work/sampled.png" null: 2>&1 || true)
        [ "$differ" = 0 ] || fail "page $page differs from the TIFF page in $differ pixels"
      fi
      echo "page $page renders like the TIFF page"
    done
  fi
fi
echo "scan_check: $name passed"
