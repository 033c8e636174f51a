# Shared settings of the setup, build and test scripts. Sourced, not run.
QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QV_CACHE="${QUORVEX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvex}"
export CCACHE_DIR="${CCACHE_DIR:-$QV_CACHE/ccache}"
# Paths relative to the checkout, so clones and work trees share cached objects.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$QV_ROOT}"
export CCACHE_NOHASHDIR=1
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# The 64-bit Wine loader, called directly: Debian's "wine" wrapper prefers the
# 32-bit loader, which cannot start on a kernel without 32-bit mode. It runs
# 64-bit programs and hands 32-bit ones to the 32-bit loader where one runs.
QV_WINE64="${QV_WINE64:-/usr/lib/wine/wine64}"
[ -x "$QV_WINE64" ] || QV_WINE64=$(command -v wine64 || echo wine)

# True unless the kernel refuses to start i386 programs at all (some virtual
# machines have no 32-bit mode, so no i386 program starts, Wine's 32-bit
# loader included).
qv_can_run_32bit() {
  local out status=0
  out=$(/usr/lib/wine/wine --version 2>&1) || status=$?
  ! { [ $status -eq 126 ] && grep -q "Exec format error" <<<"$out"; }
}

# Prints 64 for an x86_64 Windows executable or DLL, 32 for any other.
qv_pe_bits() {
  local offset machine
  offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  machine=$(od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' ')
  if [ "$machine" = 8664 ]; then echo 64; else echo 32; fi
}

qv_log() { echo "[$(date +%H:%M:%S)] $*" >&2; }
