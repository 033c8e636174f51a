# Shared settings of the setup, build and test scripts. Sourced, not run.
QV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QV_CACHE="${QUORVEX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvex}"
QV_DEPS="$QV_CACHE/i686-w64-mingw32"
QV_TRIPLET=i686-w64-mingw32
export CCACHE_DIR="${CCACHE_DIR:-$QV_CACHE/ccache}"
# Paths relative to the checkout, so clones and work trees share cached objects.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$QV_ROOT}"
export CCACHE_NOHASHDIR=1
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

qv_log() { echo "[$(date +%H:%M:%S)] $*" >&2; }
