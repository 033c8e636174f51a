#!/usr/bin/env bash
# Installs the virtual scanner into a Wine prefix as the source that Wine's
# TWAIN manager of its bitness loads first: Wine's manager looks for its two
# sources, sane.ds and gphoto2.ds, in C:\windows\twain_32 (the 32-bit one)
# or C:\windows\twain_64 (the 64-bit one), so a 32-bit source becomes
# C:\windows\twain_32\sane.ds and a 64-bit one C:\windows\twain_64\sane.ds.
# Idempotent; makes the prefix first when there is none.
# A test that takes the sources away renames them *.ds.away; one killed in
# between leaves them so, and every later scan finds no scanner: both forms
# put them back first.
# Usage: install-virtual-scanner.sh PREFIX DSFILE
#        install-virtual-scanner.sh --restore PREFIX
set -euo pipefail
source "$(dirname "$0")/common.sh"

restore_moved_sources() {
  local away
  for away in "$1"/drive_c/windows/twain_*/*.ds.away; do
    [ -e "$away" ] || continue
    mv -f "$away" "${away%.away}"
    echo "install-virtual-scanner: put back ${away%.away}"
  done
}

if [ $# -eq 2 ] && [ "$1" = --restore ]; then
  restore_moved_sources "$2"
  exit 0
fi
if [ $# -ne 2 ]; then
  echo "usage: $0 PREFIX DSFILE | --restore PREFIX" >&2
  exit 2
fi
prefix=$1
dsfile=$2
[ -f "$dsfile" ] || { echo "install-virtual-scanner: no data source at $dsfile" >&2; exit 1; }
# A prefix that Wine has already made is used as it is (a wineserver may be
# running on it); only a missing one is made here.
if [ ! -f "$prefix/system.reg" ]; then
  bash "$(dirname "$0")/setup-wine.sh" "$prefix"
fi
[ -d "$prefix/drive_c/windows" ] || { echo "install-virtual-scanner: $prefix is no Wine prefix" >&2; exit 1; }
restore_moved_sources "$prefix"
folder=twain_$(qv_pe_bits "$dsfile")
target_dir="$prefix/drive_c/windows/$folder"
target="$target_dir/sane.ds"
mkdir -p "$target_dir"
if cmp -s "$dsfile" "$target"; then
  exit 0
fi
# Copy beside and rename: a process that has the old source loaded keeps its
# file, and nobody ever sees a half-written one.
tmp=$(mktemp "$target_dir/.sane.ds.XXXXXX")
cp "$dsfile" "$tmp"
chmod 0755 "$tmp"
mv -f "$tmp" "$target"
echo "install-virtual-scanner: installed $dsfile as C:\\windows\\$folder\\sane.ds in $prefix"
