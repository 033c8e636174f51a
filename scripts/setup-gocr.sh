#!/usr/bin/env bash
# Cross-builds the recogniser that the OCR command runs (gocr, from Debian's
# source package) for 32- and 64-bit Windows into the cache, keyed by the
# source's version: QV_CACHE/<triplet>/gocr-<version>/gocr.exe, with the link
# QV_CACHE/<triplet>/gocr to the current one. A second run finds the stamps
# and returns at once.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/source-packages.sh"

exec 9>"$QV_CACHE/.setup-gocr.lock"
flock 9

src=$(fetch_source gocr upstream-ok)
for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
  prefix="$QV_CACHE/$triplet/$(basename "$src")"
  prefix=${prefix//:/_}
  if [ ! -f "$prefix/.done" ]; then
    command -v "$triplet-gcc" >/dev/null || { echo "setup: $triplet-gcc is missing" >&2; exit 1; }
    qv_log "setup: cross-building gocr for $triplet into $prefix"
    bld="$prefix.build"
    rm -rf "$prefix" "$bld"; mkdir -p "$prefix"
    cp -a "$src" "$bld"
    # Plain files only: netpbm would be a run-time DLL, and the pages arrive
    # as portable maps, which gocr reads by itself. Static, so that gocr.exe
    # needs only system DLLs.
    if ! (cd "$bld" && ./configure --host="$triplet" --without-netpbm \
            CFLAGS="-O2 -w" LDFLAGS="-static" && make -C src) >"$bld.log" 2>&1; then
      tail -40 "$bld.log"; exit 1
    fi
    file=$(find "$bld/src" "$bld/bin" -name gocr.exe 2>/dev/null | head -1)
    [ -n "$file" ] || { echo "setup: the gocr build made no gocr.exe" >&2; tail -20 "$bld.log"; exit 1; }
    "$triplet-strip" -o "$prefix/gocr.exe" "$file"
    cp "$src/gpl.html" "$prefix/gocr-license.html"
    rm -rf "$bld" "$bld.log"
    touch "$prefix/.done"
  fi
  ln -sfn "$prefix" "$QV_CACHE/$triplet/gocr"
done
