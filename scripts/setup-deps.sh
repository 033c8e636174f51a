#!/usr/bin/env bash
# Cross-builds the codec libraries for both Windows targets (i686 and x86_64
# mingw-w64) from Debian's source packages into a cache outside the build
# trees, one per triplet, keyed by package version. A second run finds the
# stamps and returns at once.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/common.sh"

source "$(dirname "$0")/source-packages.sh"
# Two runs at once (two terminals, or CI beside a developer) must not build
# into the same prefix.
exec 9>"$QV_CACHE/.setup-deps.lock"
flock 9

# Configures, builds and installs a CMake project into prefix $2 with the
# toolchain file in $toolchain.
cmake_install() {
  local src=$1 prefix=$2; shift 2
  local bld="$prefix.build"
  rm -rf "$bld"
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_PREFIX_PATH="$prefix" "$@" >"$bld.log" 2>&1 \
    || { cat "$bld.log"; exit 1; }
  cmake --build "$bld" >>"$bld.log" 2>&1 && cmake --install "$bld" >>"$bld.log" 2>&1 \
    || { tail -50 "$bld.log"; exit 1; }
  rm -rf "$bld" "$bld.log"
}

# All libraries of one triplet land in one prefix named after the versions it
# holds, so a new Debian version of any of them builds a new prefix beside the
# old one.
jpeg_src=$(fetch_source libjpeg-turbo)
png_src=$(fetch_source libpng1.6)
tiff_src=$(fetch_source tiff)
gtest_src=/usr/src/googletest
gtest_ver=$(dpkg-query -W -f='${Version}' googletest)
key="$(basename "$jpeg_src")_$(basename "$png_src")_$(basename "$tiff_src")_googletest-$gtest_ver"
key=${key//:/_}

# build_triplet TRIPLET TOOLCHAIN-FILE
build_triplet() {
  local triplet=$1 deps="$QV_CACHE/$1"
  toolchain="$QV_ROOT/cmake/$2"
  prefix="$deps/$key"
  mkdir -p "$deps"
  if [ ! -f "$prefix/.done" ]; then
    qv_log "setup: cross-building codec libraries into $prefix"
    rm -rf "$prefix"; mkdir -p "$prefix"
    ln -sfn "$prefix" "$deps/current"
    local simd=OFF; command -v nasm >/dev/null && simd=ON
    cmake_install "$jpeg_src" "$prefix" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
      -DWITH_TURBOJPEG=OFF -DWITH_SIMD=$simd -DWITH_JPEG8=OFF -DCMAKE_INSTALL_LIBDIR="$prefix/lib"
    cmake_install "$png_src" "$prefix" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
      -DPNG_EXECUTABLES=OFF -DPNG_BUILD_ZLIB=OFF -DCMAKE_INSTALL_LIBDIR=lib
    cmake_install "$tiff_src" "$prefix" -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF \
      -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dtiff-deprecated=OFF -Dcxx=OFF \
      -Dccitt=ON -Dpackbits=ON -Dlzw=ON -Dzlib=ON -Djpeg=ON -Dold-jpeg=OFF -Djpeg12=OFF \
      -Dthunder=OFF -Dnext=OFF -Dlogluv=OFF -Dmdi=OFF -Dpixarlog=OFF -Dwebp=OFF -Dzstd=OFF \
      -Dlzma=OFF -Djbig=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dlibdeflate=OFF \
      -DJPEG_INCLUDE_DIR="$prefix/include" -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" \
      -DCMAKE_INSTALL_LIBDIR=lib
    # A codec that silently fell out of the configuration would only show up
    # as "unsupported compression" at run time; check the archive instead.
    # 32-bit Windows symbols carry a leading underscore, 64-bit ones do not.
    local symbols symbol underscore=""
    [ "$triplet" = i686-w64-mingw32 ] && underscore=_
    symbols=$(${triplet}-nm "$prefix/lib/libtiff.a" 2>/dev/null)
    for symbol in TIFFInitJPEG TIFFInitZIP TIFFInitCCITTFax4 TIFFInitLZW TIFFInitPackBits; do
      if ! grep -q " T $underscore$symbol\$" <<<"$symbols"; then
        echo "setup: libtiff for $triplet was built without $symbol" >&2; exit 1
      fi
    done
    cmake_install "$gtest_src" "$prefix" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
      -Dgtest_disable_pthreads=OFF -DCMAKE_INSTALL_LIBDIR=lib
    # libtiff's tiff2pdf tool is rebuilt by the project as a DLL; keep its source.
    ln -sfn "$tiff_src" "$prefix/tiff-source"
    touch "$prefix/.done"
  fi
  ln -sfn "$prefix" "$deps/current"
}

build_triplet i686-w64-mingw32 toolchain-mingw32.cmake
build_triplet x86_64-w64-mingw32 toolchain-mingw64.cmake
