#!/usr/bin/env bash
# Runs a command with one persistent wineserver for the prefix. Wine's helper
# processes (services, explorer, the device manager) are started here with
# their output on /dev/null: started by the first test instead, they would
# inherit its output pipe and keep CTest waiting after the test has ended.
set -uo pipefail
source "$(dirname "$0")/common.sh"
export WINEPREFIX="$1"; shift
wineserver -p
"$QV_WINE64" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
"$@"
status=$?
wineserver -k 2>/dev/null || true
exit $status
