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
