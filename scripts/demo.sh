#!/usr/bin/env bash
# The main job: a VBScript host creates Quorvex.Scanner, scans three pages
# from the virtual scanner through Wine's TWAIN source manager, accepts, and
# finds the TIFF and the PDF on disk. With a DISPLAY the window opens for the
# person at the screen; without one it runs under Xvfb and a robot presses
# Scan, waits for the pages and presses Accept. The host and the product are
# 32-bit (build/win32) where 32-bit programs run, else 64-bit (build/win64);
# QV_DEMO_PRESET=win32|win64 chooses.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$QV_ROOT"

preset=${QV_DEMO_PRESET:-}
if [ -z "$preset" ]; then
  preset=win64
  qv_can_run_32bit && preset=win32
fi
case "$preset" in
  win32) host_dir=syswow64 loader=wine ;;
  win64) host_dir=system32 loader=$QV_WINE64 ;;
  *) echo "demo: QV_DEMO_PRESET must be win32 or win64" >&2; exit 2 ;;
esac
build=build/$preset
targets=(Quorvex tiff2pdf virtual_scanner qv_robot)
if [ ! -f "$build/build.ninja" ]; then
  qv_log "demo: configuring $build"
  cmake --preset "$preset" >/dev/null
fi
qv_log "demo: building ${targets[*]}"
if ! cmake --build "$build" --target "${targets[@]}" -- -j2 >"$build/demo-build.log" 2>&1; then
  # An object compiled while its sources were being edited can look up to
  # date; rebuild everything the demo needs once from scratch.
  qv_log "demo: build failed; rebuilding the demo's targets from clean objects"
  ninja -C "$build" -t clean "${targets[@]}" >/dev/null
  cmake --build "$build" --target "${targets[@]}" -- -j2 >"$build/demo-build.log" 2>&1 \
    || { grep -vE '^\[[0-9]+/[0-9]+\] ' "$build/demo-build.log"; exit 1; }
fi

export WINEPREFIX="$QV_ROOT/$build/wineprefix"
bash scripts/setup-wine.sh "$WINEPREFIX"
bash scripts/install-virtual-scanner.sh "$WINEPREFIX" "$build/tools/virtual-scanner/sane.ds" >/dev/null

winpath() { echo "Z:$1" | tr / '\\'; }
out="$QV_ROOT/$build/demo"
rm -rf "$out"
mkdir -p "$out"
tiff="$out/letter.tif"
pdf="$out/letter.pdf"
dll=$(winpath "$QV_ROOT/$build/src/automation/Quorvex.dll")
robot=$(winpath "$QV_ROOT/$build/tests/wine/qv_robot.exe")

cat >"$out/demo.vbs" <<'VBS'
' The README's host: scan, accept, convert to PDF.
Set args = WScript.Arguments
Set scanner = CreateObject("Quorvex.Scanner")
scanner.Filename = args(0)
scanner.ScanXDpi = 300
scanner.ScanYDpi = 300
scanner.ScanImgFormat = 0
scanner.ShowScanUI = (args(1) = "person")
scanner.ConvertToPdf = True
scanner.PdfTitle = "Quorvex demo letter"
scanner.PdfAuthor = "Quorvex demo"
If args.Count > 2 Then
  Set shell = CreateObject("WScript.Shell")
  Set robot = shell.Exec(args(2) & " ""window:Quorvex - scanning utility"" ""click:Scan"" ""page:3"" ""click:Accept""")
End If
scanner.Scan
WScript.Echo "ScanResult = " & scanner.ScanResult
VBS

host=("$loader" "C:\\windows\\$host_dir\\cscript.exe" //nologo "$(winpath "$out/demo.vbs")" "$(winpath "$tiff")")
register=("$loader" "C:\\windows\\$host_dir\\regsvr32.exe" /s "$dll")
if [ -n "${DISPLAY:-}" ]; then
  qv_log "demo: the scanning window opens on $DISPLAY: press Scan, then Accept"
  bash scripts/wine-session.sh "$WINEPREFIX" \
    bash -c "$(printf '%q ' "${register[@]}") && $(printf '%q ' "${host[@]}") person" \
    | tee "$out/host.log"
else
  qv_log "demo: no DISPLAY: running under Xvfb with a robot pressing the buttons"
  timeout 300 xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/wine-session.sh "$WINEPREFIX" \
    bash -c "$(printf '%q ' "${register[@]}") && $(printf '%q ' "${host[@]}") robot $(printf '%q' "$robot")" \
    | tee "$out/host.log"
fi

qv_log "demo: files made"
ls -l "$out"/letter.*
status=0
grep -q "ScanResult = 1" "$out/host.log" || { echo "demo: ScanResult is not 1" >&2; status=1; }
[ -f "$tiff" ] || { echo "demo: no TIFF at $tiff" >&2; exit 1; }
pages=$(tiffinfo "$tiff" 2>/dev/null | grep -c "^TIFF Directory")
compression=$(tiffinfo "$tiff" 2>/dev/null | sed -n 's/^ *Compression Scheme: //p' | sort -u | paste -sd, -)
echo "TIFF: $pages pages, compression $compression"
[ "$pages" = 3 ] && [ "$compression" = "CCITT Group 4" ] || status=1
if [ -f "$pdf" ]; then
  pdfinfo "$pdf" | grep -E "^(Title|Author|Pages|Page size):"
  pdfinfo "$pdf" | grep -q "^Pages: *3$" || status=1
  pdfinfo "$pdf" | grep -q "^Title: *Quorvex demo letter$" || status=1
  qpdf --check "$pdf" >/dev/null && echo "qpdf --check: no errors" || status=1
else
  echo "demo: no PDF at $pdf" >&2
  status=1
fi
[ $status -eq 0 ] && qv_log "demo: done" || qv_log "demo: FAILED"
exit $status
