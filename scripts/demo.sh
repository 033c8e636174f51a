#!/usr/bin/env bash
# The main job: a host creates Quorvex.Scanner, scans, accepts and finds the
# TIFF and the PDF. Until the scanning window and the automation server are
# built this says what is missing and fails.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cat >&2 <<'MSG'
demo: not available yet.
The end-to-end scan needs the scanning window, the automation server
(Quorvex.dll), the PDF converter and the virtual scanner; they are not
built yet. What exists now is the build and test machinery and the
base library: run ./run test.
MSG
exit 1
