#!/usr/bin/env bash
# Prints an image in every sizing mode under Wine on a private cups-pdf
# queue (Wine's default printer for this run) and checks each PDF that
# arrives with peer tools: the paper's orientation, the one image on it, and
# where the image lands, rendered at the printer's resolution, against the
# rectangle the print geometry computed (within a device pixel).
# Usage: print_check.sh WINE_RUN PRINT_HOST WORKDIR
set -euo pipefail
wine_run=$1 host=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
queue=QuorvexPDF
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
# The scheduler's filters run as another user: its folder must be one they
# can reach, whatever the modes of the folders above the build tree.
cups=$(mktemp -d /var/tmp/quorvex-cups.XXXXXX)
outdir="$(getent passwd "$(id -un)" | cut -d: -f6)/PDF"
tag="qvprint$$"
# Whatever this run printed leaves the shared folder with it.
trap 'bash "$here/cups_pdf_printer.sh" stop "$cups"; rm -rf "$cups"; rm -f "$outdir/$tag"-*.pdf' EXIT
bash "$here/cups_pdf_printer.sh" start "$cups" "$queue"
export CUPS_SERVER="$cups/cups.sock"
# Wine adds the private queue as a printer when a program loads its spooler
# with CUPS_SERVER set, but makes it the default only where the prefix has
# none yet: a prefix that knew another default (or a removed one) would
# print elsewhere or say it has none. Named outright before the host runs.
"$wine_run" reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows' /v Device \
  /d "$queue,wineps.drv,CUPS:$queue" /f >/dev/null 2>&1 || fail "cannot set Wine's default printer"

# A Windows program's text output ends its lines with CR LF.
timeout 150 "$wine_run" "$(echo "Z:$host" | tr / '\\')" "$tag" >"$work/host.out" ||
  { cat "$work/host.out"; fail "print host failed"; }
tr -d '\r' <"$work/host.out" >"$work/manifest.txt"
cat "$work/manifest.txt"
grep -qx "printer=$queue" "$work/manifest.txt" || fail "Wine's default printer is not $queue"
for _ in $(seq 240); do
  [ -z "$(lpstat -o)" ] && break
  sleep 0.5
done
[ -z "$(lpstat -o)" ] || fail "jobs still queued: $(lpstat -o)"

near() { [ $(($1 - $2)) -le 1 ] && [ $(($2 - $1)) -le 1 ]; }
checked=0 failures=0 job=0
while read -r name title landscape dx dy ox oy pw ph l t r b iw ih; do
  why=""
  # cups-pdf names the file after the job's title (with whatever else its
  # title parser picks up) and number; this scheduler's jobs count from 1.
  job=$((job + 1))
  pdf=$(ls "$outdir/$title"*"-job_$job.pdf" 2>/dev/null | head -1 || true)
  if [ -z "$pdf" ]; then
    echo "FAIL $name: no PDF of job $job titled $title in $outdir"
    failures=$((failures + 1))
    continue
  fi
  mv "$pdf" "$work/$name.pdf"
  pdf="$work/$name.pdf"
  qpdf --check "$pdf" >/dev/null || why+=" qpdf-check"
  read -r pw_pt ph_pt < <(pdfinfo "$pdf" | sed -n 's/^Page size: *\([0-9.]*\) x \([0-9.]*\) pts.*/\1 \2/p')
  rot=$(pdfinfo "$pdf" | sed -n 's/^Page rot: *//p')
  page_landscape=$(awk -v w="$pw_pt" -v h="$ph_pt" -v r="$rot" \
    'BEGIN { l = w > h; if (r == 90 || r == 270) l = !l; print l }')
  # The one image of the page is the printed image itself, and its
  # resolution on the paper says how large it was drawn.
  images=$(pdfimages -list "$pdf" | tail -n +3)
  [ "$(wc -l <<<"$images")" = 1 ] || why+=" images=$(wc -l <<<"$images")"
  read -r _ _ _ img_w img_h _ _ _ _ _ _ _ xppi yppi _ <<<"$(head -1 <<<"$images")"
  [ "$img_w x $img_h" = "$iw x $ih" ] || why+=" image=${img_w}x$img_h"
  want_xppi=$(( (iw * dx * 2 + (r - l)) / ((r - l) * 2) ))
  want_yppi=$(( (ih * dy * 2 + (b - t)) / ((b - t) * 2) ))
  near "$xppi" "$want_xppi" && near "$yppi" "$want_yppi" || why+=" ppi=${xppi}x$yppi(want ${want_xppi}x$want_yppi)"
  # Rendered at the device's resolution a page pixel is a device pixel; the
  # device's origin is the printable area's corner, inset by the offset.
  pdftoppm -r "$dx" -rx "$dx" -ry "$dy" -gray -aa no -aaVector no -singlefile "$pdf" "$work/$name"
  want="$((r - l)) $((b - t)) $((ox + l)) $((oy + t))"
  placed=no
  # A landscape job may arrive as a portrait sheet with the content turned.
  for turn in 0 90 -90; do
    [ "$turn" != 0 ] && [ "$page_landscape" = "$landscape" ] && continue
    # A white border makes white the background even when the image
    # reaches the paper's corners.
    read -r gw gh gx gy <<<"$(convert "$work/$name.pgm" -rotate "$turn" -threshold 50% \
      -bordercolor white -border 1 -format "%@" info: | tr 'x+' '  ')"
    gx=$((gx - 1)) gy=$((gy - 1))
    bbox="${gw}x$gh+$gx+$gy"
    if near "$gw" "$((r - l))" && near "$gh" "$((b - t))" && near "$gx" "$((ox + l))" &&
      near "$gy" "$((oy + t))"; then
      placed=yes
      [ "$turn" != 0 ] && page_landscape=$((1 - page_landscape))
      break
    fi
  done
  [ "$placed" = yes ] || why+=" placed=$bbox(want $want)"
  [ "$page_landscape" = "$landscape" ] || why+=" landscape=$page_landscape(want $landscape)"
  if [ -n "$why" ]; then
    echo "FAIL $name:$why"
    failures=$((failures + 1))
  else
    echo "ok   $name: ${pw_pt}x$ph_pt pt, image ${img_w}x$img_h at $bbox"
  fi
  checked=$((checked + 1))
done < <(grep -v '^printer=' "$work/manifest.txt")
[ "$checked" = 7 ] || fail "$checked of 7 prints checked"
[ "$failures" = 0 ] || fail "$failures of 7 prints wrong"
echo "print_check: 7 prints passed"
