#!/usr/bin/env bash
# Builds libtiff and libpng from the Debian source packages with clang,
# AddressSanitizer and fuzzer coverage, so the fuzz targets also explore the
# codecs' own code: fuzz/build-codecs.sh PREFIX
# Then configure the fuzz preset with -DQV_FUZZ_CODEC_PREFIX=PREFIX.
set -euo pipefail
prefix=$(realpath -m "$1")
sources=${QUORVEX_CACHE:-$HOME/.cache/quorvex}/sources
flags="-O1 -g -fsanitize=address,fuzzer-no-link -fno-omit-frame-pointer"
mkdir -p "$prefix/build"
build() {
  local name=$1 dir=$2; shift 2
  cmake -S "$dir" -B "$prefix/build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=clang -DCMAKE_C_FLAGS="$flags" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$prefix/build/$name" -j2 >/dev/null
  cmake --install "$prefix/build/$name" >/dev/null
}
build tiff "$(ls -d "$sources"/tiff-*/ | head -1)" -Dtiff-tools=OFF -Dtiff-tests=OFF \
  -Dtiff-contrib=OFF -Dtiff-docs=OFF -Djbig=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlerc=OFF \
  -Dlibdeflate=OFF -Dpixarlog=OFF -Dold-jpeg=ON -Dcxx=OFF
build png "$(ls -d "$sources"/libpng1.6-*/ | head -1)" -DPNG_SHARED=OFF -DPNG_TESTS=OFF \
  -DPNG_EXECUTABLES=OFF
echo "instrumented codecs in $prefix"
