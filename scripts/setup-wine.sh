#!/usr/bin/env bash
# Makes the Wine prefix of a build tree once (wineboot) and reuses it.
# Usage: setup-wine.sh PREFIX
set -euo pipefail
source "$(dirname "$0")/common.sh"
export WINEPREFIX="$1"
if [ ! -f "$WINEPREFIX/.quorvex-ready" ]; then
  qv_log "setup: creating Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  # The 64-bit wineboot makes the 64-bit prefix; where 32-bit programs run it
  # fills syswow64 too.
  "$QV_WINE64" wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "setup: wineboot did not create $WINEPREFIX" >&2; exit 1; }
  touch "$WINEPREFIX/.quorvex-ready"
fi
# The tests' X display has no window manager: a managed window that Wine
# hides waits for a manager's answer that never comes (about a second per
# window closed, minutes over the UI tests). Unmanaged windows do not wait.
if ! grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  "$QV_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # That command ran without a display: its wineserver and desktop would
  # serve the next program for a few seconds with no graphics driver ("no
  # driver could be loaded"; every window fails as "Class does not exist").
  wineserver -w
fi
